#include "devices/PowerMeter.h"

#include "settings/ProgramSettings.h"
#include "platform/TextMode.h"
#include "devices/ProtocolLine.h"
#include "platform/Logging.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger instance("CPowerMeter");
    return instance;
}

constexpr const char* kTag = "BV_Dev";

} // namespace

CPowerMeter::CPowerMeter(CScheduler& scheduler, IPrompt& prompt, ProgramSettings& settings)
    : CDevice(scheduler, prompt),
      m_settings(settings),
      m_ShutterProgram(scheduler, *this),
      m_Identification(scheduler, *this),
      m_Doc(settings),
      m_Measuring(scheduler, *this, m_Doc),
      m_iCycleInterval(settings.m_iInterval),
      m_wallClock([] { return std::time(nullptr); })
{
    m_sName = "Brivane";
    m_iTypeCode = kTypeCode;
    m_iMenuResource = kMenuResource;
    m_iBitmapResource = kBitmapResource;
    SetDataSourceFactory(&m_dataSources);
}

CPowerMeter::~CPowerMeter() = default;

void CPowerMeter::SetUsbLink(std::unique_ptr<ZelmorUSBCRC> link)
{
    // A replaced link in use is replaced as the road too: never a dangling one.
    if (m_pUsb && m_pLink == m_pUsb.get())
        m_pLink = link.get();
    m_pUsb = std::move(link);
}

void CPowerMeter::StartIdentification()
{
    if (m_Identification.IsRunning())
        return;
    m_presence = MeterPresence::Searching;
    m_Identification.Start();
}

void CPowerMeter::CloseShutter()
{
    m_ShutterProgram.m_iAction = 1;
    m_ShutterProgram.Start();
}

void CPowerMeter::OpenShutter()
{
    const bool measuring = MeasuringActive();
    // The measurement goes on as it was started: whoever confirmed an unknown
    // shutter for it is not asked again while the shutter opens.
    const uint8_t confirmed = m_bUnknownShutterConfirmed;
    if (measuring)
        StartMeasuring(MeasuringMode::Continuous, 0);
    m_ShutterProgram.m_iAction = 0;
    m_ShutterProgram.Start();
    if (measuring && confirmed) {
        m_bUnknownShutterConfirmed = confirmed;
        beginMeasuring(MeasuringMode::Continuous, 1, true);
    } else if (measuring) {
        StartMeasuring(MeasuringMode::Continuous, 1);
    }
}

bool CPowerMeter::StartMeasuring(MeasuringMode mode, int run)
{
    BV_LOG_DEBUG(logger(), kTag, "StartMeasuring mode " << mode << " run " << run);
    if (run == 1 && m_presence == MeterPresence::NotFound) {
        BV_LOG_WARN(logger(), kTag, "StartMeasuring mode " << mode << " refused: no meter found");
        return false;
    }
    if (mode == MeasuringMode::Continuous && run == 1 && m_iShutterState == kShutterUnknown) {
        if (Prompt().show(strings::text(strings::kUnknownShutterQuestion), PromptButtons::OkCancel, PromptIcon::Question)
            != PromptResult::Ok)
            return false;
        m_bUnknownShutterConfirmed = 1;
    }
    if (run == 0)
        m_bUnknownShutterConfirmed = 0;
    return beginMeasuring(mode, run, true);
}

void CPowerMeter::ResumeMeasuring(MeasuringMode mode)
{
    BV_LOG_INFO(logger(), kTag, "measuring resumed in mode " << mode);
    if (mode == MeasuringMode::Continuous && m_iShutterState == kShutterUnknown && !m_bUnknownShutterConfirmed) {
        StartMeasuring(mode, 1);
        return;
    }
    beginMeasuring(mode, 1, false);
}

bool CPowerMeter::beginMeasuring(MeasuringMode mode, int run, bool freshAverage)
{
    CMeasuringProgram& program = m_Measuring;
    const bool running = program.IsRunning();
    if (running && run == 0) {
        // A stop ends whatever runs, in its own mode.
        program.Stop();
        return true;
    }
    // A running program changes its mode at the next cycle: a single reading
    // into either, continuous measuring into the calibration (whose heater
    // the next cycle switches on). A calibration's heater is never left on
    // by turning it into something else.
    const MeasuringMode before = program.m_mode;
    const bool switched = running && before != mode;
    if (switched && before != MeasuringMode::Single && !(before == MeasuringMode::Continuous && mode == MeasuringMode::Calibration)) {
        BV_LOG_WARN(logger(), kTag, "StartMeasuring mode " << mode << " refused: mode " << before << " runs");
        return false;
    }
    if (switched)
        RunChanged(before, false);
    program.m_pStore = &m_Doc;
    program.m_mode = mode;
    program.m_bRun = run;
    if (run == 1) {
        program.m_point = MeasurePoint{};
        program.m_point.heaterState = -1;
        program.m_point.heaterValue = -1;
        program.m_point.thermalization = -1;
        if (mode == MeasuringMode::Calibration) {
            program.m_iThermalization = m_settings.m_iThermalizationTime;
            // The calibration averages over its own window: it lasts as long.
            program.m_iCalibration = m_settings.m_iThermalizationTime + m_iCalibrationAverage;
            m_iCycleInterval = 1000;
        } else {
            program.m_iThermalization = -1;
        }
    }
    if (!running) {
        program.Start();
        if (!program.IsRunning())
            return false;
    }
    // Told at once, not when the program first runs: a press, the state
    // and the watch must never be a heartbeat apart.
    if (!running || switched) {
        // Each run averages its own points, before anyone hears of it; a
        // resumed one keeps its window.
        if (run == 1 && freshAverage)
            m_Doc.BeginAveraging(mode == MeasuringMode::Calibration ? m_iCalibrationAverage : 0);
        if (run == 1)
            RunChanged(mode, true);
        Notify(kNotifyMeasuringStarted, static_cast<long>(mode));
    }
    return true;
}

void CPowerMeter::RunChanged(MeasuringMode mode, bool on)
{
    if (mode == MeasuringMode::Continuous)
        m_bMeasuringActive = on ? 1 : 0;
    else if (mode == MeasuringMode::Calibration)
        m_bEcProtocol = on ? 1 : 0;
}

void CPowerMeter::IdentificationOutcome(bool answered)
{
    m_presence = answered ? MeterPresence::Found : MeterPresence::NotFound;
    if (answered)
        m_bLimitsKnown = true;
}

bool CPowerMeter::WriteProtocolLine(std::FILE* file, int, int)
{
    const MeasurePoint* newest = m_Doc.pGetLastMeasureValue();
    if (!newest) {
        BV_LOG_ERROR(logger(), kTag, "WriteProtocolLine: the store holds no point");
        return false;
    }
    return WriteTextMode(file, FormatProtocolLine(*newest, CalibrationRunning()));
}

bool CPowerMeter::WriteProtocolRecord(IDataSource&, int, int)
{
    return true;
}

} // namespace bv
