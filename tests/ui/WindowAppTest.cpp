#include <QImage>
#include <QPushButton>
#include <QSettings>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "link/CSerial.h"
#include "net/MqttPublisher.h"
#include "net/RemoteAccess.h"
#include "res/StringTable.h"
#include "settings/ProfileFilesDouble.h"
#include "sim/SimWorld.h"
#include "ui/BrivaneApp.h"
#include "ui/CNTGraph.h"
#include "ui/StatusList.h"
#include "ui/ValueArea.h"
#include "support/LineClient.h"
#include "support/MqttBroker.h"
#include "support/PlcClient.h"
#include "WindowFixture.h"
#include "support/TempDir.h"

namespace bv {
namespace {

using test::readFile;

namespace fs = std::filesystem;
using W = CBrivaneMain;

// The program with a window on the simulator and a manual clock; the test
// runs the heartbeat.
class WindowAppTest : public ::testing::Test {
protected:
    WindowAppTest() { test::windowApp(); }

    void writeIni(const std::string& content) { std::ofstream(dir.file("BrivaneSoftware.ini")) << content; }

    BrivaneApp& start()
    {
        AppOptions options;
        options.simulate = true;
        options.settingsDir = dir.path();
        AppEnvironment env;
        env.settings = &settings;
        env.clock = &clock;
        env.prompt = &prompt;
        env.configureLogging = false;
        env.heartbeatTimer = false;
        env.windowProfile = false;
        env.languageModule = languageModule;
        app = std::make_unique<BrivaneApp>(options, env);
        app->Startup("/nonexistent/bin");
        app->CreateWindow();
        return *app;
    }
    void run(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += 100) {
            clock.advance(100);
            app->window()->OnTimerWeiter();
        }
    }

    ManualClock clock{1000};
    test::TempDir dir;
    test::ScriptedPrompt prompt;
    ProgramSettings settings;
    std::string languageModule = "/nonexistent";
    std::unique_ptr<BrivaneApp> app;
};

TEST_F(WindowAppTest, StartsInTheSettingsDirectoryAndShutsDownInOrder)
{
    writeIni("[Version]\nno=15\n[Comm]\nDevice Address=300\n[BusProtocol]\nProtocol=0\n");
    start();
    EXPECT_EQ(app->programDirectory(), dir.path());
    // One byte of 300; the simulated meter sits there too.
    EXPECT_EQ(app->core().device()->m_byDevice, 44);
    run(4000);
    EXPECT_EQ(app->window()->windowTitle(), "BrivaneSoftware - EC-BV");
    app->window()->OnStartstop();
    run(3000);
    EXPECT_GT(app->core().device()->Store().GetCount(), 2);
    EXPECT_EQ(app->Shutdown(), 0);
    EXPECT_EQ(app->window(), nullptr);
    EXPECT_EQ(app->core().scheduler(), nullptr);
    // Protocol 0: no bus-log file or index, at start or at end.
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().rfind("BusPro", 0), std::string::npos) << entry.path();
}

TEST_F(WindowAppTest, LanguageModuleLivesFromStartUpToShutdown)
{
    const std::string module = std::string(BRIVANE_BINARY_DIR) + "/ui";
    if (!fs::exists(module + "/libBVSGerman.so"))
        GTEST_SKIP() << "the German module is not built here";
    languageModule = module;
    start();
    EXPECT_TRUE(app->languageModuleLoaded());
    // The window took its texts from the module's string table.
    EXPECT_EQ(app->window()->startStopButton()->text(), QString::fromStdString(strings::text(4003)));
    EXPECT_NE(strings::text(4003), "Start power measurement");
    app->Shutdown();
    EXPECT_FALSE(app->languageModuleLoaded());
    EXPECT_EQ(strings::text(4003), "Start power measurement");
}

TEST_F(WindowAppTest, LeavingDuringACalibrationAsksAndSwitchesTheHeaterOff)
{
    start();
    CBrivaneMain& window = *app->window();
    window.show();
    run(4000);
    window.OnCalibration();
    sim::SimMeter& meter = app->world()->meter();
    for (int i = 0; i < 50 && !meter.heaterOn(); ++i)
        run(100);
    ASSERT_TRUE(meter.heaterOn());
    prompt.script(PromptResult::Ok);
    window.close();
    EXPECT_EQ(prompt.texts().back(), strings::text(strings::kExitWhileCalibrating));
    EXPECT_FALSE(window.isVisible());
    // Nothing runs the heartbeat any more but the shutdown itself.
    app->Shutdown();
    EXPECT_FALSE(meter.heaterOn());
}

