#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "MeterBench.h"
#include "support/TempDir.h"

namespace bv::test {
namespace {

const std::string kReading = "al PL=    12.500 Fl=     4.000 Te=    21.000 Td=     2.000 shutter=O";

class Measuring : public MeterBench {
protected:
    Measuring() { meter.m_iShutterState = kShutterClosed; }

    bool ended(uint32_t limitMs = 10000)
    {
        return heart.runUntil([this] { return !meter.m_Measuring.IsRunning(); }, limitMs);
    }
    std::vector<uint32_t> sendTimes(const std::string& payload) const
    {
        std::vector<uint32_t> out;
        for (const auto& [time, text] : sentAt)
            if (text == payload)
                out.push_back(time);
        return out;
    }
    // The simulated meter behind the fake link, answering after exactly delayMs.
    void fakeMeter(sim::SimMeter& device) { useFakeLink([&device](std::string_view t, uint32_t now) { return device.command(t, now); }); }
};

sim::SimMeterConfig fixedDelay(uint32_t ms, sim::MeterModel model = sim::MeterModel::Plain)
{
    sim::SimMeterConfig c = modelConfig(model);
    c.replyDelayMinMs = c.replyDelayMaxMs = ms;
    return c;
}

TEST_F(Measuring, SingleReadingSubtractsTheZeroOffset)
{
    ScriptedDevice device(kMeterAddress);
    device.answer("ql", {kReading});
    bus.attach(device);
    useSerialBus();
    meter.m_dZeroOffset = 0.3;

    meter.StartMeasuring(MeasuringMode::Single, 1);
    ASSERT_TRUE(ended());
    ASSERT_EQ(meter.Store().GetCount(), 1);
    const MeasurePoint& p = *meter.Store().pGetLastMeasureValue();
    EXPECT_NEAR(p.power, 12.2, 1e-9);
    EXPECT_DOUBLE_EQ(p.flow, 4.0);
    EXPECT_DOUBLE_EQ(p.te, 21.0);
    EXPECT_DOUBLE_EQ(p.td, 2.0);
    EXPECT_EQ(p.valid, 1);
    EXPECT_EQ(p.thermalization, -1);
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
    EXPECT_EQ(notes.seen, (std::vector<Notification>{{kNotifyMeasuringStarted, 2},
                                                     {kNotifySingleReading, 2},
                                                     {kNotifyMeasuringEnded, 2}}));
    EXPECT_EQ(device.heard, (std::vector<std::string>{"ql"}));
    EXPECT_FALSE(scheduler.SyncBusy(0));
}

TEST_F(Measuring, AnswerWithAFieldNotWhollyANumberGivesNoPoint)
{
    TempDir dir;
    meter.m_bProtocolToFile = 1;
    meter.m_sProtocolPath = dir.file("protocol.txt");
    ScriptedDevice device(kMeterAddress);
    bus.attach(device);
    useSerialBus();
    const std::string good = kReading;
    const std::vector<std::string> garbled = {
        "al PL=     4.0#0 Fl=     4.000 Te=    21.000 Td=     2.000 shutter=O",
        "al PL=    12,500 Fl=     4.000 Te=    21.000 Td=     2.000 shutter=O",
        "al PL=       inf Fl=     4.000 Te=    21.000 Td=     2.000 shutter=O",
        "al PL=    12.500 Fl=       nan Te=    21.000 Td=     2.000 shutter=O",
        "al PL=    1e308  Fl=     4.000 Te=    21.000 Td=     2.000 shutter=O",
        "al PL=       +-21 Fl=     4.000 Te=    21.000 Td=     2.000 shutter=O",
        "al Fl=     4.000 Te=    21.000 Td=     2.000 shutter=O",  // no "PL="
        "al PL=    12.500 Fl=     4.000 Te=    21.000 Td=     2.0",  // cut short
    };
    for (const std::string& answer : garbled) {
        SCOPED_TRACE(answer);
        device.answer("ql", {answer});
        meter.StartMeasuring(MeasuringMode::Single, 1);
        ASSERT_TRUE(ended());
    }
    EXPECT_EQ(meter.Store().GetCount(), 0);
    EXPECT_EQ(meter.AnswerErrors(), static_cast<long>(garbled.size()));
    EXPECT_EQ(notes.count(kNotifyStatusLine), static_cast<int>(garbled.size()));
    EXPECT_NE(meter.StatusText().find("unreadable measuring answer"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(meter.m_sProtocolPath));

    device.answer("ql", {"al PL=+12.5 Fl=4 Te=    21.000 Td=     2.000 shutter=O"});
    meter.StartMeasuring(MeasuringMode::Single, 1);
    ASSERT_TRUE(ended());
    ASSERT_EQ(meter.Store().GetCount(), 1);
    EXPECT_DOUBLE_EQ(meter.Store().pGetLastMeasureValue()->power, 12.5);
    EXPECT_EQ(meter.AnswerErrors(), static_cast<long>(garbled.size()));
}

TEST_F(Measuring, ShutterCharacterOfTheMeasuringAnswer)
{
    ScriptedDevice device(kMeterAddress);
    bus.attach(device);
    useSerialBus();
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"al PL=1 shutter=O", kShutterOpen},    {"al PL=1 shutter=C", kShutterClosed},
        {"al PL=1 shutter=N", kShutterNone},    {"al PL=1 shutter=U", kShutterUnknown},
        {"al PL=1 shutter=X", kShutterError},   {"al PL=1", kShutterUnknown},
        {"al PL=1 shutter=", kShutterError},
    };
    for (const auto& [answer, state] : cases) {
        SCOPED_TRACE(answer);
        device.answer("ql", {answer});
        meter.m_iShutterState = kShutterClosed;
        meter.StartMeasuring(MeasuringMode::Single, 1);
        ASSERT_TRUE(ended());
        EXPECT_EQ(meter.m_iShutterState, state);
    }
}

TEST_F(Measuring, CyclesKeepToTheirIntervalOverTheHeartbeat)
{
    sim::SimMeter device(fixedDelay(300));
    fakeMeter(device);
    settings.m_iInterval = 1000;
    meter.m_iCycleInterval = 1000;

    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    heart.runFor(60500);
    // Each query on the beat that reaches one interval after the previous
    // query was due: N cycles take N s, not N times interval plus a beat.
    const auto ql = sendTimes("ql");
    ASSERT_GE(ql.size(), 60u);
    auto drift = [](const std::vector<uint32_t>& t, size_t i) {
        return std::abs(static_cast<int64_t>(t[i] - t[0]) - 1000 * static_cast<int64_t>(i));
    };
    for (size_t i = 1; i < ql.size(); ++i)
        EXPECT_LE(drift(ql, i), 100) << "query " << i;
    EXPECT_GE(meter.Store().GetCount(), static_cast<int>(ql.size()) - 1);

    // Beats of 7 ms never land on the due time: still no drift.
    sentAt.clear();
    heart.runFor(30000, 7);
    const auto fine = sendTimes("ql");
    ASSERT_GE(fine.size(), 29u);
    for (size_t i = 1; i < fine.size(); ++i)
        EXPECT_LE(drift(fine, i), 7) << "query " << i;

    // A stall of the heartbeat (a box open for 3.5 s) brings one cycle when
    // it ends, then the interval again: no burst of cycles to catch up.
    sentAt.clear();
    heart.beat(3500);
    heart.runFor(3000);
    const auto after = sendTimes("ql");
    ASSERT_GE(after.size(), 3u);
    for (size_t i = 1; i < after.size(); ++i)
        EXPECT_GE(after[i] - after[i - 1], 900u);
}

TEST_F(Measuring, CycleLongerThanTheIntervalStartsTheNextAtOnce)
{
    sim::SimMeter device(fixedDelay(700));
    fakeMeter(device);
    meter.m_iCycleInterval = 500;

    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    heart.runFor(5000);
    const auto ql = sendTimes("ql");
    ASSERT_GE(ql.size(), 4u);
    for (size_t i = 1; i < ql.size(); ++i)
        EXPECT_EQ(ql[i] - ql[i - 1], 700u);  // the beat that brings the answer sends again
}

TEST_F(Measuring, LateAnswerJustBeforeTheTimeoutStillCounts)
{
    // Interval 1000 ms and the answer after 1050 ms: the beat that brings it
    // is also the one at which the wait would run out; the answer wins and the
    // next query goes out in the same beat.
    sim::SimMeter device(fixedDelay(1050));
    fakeMeter(device);
    meter.m_iCycleInterval = 1000;

    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    heart.runFor(5000);
    const auto ql = sendTimes("ql");
    ASSERT_GE(ql.size(), 3u);
    for (size_t i = 1; i < ql.size(); ++i)
        EXPECT_EQ(ql[i] - ql[i - 1], 1100u);
    EXPECT_EQ(meter.Store().GetCount(), static_cast<int>(ql.size()) - 1);
}

TEST_F(Measuring, ZeroOrNegativeIntervalPollsBackToBack)
{
    sim::SimMeter device(fixedDelay(250));
    fakeMeter(device);
    for (int interval : {0, -500}) {
        SCOPED_TRACE(interval);
        sentAt.clear();
        meter.m_iCycleInterval = interval;
        meter.StartMeasuring(MeasuringMode::Continuous, 1);
        heart.runFor(2000);
        const auto ql = sendTimes("ql");
        ASSERT_GE(ql.size(), 5u);
        for (size_t i = 1; i < ql.size(); ++i)
            EXPECT_EQ(ql[i] - ql[i - 1], 300u);
        meter.StartMeasuring(MeasuringMode::Continuous, 0);
        ASSERT_TRUE(ended());
    }
}

TEST_F(Measuring, StopWhileWaitingLetsTheCycleFinish)
{
    sim::SimMeter device(fixedDelay(300));
    fakeMeter(device);

    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(heart.runUntil([&] { return !sendTimes("ql").empty(); }, 1000));
    meter.StartMeasuring(MeasuringMode::Continuous, 0);
    ASSERT_TRUE(ended(5000));
    EXPECT_EQ(meter.Store().GetCount(), 1);
    EXPECT_EQ(sendTimes("ql").size(), 1u);
    EXPECT_EQ(notes.count(kNotifyMeasuringEnded), 1);
    EXPECT_EQ(meter.m_Measuring.Status(), kEndFailed);  // every end passes state 30
    heart.runFor(3000);
    EXPECT_EQ(meter.Store().GetCount(), 1);
}

TEST_F(Measuring, MissingAnswerRepeatsTheQueryEverySecond)
{
    sim::SimMeter device;
    device.silenceUntilCleared();
    fakeMeter(device);

    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    heart.runFor(4500);
    EXPECT_EQ(sendTimes("ql").size(), 4u);
    EXPECT_EQ(meter.Store().GetCount(), 0);
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
}

TEST_F(Measuring, UnknownShutterAsksBeforeContinuousMeasuring)
{
    sim::SimMeter device;
    fakeMeter(device);
    meter.m_iShutterState = kShutterUnknown;

    prompt.script(PromptResult::Cancel);
    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    EXPECT_EQ(prompt.texts(), (std::vector<std::string>{"Shutter state unknown! Continue anyway?"}));
    EXPECT_EQ(prompt.shown[0].buttons, PromptButtons::OkCancel);
    heart.runFor(500);
    EXPECT_FALSE(meter.m_Measuring.IsRunning());
    EXPECT_TRUE(notes.seen.empty());
    EXPECT_EQ(meter.m_bUnknownShutterConfirmed, 0);

    meter.StartMeasuring(MeasuringMode::Continuous, 1);  // Ok
    EXPECT_EQ(meter.m_bUnknownShutterConfirmed, 1);
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
    meter.StartMeasuring(MeasuringMode::Continuous, 0);
    EXPECT_EQ(meter.m_bUnknownShutterConfirmed, 0);
    ASSERT_TRUE(ended());

    // Only continuous measuring asks.
    meter.m_iShutterState = kShutterUnknown;
    meter.StartMeasuring(MeasuringMode::Single, 1);
    ASSERT_TRUE(ended());
    EXPECT_EQ(prompt.shown.size(), 2u);
}

TEST_F(Measuring, StartWithRunPreparesTheCycle)
{
    settings.m_iThermalizationTime = 7;
    settings.m_iAveragePeriod = 30;
    settings.m_iInterval = 2000;
    meter.m_iCycleInterval = 2000;
    meter.m_Measuring.m_point.power = 99;

    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    EXPECT_EQ(meter.m_Measuring.m_point.power, 0);
    EXPECT_EQ(meter.m_Measuring.m_point.heaterState, -1);
    EXPECT_EQ(meter.m_Measuring.m_iThermalization, -1);
    EXPECT_EQ(settings.m_iAveragePeriod, 30);  // the operator's choice stays
    EXPECT_FALSE(meter.Store().AverageFixed());
    EXPECT_EQ(meter.m_iCycleInterval, 2000);

    meter.StartMeasuring(MeasuringMode::Calibration, 1);  // running: takes effect at the next cycle
    EXPECT_EQ(meter.m_Measuring.m_mode, MeasuringMode::Calibration);
    EXPECT_EQ(meter.m_Measuring.m_iThermalization, 7);
    // Thermalizing, then the calibration's own averaging window.
    EXPECT_EQ(meter.m_Measuring.m_iCalibration, 17);
    EXPECT_EQ(meter.m_iCycleInterval, 1000);
    EXPECT_EQ(settings.m_iAveragePeriod, 30);
    EXPECT_TRUE(meter.Store().AverageFixed());
    EXPECT_EQ(meter.Store().AverageSeconds(), 10);
}

TEST_F(Measuring, BusLockNotObtainedEndsTheProgram)
{
    sim::SimMeter device;
    fakeMeter(device);
    LockHolder holder(scheduler);
    ASSERT_TRUE(takeLock(holder));

    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    heart.runFor(29900);
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
    ASSERT_TRUE(ended(500));
    EXPECT_EQ(meter.m_Measuring.Status(), kEndFailed);
    EXPECT_TRUE(sentAt.empty());
    EXPECT_EQ(notes.count(kNotifyMeasuringEnded), 1);
    EXPECT_EQ(scheduler.SyncHolder(0), &holder);

    // And it can be started again once the bus is free.
    holder.release();
    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 1; }, 2000));
}

