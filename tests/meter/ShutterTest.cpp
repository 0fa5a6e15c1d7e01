#include <gtest/gtest.h>

#include "MeterBench.h"

namespace bv::test {
namespace {

const char* const kShutterFails = "Shutter Operation Fails. Please check the device!";

class Shutter : public MeterBench {
protected:
    bool operate(bool open, uint32_t limitMs = 20000)
    {
        if (open)
            meter.OpenShutter();
        else
            meter.CloseShutter();
        return heart.runUntil([this] { return !meter.m_ShutterProgram.IsRunning(); }, limitMs);
    }
};

TEST_F(Shutter, OpensAndClosesTheMotorisedShutter)
{
    sim::SimMeter device(modelConfig(sim::MeterModel::Plain));
    bus.attach(device);
    useSerialBus();

    ASSERT_TRUE(operate(true));
    EXPECT_EQ(meter.m_ShutterProgram.Status(), kEndOk);
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
    EXPECT_EQ(device.shutterPosition(clock.now()), sim::ShutterPosition::Open);
    EXPECT_EQ(sentOnBus("sa").size(), 1u);
    EXPECT_EQ(notes.seen, (std::vector<Notification>{{kNotifyShutterEnded, 0}}));
    EXPECT_FALSE(scheduler.SyncBusy(0));
    EXPECT_EQ(meter.m_bAnswerSeen, 1);

    ASSERT_TRUE(operate(false));
    EXPECT_EQ(meter.m_iShutterState, kShutterClosed);
    EXPECT_EQ(sentOnBus("sz").size(), 1u);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(Shutter, ThreeErrorAnswersGiveErrorStateAndMessage)
{
    sim::SimMeter device(modelConfig(sim::MeterModel::Plain));
    device.failShutterMoves(3);
    bus.attach(device);
    useSerialBus();

    ASSERT_TRUE(operate(true, 60000));
    EXPECT_EQ(meter.m_ShutterProgram.Status(), kEndFailed);
    EXPECT_EQ(meter.m_iShutterState, kShutterError);
    EXPECT_EQ(sentOnBus("sa").size(), 3u);
    EXPECT_EQ(prompt.texts(), (std::vector<std::string>{kShutterFails}));
    EXPECT_EQ(notes.count(kNotifyShutterEnded), 1);
    EXPECT_FALSE(scheduler.SyncBusy(0));
}

TEST_F(Shutter, ErrorsBelowThreeAreRetried)
{
    sim::SimMeter device(modelConfig(sim::MeterModel::Plain));
    device.failShutterMoves(2);
    bus.attach(device);
    useSerialBus();

    ASSERT_TRUE(operate(true, 60000));
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
    EXPECT_EQ(sentOnBus("sa").size(), 3u);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(Shutter, TwelveSecondsOfSilenceGiveErrorStateWithoutMessage)
{
    sim::SimMeter device(modelConfig(sim::MeterModel::Plain));
    device.silenceUntilCleared();
    bus.attach(device);
    useSerialBus();
    meter.MarkAlive();

    meter.OpenShutter();
    heart.runFor(11800);
    EXPECT_TRUE(meter.m_ShutterProgram.IsRunning());
    heart.runFor(500);
    EXPECT_FALSE(meter.m_ShutterProgram.IsRunning());
    EXPECT_EQ(meter.m_ShutterProgram.Status(), kEndFailed);
    EXPECT_EQ(meter.m_iShutterState, kShutterError);
    EXPECT_EQ(meter.m_bAnswerSeen, 0);
    EXPECT_EQ(sentOnBus("sa").size(), 1u);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(Shutter, UsbRoadSendsTheCommandText)
{
    sim::SimMeter device(modelConfig(sim::MeterModel::Plain));
    UsbStandIn& usb = useUsb([&](std::string_view text, uint32_t now) { return device.command(text, now); });

    ASSERT_TRUE(operate(true));
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
    EXPECT_EQ(usb.texts, (std::vector<std::string>{"sa"}));
}

// The compact meter's shutter is moved by a PLC on the bus; the PLC reports
// the end switches on its inputs.
class PlcShutter : public Shutter {
protected:
    PlcShutter()
    {
        settings.m_bUseSps = 1;
        settings.m_iTargetAddress = kPlcAddress;
        settings.m_iOutput1 = 3;
        settings.m_iOutput2 = 4;
        settings.m_iInput1 = 5;
        settings.m_iInput2 = 6;
        bus.attach(device);
        bus.attach(plc);
    }

    std::vector<sim::SentFrame> toPlc() const
    {
        std::vector<sim::SentFrame> out;
        for (const sim::SentFrame& f : bus.sentFrames())
            if (f.destination == kPlcAddress)
                out.push_back(f);
        return out;
    }

    sim::SimMeter device{modelConfig(sim::MeterModel::Compact)};
    sim::SimPlc plc{kPlcAddress, sim::PlcWiring{3, 4, 5, 6}, &device};
};

TEST_F(PlcShutter, OutputMaskAndInputWordMoveAndConfirmTheShutter)
{
    useSerialBus();
    ASSERT_TRUE(operate(true));
    EXPECT_EQ(meter.m_ShutterProgram.Status(), kEndOk);
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
    EXPECT_EQ(device.shutterPosition(clock.now()), sim::ShutterPosition::Open);

    const auto frames = toPlc();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].source, 64);
    EXPECT_EQ(frames[0].payload, std::string("so\xFF\xFF\x04\x00\x00", 7));
    EXPECT_EQ(frames[1].payload, "qi");
    EXPECT_GE(frames[1].time - frames[0].time, 1000u);
    EXPECT_TRUE(sentOnBus("sa").empty());

    ASSERT_TRUE(operate(false));
    EXPECT_EQ(meter.m_iShutterState, kShutterClosed);
    EXPECT_EQ(toPlc()[2].payload, std::string("so\xFF\xFF\x08\x00\x00", 7));
    EXPECT_EQ(device.shutterPosition(clock.now()), sim::ShutterPosition::Closed);
}

TEST_F(PlcShutter, WrongInputWordCountsAsFailure)
{
    settings.m_iInput1 = 7;  // nothing wired there
    useSerialBus();
    ASSERT_TRUE(operate(true, 60000));
    EXPECT_EQ(meter.m_iShutterState, kShutterError);
    EXPECT_EQ(prompt.texts(), (std::vector<std::string>{kShutterFails}));
    EXPECT_EQ(toPlc().size(), 6u);  // three tries of "so" and "qi"
}

TEST_F(PlcShutter, SilentPlcCountsAsFailure)
{
    plc.setSilent(true);
    useSerialBus();
    meter.OpenShutter();
    heart.runFor(4000 + 1000 + 500);
    EXPECT_TRUE(meter.m_ShutterProgram.IsRunning());  // first try still within its 4 s
    ASSERT_TRUE(heart.runUntil([this] { return !meter.m_ShutterProgram.IsRunning(); }, 20000));
    EXPECT_EQ(meter.m_iShutterState, kShutterError);
    EXPECT_EQ(prompt.shown.size(), 1u);
}

TEST_F(PlcShutter, ChannelsOutsideOneToSixteenHaveNoBit)
{
    // Unwired everywhere: no input is ever active, so the input word is 0.
    plc = sim::SimPlc(kPlcAddress, sim::PlcWiring{0, 0, 0, 0}, &device);
    settings.m_iOutput1 = 0;
    settings.m_iInput1 = 0;
    useSerialBus();

    ASSERT_TRUE(operate(true, 60000));
    EXPECT_EQ(toPlc()[0].payload, std::string("so\xFF\xFF\x00\x00\x00", 7));
    // A word of 0 must not pass for the position of a channel that has no bit.
    EXPECT_EQ(meter.m_iShutterState, kShutterError);

    EXPECT_EQ(PlcChannelMask(1), 0x0001);
    EXPECT_EQ(PlcChannelMask(16), 0x8000);
    EXPECT_EQ(PlcChannelMask(17), 0);
    EXPECT_EQ(PlcChannelMask(-1), 0);
}

TEST_F(PlcShutter, ShortInputAnswerIsNoPosition)
{
    uint16_t word = 0;
    FRAME f;
    fillRecord(f, 64, kPlcAddress, kBusFrame, reinterpret_cast<const uint8_t*>("ai:\xFB"), 4);
    EXPECT_FALSE(PlcInputWord(&f, word));
    fillRecord(f, 64, kPlcAddress, kBusFrame, reinterpret_cast<const uint8_t*>("ai:\xEF\xFF"), 5);
    ASSERT_TRUE(PlcInputWord(&f, word));
    EXPECT_EQ(word, 0x0010);
    EXPECT_FALSE(PlcInputWord(nullptr, word));
}

TEST_F(PlcShutter, UsbRoadSendsThePlcCommandsAsTexts)
{
    UsbStandIn& usb = useUsb([&](std::string_view text, uint32_t now) { return plc.command(text, now); });
    ASSERT_TRUE(operate(true));
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
    ASSERT_EQ(usb.texts.size(), 2u);
    EXPECT_EQ(usb.texts[0], std::string("so\xFF\xFF\x04\x00\x00", 7));
    EXPECT_EQ(usb.texts[1], "qi");
}

class ShutterWhileMeasuring : public Shutter {
protected:
    ShutterWhileMeasuring()
    {
        bus.attach(device);
        useSerialBus();
        meter.m_iShutterState = kShutterClosed;
        meter.StartMeasuring(MeasuringMode::Continuous, 1);
    }
    sim::SimMeter device{modelConfig(sim::MeterModel::Plain)};
};

TEST_F(ShutterWhileMeasuring, OpenKeepsTheCycleGoing)
{
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 2; }, 5000));
    settings.m_iAveragePeriod = 30;