// A start from the plant network never opens the shutter question inside the
// heartbeat: it is refused, and the status list says why.
TEST_F(WindowAppTest, RemoteStartWithTheShutterUnknownIsRefusedWithoutAQuestion)
{
    ASSERT_TRUE(fs::exists(test::kMosquitto)) << "install mosquitto (scripts/setup)";
    test::Broker broker;
    ASSERT_TRUE(broker.start());
    writeIni("[Version]\nno=15\n[MQTT]\nEnabled=1\nHost=127.0.0.1\nPort=" + std::to_string(broker.port()) +
             "\nStation=win\nAcceptCommands=1\n");
    start();
    app->world()->meter().reportShutterUnknown(true);
    run(4000);
    ASSERT_EQ(app->core().device()->m_iShutterState, kShutterUnknown);
    ASSERT_TRUE(test::waitFor([&] { run(100); return app->core().plantLink()->connected(); }, std::chrono::seconds(5)));
    const std::string pub = "mosquitto_pub -h 127.0.0.1 -p " + std::to_string(broker.port()) +
                            " -q 1 -t brivane/win/command -m start";
    ASSERT_EQ(std::system(pub.c_str()), 0) << pub;
    const StatusList& list = *app->window()->statusList();
    auto refusal = [&] {
        for (int i = 0; i < list.lineCount(); ++i)
            if (list.lineText(i).contains(QStringLiteral("MQTT: \"start\" refused")))
                return list.lineText(i).toStdString();
        return std::string();
    };
    ASSERT_TRUE(test::waitFor([&] { run(100); return !refusal().empty(); }, std::chrono::seconds(5)));
    EXPECT_NE(refusal().find("shutter state is unknown"), std::string::npos) << refusal();
    run(2000);
    EXPECT_FALSE(app->core().device()->MeasuringActive());
    EXPECT_TRUE(prompt.texts().empty()) << prompt.texts().front();
    app->Shutdown();
}

// The window serves the cell as the CLI does: a PLC starts the stopped
// measurement over Modbus, the window shows it live without a question, and
// a lab script reads the same reading over SCPI.
TEST_F(WindowAppTest, PlcStartsTheStoppedMeasurementAndAScriptReadsIt)
{
    const int port = 27000 + static_cast<int>(getpid() % 2000);
    writeIni("[Version]\nno=15\n[Modbus]\nEnabled=1\nPort=" + std::to_string(port) +
             "\nAcceptCommands=1\n[SCPI]\nEnabled=1\nPort=" + std::to_string(port + 1) + "\n");
    start();
    run(4000);
    ASSERT_FALSE(app->core().device()->Measuring());
    ASSERT_FALSE(app->window()->valueAreaState().live);
    test::PlcClient plc(port);
    ASSERT_TRUE(plc.connected()) << plc.error();
    EXPECT_EQ(plc.input(modbus::kMeasuring), 0);
    EXPECT_EQ(plc.input(modbus::kReadingsCurrent), 0);
    EXPECT_TRUE(std::isnan(plc.real(modbus::kPower)));

    ASSERT_TRUE(plc.writeCoil(modbus::kStart));
    run(3000);
    EXPECT_TRUE(app->core().device()->MeasuringActive());
    EXPECT_TRUE(app->window()->valueAreaState().live);
    EXPECT_EQ(plc.input(modbus::kMeasuring), 1);
    EXPECT_EQ(plc.input(modbus::kReadingsCurrent), 1);
    const double newest = app->core().device()->Store().pGetLastMeasureValue()->power;
    EXPECT_NEAR(plc.real(modbus::kPower), newest, 0.01);
    test::LineClient script(port + 1);
    ASSERT_TRUE(script.connected);
    script.send("*IDN?;FETC:POW?\n");
    const std::string answer = script.line([&] { run(100); });
    EXPECT_EQ(answer.rfind("BrivaneSoftware,EC-Brivane,", 0), 0u) << answer;
    const size_t semicolon = answer.rfind(';');
    ASSERT_NE(semicolon, std::string::npos) << answer;
    EXPECT_GT(std::stod(answer.substr(semicolon + 1)), 1000.0) << answer;
    EXPECT_TRUE(prompt.texts().empty()) << prompt.texts().front();
    app->Shutdown();
}

