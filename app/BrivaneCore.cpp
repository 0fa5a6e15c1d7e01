#include "app/BrivaneCore.h"

#include "app/BusAddress.h"
#include "settings/ProgramSettings.h"
#include "control/Scheduler.h"
#include "devices/PowerMeter.h"
#include "link/Frame.h"
#include "platform/Clock.h"
#include "platform/Logging.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger l("CBrivaneApp");
    return l;
}

} // namespace

BrivaneCore::BrivaneCore(ProgramSettings& settings, CorePlatform platform)
    : m_settings(settings),
      m_platform(platform),
      m_serial(platform.serialPorts, platform.clock, platform.prompt, settings),
      m_busLog(settings, platform.prompt, kProgramTag)
{
}

BrivaneCore::~BrivaneCore() { Shutdown(); }

int BrivaneCore::Startup(const std::string& programDirectory, const std::string& busLogDirectory)
{
    m_busLog.setDirectory(busLogDirectory);
    m_settings.m_ulCommandNo = 0;
    m_settings.m_ulFileNo = 1;
    m_settings.m_sProgramDir = programDirectory;
    m_writeBack = m_settings.Open(kSettingsFile, m_platform.prompt);
    BV_LOG_DEBUG(logger(), "BV_main", "settings opened, write-back " << m_writeBack);
    m_busLog.StartBusLog();

    m_scheduler = std::make_unique<CScheduler>(m_platform.clock);
    m_device = std::make_unique<CPowerMeter>(*m_scheduler, m_platform.prompt, m_settings);
    m_device->Init(kOwnAddress, addressByte(m_settings.m_sDeviceAddress), "Brivane", &m_serial);
    if (m_platform.dataSources)
        m_device->SetDataSourceFactory(m_platform.dataSources);

    // First listener of the store: the alarm states are current when the
    // front ends hear of the point.
    m_alarms = std::make_unique<AlarmMonitor>(*m_device);
    m_links = std::make_unique<LinkSelection>(m_settings, m_serial, m_platform.serialPorts, m_platform.usb,
                                              *m_device);
    // Hears the device before the watchdog does: a measurement the loss
    // ended is held, not quietly dropped from the watch.
    m_recovery = std::make_unique<LinkRecovery>(*m_links, *m_device, m_platform.clock);
    m_watchdog = std::make_unique<ReadingWatchdog>(*m_device, *m_alarms, m_platform.clock);
    m_recovery->setWatchdog(m_watchdog.get());
    m_recovery->setAlarms(m_alarms.get());
    m_commands = std::make_unique<MeterCommands>(*m_device, m_platform.clock, m_watchdog.get());
    // Before any front end listens: the verdict is stored when it is shown.
    m_judge = std::make_unique<CalibrationJudge>(*m_device, m_settings);
    m_judge->setKeeper([this](const CalibrationResult& result) {
        // One without a result did not pass either.
        if (m_modbus)
            m_modbus->setCalibrationFailed(!result.passed);
        if (m_history && result.available)
            m_history->addCalibration(result);
    });

    m_links->usbSinks = {&m_busLog};
    m_heartbeat = std::make_unique<Heartbeat>(*m_scheduler, *m_device);
    m_heartbeat->addObserver(&m_busLog);
    m_started = true;
    return m_writeBack;
}

bool BrivaneCore::StartPlantLink(const MqttConfig& config, MqttPublisher::StatusHandler onStatus)
{
    if (!m_started || !config.enabled)
        return false;
    m_plantLink.reset();
    auto link = std::make_unique<MqttPublisher>(config, *m_device, *m_alarms, m_commands.get());
    link->setStatusHandler(std::move(onStatus));
    link->setLinkDescription([this]() -> std::string {
        const ILink* in = m_device->Link();
        const std::string text = in ? in->describe() : std::string();
        return text.empty() ? "none" : text;
    });
    if (!link->start())
        return false;
    m_plantLink = std::move(link);
    return true;
}