    ASSERT_TRUE(operate(true));
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
    EXPECT_EQ(meter.m_Measuring.m_bRun, 1);
    EXPECT_EQ(settings.m_iAveragePeriod, 30);  // started again with run 1, the operator's window kept
    const int before = meter.Store().GetCount();
    heart.runFor(6000);
    EXPECT_GE(meter.Store().GetCount(), before + 4);
    EXPECT_GT(meter.Store().pGetLastMeasureValue()->power, 500.0);  // the laser now reaches the absorber
}

TEST_F(ShutterWhileMeasuring, RestartIsRefusedWhenUnknownShutterIsNotConfirmed)
{
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 1; }, 5000));
    meter.m_iShutterState = kShutterUnknown;
    prompt.script(PromptResult::Cancel);

    meter.OpenShutter();
    // The stop went through, the restart asked and was cancelled.
    EXPECT_EQ(prompt.texts(), (std::vector<std::string>{"Shutter state unknown! Continue anyway?"}));
    EXPECT_EQ(meter.m_Measuring.m_bRun, 0);
    ASSERT_TRUE(heart.runUntil([&] { return !meter.m_Measuring.IsRunning(); }, 5000));
    EXPECT_EQ(notes.count(kNotifyMeasuringEnded), 1);
}

TEST_F(ShutterWhileMeasuring, MeasuringStoppedBeforeStaysStopped)
{
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 1; }, 5000));
    meter.StartMeasuring(MeasuringMode::Continuous, 0);
    ASSERT_TRUE(heart.runUntil([&] { return !meter.m_Measuring.IsRunning(); }, 5000));
    ASSERT_EQ(notes.count(kNotifyMeasuringStarted), 1);
    EXPECT_FALSE(meter.MeasuringActive());

    meter.OpenShutter();
    heart.runFor(3000);
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
    EXPECT_FALSE(meter.m_Measuring.IsRunning());
    EXPECT_EQ(notes.count(kNotifyMeasuringStarted), 1);
}

} // namespace
} // namespace bv::test