TEST_F(Measuring, RefusedSendEndsTheProgram)
{
    sim::SimMeter device;
    fakeMeter(device);
    fake.sendResult = LinkResult::Failed;
    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(ended(1000));
    EXPECT_EQ(sendTimes("ql").size(), 1u);
    EXPECT_FALSE(scheduler.SyncBusy(0));

    meter.SetLink(nullptr);
    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(ended(1000));
    EXPECT_EQ(sendTimes("ql").size(), 1u);
}

TEST_F(Measuring, UsbRoadTakesNoBusLock)
{
    sim::SimMeter device(modelConfig(sim::MeterModel::Plain));
    UsbStandIn& usb = useUsb([&](std::string_view text, uint32_t now) { return device.command(text, now); });
    LockHolder holder(scheduler);
    ASSERT_TRUE(takeLock(holder));

    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 3; }, 5000));
    EXPECT_EQ(usb.texts, (std::vector<std::string>{"ql", "ql", "ql"}));
    EXPECT_NEAR(meter.Store().pGetLastMeasureValue()->flow, 4.5, 0.2);
}

// ---------------------------------------------------------------------------
// Electronic calibration on the simulated EC meter.

class Calibration : public Measuring {
protected:
    Calibration()
    {
        sim::SimMeterConfig c = modelConfig(sim::MeterModel::EC);
        c.heaterSettleMs = 1500;
        c.laserPower = 0;
        device = std::make_unique<sim::SimMeter>(c);
        bus.attach(*device);
        useSerialBus();
        settings.m_iThermalizationTime = 3;
        meter.m_iCalibrationAverage = 2;
        settings.m_iInterval = 2000;
        meter.m_iCycleInterval = 2000;
    }

