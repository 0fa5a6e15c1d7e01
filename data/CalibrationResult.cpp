#include "data/CalibrationResult.h"

#include <cmath>
#include <cstdio>

#include "data/CBrivaneDoc.h"
#include "res/StringTable.h"

namespace bv {

CalibrationResult evaluateCalibration(const CBrivaneDoc& store, int64_t firstSeq, double limitPercent)
{
    CalibrationResult r;
    r.limitPercent = limitPercent;
    const int count = store.GetCount();
    double voltage = 0, current = 0;
    for (int i = store.GetAverageWindowStart(); i < count; ++i) {
        const MeasurePoint& p = *store.pGetMeaureValue(i);
        if (!p.ecValid)
            continue;
        voltage += p.ecVoltage;
        current += p.ecCurrent;
        ++r.ecPoints;
    }
    const int from = firstSeq > store.FirstSeq() ? static_cast<int>(firstSeq - store.FirstSeq()) : 0;
    for (int i = from; i < count; ++i)
        r.points.push_back(*store.pGetMeaureValue(i));
    if (!r.points.empty()) {
        r.startMs = r.points.front().timeMs;
        r.endMs = r.points.back().timeMs;
    }
    r.calorimeterPower = store.dGetAverage(0);
    r.ecPower = store.dGetAverage(4);
    if (r.ecPoints > 0) {
        r.voltage = voltage / static_cast<double>(r.ecPoints);
        r.current = current / static_cast<double>(r.ecPoints);
    }
    // As the value area computes it: no EC average, no deviation.
    r.deviationPercent = r.ecPower == 0 ? 0 : (r.calorimeterPower - r.ecPower) / r.ecPower * 100;
    r.available = r.ecPoints > 0 && r.ecPower != 0;
    r.passed = r.available && std::fabs(r.deviationPercent) <= limitPercent;
    return r;
}

std::string calibrationVerdictText(const CalibrationResult& r)
{
    if (!r.available)
        return strings::text(61346);
    char deviation[32], limit[32];
    std::snprintf(deviation, sizeof deviation, "%.2f %%", r.deviationPercent);
    std::snprintf(limit, sizeof limit, "%.2f %%", r.limitPercent);
    std::string text = strings::text(r.passed ? 61344 : 61345);
    for (const char* value : {deviation, limit}) {
        const size_t field = text.find("%s");
        if (field != std::string::npos)
            text.replace(field, 2, value);
    }
    return text;
}

} // namespace bv
