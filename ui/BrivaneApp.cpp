#include "ui/BrivaneApp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPalette>
#include <QPixmap>
#include <QTimer>
#include <ctime>
#include <qcustomplot.h>
#include <sstream>

#include "app/BrivaneCore.h"
#include "settings/ProgramSettings.h"
#include "data/CBrivaneDoc.h"
#include "devices/Alarms.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "platform/D2xx.h"
#include "platform/Logging.h"
#include "platform/ProgramPaths.h"
#include "platform/Prompt.h"
#include "platform/SerialPort.h"
#include "res/Version.h"
#include "sim/SimUsb.h"
#include "sim/SimWorld.h"
#include "ui/CNTGraph.h"
#include "ui/ExportCommands.h"
#include "ui/LanguageModule.h"
#include "ui/QtPrompt.h"

namespace bv {
namespace {

constexpr const char* kTag = "BV_main";

const log::Logger& logger()
{
    static const log::Logger instance("CBrivaneApp");
    return instance;
}

bool isScene(const std::string& s)
{
    return s == "normal" || s == "nowater" || s == "stale" || s == "ec" || s == "thermalizing" || s == "week" ||
           s == "gap" || s == "small" || s == "alarm" || s == "nometer" || s == "stopped" || s == "verdict" || s == "refused" ||
           s == "linklost" || s == "restart";
}

// "--name=value" or "--name value".
bool takeValue(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string& value,
               std::string& error)
{
    const std::string& a = args[i];
    if (a == name) {
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return true;
        }
        value = args[++i];
        return true;
    }
    if (a.rfind(name + "=", 0) == 0) {
        value = a.substr(name.size() + 1);
        return true;
    }
    return false;
}

} // namespace

