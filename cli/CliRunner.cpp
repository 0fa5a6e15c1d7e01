#include "cli/CliRunner.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

#include "app/BrivaneCore.h"
#include "app/BusAddress.h"
#include "cli/ConsoleText.h"
#include "cli/PortList.h"
#include "settings/ProgramSettings.h"
#include "control/Scheduler.h"
#include "devices/Alarms.h"
#include "devices/MeterCommands.h"
#include "devices/PowerMeter.h"
#include "devices/ReadingWatchdog.h"
#include "devices/ProtocolLine.h"
#include "data/PointExport.h"
#include "platform/Clock.h"
#include "platform/D2xx.h"
#include "platform/DataSource.h"
#include "platform/ProgramPaths.h"
#include "platform/Prompt.h"
#include "platform/SerialPort.h"
#include "platform/ServiceNotify.h"
#include "res/StringTable.h"
#include "res/Version.h"
#include "sim/SimWorld.h"

namespace bv::cli {

std::atomic<bool> g_stopRequested{false};

namespace {

constexpr uint32_t kTickMs = 100;
constexpr int kExitStale = 3;
constexpr int kExitCalibrationFailed = 4;
constexpr uint32_t kEcSilenceMs = 10000;
constexpr const char* kCaller = "brivane-cli";  // a calibration without EC frames is given up

// Prints every new point as it arrives.
class PointPrinter final : public IPointListener {
public:
    PointPrinter(CPowerMeter& device, MeterCommands& commands, const AlarmMonitor& alarms, Format format,
                 std::ostream& out)
        : m_device(device), m_commands(commands), m_alarms(alarms), m_format(format), m_out(out)
    {
    }
    void OnNewPoint(const DecidedPoint& decided) override
    {
        const MeasurePoint* p = &decided.point;
        if (m_format == Format::Json) {
            m_out << jsonLine(*p, decided.shutterState, m_alarms.activeNames(),
                              m_device.Store().dGetStdDeviation(0), decided.seq)
                  << '\n';
        } else {
            // The protocol line as the file gets it, with a plain line end
            // and in the reader's character set.
            m_out << m_console.fromLatin1(FormatProtocolLine(*p, m_device.CalibrationRunning()));
        }
        m_out.flush();
        if (!m_out && !m_outputClosed) {
            // A reader that went away (`| head -1`) ends the run like Ctrl-C;
            // any other refusal loses readings and fails it.
            if (errno == EPIPE)
                m_outputClosed = true;
            else
                m_outputFailed = true;
        }
        if (p->valid)
            ++m_valid;
        if (p->heaterState == 1)
            ++m_ec;
        ++m_points;
        // Asked for here, before the program schedules its next cycle: at a
        // short interval that cycle's "ql" would otherwise already be out.
        if (m_stopAfter > 0 && m_points == m_stopAfter)
            m_commands.run({MeterCommand::Stop}, "--count");
    }
    // Continuous measuring stops at the n-th point (0: it does not).
    void stopAfter(long n) { m_stopAfter = n; }
    long points() const { return m_points; }
    long validPoints() const { return m_valid; }
    long ecPoints() const { return m_ec; }
    // Standard output refused a reading (a full disk, a closed pipe).
    bool outputFailed() const { return m_outputFailed; }
    bool outputClosed() const { return m_outputClosed; }

private:
    CPowerMeter& m_device;
    MeterCommands& m_commands;
    const AlarmMonitor& m_alarms;
    Format m_format;
    std::ostream& m_out;
    ConsoleText m_console;
    long m_points = 0;
    long m_valid = 0;
    long m_ec = 0;  // points read with their EC frame while the heater ran
    long m_stopAfter = 0;
    bool m_outputFailed = false;
    bool m_outputClosed = false;
};

// Waits for the device's notifications the session cares about.
class EndWatcher final : public IDeviceListener {
public:
    void OnDeviceChanged(int code, long parameter) override
    {
        if (code == kNotifyMeasuringEnded) {
            measuringEnded = true;
            endedMode = parameter;
        } else if (code == kNotifyStatusLine && device && err) {
            // The window's status list; here it goes with the other diagnostics.
            *err << "brivane-cli: " << device->StatusText() << '\n';
        }
    }
    const CDevice* device = nullptr;
    std::ostream* err = nullptr;
    bool measuringEnded = false;
    long endedMode = -1;
};

// Every new point as a CSV row, flushed at once so that nothing waits in memory.
class CsvWriter final : public IPointListener {
public:
    explicit CsvWriter(std::ostream& err) : m_err(err) {}
    ~CsvWriter() override
    {
        if (m_file)
            std::fclose(m_file);
    }
    // Opened without waiting: a FIFO that nobody reads fails at once (ENXIO)
    // instead of holding the open, past every signal, until a reader comes.
    bool open(const std::string& path)
    {
        m_path = path;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0)
            return false;
        // The rows themselves are written as to standard output: a slow reader holds them up.
        const int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !(m_file = fdopen(fd, "wb"))) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return false;
        }
        return write(std::string(csvHeader()) + "\r\n");
    }
    void OnNewPoint(const DecidedPoint& decided) override
    {
        if (m_file && !write(csvRow(decided.point)) && !m_failed) {
            m_failed = true;
            m_err << "brivane-cli: cannot write " << m_path << ": " << std::strerror(errno) << '\n';
        }
    }
    bool failed() const { return m_failed; }

