#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/BrivaneCore.h"
#include "settings/ProgramSettings.h"
#include "control/Messages.h"
#include "control/Scheduler.h"
#include "devices/MeterCommands.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "sim/SimWorld.h"
#include "support/ScriptedPrompt.h"
#include "support/SimCore.h"
#include "support/TempDir.h"

namespace bv {
namespace {

using test::readFile;

class CoreTest : public ::testing::Test, protected test::SimCore {
protected:
    void start(sim::SimWorldConfig config = {}, const std::string& ini = "")
    {
        startCore(config, ini);
        core->links()->enableStart = [this](bool on) { startEnabled = on; };
    }

    int startEnabled = -1;
};

TEST_F(CoreTest, FirstSelectionTakesUsbIdentifiesAndTakesOneReading)
{
    start();
    EXPECT_EQ(settings.m_iDataTransferMode, 2);  // the initial value of a new settings file
    core->links()->Initialise();
    run(3000);
    CPowerMeter& meter = *core->device();
    EXPECT_EQ(settings.m_iDataTransferMode, 2);
    EXPECT_EQ(core->links()->choice(), LinkSelection::kChoiceUsb);
    EXPECT_EQ(meter.Kind(), MeterKind::EC);
    EXPECT_EQ(meter.m_bAnswerSeen, 1);
    EXPECT_EQ(meter.Store().GetCount(), 1);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(CoreTest, FallsBackToTheSerialLinkAndWritesThePortBack)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    start(config);
    core->links()->Initialise();
    run(5000);
    EXPECT_EQ(settings.m_iDataTransferMode, 0);
    EXPECT_EQ(core->links()->choice(), LinkSelection::kChoiceSerial);
    EXPECT_EQ(startEnabled, 1);
    // The "Port" setting ("com1") is tried as given first, and answers.
    EXPECT_EQ(core->serial().portName(), "com1");
    EXPECT_EQ(core->device()->Kind(), MeterKind::EC);
    EXPECT_EQ(core->device()->Store().GetCount(), 1);
    core->Shutdown();
    const std::string ini = readFile(dir.file("BrivaneSoftware.ini"));
    EXPECT_NE(ini.find("Port=com1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Data_Transfer_Mode=0"), std::string::npos);
}

TEST_F(CoreTest, APortGivenOnTheCommandLineIsTriedBeforeTheSetting)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    start(config, "[Version]\nno=15\n[Comm]\nPort=COM2\nData_Transfer_Mode=0\n");
    world->ports().addPort("COM2", nullptr);
    core->links()->givenPort = "com1";
    core->links()->Initialise();
    ASSERT_TRUE(core->serial().isOpen());
    EXPECT_EQ(core->serial().portName(), "com1");
    EXPECT_EQ(world->ports().record("COM2").opens, 0);
    run(3000);
    core->Shutdown();
    EXPECT_NE(readFile(dir.file("BrivaneSoftware.ini")).find("Port=com1"), std::string::npos);
}

TEST_F(CoreTest, AScanWithoutAnswerKeepsThePortTheOperatorChose)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    config.serialPort = false;
    start(config, "[Version]\nno=15\n[Comm]\nPort=/dev/ttyUSB7\nData_Transfer_Mode=0\n");
    // Listed, but with nothing behind it: tried, and it does not answer.
    world->ports().addPort("COM2", nullptr);
    core->links()->Initialise();
    run(1000);
    EXPECT_FALSE(core->serial().isOpen());
    EXPECT_EQ(world->ports().record("COM2").opens, 1);  // tried once
    core->Shutdown();
    const std::string ini = readFile(dir.file("BrivaneSoftware.ini"));
    EXPECT_NE(ini.find("Port=/dev/ttyUSB7"), std::string::npos) << ini;
    // The scan passes the missing port by without a box.
    for (const std::string& text : prompt.texts())
        EXPECT_EQ(text.find("Cannot open"), std::string::npos) << text;
}

TEST_F(CoreTest, NoLinkAtAllLeavesTheModeAlone)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    config.serialPort = false;
    start(config);
    core->links()->Initialise();
    run(3000);
    EXPECT_EQ(settings.m_iDataTransferMode, 2);
    EXPECT_EQ(core->links()->choice(), LinkSelection::kChoiceNone);
    EXPECT_EQ(core->device()->Store().GetCount(), 0);
}

TEST_F(CoreTest, ContinuousMeasuringOverUsbAndTheBusLog)
{
    start({}, "");
    settings.m_iProtocol = 1;  // switch the bus log on for this run
    core->busLog().StartBusLog();
    core->links()->Initialise();
    run(3000);
    core->device()->StartMeasuring(MeasuringMode::Continuous, 1);  // shutter state from "info": closed, no question
    run(500);
    EXPECT_EQ(core->device()->m_bMeasuringActive, 1);
    run(9500);
    const int points = core->device()->Store().GetCount();
    EXPECT_GE(points, 10);
    EXPECT_LE(points, 12);
    core->device()->StartMeasuring(MeasuringMode::Continuous, 0);
    run(3000);
    EXPECT_EQ(core->device()->m_bMeasuringActive, 0);
    EXPECT_LE(core->device()->Store().GetCount(), points + 1);
    const int stopped = core->device()->Store().GetCount();
    run(5000);
    EXPECT_EQ(core->device()->Store().GetCount(), stopped);
    core->Shutdown();
    const std::string log = readFile(dir.file("BusPro01.Dat"));
    EXPECT_NE(log.find("***** Programm Neustart"), std::string::npos);
    EXPECT_NE(log.find("  0->  0: ql"), std::string::npos);  // adapter texts carry no addresses
    EXPECT_NE(log.find("***** Programm beendet"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.file("BusPro00.Dat")));
}