ParsedArguments parseArguments(const std::vector<std::string>& args)
{
    ParsedArguments r;
    AppOptions& o = r.options;
    for (size_t i = 1; i < args.size() && r.error.empty(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (a == "-h" || a == "--help") {
            r.help = true;
        } else if (a == "--version") {
            r.version = true;
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (a.rfind("--simulate=", 0) == 0) {
            o.simulate = true;
            o.model = a.substr(11);
            if (!sim::meterModelFromKey(o.model))
                r.error = "unknown model \"" + o.model + "\" (plain, ec or compact)";
        } else if (takeValue(args, i, "--screenshot", value, r.error)) {
            o.screenshot = value;
        } else if (takeValue(args, i, "--settings-dir", value, r.error)) {
            o.settingsDir = value;
        } else if (takeValue(args, i, "--port", value, r.error)) {
            o.port = value;
            if (r.error.empty() && value.empty())
                r.error = "--port needs a port name";
        } else if (takeValue(args, i, "--modbus", value, r.error)) {
            o.modbus = value;
            if (r.error.empty() && !ModbusConfig().setAddress(value))
                r.error = "--modbus takes PORT or ADDR:PORT (port 1..65535)";
        } else if (takeValue(args, i, "--scpi", value, r.error)) {
            o.scpi = value;
            if (r.error.empty() && !ScpiConfig().setAddress(value))
                r.error = "--scpi takes PORT or ADDR:PORT (port 1..65535)";
        } else if (takeValue(args, i, "--scene", value, r.error)) {
            o.scene = value;
            o.simulate = true;
            if (r.error.empty() && !isScene(value))
                r.error = "unknown scene \"" + value + "\"";
        } else {
            r.error = "unknown option \"" + a + "\"";
        }
    }
    if (r.error.empty() && !o.scene.empty() && o.screenshot.empty())
        r.error = "--scene needs --screenshot FILE";
    return r;
}

std::string usage()
{
    return "usage: brivane [--simulate[=plain|ec|compact]] [--port NAME] [--screenshot FILE] [--settings-dir DIR]\n"
           "  (no option)       the meter through the serial ports and USB adapters the settings name\n"
           "  --simulate        the built-in simulated meter (EC model unless named)\n"
           "  --port NAME       the serial link, through this port first (COMn or a path such as\n"
           "                    /dev/ttyUSB0, /dev/serial/by-id/...); the \"Port\" setting changes\n"
           "                    only when it answers\n"
           "  --modbus [ADDR:]PORT  serve the readings over Modbus TCP (default address 127.0.0.1)\n"
           "  --scpi [ADDR:]PORT    answer SCPI over TCP (default address 127.0.0.1)\n"
           "  --screenshot FILE write a PNG of the window once the first points are in, then quit\n"
           "  --settings-dir DIR  BrivaneSoftware.ini and the bus log there instead of beside the program\n"
           "                    (or, installed, ~/.config and ~/.local/state, BrivaneSoftware)\n"
           "  --version         the version, then exit\n";
}

BrivaneApp::BrivaneApp(AppOptions options, AppEnvironment environment)
    : m_options(std::move(options)), m_env(environment)
{
    m_settings = m_env.settings ? m_env.settings : &ProgramSettings::Instance();
    if (m_env.clock) {
        m_clock = m_env.clock;
    } else if (!m_options.scene.empty()) {
        // A scene runs minutes of simulated measuring in an instant.
        auto manual = std::make_unique<ManualClock>(1000);
        m_manualClock = manual.get();
        m_ownClock = std::move(manual);
        m_clock = m_ownClock.get();
    } else {
        m_ownClock = std::make_unique<SystemClock>();
        m_clock = m_ownClock.get();
    }
    m_manualClock = m_manualClock ? m_manualClock : dynamic_cast<ManualClock*>(m_clock);

    if (m_env.prompt) {
        m_prompt = m_env.prompt;
    } else if (!m_options.screenshot.empty()) {
        // A picture-taking run must never wait for an operator.
        m_ownPrompt = std::make_unique<StderrPrompt>(PromptResult::Ok);
        m_prompt = m_ownPrompt.get();
    } else {
        m_qtPrompt = std::make_unique<QtPrompt>();
        m_prompt = m_qtPrompt.get();
    }
}

BrivaneApp::~BrivaneApp()
{
    DestroyWindow();
    if (m_core)
        Shutdown();
}

int BrivaneApp::Startup(const std::string& executableDirectory)
{
    const ProgramPaths paths =
        ProgramPaths::resolve(executableDirectory, m_options.settingsDir, PathEnvironment::fromProcess());
    // Settings and logs are never written into a folder another user controls.
    if (const auto refused = paths.unsafeFolders(m_env.configureLogging); !refused.empty()) {
        std::string text;
        for (const std::string& problem : refused) {
            BV_LOG_ERROR(logger(), kTag, problem);
            text += (text.empty() ? "" : "\n") + problem;
        }
        m_prompt->show(text, PromptButtons::Ok, PromptIcon::Error);
        return -1;
    }
    const auto folderProblems = paths.createFolders(m_env.configureLogging);
    if (m_env.configureLogging)
        log::configure(paths.logConfig.empty() ? ProgramPaths::kLogConfig : paths.logConfig, paths.diagnosticDir);
    for (const std::string& problem : folderProblems)
        BV_LOG_ERROR(logger(), kTag, problem);

    // Light grey dialogs with black text, as the operators know them.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::Window, QColor(192, 192, 192));
        palette.setColor(QPalette::WindowText, Qt::black);
        QApplication::setPalette(palette);
    }

    // A German installation has the module beside the program; without it
    // the program's own texts stay.
    m_language = std::make_unique<LanguageModule>();
    if (m_env.languageModule.empty())
        m_language->load();
    else
        m_language->load(QString::fromStdString(m_env.languageModule));

    m_programDir = paths.settingsDir;

    ID2xx* usb = nullptr;
    if (m_options.simulate) {
        sim::SimWorldConfig config;
        config.model = sim::meterModelFromKey(m_options.model).value_or(sim::MeterModel::EC);
        // Nothing to reach: no port, no adapter.
        if (m_options.scene == "nometer")
            config.serialPort = config.usbAdapter = false;
        m_world = std::make_unique<sim::SimWorld>(*m_clock, config);
        m_ports = &m_world->serialPorts();
        usb = &m_world->usb();
    } else {
        m_realPorts = std::make_unique<PosixSerialSystem>();
        m_realUsb = makeFtdiD2xx();
        m_ports = m_realPorts.get();
        usb = m_realUsb.get();
    }
    m_core = std::make_unique<BrivaneCore>(*m_settings, CorePlatform{*m_clock, *m_prompt, *m_ports, *usb, nullptr});
    const int writeBack = m_core->Startup(m_programDir, paths.busLogDir);
    if (!m_options.port.empty()) {
        m_core->links()->givenPort = m_options.port;
        m_core->links()->use(kLinkSerial);
    }
    if (m_world)
        m_world->meter().setAddress(m_core->device()->m_byDevice);
    if (MeterCommands* commands = m_core->commands())
        commands->setReporter([this](const std::string& text) {
            if (m_window)
                m_window->AddErrorMessage(text, status::kWarning);
        });
    m_core->StartPlantLink(MqttConfig::fromSettings(*m_settings),
                           [this](const std::string& text) {
                               // Told from the heartbeat: the window's thread.
                               m_plantLinkStatus = text;
                               if (m_window)
                                   m_window->AddErrorMessage(text, status::kWarning);
                           });
    // Its notes wait for the window.
    m_core->StartHistory(paths.historyFile());
    m_core->StartRemoteServers({m_options.modbus, m_options.scpi, versionNumber()}, m_startNotes);
    BV_LOG_DEBUG(logger(), kTag, "start-up done, program directory " << m_programDir);
    return writeBack;
}

CBrivaneMain& BrivaneApp::CreateWindow()
{
    CBrivaneMain::Options options;
    options.heartbeatTimer = m_env.heartbeatTimer && m_options.scene.empty();
    m_window = std::make_unique<CBrivaneMain>(*m_core, *m_prompt, *m_ports, options);
    const bool picture = !m_options.screenshot.empty();
    m_window->setProfileEnabled(m_env.windowProfile && !picture);
    if (m_qtPrompt)
        m_qtPrompt->setParent(m_window.get());
    m_window->OnInitDialog();
    for (const std::string& text : m_startNotes)
        m_window->AddErrorMessage(text, status::kWarning);
    if (picture)
        m_window->resize(1280, 900);
    return *m_window;
}

void BrivaneApp::DestroyWindow()
{
    if (m_qtPrompt)
        m_qtPrompt->setParent(nullptr);
    m_window.reset();
}

int BrivaneApp::RunWindow()
{
    if (!m_window)
        CreateWindow();
    int result = 0;
    if (!m_options.scene.empty()) {
        m_window->show();
        QCoreApplication::processEvents();
        if (!PlayScene(m_options.scene))
            result = 1;
        else if (!SaveScreenshot(m_options.screenshot))
            result = 1;
        else if (m_options.scene == "ec" && !SaveCalibrationReport(m_options.screenshot))
            result = 1;
        else if (m_options.scene == "alarm" && !SaveAlarmLog(m_options.screenshot))
            result = 1;
    } else if (!m_options.screenshot.empty()) {
        result = runWithScreenshot();
    } else {
        m_window->exec();
    }
    DestroyWindow();
    return result;
}

int BrivaneApp::runWithScreenshot()
{
    QElapsedTimer started;
    started.start();
    qint64 firstPointAt = -1;
    bool saved = false;
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool havePoints = m_core->device()->Store().GetCount() > 0;
        if (havePoints && firstPointAt < 0)
            firstPointAt = started.elapsed();
        // A moment after the first point, so the plots and texts show it.
        const bool ready = firstPointAt >= 0 && started.elapsed() - firstPointAt >= 500;
        if (ready || started.elapsed() >= kScreenshotWaitMs) {
            poll.stop();
            saved = SaveScreenshot(m_options.screenshot);
            // Taken unattended: no question before the window goes.
            m_window->done(QDialog::Rejected);
        }
    });
    poll.start();
    m_window->exec();
    return saved ? 0 : 1;
}