private:
    bool write(const std::string& text)
    {
        return std::fwrite(text.data(), 1, text.size(), m_file) == text.size() && std::fflush(m_file) == 0;
    }
    std::ostream& m_err;
    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_failed = false;
};

// One line when the readings go stale, one when they come back.
class StaleReporter final : public IReadingWatchListener {
public:
    explicit StaleReporter(std::ostream& err) : m_err(err) {}
    void OnReadingsStale(int64_t lastWallMs) override
    {
        std::string since = "the start of the measurement";
        if (lastWallMs > 0) {
            const std::time_t t = static_cast<std::time_t>(lastWallMs / 1000);
            std::tm local{};
            localtime_r(&t, &local);
            char buf[16];
            std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
            since = buf;
        }
        m_err << "brivane-cli: no reading since " << since << '\n';
        m_err.flush();
    }
    void OnReadingsResumed() override
    {
        m_err << "brivane-cli: readings resumed\n";
        m_err.flush();
    }

private:
    std::ostream& m_err;
};

// Every alarm raised and cleared, one line each.
class AlarmPrinter final : public IAlarmListener {
public:
    explicit AlarmPrinter(std::ostream& err) : m_err(err) {}
    void OnAlarm(const AlarmChange& change) override
    {
        // "no reading" and "link lost" have lines of their own.
        if (!decidedByPoint(change.kind))
            return;
        if (change.raised)
            m_err << "brivane-cli: ALARM " << alarmName(change.kind) << ": " << oneLine(change.text) << '\n';
        else
            m_err << "brivane-cli: cleared " << alarmName(change.kind) << '\n';
        m_err.flush();
    }

private:
    static std::string oneLine(std::string text)
    {
        for (char& c : text)
            if (c == '\n' || c == '\r')
                c = ' ';
        return text;
    }
    std::ostream& m_err;
};

// What systemd hears of the run, from the heartbeat: a few comparisons a
// beat, a status text made about once a second. Keep-alives stop while the
// readings are stale, so that WatchdogSec= restarts a run whose meter stays silent.
class ServiceReport final : public IPointListener {
public:
    static constexpr uint32_t kStatusEveryMs = 1000;

    ServiceReport(ServiceNotify& notify, IClock& clock) : m_notify(notify), m_clock(clock) {}
    void watch(const ReadingWatchdog* watchdog) { m_watchdog = watchdog; }

