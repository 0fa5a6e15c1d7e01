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

// Power axis from the peak (phi) and the low (plo) of the points in view and
// the newest of them. Automatic spans them all; a fixed window (200 W, 500 W)
// hangs a tenth of its span above the peak, but comes down as far as needed
// to keep the newest value that tenth above its bottom: a drop from 1500 W to
// 200 W under the 500 W window shows 150 to 650 W, not 1050 to 1550 W.
AxisRange powerAxis(int scale, double phi, double plo, double current);
// Axis of the additional quantity from its maximum a and minimum b.
AxisRange additionalAxis(double a, double b, int quantity);
// Time axis in seconds since 1970 (the plots' keys): the wall-clock span of
// the points held, from the oldest to the newest, at least one interval wide.
AxisRange timeAxis(int64_t firstMs, int64_t lastMs, int intervalMs);
// Neighbouring points further apart than this are drawn with a break: readings
// went missing (link lost, no reading, stopped). Two and a half intervals: a
// cycle comes within a beat of its interval, and one lost answer (time-out and
// retry) makes barely more than two, so a single dropped reading is no gap and
// two in a row are.
int64_t gapLimitMs(int intervalMs);
// Clock time on the axis, with the date for a period or a span of a day or more.
bool axisShowsDate(int periodSeconds, double spanSeconds);

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
    int decimals = 1;   // of the plot's readout
};
QuantityStyle quantityStyle(int quantity);
double quantityValue(const MeasurePoint& point, int quantity);

constexpr uint32_t kPowerLineColor = 0x0000FF;
constexpr int kPowerDecimals = 1;

} // namespace bv::plot
