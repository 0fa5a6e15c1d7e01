#include <gtest/gtest.h>

#include "ui/StatusLogic.h"

namespace bv::status {
namespace {

MeasurePoint validPoint(double flow)
{
    MeasurePoint p;
    p.valid = 1;
    p.flow = flow;
    p.power = 100;
    return p;
}

DeviceView openShutter()
{
    DeviceView d;
    d.shutterState = 0;
    d.flowMinimum = 4.0;
    return d;
}

TEST(StatusLogic, FlowAlarms)
{
    DeviceView closed = openShutter();
    closed.shutterState = 1;
    auto o = evaluate(validPoint(0), closed);
    EXPECT_EQ(o.message, "Error: NO FLOW RATE, SHUT DOWN LASER IMMEDIATELY!!!");
    EXPECT_EQ(o.kind, kError);
    EXPECT_TRUE(o.alarmShown);
    EXPECT_EQ(*o.alarmText, "!!!DANGER!!!\n!!!SHUTDOWN LASER!!!\n!!!NO water!!!");

    o = evaluate(validPoint(-0.1), openShutter());
    EXPECT_TRUE(o.alarmShown);

    o = evaluate(validPoint(3.9), openShutter());
    EXPECT_EQ(o.message, "Error: Flow rate too low !");
    EXPECT_EQ(*o.alarmText, "!!!DANGER!!!\n!!!SHUTDOWN LASER!!!\n!!!LOW flow rate!!!");
    EXPECT_TRUE(o.alarmShown);

    o = evaluate(validPoint(4.0), openShutter());
    EXPECT_EQ(o.message, "O.K.");
    EXPECT_EQ(o.kind, kInformation);
    EXPECT_FALSE(o.alarmShown);
    EXPECT_FALSE(o.alarmText.has_value());
}

TEST(StatusLogic, ShutterChecks)
{
    DeviceView d = openShutter();
    d.shutterState = 4;
    d.unknownShutterConfirmed = true;
    auto o = evaluate(validPoint(5), d);
    EXPECT_EQ(o.message, "Error: Open shutter before measurement !");
    EXPECT_FALSE(o.alarmShown);  // confirmed: values stay on screen
    d.unknownShutterConfirmed = false;
    EXPECT_TRUE(evaluate(validPoint(5), d).alarmShown);

    d.shutterState = 1;  // closed on a meter with a shutter: listed, no alarm
    o = evaluate(validPoint(5), d);
    EXPECT_EQ(o.kind, kError);
    EXPECT_FALSE(o.alarmShown);

    d.compactModel = true;  // no shutter check on the compact model
    EXPECT_EQ(evaluate(validPoint(5), d).message, "O.K.");

    // A flow fault overrides the shutter message but the alarm text is the last chosen.
    d.compactModel = false;
    o = evaluate(validPoint(0), d);
    EXPECT_EQ(o.message, "Error: NO FLOW RATE, SHUT DOWN LASER IMMEDIATELY!!!");
}

TEST(StatusLogic, CalibrationEndMarkers)
{
    MeasurePoint marker;
    marker.heaterState = 0;
    marker.heaterValue = 3;  // bit 0 wins over bit 1
    EXPECT_TRUE(takesPart(marker));
    auto o = evaluate(marker, openShutter());
    EXPECT_EQ(o.message, "Warning: Timeout, electronic calibration stopped");
    EXPECT_EQ(o.kind, kWarning);
    EXPECT_FALSE(o.alarmShown);

    marker.heaterValue = 2;
    o = evaluate(marker, openShutter());
    EXPECT_EQ(o.message, "Error: Low flow rate, electronic calibration stopped");
    EXPECT_TRUE(o.alarmShown);

    marker.heaterValue = 0;
    EXPECT_EQ(evaluate(marker, openShutter()).message, "Error: Electronic calibration stopped");

    MeasurePoint invalid;
    invalid.heaterState = 1;
    EXPECT_FALSE(takesPart(invalid));
}

TEST(StatusLogic, ThermalizationCountdownUnlessAlarm)
{
    auto p = validPoint(5);
    p.thermalization = 7;
    EXPECT_EQ(evaluate(p, openShutter()).thermalizationShown, 7);
    p.flow = 0;
    EXPECT_EQ(evaluate(p, openShutter()).thermalizationShown, -1);
    EXPECT_EQ(thermalizingText(7), "Thermalizing  7 ...");
}

TEST(StatusLogic, ListKeepsTheLast21)
{
    StatusLines list;
    for (int i = 0; i < 21; ++i)
        list.add("line " + std::to_string(i), kInformation);
    EXPECT_EQ(list.lines().size(), 21u);
    EXPECT_FALSE(list.droppedOne());
    list.add("line 21", kError);
    EXPECT_EQ(list.lines().size(), 21u);
    EXPECT_TRUE(list.droppedOne());
    EXPECT_EQ(list.lines().front().text, "line 1");
    EXPECT_EQ(list.lines().back().kind, kError);
}

TEST(StatusLogic, ShutterButton)
{
    MeasurePoint p = validPoint(5);
    p.power = 50;
    EXPECT_EQ(shutterAction(0, &p), ShutterAction::Close);
    p.power = 50.01;
    EXPECT_EQ(shutterAction(0, &p), ShutterAction::RefuseLaserOn);
    EXPECT_EQ(shutterAction(0, nullptr), ShutterAction::None);
    EXPECT_EQ(shutterAction(4, nullptr), ShutterAction::Open);
    EXPECT_EQ(shutterAction(2, &p), ShutterAction::None);
    EXPECT_EQ(shutterButtonText(0), "Close shutter");
    EXPECT_EQ(shutterButtonText(4), "Open shutter");
    EXPECT_EQ(shutterButtonText(3), "");
    EXPECT_FALSE(shutterButtonEnabled(true, false));
    EXPECT_TRUE(shutterButtonEnabled(true, true));
}

} // namespace
} // namespace bv::status