bool BrivaneCore::StartHistory(const std::string& path, HistoryStore::NoteHandler onNote)
{
    m_history.reset();
    if (!m_started || m_settings.m_iHistoryDays <= 0)
        return false;
    auto store = std::make_unique<HistoryStore>(path);
    m_onHistoryNote = std::move(onNote);
    store->setNoteHandler([this](const std::string& text) {
        if (m_onHistoryNote)
            m_onHistoryNote(text);
        else
            m_historyStartNotes.push_back(text);
    });
    const bool open = store->open(m_settings.m_iHistoryDays);
    store->poll();
    if (!open)
        return false;
    m_history = std::make_unique<HistoryRecorder>(std::move(store), *m_device, *m_alarms);
    return true;
}

template <class Server, class Config>
bool BrivaneCore::startServer(std::unique_ptr<Server>& slot, const Config& config, std::string& error)
{
    slot.reset();
    if (!m_started || !config.enabled)
        return false;
    auto server = std::make_unique<Server>(config, *m_device, *m_alarms, *m_watchdog, m_commands.get());
    if (!server->start(error)) {
        BV_LOG_ERROR(logger(), "BV_main", error);
        return false;
    }
    slot = std::move(server);
    return true;
}

bool BrivaneCore::StartModbus(const ModbusConfig& config, std::string& error)
{
    return startServer(m_modbus, config, error);
}

bool BrivaneCore::StartScpi(const ScpiConfig& config, std::string& error)
{
    return startServer(m_scpi, config, error);
}

bool BrivaneCore::StartRemoteServers(const RemoteServerOptions& options, std::vector<std::string>& errors)
{
    ModbusConfig modbus = ModbusConfig::fromSettings(m_settings);
    if (!options.modbus.empty()) {
        modbus.enabled = true;
        modbus.setAddress(options.modbus);
    }
    ScpiConfig scpi = ScpiConfig::fromSettings(m_settings);
    scpi.version = options.version;
    if (!options.scpi.empty()) {
        scpi.enabled = true;
        scpi.setAddress(options.scpi);
    }
    const size_t before = errors.size();
    std::string error;
    if (modbus.enabled && !StartModbus(modbus, error))
        errors.push_back(error);
    if (scpi.enabled && !StartScpi(scpi, error))
        errors.push_back(error);
    return errors.size() == before;
}

void BrivaneCore::endCalibration()
{
    // The heater must never stay on behind a program that is gone: the
    // calibration ends its own way ("elp 0"), with the heartbeat running
    // here as the window's timer no longer does.
    if (!m_device || !m_device->m_Measuring.IsRunning() || m_device->m_Measuring.m_mode != MeasuringMode::Calibration)
        return;
    BV_LOG_INFO(logger(), "BV_main", "shutdown during a calibration: switching the heater off");
    m_commands->run({MeterCommand::Stop}, "shutdown");
    constexpr uint32_t kStepMs = 100, kLimitMs = 10000;
    for (uint32_t waited = 0; waited < kLimitMs && m_device->m_Measuring.IsRunning(); waited += kStepMs) {
        m_platform.clock.wait(kStepMs);
        heartbeat();
    }
    if (m_device->m_Measuring.IsRunning())
        BV_LOG_ERROR(logger(), "BV_main", "the calibration did not end: the heater may still be on");
}

void BrivaneCore::Shutdown()
{
    if (!m_started)
        return;
    endCalibration();
    m_started = false;
    m_busLog.StopBusLog();
    // Only a port that answered replaces the operator's: a scan that found
    // nothing must not leave the last port it tried in the settings.
    if (m_serial.answered() && !m_serial.portName().empty())
        m_settings.m_sPort = m_serial.portName();
    if (m_writeBack == 1 && m_settings.WriteAll() != 1) {
        m_settingsSaved = false;
        m_platform.prompt.show(strings::text(61248), PromptButtons::Ok, PromptIcon::Exclamation);
    }
    // "offline" goes out while the device still answers for the status.
    m_plantLink.reset();
    m_modbus.reset();
    m_scpi.reset();
    m_history.reset();
    // The device's programs belong to the scheduler: both go, device first.
    m_recovery.reset();
    m_heartbeat.reset();
    m_links.reset();
    m_commands.reset();
    m_judge.reset();
    m_watchdog.reset();
    m_alarms.reset();
    m_device.reset();
    m_scheduler.reset();
    m_serial.Close();
}

} // namespace bv
