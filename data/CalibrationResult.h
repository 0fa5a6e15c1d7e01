#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "data/MeasurePoint.h"

namespace bv {

class CBrivaneDoc;

// The outcome of one electronic calibration, taken from the store when the
// heater went off: the averages over the averaging window, as the value
// area shows them, and the calibration's own points for its plot.
struct CalibrationResult {
    bool available = false;  // the window held EC points to compare with
    int64_t startMs = 0, endMs = 0;
    double calorimeterPower = 0;  // W, dGetAverage(0)
    double ecPower = 0;           // W, dGetAverage(4)
    double voltage = 0, current = 0;  // means over the EC points of the window
    long ecPoints = 0;
    double deviationPercent = 0;  // (calorimeter - EC) / EC x 100
    double limitPercent = 0;      // "Deviation Limit"
    bool passed = false;          // |deviation| within the limit, the limit itself included; never without a result
    std::vector<MeasurePoint> points;  // from the calibration's first point on
};

// firstSeq: the store's running number of the calibration's first point.
CalibrationResult evaluateCalibration(const CBrivaneDoc& store, int64_t firstSeq, double limitPercent);

// The line that tells the operator how it ended: passed or failed with the
// deviation and the limit, or that there was nothing to compare (string table).
std::string calibrationVerdictText(const CalibrationResult& result);

} // namespace bv