bool BrivaneApp::SaveScreenshot(const std::string& file)
{
    if (!m_window)
        return false;
    m_window->UpdateTimeArea();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    const QPixmap picture = m_window->grab();
    const bool ok = !picture.isNull() && picture.save(QString::fromStdString(file), "PNG");
    if (!ok)
        BV_LOG_ERROR(logger(), kTag, "screenshot not written: " << file);
    return ok;
}

void BrivaneApp::runFor(uint32_t ms)
{
    for (uint32_t t = 0; t < ms; t += CBrivaneMain::kTimerPeriodMs) {
        m_manualClock->advance(CBrivaneMain::kTimerPeriodMs);
        m_window->OnTimerWeiter();
    }
}

bool BrivaneApp::PlayScene(const std::string& scene)
{
    if (!m_manualClock || !m_world || !m_window)
        return false;
    sim::SimMeter& meter = m_world->meter();
    CBrivaneMain& w = *m_window;
    if (scene == "nometer") {
        runFor(5000);
        return true;
    }
    const bool calibration = scene == "ec" || scene == "thermalizing" || scene == "verdict" || scene == "refused";
    // Laser off (for a calibration but for some stray light, so the
    // calorimeter reads a little more than the heater's electrical power).
    meter.setLaserPower(calibration ? 25 : 0);
    // The points are stamped on the scene's clock, from now on, so the
    // plots' clock-time axes span the minutes played.
    {
        ManualClock* clock = m_manualClock;
        const int64_t startMs = QDateTime::currentMSecsSinceEpoch();
        const uint32_t startTicks = clock->now();
        m_core->device()->Store().SetWallClock(
            [clock, startMs, startTicks] { return startMs + static_cast<int64_t>(clock->now() - startTicks); });
    }
    runFor(3000);  // identification and the first reading
    // The simulated absorber starts warm: let it settle, then start afresh.
    runFor(15000);
    w.OnClear();
    if (scene == "small") {
        // A 1024 x 600 screen less a usual frame (4 px borders, 30 px title bar).
        w.resize(kSmallScreen.width() - 8, kSmallScreen.height() - 34);
        QCoreApplication::processEvents();
    }
    if (scene == "normal" || scene == "nowater" || scene == "stale" || scene == "small" || scene == "alarm" ||
        scene == "stopped" || scene == "linklost") {
        // The laser comes on a little after the start: the rise shows in the plot.
        w.OnStartstop();
        runFor(12000);
        meter.setLaserPower(1500);
        runFor(60000);
        if (scene == "nowater") {
            meter.failFlow(0);
            runFor(3000);
        } else if (scene == "stale") {
            meter.silenceUntilCleared();
            runFor(8000);
        } else if (scene == "linklost") {
            // The adapter in use is pulled out; the retries go on behind.
            if (sim::SimUsbAdapter* usb = m_world->usbAdapter())
                usb->setConnected(false);
            m_world->ports().setPresent("COM1", false);
            runFor(5000);
        } else if (scene == "alarm") {
            // The water fails for a while and comes back: the alarm of the
            // time the flow was low is in the log, the "O.K." lines go by.
            // The points' times follow the simulated minutes, on from the
            // scene's clock (never back).
            const std::time_t start = static_cast<std::time_t>(m_core->device()->Store().WallMs() / 1000);
            const uint32_t startTicks = m_manualClock->now();
            ManualClock* clock = m_manualClock;
            m_core->device()->SetWallClock([clock, start, startTicks] {
                return start + static_cast<std::time_t>((clock->now() - startTicks) / 1000);
            });
            meter.failFlow(2.0);
            runFor(5000);
            meter.failFlow(0);
            runFor(5000);
            meter.restoreFlow();
            runFor(35000);
            w.statusPanel()->showAlarmLog(&w);
            QCoreApplication::processEvents();
        } else if (scene == "stopped") {
            w.OnStartstop();
            runFor(5000);
        }
        return true;
    }
    if (calibration) {
        w.OnCalibration();
        if (scene == "verdict") {
            // To its end: the heater off and the verdict taken.
            for (int s = 0; s < 180 && m_core->device()->CalibrationRunning(); ++s)
                runFor(1000);
            runFor(2000);
            return !m_core->device()->CalibrationRunning();
        }
        runFor(scene == "ec" ? 75000 : 8000);
        if (scene == "refused") {
            // The plant network asks for a plain measurement over the calibration.
            m_core->commands()->run({MeterCommand::Start, CommandSource::Remote}, "MQTT");
            runFor(2000);
        }
        return true;
    }
    if (scene == "week")
        return PlayWeek();
    if (scene == "restart") {
        // A run of 40 s, then the program as it starts again 20 s later: the
        // store empty, the earlier run read back from the history, a new run.
        meter.setLaserPower(1400);
        w.OnStartstop();
        runFor(40000);
        w.OnStartstop();
        runFor(1000);
        w.OnClear();
        ManualClock* clock = m_manualClock;
        const int64_t resumeMs = m_core->device()->Store().WallMs() + 20000;
        const uint32_t resumeTicks = clock->now();
        m_core->device()->Store().SetWallClock(
            [clock, resumeMs, resumeTicks] { return resumeMs + static_cast<int64_t>(clock->now() - resumeTicks); });
        if (w.LoadHistory() <= 0)
            return false;
        meter.setLaserPower(1200);
        w.OnStartstop();
        runFor(28000);
        return true;
    }
    if (scene == "gap") {
        // The USB adapter unplugged for 7 s: the plots break there. The
        // readout shows the point under a mouse two thirds across.
        w.OnStartstop();
        runFor(12000);
        meter.setLaserPower(1500);
        runFor(40000);
        if (sim::SimUsbAdapter* usb = m_world->usbAdapter())
            usb->setConnected(false);
        runFor(7000);
        if (sim::SimUsbAdapter* usb = m_world->usbAdapter())
            usb->setConnected(true);
        runFor(10000);
        meter.setLaserPower(1200);
        runFor(25000);
        w.UpdateTimeArea();
        QCoreApplication::processEvents();
        CNTGraph* power = w.powerGraph();
        const QRect r = power->plot()->axisRect()->rect();
        power->showReadoutAt(r.left() + r.width() * 2 / 3);
        return true;
    }
    return false;
}

