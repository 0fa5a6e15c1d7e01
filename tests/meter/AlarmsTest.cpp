#include <gtest/gtest.h>

#include "MeterBench.h"
#include "devices/Alarms.h"

namespace bv::status {
using bv::AlarmMonitor;
using bv::AlarmKind;
using bv::AlarmChange;
using bv::IAlarmListener;
using bv::MeterKind;
using bv::alarmName;

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

TEST(StatusDecision, FlowAlarms)
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

TEST(StatusDecision, ShutterChecks)
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

TEST(StatusDecision, CalibrationEndMarkers)
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

TEST(StatusDecision, ThermalizationCountdownUnlessAlarm)
{
    auto p = validPoint(5);
    p.thermalization = 7;
    EXPECT_EQ(evaluate(p, openShutter()).thermalizationShown, 7);
    p.flow = 0;
    EXPECT_EQ(evaluate(p, openShutter()).thermalizationShown, -1);
    EXPECT_EQ(thermalizingText(7), "Thermalizing  7 ...");
}

TEST(StatusDecision, ShutterButton)
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

struct AlarmLog : IAlarmListener {
    std::vector<std::string> seen;
    void OnAlarm(const AlarmChange& c) override { seen.push_back((c.raised ? "+" : "-") + std::string(alarmName(c.kind))); }
};

class AlarmStates : public test::MeterBench {
protected:
    AlarmStates()
    {
        meter.IdentificationOutcome(true);
        monitor.addListener(&log);
    }
    void point(double flow, int valid = 1, int heaterState = -1, int heaterValue = 0)
    {
        MeasurePoint p = validPoint(flow);
        p.valid = static_cast<uint8_t>(valid);
        p.heaterState = heaterState;
        p.heaterValue = heaterValue;
        meter.Store().AddMesswert(p, 1);
    }
    AlarmMonitor monitor{meter};
    AlarmLog log;
};

// Each change is told once; the states follow the same decision as the window.
TEST_F(AlarmStates, RaisedAndClearedOncePerChange)
{
    meter.m_iShutterState = kShutterOpen;
    point(5);
    point(0);
    point(0);
    point(3.9);  // no water becomes low flow
    point(5);
    EXPECT_EQ(log.seen, (std::vector<std::string>{"+no flow", "-no flow", "+low flow", "-low flow"}));

    meter.m_iShutterState = kShutterClosed;
    point(5);
    EXPECT_EQ(monitor.activeNames(), std::vector<std::string>{"shutter"});
    meter.SetModel(MeterKind::Compact);  // its shutter is not checked
    point(5);
    EXPECT_TRUE(monitor.activeNames().empty());

    point(0, 0, 1);  // a calibration point that takes no part changes nothing
    EXPECT_TRUE(monitor.activeNames().empty());
    point(0, 0, 0, 2);  // calibration stopped for low flow
    EXPECT_TRUE(monitor.active(AlarmKind::LowFlow));
    monitor.clearAll();
    EXPECT_EQ(log.seen.back(), "-low flow");
}

} // namespace
} // namespace bv::status