    void identified(const std::string& meter)
    {
        m_meter = meter;
        m_lastStatus = m_clock.now();
        if (!m_ready)
            m_notify.ready(meter + ": identified");
        m_ready = true;
    }
    void beat()
    {
        const uint32_t now = m_clock.now();
        const bool stale = m_watchdog && m_watchdog->stale();
        // Readings going stale or coming back are told at once, before the keep-alive they stop or start.
        const bool newReading = m_points != m_shownPoints && now - m_lastStatus >= kStatusEveryMs;
        if (m_ready && (stale != m_shownStale || newReading)) {
            m_notify.status(statusText(stale));
            m_shownPoints = m_points;
            m_shownStale = stale;
            m_lastStatus = now;
        }
        const uint32_t every = m_notify.keepAliveMs();
        if (every > 0 && !stale && (!m_keptAlive || now - m_lastKeepAlive >= every)) {
            m_notify.keepAlive();
            m_lastKeepAlive = now;
            m_keptAlive = true;
        }
    }
    void OnNewPoint(const DecidedPoint& decided) override
    {
        m_newest = decided.point;
        ++m_points;
    }

private:
    std::string statusText(bool stale) const
    {
        if (stale)
            return m_meter + ": no reading since " + localClockText(m_watchdog->sinceWallMs());
        char reading[96];
        // No "-0.00 W" for a dark meter's noise.
        const double power = std::fabs(m_newest.power) < 0.005 ? 0.0 : m_newest.power;
        std::snprintf(reading, sizeof reading, "%.2f W, flow %.2f l/min%s", power, m_newest.flow,
                      m_newest.valid ? "" : " (not valid)");
        return m_meter + ": " + reading;
    }

    ServiceNotify& m_notify;
    IClock& m_clock;
    const ReadingWatchdog* m_watchdog = nullptr;
    std::string m_meter;
    MeasurePoint m_newest;
    long m_points = 0;
    long m_shownPoints = 0;
    bool m_shownStale = false;
    bool m_ready = false;
    bool m_keptAlive = false;
    uint32_t m_lastKeepAlive = 0;
    uint32_t m_lastStatus = 0;
};

// The stored points, one line each, as a measurement would have printed them.
int printHistory(const Options& o, const std::string& path, std::ostream& out, std::ostream& err)
{
    ConsoleText console;
    if (o.format == Format::Csv)
        out << csvHeader() << "\r\n";
    long count = 0;
    std::string error;
    const bool read = readHistory(path, {o.historyFrom, o.historyTo, 0}, [&](const StoredPoint& sp) {
        ++count;
        if (o.format == Format::Csv) {
            out << csvRow(sp.point);
        } else if (o.format == Format::Json) {
            std::vector<std::string> alarms;
            for (int k = 0; k < kAlarmKinds; ++k)
                if (sp.alarms & (1u << k))
                    alarms.push_back(alarmName(static_cast<AlarmKind>(k)));
            std::string line = jsonLine(sp.point, sp.shutterState, alarms);
            line.pop_back();
            out << line << ",\"run\":" << sp.runId << "}\n";
        } else {
            out << console.fromLatin1(FormatProtocolLine(sp.point, sp.point.ecValid != 0));
        }
    }, error);
    out.flush();
    if (!read) {
        err << "brivane-cli: " << error << '\n';
        return 1;
    }
    if (!out) {
        err << "brivane-cli: standard output refused the points: " << std::strerror(errno) << '\n';
        return 1;
    }
    err << "brivane-cli: " << count << " stored points from " << path << '\n';
    return 0;
}

class Session {
public:
    Session(const Options& o, std::ostream& out, std::ostream& err)
        : m_o(o), m_out(out), m_err(err), m_service(m_notify, m_clock)
    {
    }

