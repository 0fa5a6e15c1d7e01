#pragma once
#include <cstdint>

#include "data/MeasurePoint.h"

namespace bv::plot {

// Halves go up, also below zero: floor(x) when the fraction is below 0.5.
double roundHalfUp(double x);

struct AxisRange {
    double min = 0;
    double max = 0;
};

enum PowerScale { kScaleAutomatic = 0, kScale200W = 1, kScale500W = 2 };
enum Quantity { kNone = -1, kFlow = 0, kTe = 1, kTd = 2, kEcPower = 3 };

// Power axis from the peak (phi) and the low (plo) of the stored points.
AxisRange powerAxis(int scale, double phi, double plo);
// Axis of the additional quantity from its maximum a and minimum b.
AxisRange additionalAxis(double a, double b, int quantity);
// Time axis: grows with the data up to the chosen period.
AxisRange timeAxis(int count, double dtSeconds, int periodSeconds);

struct Period {
    const char* text;
    int intervalMs;
    int periodSeconds;
};
constexpr int kPeriodCount = 9;
// The plot periods of the period list; any other index gives 90 s at 1 s.
// The last three (a day and a week at 1 s, 30 days at 10 s) are drawn
// decimated: their stores hold up to 604,801 points.
Period period(int index);

struct QuantityStyle {
    const char* unit;   // UTF-8
    uint32_t colorBgr;  // 0x00BBGGRR
};
QuantityStyle quantityStyle(int quantity);
double quantityValue(const MeasurePoint& point, int quantity);

constexpr uint32_t kPowerLineColor = 0x0000FF;

} // namespace bv::plot
