#include <gtest/gtest.h>

#include "MeterBench.h"
#include "support/LogCapture.h"

namespace bv::test {
namespace {

class Identification : public MeterBench {
protected:
    bool identify(uint32_t limitMs = 5000)
    {
        meter.StartIdentification();
        return heart.runUntil([this] { return !meter.m_Identification.IsRunning(); }, limitMs);
    }
};

struct ModelCase {
    sim::MeterModel model;
    uint8_t compact;
    uint8_t ec;
    int32_t type34;
    double flowMinimum;
    int32_t shutter;
    int notifications;  // 1125: one at the end, one more when a model was recognised
};

class IdentifiesModel : public Identification, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(IdentifiesModel, OnTheSimulatedBus)
{
    const ModelCase c = GetParam();
    sim::SimMeter device(modelConfig(c.model));
    bus.attach(device);
    useSerialBus();

    ASSERT_TRUE(identify());
    EXPECT_EQ(meter.m_Identification.Status(), kEndOk);
    EXPECT_EQ(meter.Kind(), c.compact ? MeterKind::Compact : c.ec ? MeterKind::EC : MeterKind::Plain);
    EXPECT_EQ(meter.m_bType34, c.type34);
    EXPECT_DOUBLE_EQ(meter.m_dFlowMin, c.flowMinimum);
    EXPECT_EQ(meter.m_iShutterState, c.shutter);
    EXPECT_EQ(meter.m_bAnswerSeen, 1);
    EXPECT_EQ(notes.count(kNotifyIdentificationEnded), c.notifications);
    EXPECT_FALSE(scheduler.SyncBusy(0));

    ASSERT_EQ(sentOnBus("qr").size(), 1u);
    ASSERT_EQ(sentOnBus("info").size(), 1u);
    EXPECT_EQ(sentOnBus("qr")[0].source, 64);
    EXPECT_EQ(sentOnBus("qr")[0].destination, kMeterAddress);
}

INSTANTIATE_TEST_SUITE_P(
    Models, IdentifiesModel,
    ::testing::Values(ModelCase{sim::MeterModel::Plain, 0, 0, 0, 4.0, kShutterClosed, 1},
                      ModelCase{sim::MeterModel::EC, 0, 1, 1, 4.0, kShutterClosed, 2},
                      // The compact meter's shutter is external; it still reports it.
                      ModelCase{sim::MeterModel::Compact, 1, 0, 0, 1.5, kShutterClosed, 2}));

TEST_F(Identification, CompactNeedsVersionTwo)
{
    ScriptedDevice device(kMeterAddress);
    device.answer("qr", {"Ready CompactBrivane V 1.9"});
    device.answer("info", {"Typ 1.2 FlowMin  1.500 shutter=O"});
    bus.attach(device);
    useSerialBus();

    ASSERT_TRUE(identify());
    EXPECT_EQ(meter.Kind(), MeterKind::Plain);
    EXPECT_EQ(notes.count(kNotifyIdentificationEnded), 1);
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
}

TEST_F(Identification, ErrorToInfoEndsOkAndKeepsValues)
{
    sim::SimMeter device(modelConfig(sim::MeterModel::Plain));
    device.refuseInfo(true);
    bus.attach(device);
    useSerialBus();
    meter.m_dFlowMin = 2.5;
    meter.m_iShutterState = kShutterOpen;

    ASSERT_TRUE(identify());
    EXPECT_EQ(meter.m_Identification.Status(), kEndOk);
    EXPECT_DOUBLE_EQ(meter.m_dFlowMin, 2.5);
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);
    EXPECT_EQ(meter.m_bType34, 0);
}

TEST_F(Identification, NoReadyWithinASecondFails)
{
    sim::SimMeter device;
    device.silenceUntilCleared();
    bus.attach(device);
    useSerialBus();
    meter.MarkAlive();

    meter.StartIdentification();
    heart.runFor(900);
    EXPECT_TRUE(meter.m_Identification.IsRunning());
    heart.runFor(500);
    EXPECT_FALSE(meter.m_Identification.IsRunning());
    EXPECT_EQ(meter.m_Identification.Status(), kEndFailed);
    EXPECT_EQ(meter.m_bAnswerSeen, 0);
    EXPECT_TRUE(sentOnBus("info").empty());
    EXPECT_EQ(notes.seen, (std::vector<Notification>{{kNotifyIdentificationEnded, 0}}));
    EXPECT_FALSE(scheduler.SyncBusy(0));
}

TEST_F(Identification, ShutterCharacterOfTheInfoAnswer)
{
    ScriptedDevice device(kMeterAddress);
    device.answer("qr", {"Ready Brivane V 1.3"});
    bus.attach(device);
    useSerialBus();

    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"Typ 2.1 FlowMin  4.000 shutter=O", kShutterOpen},
        {"Typ 2.1 FlowMin  4.000 shutter=C", kShutterClosed},
        {"Typ 2.1 FlowMin  4.000 shutter=N", kShutterNone},
        {"Typ 2.1 FlowMin  4.000 shutter=U", kShutterUnknown},
        {"Typ 2.1 FlowMin  4.000 shutter=X", kShutterUnknown},
        // Without the key the character at position 7 counts: here a blank,
        {"Typ 2.1 FlowMin  4.000", kShutterUnknown},
        // and here a 'C'.
        {"Typ 2.1C FlowMin  4.000", kShutterClosed},
    };
    for (const auto& [answer, state] : cases) {
        SCOPED_TRACE(answer);
        device.answer("info", {answer});
        meter.m_iShutterState = kShutterError;
        ASSERT_TRUE(identify());
        EXPECT_EQ(meter.m_iShutterState, state);
    }
}