    int run(const std::string& settingsDir, const std::string& busLogDir, const std::string& historyFile)
    {
        if (m_o.link == LinkChoice::Simulate) {
            sim::SimWorldConfig config;
            config.model = *sim::meterModelFromKey(m_o.simulateModel);
            m_world = std::make_unique<sim::SimWorld>(m_clock, config);
        } else {
            m_usb = makeFtdiD2xx();
        }
        ISerialSystem& ports = m_world ? m_world->serialPorts() : m_posix;
        ID2xx& usb = m_world ? m_world->usb() : *m_usb;
        ProgramSettings& settings = ProgramSettings::Instance();
        m_core = std::make_unique<BrivaneCore>(settings, CorePlatform{m_clock, m_prompt, ports, usb, &m_odbc});
        m_core->Startup(settingsDir, busLogDir);
        // Before any front end listens: a point is in the file when it is printed.
        m_core->StartHistory(historyFile, [this](const std::string& text) { m_err << "brivane-cli: " << text << '\n'; });
        // Remote commands refused while we run are said where the operator looks.
        m_core->commands()->setReporter([this](const std::string& text) { m_err << "brivane-cli: " << text << '\n'; });
        m_core->calibrations()->setFrontEnd([this](const CalibrationResult& result) {
            m_err << "brivane-cli: " << calibrationVerdictText(result) << '\n';
            m_verdict = result;
        });
        for (const std::string& warning : settings.loadWarnings())
            m_err << "brivane-cli: " << warning << '\n';
        remember(settings);
        applyOptions(settings);
        if (m_world)
            m_world->meter().setAddress(m_core->device()->m_byDevice);  // the meter sits where the settings say

        CPowerMeter& device = *m_core->device();
        m_watch.device = &device;
        m_watch.err = &m_err;
        device.AddListener(&m_watch);
        PointPrinter printer(device, *m_core->commands(), *m_core->alarms(), m_o.format, m_out);
        m_core->alarms()->addPointListener(&printer);
        AlarmPrinter alarmPrinter(m_err);
        m_core->alarms()->addListener(&alarmPrinter);
        StaleReporter staleReporter(m_err);
        m_core->watchdog()->addListener(&staleReporter);
        if (m_notify.enabled()) {
            m_service.watch(m_core->watchdog());
            m_core->alarms()->addPointListener(&m_service);
        }

        startPlantLink(settings);
        CsvWriter csv(m_err);
        int status = startRemoteServers() ? 0 : 1;
        if (!m_o.csvFile.empty()) {
            if (csv.open(m_o.csvFile))
                m_core->alarms()->addPointListener(&csv);
            else
                status = fail("cannot write " + m_o.csvFile + ": " +
                              (errno == ENXIO ? std::string("a FIFO that nobody reads") : std::strerror(errno)));
        }
        if (status == 0)
            status = checkProtocolFile();
        if (status == 0)
            status = connect();
        if (status == 0)
            status = identify(device);
        if (status == 0 && m_o.calibrate && !device.Model().electronicCalibration)
            status = fail(std::string("the ") + device.Model().name + " has no electronic calibration");
        if (status == 0 && m_o.shutter != ShutterMove::None)
            status = moveShutter(device);
        if (status == 0 && !g_stopRequested)
            status = measure(device, printer);
        else if (status == 0)
            m_err << "brivane-cli: stopped before the measurement began\n";
        m_notify.stopping(m_failure.empty() ? "stopping" : "stopping: " + m_failure);

        m_core->alarms()->removePointListener(&m_service);
        m_service.watch(nullptr);
        m_core->watchdog()->removeListener(&staleReporter);
        m_core->alarms()->removeListener(&alarmPrinter);
        m_core->alarms()->removePointListener(&csv);
        if (csv.failed() && status == 0)
            status = 1;
        m_core->alarms()->removePointListener(&printer);
        device.RemoveListener(&m_watch);
        restore(settings);
        m_core->Shutdown();
        if (!m_core->settingsSaved() && status == 0)
            status = fail("the settings could not be written back to " + settings.m_strPath);
        return status;
    }

private:
    // Beats keep a 100 ms grid, as a window's timer does: a full tick's sleep
    // after each beat made every beat late by the beat's own work, and a
    // 200 ms interval, two beats, came out at about 230 ms.
    void tick()
    {
        const uint32_t now = m_clock.now();
        if (!m_beatsStarted) {
            m_nextBeat = now + kTickMs;
            m_beatsStarted = true;
        }
        const int32_t ahead = static_cast<int32_t>(m_nextBeat - now);
        if (ahead > 0)
            m_clock.wait(static_cast<uint32_t>(ahead));
        else if (ahead <= -static_cast<int32_t>(kTickMs))
            m_nextBeat = now;  // after a stall the grid starts again: no burst of beats
        m_nextBeat += kTickMs;
        m_core->heartbeat();
        if (m_notify.enabled())
            m_service.beat();
    }

