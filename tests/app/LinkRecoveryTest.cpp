// A link that fails while measuring comes back by itself: the simulated USB
// adapter or serial port is unplugged and plugged in again, on the manual
// clock, and nothing stored, written or logged is lost or doubled.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/BrivaneCore.h"
#include "control/Messages.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "settings/ProgramSettings.h"
#include "sim/SimWorld.h"
#include "support/LogCapture.h"
#include "support/ScriptedPrompt.h"
#include "support/SimCore.h"
#include "support/TempDir.h"

namespace bv {
namespace {

std::vector<std::string> fileLines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

struct Watch : IDeviceListener, IDocListener, IReadingWatchListener {
    CPowerMeter* device = nullptr;
    std::vector<std::string> status;
    int points = 0, stale = 0, resumed = 0;
    void OnDeviceChanged(int code, long) override
    {
        if (code == kNotifyStatusLine)
            status.push_back(device->StatusText());
    }
    void OnDocChanged(int hint, CDeviceDoc*) override { points += hint == kDocNewPoint ? 1 : 0; }
    void OnReadingsStale(int64_t) override { ++stale; }
    void OnReadingsResumed() override { ++resumed; }
    long lines(const std::string& prefix) const
    {
        return std::count_if(status.begin(), status.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
    }
};

class LinkRecoveryTest : public ::testing::TestWithParam<bool>, protected test::SimCore {
protected:
    bool usb() const { return GetParam(); }

    void SetUp() override
    {
        sim::SimWorldConfig config;
        config.usbAdapter = usb();
        config.serialPort = !usb();
        startCore(config, "[Version]\nno=15\n[Comm]\nData_Transfer_Mode=" + std::to_string(usb() ? 2 : 0) +
                              "\n[BusProtocol]\nProtocol=1\n");
        watch.device = core->device();
        core->device()->AddListener(&watch);
        core->device()->Store().AddListener(&watch);
        core->watchdog()->addListener(&watch);
    }

    void TearDown() override
    {
        if (core->device()) {
            core->watchdog()->removeListener(&watch);
            core->device()->Store().RemoveListener(&watch);
            core->device()->RemoveListener(&watch);
        }
    }

    void plug(bool in)
    {
        if (usb())
            world->usbAdapter()->setConnected(in);
        else
            world->ports().setPresent("COM1", in);
    }

    Watch watch;
};

TEST_P(LinkRecoveryTest, UnpluggedLinkComesBackAndMeasuringResumes)
{
    test::LogCapture log({"CFreeComm"});
    CPowerMeter& meter = *core->device();
    core->links()->Initialise();
    run(3000);
    ASSERT_EQ(settings.m_iDataTransferMode, usb() ? kLinkUsb : kLinkSerial);
    meter.m_bProtocolToFile = 1;
    meter.m_sProtocolPath = dir.file("protocol.txt");
    const int unwritten = watch.points;  // the single reading of the start
    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    run(4000);
    const int before = watch.points;
    ASSERT_GE(before, 3);

    // Already stale when the link goes: said once, not again for the loss.
    world->meter().silence(clock.now(), 8000);
    run(6000);
    ASSERT_EQ(watch.stale, 1);
    plug(false);
    run(9000);
    const LinkRecovery& recovery = *core->recovery();
    EXPECT_TRUE(recovery.recovering());
    EXPECT_TRUE(recovery.resumePending());
    EXPECT_EQ(watch.lines("Link to the meter lost: "), 1) << "said once";
    // Both watchers' alarms are the monitor's, with the text that raised them.
    const AlarmMonitor& alarms = *core->alarms();
    EXPECT_TRUE(alarms.active(AlarmKind::NoReading));
    EXPECT_TRUE(alarms.active(AlarmKind::LinkLost));
    EXPECT_EQ(alarms.text(AlarmKind::LinkLost).rfind("Link to the meter lost: ", 0), 0u) << alarms.text(AlarmKind::LinkLost);
    EXPECT_EQ(watch.stale, 1);
    EXPECT_EQ(watch.points, before);
    // An attempt every 2 s, each one logged; no box while retrying.
    const auto records = log.records();
    const long attempts = std::count_if(records.begin(), records.end(), [](const auto& r) {
        return r.level == "INFO" && r.message.rfind("reconnect attempt ", 0) == 0 &&
               r.message.find(": opening ") != std::string::npos;
    });
    EXPECT_GE(attempts, 3);
    EXPECT_LE(attempts, 5);
    EXPECT_EQ(attempts, recovery.attempts());
    EXPECT_TRUE(prompt.shown.empty()) << prompt.shown.front().text;

    plug(true);
    run(6000);
    EXPECT_FALSE(recovery.recovering());
    EXPECT_EQ(watch.lines("Link to the meter restored: "), 1);
    EXPECT_EQ(watch.resumed, 1);
    EXPECT_FALSE(alarms.active(AlarmKind::NoReading));
    EXPECT_FALSE(alarms.active(AlarmKind::LinkLost));
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
    EXPECT_EQ(meter.m_Measuring.m_mode, MeasuringMode::Continuous);
    EXPECT_GE(watch.points, before + 3);
    EXPECT_TRUE(prompt.shown.empty());

    meter.StartMeasuring(MeasuringMode::Continuous, 0);
    run(2000);
    EXPECT_FALSE(meter.m_Measuring.IsRunning());
    const unsigned long logged = settings.m_ulCommandNo;
    core->Shutdown();

    // One whole protocol line per point.
    const std::regex whole(
        R"(^\d\d:\d\d:\d\d \d\d/\d\d/\d{4}\t\t *-?\d+\.\d\d\tW\t *\d+\.\d{6}\tl/min\t *-?\d+\.\d\d\t\xB0\t *-?\d+\.\d\d\xB0\t\r$)");
    const auto protocol = fileLines(dir.file("protocol.txt"));
    EXPECT_EQ(static_cast<int>(protocol.size()), watch.points - unwritten);
    for (const std::string& line : protocol)
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
    // The bus log numbers every frame once, in order, across the outage.
    const std::regex frameLine(R"(^ *(\d+): *\d+-> *\d+: [\s\S]*$)");
    unsigned long expected = 1;
    std::smatch m;
    for (const std::string& line : fileLines(dir.file("BusPro01.Dat")))
        if (std::regex_match(line, m, frameLine)) {
            ASSERT_EQ(std::stoul(m[1]), expected++) << line;
        }
    EXPECT_EQ(expected - 1, logged);
}

INSTANTIATE_TEST_SUITE_P(Links, LinkRecoveryTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Usb" : "Serial"; });

} // namespace
} // namespace bv