    std::vector<MeasurePoint> points() const
    {
        std::vector<MeasurePoint> out;
        for (int i = 0; i < meter.Store().GetCount(); ++i)
            out.push_back(*meter.Store().pGetMeaureValue(i));
        return out;
    }

    std::unique_ptr<sim::SimMeter> device;
};

TEST_F(Calibration, FullRunSwitchesTheHeaterOnAndOff)
{
    meter.StartMeasuring(MeasuringMode::Calibration, 1);
    heart.runFor(1000);
    EXPECT_TRUE(device->heaterOn());
    ASSERT_TRUE(ended(20000));

    ASSERT_EQ(sentOnBus("elp 1").size(), 1u);
    ASSERT_EQ(sentOnBus("elp 0").size(), 1u);
    EXPECT_FALSE(device->heaterOn());
    EXPECT_EQ(meter.m_iCycleInterval, 2000);  // back to the interval of the settings

    // Calibration countdown 3 + 2: four cycles with points, the fifth ends it.
    const auto p = points();
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(sentOnBus("ql").size(), 5u);
    const int expectedThermalization[] = {2, 1, 0, -1};
    for (size_t i = 0; i < p.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(p[i].valid, 1);
        EXPECT_EQ(p[i].thermalization, expectedThermalization[i]);
        EXPECT_EQ(p[i].heaterState, 1);
        EXPECT_NEAR(p[i].ecPower, 1000, 5);
        EXPECT_NEAR(p[i].ecVoltage, 230, 1);
        EXPECT_NEAR(p[i].ecCurrent, 1000.0 / 230.0, 0.02);
    }
    // The heater needs time to settle: the first point does not count for EC.
    EXPECT_EQ(p[0].heaterValue, 4);
    EXPECT_EQ(p[0].ecValid, 0);
    EXPECT_EQ(p[3].heaterValue, 0);
    EXPECT_EQ(p[3].ecValid, 1);

    EXPECT_EQ(notes.seen.front(), (Notification{kNotifyMeasuringStarted, 1}));
    EXPECT_EQ(notes.seen.back(), (Notification{kNotifyMeasuringEnded, 1}));
    // "elp 0" goes last, after the fifth query.
    EXPECT_GT(sentOnBus("elp 0")[0].time, sentOnBus("ql").back().time);
}