    // Runs heartbeats until done() or the time is up; false on time-out.
    // A signal ends the wait too (true): nobody should wait 40 s for Ctrl-C.
    template <class Done>
    bool runUntil(Done done, uint32_t timeoutMs, bool stopOnSignal = true)
    {
        const uint32_t start = m_clock.now();
        while (!done()) {
            if (m_clock.now() - start > timeoutMs)
                return false;
            if (stopOnSignal && g_stopRequested)
                return true;
            tick();
        }
        return true;
    }

    // A signal cut the wait short: the program is ended, not waited for.
    template <class Program>
    static bool endedBySignal(Program& program)
    {
        if (!g_stopRequested || !program.IsRunning())
            return false;
        program.End(kEndFailed);
        return true;
    }

    void remember(const ProgramSettings& s)
    {
        m_saved = {s.m_sPort, s.m_sDeviceAddress, s.m_bSetParity, s.m_iInterval, s.m_iDataTransferMode};
    }

    // Options hold for this run only: the settings file keeps the operator's values.
    void restore(ProgramSettings& s)
    {
        if (m_o.address)
            s.m_sDeviceAddress = m_saved.address;
        if (m_o.parity)
            s.m_bSetParity = m_saved.parity;
        if (m_o.interval)
            s.m_iInterval = m_saved.interval;
        if (m_o.link != LinkChoice::Settings) {
            s.m_iDataTransferMode = m_saved.mode;
            if (m_o.link != LinkChoice::Port)
                m_keepPort = m_saved.port;
        }
        if (!m_keepPort.empty()) {
            // Shutdown stores the port in force; a simulated or USB run must not.
            m_core->serial().Close();
            s.m_sPort = m_keepPort;
        }
    }

    void applyOptions(ProgramSettings& s)
    {
        CPowerMeter& device = *m_core->device();
        if (m_o.address) {
            s.m_sDeviceAddress = std::to_string(*m_o.address);
            device.setAddress(static_cast<uint8_t>(*m_o.address));
        }
        if (m_o.parity)
            s.m_bSetParity = *m_o.parity ? 1 : 0;
        if (m_o.interval) {
            s.m_iInterval = *m_o.interval;
            device.setCycleInterval(*m_o.interval);
        }
        if (!m_o.protocolFile.empty()) {
            CDevice::ProtocolOutput output = device.protocolOutput();
            output.toFile = true;
            output.path = m_o.protocolFile;
            device.setProtocolOutput(output);
        }
    }

    // The broker's state goes to stderr as it changes; measuring never waits for it.
    void startPlantLink(const ProgramSettings& s)
    {
        MqttConfig mqtt = MqttConfig::fromSettings(s);
        if (!m_o.mqttBroker.empty()) {
            mqtt.enabled = true;
            mqtt.port = 1883;
            mqtt.setBroker(m_o.mqttBroker);
        }
        if (!m_o.station.empty())
            mqtt.station = m_o.station;
        m_core->StartPlantLink(mqtt, [this](const std::string& text) { m_err << "brivane-cli: " << text << '\n'; });
    }