TEST_F(CoreTest, ScanDuringACalibrationIsRefusedAndLeavesItRunning)
{
    struct Lines final : IDeviceListener {
        void OnDeviceChanged(int code, long) override { seen += code == kNotifyStatusLine; }
        int seen = 0;
    } lines;
    start();
    core->links()->Initialise();
    run(3000);
    CPowerMeter& meter = *core->device();
    meter.AddListener(&lines);
    meter.StartMeasuring(MeasuringMode::Calibration, 1);
    run(3000);
    ASSERT_TRUE(world->meter().heaterOn());

    EXPECT_FALSE(core->links()->OnScan());
    run(2000);
    EXPECT_EQ(lines.seen, 1);
    EXPECT_NE(meter.StatusText().find("calibration"), std::string::npos);
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
    EXPECT_EQ(meter.m_Measuring.m_mode, MeasuringMode::Calibration);
    EXPECT_TRUE(world->meter().heaterOn());
    EXPECT_EQ(core->links()->choice(), LinkSelection::kChoiceUsb);

    meter.StartMeasuring(MeasuringMode::Calibration, 0);
    run(5000);
    ASSERT_FALSE(meter.m_Measuring.IsRunning());
    EXPECT_FALSE(world->meter().heaterOn());
    EXPECT_TRUE(core->links()->OnScan());
    meter.RemoveListener(&lines);
}

TEST_F(CoreTest, StartUpReadsTheDeviceAddressAsOneByteAndTouchesNoLogWhenOff)
{
    start({}, "[Version]\nno=15\n[Comm]\nDevice Address=300\n[BusProtocol]\nProtocol=0\n");
    EXPECT_EQ(core->device()->m_byDevice, 44);
    core->Shutdown();
    EXPECT_FALSE(std::filesystem::exists(dir.file("BusPro00.Dat")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("BusPro01.Dat")));
}

} // namespace
} // namespace bv

namespace bv {
namespace {

TEST_F(CoreTest, ReadyCheckOverTheSimulatedBus)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    start(config);
    std::string why;
    ASSERT_TRUE(core->links()->ConnectPort("COM1", why)) << why;
    CPowerMeter& meter = *core->device();
    meter.StartReadyCheck();
    run(1500);
    EXPECT_FALSE(meter.m_ReadyCheck.IsRunning());
    EXPECT_EQ(meter.m_ReadyCheck.Status(), "OK");

    // A silent meter: three tries of a second each, then "FEHLER1".
    world->meter().silenceUntilCleared();
    meter.StartReadyCheck();
    run(2500);
    EXPECT_TRUE(meter.m_ReadyCheck.IsRunning());
    run(1500);
    EXPECT_FALSE(meter.m_ReadyCheck.IsRunning());
    EXPECT_EQ(meter.m_ReadyCheck.Status(), "FEHLER1");
}

// A remote caller acts only on what the meter shows now, and its refusals
// are told once a minute per kind with how many were held back.
TEST_F(CoreTest, RemoteCommandsActOnlyOnACurrentReadingWithTheLaserOff)
{
    start();  // the shutter open, 1500 W on the meter
    std::vector<std::string> told;
    MeterCommands& door = *core->commands();
    door.setReporter([&](const std::string& t) { told.push_back(t); });
    auto remote = [&](MeterCommand c) { return door.run({c, CommandSource::Remote}, "test").refusal; };
    core->links()->Initialise();
    EXPECT_EQ(remote(MeterCommand::Start), Refusal::Identifying);
    run(3000);
    CPowerMeter& meter = *core->device();
    EXPECT_EQ(remote(MeterCommand::Zero), Refusal::NoReading);  // the last reading may be old
    ASSERT_EQ(remote(MeterCommand::Start), Refusal::None);
    run(5000);
    ASSERT_GT(meter.Store().pGetLastMeasureValue()->power, 1000.0);
    EXPECT_EQ(remote(MeterCommand::Calibrate), Refusal::LaserOn);
    EXPECT_EQ(remote(MeterCommand::CloseShutter), Refusal::LaserOn);
    world->meter().silenceUntilCleared();
    run(8000);
    ASSERT_TRUE(core->watchdog()->stale());
    EXPECT_EQ(remote(MeterCommand::Zero), Refusal::NoReading);
    EXPECT_EQ(meter.m_dZeroOffset, 0.0);
    world->meter().clearSilence();
    world->meter().setLaserPower(0);
    run(20000);
    ASSERT_LT(meter.Store().pGetLastMeasureValue()->power, 50.0);
    ASSERT_EQ(remote(MeterCommand::Calibrate), Refusal::None);
    run(3000);
    ASSERT_TRUE(world->meter().heaterOn());
    EXPECT_EQ(remote(MeterCommand::OpenShutter), Refusal::Calibrating);
    EXPECT_EQ(remote(MeterCommand::Zero), Refusal::Calibrating);
    ASSERT_EQ(remote(MeterCommand::Stop), Refusal::None);
    run(5000);
    EXPECT_FALSE(world->meter().heaterOn());
    EXPECT_TRUE(prompt.shown.empty());

    // LaserOn, NoReading and Calibrating were told once each; two more of
    // them a minute later carry the count of those held back.
    EXPECT_EQ(told.size(), 4u);  // Identifying, NoReading, LaserOn, Calibrating
    EXPECT_EQ(remote(MeterCommand::Zero), Refusal::NoReading);
    EXPECT_EQ(told.size(), 4u);
    run(60000);
    EXPECT_EQ(remote(MeterCommand::Zero), Refusal::NoReading);
    ASSERT_EQ(told.size(), 5u);
    EXPECT_NE(told.back().find("(and 2 more of this kind since the last report)"), std::string::npos) << told.back();
}

} // namespace
} // namespace bv
