#include <gtest/gtest.h>

#include "ui/PlotScales.h"

namespace bv::plot {
namespace {

TEST(PlotScales, RoundingSendsHalvesUpOnBothSides)
{
    EXPECT_EQ(roundHalfUp(2.5), 3);
    EXPECT_EQ(roundHalfUp(2.49), 2);
    EXPECT_EQ(roundHalfUp(-2.5), -2);
    EXPECT_EQ(roundHalfUp(-2.51), -3);
}

TEST(PlotScales, PowerAxisByScale)
{
    auto r = powerAxis(kScale200W, 123.4, 0, 123.4);
    EXPECT_DOUBLE_EQ(r.min, -57);
    EXPECT_DOUBLE_EQ(r.max, 143);
    r = powerAxis(kScale500W, 0, 0, 0);  // empty store
    EXPECT_DOUBLE_EQ(r.min, -450);
    EXPECT_DOUBLE_EQ(r.max, 50);
    r = powerAxis(kScaleAutomatic, 1500.4, 1490.6, 1495);
    EXPECT_DOUBLE_EQ(r.min, 1481);
    EXPECT_DOUBLE_EQ(r.max, 1510);
    r = powerAxis(7, 1, 1, 1);
    EXPECT_DOUBLE_EQ(r.min, -10);
    EXPECT_DOUBLE_EQ(r.max, 10);
}

// A fixed window never hides the present value: after a drop from 1500 W it
// comes down so that the value sits a tenth of the span above its bottom;
// a value still inside leaves it hanging from the peak.
TEST(PlotScales, FixedWindowKeepsThePresentValueInView)
{
    auto r = powerAxis(kScale500W, 1500, 200, 200);
    EXPECT_DOUBLE_EQ(r.min, 150);
    EXPECT_DOUBLE_EQ(r.max, 650);
    r = powerAxis(kScale200W, 1500, 200, 200);
    EXPECT_DOUBLE_EQ(r.min, 180);
    EXPECT_DOUBLE_EQ(r.max, 380);
    r = powerAxis(kScale500W, 1500, 1100, 1100);
    EXPECT_DOUBLE_EQ(r.min, 1050);
    EXPECT_DOUBLE_EQ(r.max, 1550);
}

TEST(PlotScales, AdditionalAxis)
{
    auto flow = additionalAxis(4.04, 3.96, kFlow);
    EXPECT_NEAR(flow.min, 3.9, 1e-9);
    EXPECT_NEAR(flow.max, 4.1, 1e-9);
    auto empty = additionalAxis(0, 0, kTd);
    EXPECT_NEAR(empty.min, -0.1, 1e-9);
    EXPECT_NEAR(empty.max, 0.1, 1e-9);
    auto te = additionalAxis(21.3, 21.3, kTe);
    EXPECT_DOUBLE_EQ(te.min, 20);
    EXPECT_DOUBLE_EQ(te.max, 22);
    auto spread = additionalAxis(30, 20, kTe);
    EXPECT_DOUBLE_EQ(spread.min, 18);
    EXPECT_DOUBLE_EQ(spread.max, 32);
    auto none = additionalAxis(1, -1, kNone);  // what the window passes for no quantity
    EXPECT_DOUBLE_EQ(none.min, -1);
    EXPECT_DOUBLE_EQ(none.max, 1);
    // A tiny spread that rounds to one value is widened so the axis never collapses.
    auto narrow = additionalAxis(100.1, 100.0, kEcPower);
    EXPECT_GT(narrow.max - narrow.min, 1.5);
}

TEST(PlotScales, TimeAxisSpansThePointsOnTheClock)
{
    // Seconds since 1970, from the oldest point to the newest.
    auto r = timeAxis(1'780'000'000'000, 1'780'000'097'300, 1000);
    EXPECT_DOUBLE_EQ(r.min, 1'780'000'000.0);
    EXPECT_DOUBLE_EQ(r.max, 1'780'000'097.3);
    r = timeAxis(1'780'000'000'000, 1'780'000'000'000, 10000);  // one point: one interval wide
    EXPECT_DOUBLE_EQ(r.max - r.min, 10);
    EXPECT_EQ(gapLimitMs(1000), 2500);
    EXPECT_EQ(gapLimitMs(10000), 25000);
    EXPECT_EQ(gapLimitMs(0), 2500);
    EXPECT_FALSE(axisShowsDate(7200, 7200));
    EXPECT_TRUE(axisShowsDate(86400, 10));
    EXPECT_TRUE(axisShowsDate(90, 90000));
}

TEST(PlotScales, PeriodTableAndFallback)
{
    EXPECT_EQ(period(3).intervalMs, 5000);
    EXPECT_EQ(period(3).periodSeconds, 7200);
    EXPECT_EQ(period(5).periodSeconds, 180000);
    EXPECT_EQ(period(-1).intervalMs, 1000);
    EXPECT_EQ(period(7).periodSeconds, 604800);
    EXPECT_EQ(period(8).intervalMs, 10000);
    EXPECT_EQ(period(kPeriodCount).periodSeconds, 90);
}

} // namespace
} // namespace bv::plot