// A server whose port another program holds is told in the window's
// language; the window measures on without it.
TEST_F(WindowAppTest, ATakenServerPortIsToldInTheWindowsLanguage)
{
    const std::string module = std::string(BRIVANE_BINARY_DIR) + "/ui";
    if (!fs::exists(module + "/libBVSGerman.so"))
        GTEST_SKIP() << "the German module is not built here";
    languageModule = module;
    const int port = 29000 + static_cast<int>(getpid() % 2000);
    std::string error;
    const int holder = listenTcp("127.0.0.1", port, 1, error);
    ASSERT_GE(holder, 0) << error;
    writeIni("[Version]\nno=15\n[SCPI]\nEnabled=1\nPort=" + std::to_string(port) + "\n");
    start();
    const StatusList& list = *app->window()->statusList();
    const QString told = QString::fromStdString("SCPI: kein Empfang auf 127.0.0.1:" + std::to_string(port) +
                                                " möglich: Adresse wird bereits verwendet");
    bool found = false;
    for (int i = 0; i < list.lineCount(); ++i)
        found = found || list.lineText(i) == told;
    EXPECT_TRUE(found) << list.lineText(list.lineCount() - 1).toStdString();
    app->window()->OnStartstop();
    run(5000);
    EXPECT_GT(app->core().device()->Store().GetCount(), 2);
    app->Shutdown();
    ::close(holder);
}

TEST_F(WindowAppTest, APortThatAnsweredInsteadOfTheSettingIsWrittenBack)
{
    // com7 is not there; the scan finds the meter on COM1.
    writeIni("[Version]\nno=15\n[Comm]\nData_Transfer_Mode=0\nPort=com7\n");
    start();
    run(5000);
    EXPECT_EQ(app->core().serial().portName(), "COM1");
    EXPECT_EQ(app->window()->windowTitle(), "BrivaneSoftware - EC-BV");
    app->Shutdown();
    EXPECT_NE(readFile(dir.file("BrivaneSoftware.ini")).find("Port=COM1"), std::string::npos);
}

TEST_F(WindowAppTest, UndeletableOldVersionWritesNothingAtShutdown)
{
    const std::string old = "[Version]\nno=3\n[Comm]\nPort=com7\n";
    writeIni(old);
    test::WriteProtectedFiles files;
    settings.setProfileFiles(files);
    start();
    EXPECT_EQ(app->core().writeBack(), 0);
    EXPECT_FALSE(prompt.texts().empty());
    run(4000);
    app->Shutdown();
    EXPECT_EQ(files.replaces, 0);
    EXPECT_EQ(readFile(dir.file("BrivaneSoftware.ini")), old);
}

TEST_F(WindowAppTest, WindowSizeIsKeptUnderTheTemplateGroup)
{
    const QString profile = QString::fromStdString(dir.file("window.ini"));
    auto make = [&] {
        start();
        app->window()->setProfileFile(profile);
        app->window()->setProfileEnabled(true);
    };
    make();
    CBrivaneMain& w = *app->window();
    w.show();
    QCoreApplication::processEvents();
    w.resize(1333, 911);
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.layoutHappened());
    app->Shutdown();
    app.reset();
    {
        QSettings s(profile, QSettings::IniFormat);
        EXPECT_EQ(s.value("88/CX").toInt(), 1333);
        EXPECT_EQ(s.value("88/CY").toInt(), 911);
    }
    make();
    EXPECT_TRUE(app->window()->RestoreWindowSize());
    EXPECT_EQ(app->window()->size(), QSize(1333, 911));
    app->Shutdown();
    app.reset();

    // Both keys must be non-zero.
    {
        QSettings s(profile, QSettings::IniFormat);
        s.setValue("88/CY", 0);
    }
    make();
    EXPECT_FALSE(app->window()->RestoreWindowSize());
}