TEST_F(Identification, MissingOrGarbledFlowMinimumKeepsTheOldOne)
{
    ScriptedDevice device(kMeterAddress);
    device.answer("qr", {"Ready Brivane V 1.3"});
    device.answer("info", {"Typ 3.4 Range 6000W shutter=O"});
    bus.attach(device);
    useSerialBus();

    ASSERT_TRUE(identify());
    EXPECT_DOUBLE_EQ(meter.m_dFlowMin, CPowerMeter::kDefaultFlowMinimum);
    EXPECT_EQ(meter.m_bType34, 1);
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);

    // Each of these used to switch the low-flow alarm off for the session.
    LogCapture log({"CPowerMeter"});
    meter.m_dFlowMin = 2.5;
    for (const char* answer : {"Typ 3.4 FlowMin 2#000 shutter=O", "Typ 3.4 FlowMin -1.000 shutter=O",
                               "Typ 3.4 FlowMin    nan shutter=O", "Typ 3.4 FlowMin  1.", "Typ 3.4 FlowMin "}) {
        SCOPED_TRACE(answer);
        device.answer("info", {answer});
        ASSERT_TRUE(identify());
        EXPECT_DOUBLE_EQ(meter.m_dFlowMin, 2.5);
    }
    EXPECT_EQ(log.count("Identification: flow minimum unreadable", "WARN"), 5u);
}

TEST_F(Identification, BusLockNotObtainedEndsWithoutReading)
{
    sim::SimMeter device;
    bus.attach(device);
    useSerialBus();
    LockHolder holder(scheduler);
    ASSERT_TRUE(takeLock(holder));

    meter.StartIdentification();
    heart.runFor(29900);
    EXPECT_TRUE(meter.m_Identification.IsRunning());
    heart.runFor(400);
    EXPECT_FALSE(meter.m_Identification.IsRunning());
    EXPECT_EQ(meter.m_Identification.Status(), kEndFailed);
    EXPECT_TRUE(sentOnBus("qr").empty());
    EXPECT_EQ(meter.m_iShutterState, kShutterUnknown);
    EXPECT_DOUBLE_EQ(meter.m_dFlowMin, CPowerMeter::kDefaultFlowMinimum);
    EXPECT_EQ(scheduler.SyncHolder(0), &holder);  // not ours to release
    EXPECT_EQ(notes.count(kNotifyIdentificationEnded), 1);
}

TEST_F(Identification, NoLinkFailsAtOnce)
{
    meter.SetLink(nullptr);
    ASSERT_TRUE(identify(300));
    EXPECT_EQ(meter.m_Identification.Status(), kEndFailed);
    EXPECT_TRUE(fake.sent.empty());
}

TEST_F(Identification, UsbRoadTakesNoBusLockAndAcceptsAdapterTexts)
{
    sim::SimMeter device(modelConfig(sim::MeterModel::EC));
    UsbStandIn& usb = useUsb([&](std::string_view text, uint32_t now) { return device.command(text, now); });
    LockHolder holder(scheduler);
    ASSERT_TRUE(takeLock(holder));

    ASSERT_TRUE(identify());
    EXPECT_EQ(meter.m_Identification.Status(), kEndOk);
    EXPECT_EQ(usb.texts, (std::vector<std::string>{"qr", "info"}));
    EXPECT_EQ(meter.Kind(), MeterKind::EC);
    EXPECT_EQ(meter.m_bType34, 1);
    EXPECT_FALSE(usb.busConverterPresent());
    EXPECT_EQ(scheduler.SyncHolder(0), &holder);
}

TEST_F(Identification, BusConverterAnswerMarksTheUsbLink)
{
    UsbStandIn& usb = useUsb([](std::string_view text, uint32_t) -> std::vector<sim::Reply> {
        if (text == "qr")
            return {{5, "Ready BusConverter V1.00"}};
        return {};
    });

    ASSERT_TRUE(identify());
    EXPECT_TRUE(usb.busConverterPresent());
    EXPECT_EQ(meter.Kind(), MeterKind::Plain);
    // The converter itself has no "info": that part times out.
    EXPECT_EQ(meter.m_Identification.Status(), kEndFailed);
}

} // namespace
} // namespace bv::test
