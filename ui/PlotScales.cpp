#include "ui/PlotScales.h"

#include <algorithm>
#include <cmath>

namespace bv::plot {

double roundHalfUp(double x)
{
    const double f = std::floor(x);
    return (x - f < 0.5) ? f : std::ceil(x);
}

AxisRange powerAxis(int scale, double phi, double plo, double current)
{
    auto fixed = [&](double span) {
        const double margin = 0.1 * span;
        const double top = std::min(phi + margin, current + span - margin);
        return AxisRange{roundHalfUp(top - span), roundHalfUp(top)};
    };
    switch (scale) {
    case kScaleAutomatic: return {roundHalfUp(plo - 10), roundHalfUp(phi + 10)};
    case kScale200W: return fixed(200);
    case kScale500W: return fixed(500);
    default: return {-10, 10};
    }
}

AxisRange additionalAxis(double a, double b, int quantity)
{
    AxisRange r;
    if (quantity == kFlow || quantity == kTd) {
        r.max = roundHalfUp(10 * a) * 0.1 + 0.1;
        r.min = roundHalfUp(10 * b) * 0.1 - 0.1;
        return r;
    }
    const double d = std::fabs(a - b);
    if (d < 0.000001) {
        r.max = roundHalfUp(a + 1);
        r.min = roundHalfUp(b - 1);
        return r;
    }
    const double m = 0.2 * d;
    r.max = roundHalfUp(a + m);
    r.min = roundHalfUp(b - m);
    if (std::fabs(r.max - r.min) < 0.000001) {
        r.max += 1;
        r.min -= 1;
    }
    return r;
}

AxisRange timeAxis(int64_t firstMs, int64_t lastMs, int intervalMs)
{
    const int64_t end = std::max(lastMs, firstMs + std::max(intervalMs, 1));
    return {static_cast<double>(firstMs) * 0.001, static_cast<double>(end) * 0.001};
}

int64_t gapLimitMs(int intervalMs)
{
    // Polling back to back (no interval) still comes about every few beats.
    constexpr int64_t kLeast = 1000;
    return std::max<int64_t>(intervalMs, kLeast) * 5 / 2;
}

bool axisShowsDate(int periodSeconds, double spanSeconds)
{
    constexpr int kDay = 86400;
    return periodSeconds >= kDay || spanSeconds >= kDay;
}

Period period(int index)
{
    static const Period table[kPeriodCount] = {
        {"90s : 1s", 1000, 90},      {"10min : 2s", 2000, 600}, {"30min : 2s", 2000, 1800},
        {"2h : 5s", 5000, 7200},     {"10h : 5s", 5000, 36000}, {"50h : 10s", 10000, 180000},
        {"24h : 1s", 1000, 86400},   {"7d : 1s", 1000, 604800}, {"30d : 10s", 10000, 2592000},
    };
    if (index < 0 || index >= kPeriodCount)
        return {"", 1000, 90};
    return table[index];
}

QuantityStyle quantityStyle(int quantity)
{
    switch (quantity) {
    case kFlow: return {"l/min", 0xFF3232, 2};
    case kTe: return {"\xC2\xB0" "C", 0xFF0080, 3};
    case kTd: return {"\xC2\xB0" "C", 0x8080FF, 3};
    case kEcPower: return {"W", 0x0000FF, kPowerDecimals};
    default: return {"", 0, 1};
    }
}

double quantityValue(const MeasurePoint& p, int quantity)
{
    switch (quantity) {
    case kFlow: return p.flow;
    case kTe: return p.te;
    case kTd: return p.td;
    case kEcPower: return p.ecPower;
    default: return 0;
    }
}

} // namespace bv::plot