bool BrivaneApp::PlayWeek()
{
    // A week at 1 s on the manual clock until the store is full, the points
    // stamped with the simulated days; the laser runs from 6:00 to 22:00
    // with a lower noon hour, off at night, and once overloads briefly.
    CBrivaneMain& w = *m_window;
    sim::SimMeter& meter = m_world->meter();
    constexpr int kWeekPeriod = 7;  // "7d : 1s"
    w.periodList()->setCurrentIndex(kWeekPeriod);
    w.OnSelchangeScalePeriodeCombo();
    if (auto* automatic = qobject_cast<QAbstractButton*>(w.control(CBrivaneMain::kIdScaleAutomatic)))
        automatic->setChecked(true);
    constexpr int kFirstHour = 6;
    const std::time_t now = std::time(nullptr);
    const std::time_t start = now - now % 86400 - 8 * 86400 + kFirstHour * 3600;
    const uint32_t startTicks = m_manualClock->now();
    ManualClock* clock = m_manualClock;
    m_core->device()->SetWallClock([clock, start, startTicks] {
        return start + static_cast<std::time_t>((clock->now() - startTicks) / 1000);
    });
    w.OnClear();
    w.OnStartstop();
    // The window catches up once at the end, as after a long absence.
    CBrivaneDoc& store = m_core->device()->Store();
    m_core->alarms()->removePointListener(&w);
    for (int minute = 0; minute < 10 * 24 * 60; ++minute) {
        const int day = minute / 1440, hour = (minute / 60 + kFirstHour) % 24;
        if (store.GetCount() >= store.GetMaxCount() && hour == 14)
            break;
        double power = 0;
        if (hour >= 6 && hour < 22)
            power = (hour == 12 ? 600 : 1500) + 150 * (day % 3);
        if (day == 4 && hour == 15 && minute % 60 < 3)
            power = 2600;  // a short overload: the decimated plot keeps it
        meter.setLaserPower(power);
        for (int t = 0; t < 60000; t += CBrivaneMain::kTimerPeriodMs) {
            m_manualClock->advance(CBrivaneMain::kTimerPeriodMs);
            m_core->heartbeat();
        }
    }
    m_core->alarms()->addPointListener(&w);
    runFor(3000);
    w.OnPowerScaleChanged();
    w.MyUpdate(CBrivaneMain::kPartAll);
    return true;
}