    // False when a Modbus or SCPI server was asked for and could not start.
    bool startRemoteServers()
    {
        std::vector<std::string> errors;
        const bool started = m_core->StartRemoteServers({m_o.modbus, m_o.scpi, versionNumber()}, errors);
        for (const std::string& e : errors)
            m_err << "brivane-cli: " << e << '\n';
        return started;
    }

    int connect()
    {
        LinkSelection& links = *m_core->links();
        switch (m_o.link) {
        case LinkChoice::Port: {
            std::string why;
            return links.ConnectPort(m_o.port, why) ? 0 : fail(why);
        }
        case LinkChoice::Usb:
            links.use(kLinkUsb);
            links.ListPorts();
            if (!links.ConnectUsb())
                return fail("no USB adapter found or it cannot be opened");
            return 0;
        case LinkChoice::Settings:
        case LinkChoice::Simulate:
            links.ListPorts();
            links.SelectLink();
            if (links.choice() == LinkSelection::kChoiceNone)
                return fail("no port: neither a USB adapter nor a serial port answered");
            return 0;
        }
        return 1;
    }

    int identify(CPowerMeter& device)
    {
        m_notify.status("identifying the meter");
        device.StartIdentification();
        // The bus lock may take 30 s, then three one-second answers.
        // 1125 also comes mid-way when the model is recognised: wait for the end.
        if (!runUntil([&] { return !device.m_Identification.IsRunning(); }, 40000))
            return fail("identification did not finish");
        if (endedBySignal(device.m_Identification))
            return 0;
        if (device.Presence() != MeterPresence::Found)
            return fail(strings::text(61342) + ": no answer from the meter at address " +
                        std::to_string(device.m_byDevice));
        const std::string meter = std::string(device.Model().name) + " at address " +
                                  std::to_string(device.m_byDevice) + " (" +
                                  (device.Link() ? device.Link()->name() : std::string("no link")) + ")";
        m_err << "brivane-cli: " << meter << '\n';
        // Written first: whoever waits for READY=1 finds the line there.
        m_err.flush();
        m_service.identified(meter);
        return 0;
    }

    int moveShutter(CPowerMeter& device)
    {
        const CommandOutcome outcome = m_core->commands()->run(
            {m_o.shutter == ShutterMove::Open ? MeterCommand::OpenShutter : MeterCommand::CloseShutter}, kCaller);
        if (outcome.refused())
            return fail(outcome.text);
        if (!runUntil([&] { return !device.m_ShutterProgram.IsRunning(); }, 60000))
            return fail("the shutter did not answer");
        if (endedBySignal(device.m_ShutterProgram))
            return 0;
        const int wanted = m_o.shutter == ShutterMove::Open ? kShutterOpen : kShutterClosed;
        if (device.m_iShutterState != wanted)
            return fail("the shutter did not reach its position");
        return 0;
    }

