#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/BrivaneCore.h"
#include "settings/ProgramSettings.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "sim/SimWorld.h"
#include "support/ScriptedPrompt.h"
#include "support/SimCore.h"
#include "support/TempDir.h"

namespace bv {
namespace {

// Collects every frame the heartbeat passes on, as the bus monitor sees them.
struct Recorder : IFrameSink {
    struct Seen {
        uint8_t destination, source, kind;
        std::string text;
    };
    std::vector<Seen> frames;
    void onFrame(const FRAME& f) override
    {
        frames.push_back({f.destination, f.source, f.kind, std::string(f.text())});
    }
    void onCheckFailedFrame(const FRAME& f) override
    {
        onFrame(f);
        ++checkFailed;
    }
    int checkFailed = 0;
};

class UsbRoad : public ::testing::Test, protected test::SimCore {
protected:
    UsbRoad() : SimCore(5000) {}
    void start(sim::SimUsbKind kind)
    {
        sim::SimWorldConfig config;
        config.usbKind = kind;
        config.serialPort = false;
        startCore(config);
        core->heartbeatBody()->addObserver(&recorder);
        core->links()->Initialise();
        run(3000);
    }
    Recorder recorder;
};

TEST_F(UsbRoad, MeterProgramsRunOverTheUsbMeter)
{
    start(sim::SimUsbKind::DirectMeter);
    CPowerMeter& meter = *core->device();
    ASSERT_EQ(settings.m_iDataTransferMode, 2);
    EXPECT_EQ(meter.Kind(), MeterKind::EC);
    EXPECT_EQ(meter.Store().GetCount(), 1);  // the single reading after identification
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);

    meter.CloseShutter();
    run(4000);
    EXPECT_EQ(meter.m_iShutterState, kShutterClosed);
    EXPECT_EQ(world->meter().shutterPosition(clock.now()), sim::ShutterPosition::Closed);
    meter.OpenShutter();
    run(4000);
    EXPECT_EQ(meter.m_iShutterState, kShutterOpen);

    // Adapter texts both ways: kind 2 records with no addresses reach the monitor.
    bool sawAnswer = false;
    for (const auto& f : recorder.frames)
        if (f.kind == kTextFromAdapter && f.text.rfind("asa", 0) == 0 && f.source == 0)
            sawAnswer = true;
    EXPECT_TRUE(sawAnswer);
}

// A measuring answer whose trailer check failed reaches the monitor but never the store.
TEST_F(UsbRoad, AnswerWithAWrongTrailerBecomesNoPoint)
{
    start(sim::SimUsbKind::DirectMeter);
    CPowerMeter& meter = *core->device();
    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    run(2500);
    const int before = meter.Store().GetCount();
    const size_t seen = recorder.frames.size();
    world->usbAdapter()->corruptNextTrailer();
    run(1000);  // one cycle: its answer is the corrupted one
    EXPECT_EQ(recorder.checkFailed, 1);
    EXPECT_GT(recorder.frames.size(), seen);
    EXPECT_EQ(meter.Store().GetCount(), before);
    EXPECT_EQ(meter.UsbLink()->checkErrors(), 1u);
    run(3000);  // the cycle goes on with intact answers
    EXPECT_GT(meter.Store().GetCount(), before);
}

TEST_F(UsbRoad, FreeCommandIsRelayedThroughTheBusConverter)
{
    start(sim::SimUsbKind::BusConverter);
    ZelmorUSBCRC* usb = core->device()->UsbLink();
    ASSERT_NE(usb, nullptr);
    ASSERT_TRUE(usb->busConverterPresent());
    recorder.frames.clear();
    EXPECT_EQ(core->links()->SendLine("64", "113", "qr"), LinkResult::Ok);
    run(1000);
    bool relayedAnswer = false;
    for (const auto& f : recorder.frames)
        if (f.kind == kBusFrame && f.source == 113 && f.destination == 64 && f.text.rfind("Ready", 0) == 0)
            relayedAnswer = true;
    EXPECT_TRUE(relayedAnswer);
}

} // namespace
} // namespace bv