bool BrivaneApp::SaveAlarmLog(const std::string& screenshot)
{
    // Beside the picture: "alarm.png" gives "alarm-log.png".
    std::string file = screenshot;
    if (file.size() > 4 && file.compare(file.size() - 4, 4, ".png") == 0)
        file.erase(file.size() - 4);
    QWidget* log = m_window ? m_window->findChild<QWidget*>(QStringLiteral("alarmLogWindow")) : nullptr;
    if (!log)
        return false;
    const QPixmap picture = log->grab();
    return !picture.isNull() && picture.save(QString::fromStdString(file + "-log.png"), "PNG");
}

bool BrivaneApp::SaveCalibrationReport(const std::string& screenshot)
{
    // Beside the picture: "ec.png" gives "ec-report.pdf".
    std::string file = screenshot;
    if (file.size() > 4 && file.compare(file.size() - 4, 4, ".png") == 0)
        file.erase(file.size() - 4);
    file += "-report.pdf";
    runFor(30000);  // until the heater is off and the result taken
    CExportCommands* exports = m_window ? m_window->exports() : nullptr;
    return exports && exports->saveCalibrationReport(QString::fromStdString(file));
}

int BrivaneApp::Shutdown()
{
    DestroyWindow();
    if (m_core)
        m_core->Shutdown();
    if (m_language)
        m_language->unload();
    return 0;
}

bool BrivaneApp::languageModuleLoaded() const { return m_language && m_language->loaded(); }

int BrivaneApp::Run(const std::string& executableDirectory)
{
    if (Startup(executableDirectory) < 0)
        return 1;
    CreateWindow();
    const int result = RunWindow();
    Shutdown();
    return result;
}

} // namespace bv