    int measure(CPowerMeter& device, PointPrinter& printer)
    {
        int mode = 0;
        if (m_o.single)
            mode = 2;
        else if (m_o.calibrate)
            mode = 1;
        m_watch.measuringEnded = false;
        m_verdict.reset();
        if (mode == 0)
            printer.stopAfter(m_o.count);
        const MeterCommand start = mode == 2 ? MeterCommand::Single : mode == 1 ? MeterCommand::Calibrate : MeterCommand::Start;
        const CommandOutcome outcome = m_core->commands()->run({start}, kCaller);
        if (outcome.refused())
            return fail(outcome.text);
        // A meter that stops answering leaves the program polling; give up
        // after ten cycles without a point.
        const uint32_t interval = device.m_iCycleInterval > 0 ? static_cast<uint32_t>(device.m_iCycleInterval) : 1000;
        const uint32_t silence = std::max<uint32_t>(10000, 10 * interval);
        long lastCount = printer.points();
        uint32_t lastPoint = m_clock.now();
        long lastEcCount = printer.ecPoints();
        uint32_t lastEc = m_clock.now();
        bool stopSent = false;
        const uint32_t started = m_clock.now();
        const LinkRecovery& recovery = *m_core->recovery();
        for (;;) {
            if (m_watch.measuringEnded) {
                // A lost link ended it: it starts again once the link is back.
                if (!recovery.resumePending())
                    break;
                m_watch.measuringEnded = false;
            }
            if (recovery.recovering() || recovery.resumePending()) {
                // The link is being brought back: the give-ups below wait for
                // it (a supervisor bounds the wait with --stale-exit).
                lastPoint = lastEc = m_clock.now();
            }
            playFlowDrop(m_clock.now() - started);
            playSilence(m_clock.now() - started);
            if (printer.points() != lastCount) {
                lastCount = printer.points();
                lastPoint = m_clock.now();
            }
            if (printer.ecPoints() != lastEcCount) {
                lastEcCount = printer.ecPoints();
                lastEc = m_clock.now();
            }
            if (printer.outputFailed())
                return stopAndFail(device, "cannot write the readings to standard output");
            if (printer.outputClosed() && !g_stopRequested) {
                m_err << "brivane-cli: standard output closed: stopping\n";
                g_stopRequested = true;
            }
            const bool enough = mode == 0 && m_o.count > 0 && printer.points() >= m_o.count;
            if (!stopSent && (enough || g_stopRequested)) {
                m_core->commands()->run({MeterCommand::Stop}, kCaller);
                stopSent = true;
                lastPoint = m_clock.now();
            }
            if (m_o.staleExit) {
                // A supervisor asked for it: its time replaces the built-in give-up.
                const ReadingWatchdog& watchdog = *m_core->watchdog();
                if (!stopSent && watchdog.watching() &&
                    watchdog.silentMs() >= static_cast<uint32_t>(*m_o.staleExit) * 1000) {
                    stopAndFail(device, "no reading for " + std::to_string(*m_o.staleExit) + " s");
                    return kExitStale;
                }
            } else if (m_clock.now() - lastPoint > silence) {
                return stopAndFail(device,
                                   "no reading from the meter for " + std::to_string(silence / 1000) + " s");
            }
            if (mode == 1 && !stopSent && m_clock.now() - lastEc > kEcSilenceMs)
                return stopAndFail(device,
                                   "no calibration frame from the meter for " + std::to_string(kEcSilenceMs / 1000)
                                       + " s: calibration given up");
            tick();
        }
        if (printer.outputFailed())
            return fail("cannot write the readings to standard output");
        if (device.m_lProtocolLinesLost > 0)
            return fail(std::to_string(device.m_lProtocolLinesLost) + " protocol line(s) could not be written to "
                        + device.m_sProtocolPath);
        if (mode == 0 && m_o.count > 0 && printer.points() < m_o.count && !g_stopRequested)
            return fail("measuring ended after " + std::to_string(printer.points()) + " readings");
        if (mode == 2 && printer.points() == 0)
            return fail("no reading from the meter");
        if (mode == 1 && printer.ecPoints() == 0 && !g_stopRequested)
            return fail("the meter did not confirm the calibration (\"elp 1\"); heater switched off");
        // A calibration that ran its course ends the run with its verdict;
        // one stopped on request is only told.
        if (mode == 1 && !g_stopRequested && m_verdict && !m_verdict->passed) {
            m_failure = calibrationVerdictText(*m_verdict);
            return kExitCalibrationFailed;
        }
        return 0;
    }

    // The simulated meter's cooling water stops and comes back on the schedule of the options.
    void playFlowDrop(uint32_t elapsedMs)
    {
        if (!m_world || !m_o.simFlowDropAt || m_flowDropState == 2)
            return;
        const uint32_t at = static_cast<uint32_t>(*m_o.simFlowDropAt) * 1000;
        if (m_flowDropState == 0 && elapsedMs >= at) {
            m_world->meter().failFlow(0);
            m_flowDropState = 1;
        } else if (m_flowDropState == 1 && elapsedMs >= at + static_cast<uint32_t>(m_o.simFlowDropFor) * 1000) {
            m_world->meter().restoreFlow();
            m_flowDropState = 2;
        }
    }

