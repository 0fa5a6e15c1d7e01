#include <gtest/gtest.h>

#include "ui/ValueLayout.h"

namespace bv::value {
namespace {

// The table has a fifth cell, the standard deviation: the cells are w / 5 wide.
TEST(ValueLayout, CalorimeterPanelGeometry)
{
    auto p = digitalLayout(500, 240);
    EXPECT_EQ(p.columnWidth, 100);
    EXPECT_EQ(p.rowHeight, 20);
    EXPECT_EQ(p.header[0], (Box{5, 200, 105, 220}));
    EXPECT_EQ(p.header[1], (Box{105, 200, 205, 220}));
    EXPECT_EQ(p.values[3], (Box{305, 220, 405, 240}));
    EXPECT_EQ(p.values[4], (Box{405, 220, 505, 240}));
    p = digitalLayout(400, 240);
    EXPECT_EQ(p.bigValue, (Box{5, 40, 400, 220}));
    EXPECT_EQ(p.unit, (Box{5, 160, 395, 215}));
    EXPECT_EQ(p.title, (Box{5, 0, 405, 20}));
}

TEST(ValueLayout, OddSizesTruncate)
{
    auto p = digitalLayout(401, 250);
    EXPECT_EQ(p.columnWidth, 80);
    EXPECT_EQ(p.rowHeight, 20);
    EXPECT_EQ(p.bigValue.bottom, 227);  // 40 + 187.5, truncated
    auto ec = ecLayout(200, 240);
    EXPECT_EQ(ec.columnWidth, 40);
    EXPECT_EQ(ec.header[4], (Box{165, 200, 205, 220}));
}

TEST(ValueLayout, NoNegativeZero)
{
    EXPECT_EQ(format("%.0f W", -0.04), "0 W");
    EXPECT_EQ(format("%5.0f", -0.3), "    0");
    EXPECT_EQ(format("%.2f%%", -0.001), "0.00%");
    EXPECT_EQ(format("%.0f W", -0.6), "-1 W");
    EXPECT_EQ(format("%1.3f", -0.0005), "-0.001");
}

TEST(ValueLayout, TitleAndFormatsByMode)
{
    DigitalInput in;
    in.hasPoints = true;
    in.current = 1234.44;
    in.minimum = 1200.04;
    in.maximum = 1250.55;
    in.average = 1230.126;
    in.stdDeviation = 4.567;
    in.averageCount = 30;
    in.averageWindow = "30 s";
    in.mode = kMax;
    auto t = digitalTexts(in);
    EXPECT_EQ(t.title, "Calorimeter Peak ");
    EXPECT_EQ(t.bigValue, " 1251");
    EXPECT_EQ(t.values[0], " 1234 W");
    EXPECT_EQ(t.header[3], "Average 30 s");
    EXPECT_EQ(t.values[3], "1230.13 W  n=30");
    EXPECT_EQ(t.header[4], "Std. deviation");
    EXPECT_EQ(t.values[4], "4.57 W  n=30");

    in.decimals = 1;  // type 3.4 device
    in.mode = kCurrent;
    t = digitalTexts(in);
    EXPECT_EQ(t.title, "Calorimeter Current");
    EXPECT_EQ(t.bigValue, "1234.4");
    EXPECT_EQ(t.values[2], "1200.0 W");
    EXPECT_EQ(t.values[3], "1230.13 W  n=30");  // the average always has two decimals

    // One point makes an average but no deviation; none makes neither.
    in.averageCount = 1;
    t = digitalTexts(in);
    EXPECT_EQ(t.values[3], "1230.13 W  n=1");
    EXPECT_EQ(t.values[4], "--- W");
    in.averageCount = 0;
    in.mode = kAverage;
    t = digitalTexts(in);
    EXPECT_EQ(t.values[3], "--- W");
    EXPECT_EQ(t.bigValue, "---");

    in.hasPoints = false;
    t = digitalTexts(in);
    EXPECT_EQ(t.bigValue, "---");
    EXPECT_EQ(t.values[0], "--- W");
    EXPECT_EQ(t.values[4], "--- W");
}

TEST(ValueLayout, DeviationColourAgainstTheLimit)
{
    EcInput in;
    in.limit = 1.5;
    in.ecAverage = 1000;
    in.average = 1015;  // exactly 1.5 %
    EXPECT_FALSE(ecTexts(in).deviationRed);
    EXPECT_EQ(ecTexts(in).values[3], "1.50%");
    in.average = 1015.1;
    EXPECT_TRUE(ecTexts(in).deviationRed);
    in.average = 984.9;  // below by more than the limit
    EXPECT_TRUE(ecTexts(in).deviationRed);
    in.ecAverage = 0;
    auto t = ecTexts(in);
    EXPECT_EQ(t.deviation, 0);
    EXPECT_EQ(t.values[3], "0.00%");
    EXPECT_FALSE(t.deviationRed);
    EXPECT_EQ(t.values[4], "1.50%");
}

} // namespace
} // namespace bv::value