TEST_F(Calibration, HeaterDroppingOutEndsWithAMarker)
{
    settings.m_iThermalizationTime = 20;
    meter.StartMeasuring(MeasuringMode::Calibration, 1);
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 2; }, 10000));
    device->failHeater(0);
    ASSERT_TRUE(ended(5000));

    const auto p = points();
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[2].valid, 0);  // stored as given
    EXPECT_EQ(p[2].heaterState, 0);
    EXPECT_EQ(sentOnBus("elp 0").size(), 1u);
    EXPECT_FALSE(device->heaterOn());
}

TEST_F(Calibration, HeaterThatDoesNotComeOnIsMarked)
{
    device->failHeater(2);
    meter.StartMeasuring(MeasuringMode::Calibration, 1);
    ASSERT_TRUE(ended(5000));

    const auto p = points();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].valid, 0);
    EXPECT_EQ(p[0].heaterState, 0);
    EXPECT_EQ(p[0].heaterValue, 2);
    EXPECT_TRUE(sentOnBus("ql").empty());
    EXPECT_EQ(sentOnBus("elp 0").size(), 1u);
}

TEST_F(Calibration, UnconfirmedSwitchOnStillSwitchesTheHeaterOff)
{
    device->silenceUntilCleared();
    meter.StartMeasuring(MeasuringMode::Calibration, 1);
    heart.runFor(1800);
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
    ASSERT_TRUE(ended(3000));
    EXPECT_EQ(sentOnBus("elp 1").size(), 1u);
    EXPECT_EQ(sentOnBus("elp 0").size(), 1u);
    EXPECT_EQ(meter.Store().GetCount(), 0);
}

