#pragma once
#include <memory>
#include <string>
#include <vector>

#include "app/Heartbeat.h"
#include "app/CalibrationJudge.h"
#include "app/HistoryRecorder.h"
#include "app/LinkRecovery.h"
#include "app/LinkSelection.h"
#include "control/Device.h"
#include "devices/Alarms.h"
#include "devices/MeterCommands.h"
#include "devices/ReadingWatchdog.h"
#include "link/BusLog.h"
#include "link/CSerial.h"
#include "net/ModbusServer.h"
#include "net/MqttPublisher.h"
#include "net/ScpiServer.h"
#include "platform/ProgramPaths.h"

namespace bv {

class CPowerMeter;
class CScheduler;
class ID2xx;
class IClock;
class IDataSourceFactory;
class IPrompt;
class ISerialSystem;
class ProgramSettings;

// What the core reaches the outside world through.
struct CorePlatform {
    IClock& clock;
    IPrompt& prompt;
    ISerialSystem& serialPorts;
    ID2xx& usb;
    IDataSourceFactory* dataSources = nullptr;
};

// The program without a window: settings, serial link, bus traffic log,
// scheduler, the power meter with its store, link selection and heartbeat,
// started and shut down in a fixed order. The window and the CLI each own one.
class BrivaneCore {
public:
    static constexpr const char* kSettingsFile = ProgramPaths::kSettingsFile;
    static constexpr const char* kProgramTag = "BV_2000";

    BrivaneCore(ProgramSettings& settings, CorePlatform platform);
    ~BrivaneCore();
    BrivaneCore(const BrivaneCore&) = delete;
    BrivaneCore& operator=(const BrivaneCore&) = delete;

    // Counters reset, settings opened, bus log started, scheduler and device
    // built. Returns the write-back flag of the settings.
    // The bus log goes to busLogDirectory when one is given.
    int Startup(const std::string& programDirectory, const std::string& busLogDirectory = {});
    // Bus log stopped, the port in force stored, settings written back when
    // allowed, scheduler deleted. Safe to call twice.
    void Shutdown();

    void heartbeat()
    {
        if (m_heartbeat)
            m_heartbeat->tick();
        if (m_recovery)
            m_recovery->poll();
        if (m_watchdog)
            m_watchdog->check();
        if (m_plantLink)
            m_plantLink->poll();
        if (m_history)
            m_history->store().poll();
        if (m_modbus)
            m_modbus->poll();
        if (m_scpi)
            m_scpi->poll();
    }

    // The Modbus TCP server (after Startup), when config.enabled; false with
    // the reason in error (the port taken, say). Measuring goes on either way.
    bool StartModbus(const ModbusConfig& config, std::string& error);
    ModbusServer* modbus() { return m_modbus.get(); }
    // The same for SCPI over TCP.
    bool StartScpi(const ScpiConfig& config, std::string& error);
    ScpiServer* scpi() { return m_scpi.get(); }
    // Both as the settings ask; an address from the command line switches
    // one on for this run. False, the reasons added to errors, when one asked
    // for could not start.
    struct RemoteServerOptions {
        std::string modbus, scpi;  // "[ADDR:]PORT" or empty
        std::string version;       // what *IDN? names
    };
    bool StartRemoteServers(const RemoteServerOptions& options, std::vector<std::string>& errors);

    // The history (after Startup): every point from now on goes into the
    // file at path, kept for "History days" (0: no history). Notes for the
    // operator (a file moved aside, in use, a full disk) reach onNote on the
    // heartbeat's thread, the first at once. False: measuring without history.
    bool StartHistory(const std::string& path, HistoryStore::NoteHandler onNote = {});
    HistoryRecorder* history() { return m_history.get(); }
    // The notes given while nobody listened (the window is made after the
    // history starts), and who hears the later ones.
    const std::vector<std::string>& historyStartNotes() const { return m_historyStartNotes; }
    void setHistoryNoteHandler(HistoryStore::NoteHandler onNote) { m_onHistoryNote = std::move(onNote); }

    // The plant link (MQTT): after Startup, when the front end wants it;
    // nothing happens unless config.enabled. False when it could not start
    // (logged); measuring goes on either way.
    bool StartPlantLink(const MqttConfig& config, MqttPublisher::StatusHandler onStatus = {});
    MqttPublisher* plantLink() { return m_plantLink.get(); }

    ProgramSettings& settings() { return m_settings; }
    CSerial& serial() { return m_serial; }
    BusLog& busLog() { return m_busLog; }
    CScheduler* scheduler() { return m_scheduler.get(); }
    CPowerMeter* device() { return m_device.get(); }
    LinkSelection* links() { return m_links.get(); }
    Heartbeat* heartbeatBody() { return m_heartbeat.get(); }
    AlarmMonitor* alarms() { return m_alarms.get(); }
    // Every command that changes what the meter does goes through here.
    MeterCommands* commands() { return m_commands.get(); }
    ReadingWatchdog* watchdog() { return m_watchdog.get(); }
    // Every calibration's verdict, already in the history and the Modbus
    // inputs when the front end's handler hears it.
    CalibrationJudge* calibrations() { return m_judge.get(); }
    LinkRecovery* recovery() { return m_recovery.get(); }
    int writeBack() const { return m_writeBack; }
    // False when the shutdown's write-back of the settings failed.
    bool settingsSaved() const { return m_settingsSaved; }
    bool started() const { return m_started; }

private:
    template <class Server, class Config>
    bool startServer(std::unique_ptr<Server>& slot, const Config& config, std::string& error);
    // A running calibration stopped and waited for, so "elp 0" goes out.
    void endCalibration();

    ProgramSettings& m_settings;
    CorePlatform m_platform;
    CSerial m_serial;
    BusLog m_busLog;
    std::unique_ptr<CScheduler> m_scheduler;
    std::unique_ptr<CPowerMeter> m_device;
    std::unique_ptr<AlarmMonitor> m_alarms;
    std::unique_ptr<ReadingWatchdog> m_watchdog;
    std::unique_ptr<CalibrationJudge> m_judge;
    std::unique_ptr<MeterCommands> m_commands;
    std::unique_ptr<LinkSelection> m_links;
    std::unique_ptr<Heartbeat> m_heartbeat;
    std::unique_ptr<LinkRecovery> m_recovery;
    std::unique_ptr<MqttPublisher> m_plantLink;
    std::unique_ptr<HistoryRecorder> m_history;
    std::unique_ptr<ModbusServer> m_modbus;
    std::unique_ptr<ScpiServer> m_scpi;
    HistoryStore::NoteHandler m_onHistoryNote;
    std::vector<std::string> m_historyStartNotes;
    int m_writeBack = 0;
    bool m_started = false;
    bool m_settingsSaved = true;
};

} // namespace bv