TEST_F(WindowAppTest, ControlsStretchAndMoveAsTheirAnchorsSay)
{
    start();
    CBrivaneMain& w = *app->window();
    w.resize(1200, 860);
    w.show();
    QCoreApplication::processEvents();
    auto mapped = [&](int id) {
        QWidget* c = w.control(id);
        return QRect(c->mapTo(&w, QPoint(0, 0)), c->size());
    };
    const QRect value = mapped(W::kIdValueArea), graph = mapped(W::kIdPowerGraph),
                extra = mapped(W::kIdAdditionalGraph), list = mapped(W::kIdStatusList),
                start = mapped(W::kIdStartStop);
    w.resize(1400, 1010);
    QCoreApplication::processEvents();
    EXPECT_EQ(mapped(W::kIdValueArea).width(), value.width() + 200);
    EXPECT_EQ(mapped(W::kIdValueArea).height(), value.height());
    EXPECT_EQ(mapped(W::kIdPowerGraph).width(), graph.width() + 200);
    EXPECT_EQ(mapped(W::kIdPowerGraph).height(), graph.height() + 150);
    EXPECT_EQ(mapped(W::kIdAdditionalGraph).width(), extra.width() + 200);
    EXPECT_EQ(mapped(W::kIdAdditionalGraph).height(), extra.height());
    EXPECT_EQ(mapped(W::kIdAdditionalGraph).top(), extra.top() + 150);
    EXPECT_EQ(mapped(W::kIdStatusList).height(), list.height() + 150);
    EXPECT_EQ(mapped(W::kIdStatusList).width(), list.width());
    EXPECT_EQ(mapped(W::kIdStatusList).left(), list.left() + 200);
    EXPECT_EQ(mapped(W::kIdStartStop).topLeft(), start.topLeft() + QPoint(200, 0));
    EXPECT_EQ(mapped(W::kIdStartStop).size(), start.size());
    EXPECT_EQ(w.anchorOf(W::kIdPowerGraph), 14u);
    EXPECT_EQ(w.anchorOf(W::kIdStatusList), 9u);
    EXPECT_EQ(w.anchorOf(W::kIdAdditionalGraph), 6u);
    EXPECT_EQ(w.profileGroup(), "88");
}

TEST(WindowArguments, CommandLine)
{
    auto parse = [](std::vector<std::string> a) {
        a.insert(a.begin(), "brivane");
        return parseArguments(a);
    };
    ParsedArguments none = parse({});
    EXPECT_TRUE(none.error.empty());
    EXPECT_FALSE(none.options.simulate);

    ParsedArguments sim = parse({"--simulate=compact", "--screenshot", "a.png", "--settings-dir=/tmp/x"});
    EXPECT_TRUE(sim.error.empty()) << sim.error;
    EXPECT_TRUE(sim.options.simulate);
    EXPECT_EQ(sim.options.model, "compact");
    EXPECT_EQ(sim.options.screenshot, "a.png");
    EXPECT_EQ(sim.options.settingsDir, "/tmp/x");

    EXPECT_EQ(parse({"--simulate"}).options.model, "ec");
    EXPECT_EQ(parse({"--port", "/dev/serial/by-id/usb-x"}).options.port, "/dev/serial/by-id/usb-x");
    EXPECT_FALSE(parse({"--simulate=laser"}).error.empty());
    EXPECT_FALSE(parse({"--screenshot"}).error.empty());
    EXPECT_FALSE(parse({"--bogus"}).error.empty());
    EXPECT_FALSE(parse({"--scene", "nowater"}).error.empty());  // a scene is only for a picture
    EXPECT_FALSE(parse({"--scene=party", "--screenshot", "a.png"}).error.empty());
    EXPECT_TRUE(parse({"--help"}).help);
}

// The built program, as scripts/run starts it without a display.
class BinaryTest : public ::testing::Test {
protected:
    static std::string binary() { return std::string(BRIVANE_BINARY_DIR) + "/ui/brivane"; }
    int runBinary(const std::string& args)
    {
        const std::string line = "cd '" + dir.path() + "' && QT_QPA_PLATFORM=offscreen '" + binary() + "' " + args +
                                 " --settings-dir '" + dir.path() + "' >'" + dir.file("out.txt") + "' 2>&1";
        return std::system(line.c_str());
    }
    test::TempDir dir;
};

TEST_F(BinaryTest, ScreenshotOfTheSimulatedEcMeter)
{
    ASSERT_TRUE(fs::exists(binary()));
    const std::string png = dir.file("out.png");
    ASSERT_EQ(runBinary("--simulate=ec --screenshot '" + png + "'"), 0) << readFile(dir.file("out.txt"));
    ASSERT_TRUE(fs::exists(png));
    EXPECT_GT(fs::file_size(png), 10000u);
    EXPECT_EQ(readFile(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
    const QImage image(QString::fromStdString(png));
    EXPECT_GE(image.width(), 1000);
    // The settings file was made in the settings directory, not beside the binary.
    EXPECT_TRUE(fs::exists(dir.file("BrivaneSoftware.ini")));
}

TEST_F(BinaryTest, NoWaterSceneShowsTheAlarm)
{
    const std::string png = dir.file("nowater.png");
    ASSERT_EQ(runBinary("--scene nowater --screenshot '" + png + "'"), 0) << readFile(dir.file("out.txt"));
    const QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    int red = 0;
    for (int y = 0; y < image.height() / 2; ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 200 && c.green() < 60 && c.blue() < 60;
        }
    EXPECT_GT(red, 3000);
    EXPECT_NE(runBinary("--bogus"), 0);
}

} // namespace
} // namespace bv