TEST_F(Calibration, MissingPelFrameStillBringsFlowAndTemperaturesToTheAlarms)
{
    ScriptedDevice scripted(kMeterAddress + 1);
    scripted.answer("elp 1", {"elcal_enabled=1 heater: 1 000"});
    scripted.answer("elp 0", {"elcal_enabled=0 heater: 0 000"});
    scripted.answer("ql", {"al PL=     0.100 Fl=     0.000 Te=    21.000 Td=     0.500 shutter=O"});
    bus.attach(scripted);
    meter.Init(64, kMeterAddress + 1, "Brivane", &serial);

    meter.StartMeasuring(MeasuringMode::Calibration, 1);
    heart.runFor(6000);
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
    const auto p = points();
    ASSERT_GE(p.size(), 3u);
    for (const MeasurePoint& point : p) {
        // A valid point with no flow: the status decision raises the no-flow alarm.
        EXPECT_EQ(point.valid, 1);
        EXPECT_EQ(point.flow, 0.0);
        EXPECT_EQ(point.te, 21.0);
        EXPECT_EQ(point.td, 0.5);
        EXPECT_EQ(point.ecValid, 0);
        EXPECT_EQ(point.heaterState, -1);
    }

    meter.StartMeasuring(MeasuringMode::Calibration, 0);
    ASSERT_TRUE(ended());
    EXPECT_EQ(std::count(scripted.heard.begin(), scripted.heard.end(), "elp 0"), 1);
    EXPECT_EQ(meter.m_iCycleInterval, settings.m_iInterval);
}

} // namespace
} // namespace bv::test