    // The simulated meter falls silent on the schedule of the options.
    void playSilence(uint32_t elapsedMs)
    {
        if (!m_world || !m_o.simSilenceAt || m_silencePlayed)
            return;
        if (elapsedMs >= static_cast<uint32_t>(*m_o.simSilenceAt) * 1000) {
            m_world->meter().silence(m_clock.now(), static_cast<uint32_t>(m_o.simSilenceFor) * 1000);
            m_silencePlayed = true;
        }
    }

    // Ends the running program the proper way (a calibration sends "elp 0"
    // on its way out) before the run reports its failure.
    int stopAndFail(CPowerMeter& device, const std::string& reason)
    {
        m_core->commands()->run({MeterCommand::Stop}, kCaller);
        // Not cut short by a signal: this is how the heater gets switched off.
        runUntil([&] { return !device.m_Measuring.IsRunning(); }, 10000, false);
        if (device.m_Measuring.IsRunning())
            device.m_Measuring.End(kEndFailed);
        return fail(reason);
    }

    // Said before the first reading, not found out after the last.
    int checkProtocolFile()
    {
        if (m_o.protocolFile.empty())
            return 0;
        // Every line opens the file anew, so a FIFO's reader would see its end
        // after the first line, and the open would wait for a reader past every signal.
        struct stat st {};
        if (::stat(m_o.protocolFile.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
            return fail("cannot write the protocol file " + m_o.protocolFile +
                        ": a FIFO or socket, not a file");
        const int fd = ::open(m_o.protocolFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0)
            return fail("cannot write the protocol file " + m_o.protocolFile + ": " + std::strerror(errno));
        ::close(fd);
        return 0;
    }

    int fail(const std::string& reason)
    {
        m_err << "brivane-cli: " << reason << '\n';
        m_failure = reason;
        return 1;
    }

    const Options& m_o;
    std::ostream& m_out;
    std::ostream& m_err;
    SystemClock m_clock;
    StderrPrompt m_prompt;
    PosixSerialSystem m_posix;
    std::unique_ptr<ID2xx> m_usb;
    OdbcDataSourceFactory m_odbc;
    std::unique_ptr<sim::SimWorld> m_world;
    std::unique_ptr<BrivaneCore> m_core;
    EndWatcher m_watch;
    ServiceNotify m_notify;
    ServiceReport m_service;
    std::string m_failure;  // the last reason given for a failure
    std::optional<CalibrationResult> m_verdict;  // of the calibration this run asked for
    uint32_t m_nextBeat = 0;
    bool m_beatsStarted = false;
    int m_flowDropState = 0;
    bool m_silencePlayed = false;  // 0 before, 1 during, 2 after the simulated drop
    struct {
        std::string port, address;
        int parity = 1, interval = 1000, mode = 2;
    } m_saved;
    std::string m_keepPort;
};

} // namespace

int run(const Options& options, const ProgramPaths& paths, std::ostream& out, std::ostream& err)
{
    if (options.help) {
        out << usage();
        return 0;
    }
    if (options.listPorts) {
        if (options.link == LinkChoice::Simulate) {
            ManualClock clock(0);
            sim::SimWorldConfig config;
            config.model = *sim::meterModelFromKey(options.simulateModel);
            sim::SimWorld world(clock, config);
            return listPorts(world.serialPorts(), world.usb(), out, err);
        }
        PosixSerialSystem ports;
        return listPorts(ports, *makeFtdiD2xx(), out, err);
    }
    if (options.history)
        return printHistory(options, paths.historyFile(), out, err);
    Session session(options, out, err);
    return session.run(paths.settingsDir, paths.busLogDir, paths.historyFile());
}

} // namespace bv::cli
