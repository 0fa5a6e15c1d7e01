#include "devices/PowerMeter.h"

#include "settings/ProgramSettings.h"
#include "control/TextMode.h"
#include "devices/ProtocolLine.h"
#include "platform/Logging.h"
#include "platform/Prompt.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger instance("CPowerMeter");
    return instance;
}

constexpr const char* kTag = "BV_Dev";
constexpr const char* kUnknownShutterQuestion = "Shutter state unknown! Continue anyway?";

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
    m_pUsb = std::move(link);
}

void CPowerMeter::StartIdentification()
{
    m_Identification.Start();
}

void CPowerMeter::CloseShutter()
{
    m_ShutterProgram.m_iAction = 1;
    m_ShutterProgram.Start();
}

void CPowerMeter::OpenShutter()
{
    const bool measuring = m_bMeasuringActive != 0;
    if (measuring)
        StartMeasuring(0, 0);
    m_ShutterProgram.m_iAction = 0;
    m_ShutterProgram.Start();
    if (measuring)
        StartMeasuring(0, 1);
}

void CPowerMeter::StartMeasuring(int mode, int run)
{
    BV_LOG_DEBUG(logger(), kTag, "StartMeasuring mode " << mode << " run " << run);
    if (mode == 0 && run == 1 && m_iShutterState == kShutterUnknown) {
        if (Prompt().show(kUnknownShutterQuestion, PromptButtons::OkCancel, PromptIcon::Question)
            != PromptResult::Ok)
            return;
        m_bUnknownShutterConfirmed = 1;
    }
    if (run == 0)
        m_bUnknownShutterConfirmed = 0;
    beginMeasuring(mode, run);
}

void CPowerMeter::ResumeMeasuring(int mode)
{
    BV_LOG_INFO(logger(), kTag, "measuring resumed in mode " << mode);
    if (mode == 0 && m_iShutterState == kShutterUnknown && !m_bUnknownShutterConfirmed) {
        StartMeasuring(mode, 1);
        return;
    }
    beginMeasuring(mode, 1);
}

void CPowerMeter::beginMeasuring(int mode, int run)
{
    CMeasuringProgram& program = m_Measuring;
    program.m_pStore = &m_Doc;
    program.m_iMode = mode;
    program.m_bRun = run;
    if (run == 1) {
        program.m_point = MeasurePoint{};
        program.m_point.heaterState = -1;
        program.m_point.heaterValue = -1;
        program.m_point.thermalization = -1;
        if (mode == 1) {
            program.m_iThermalization = m_settings.m_iThermalizationTime;
            program.m_iCalibration = m_settings.m_iThermalizationTime + m_settings.m_iAveragePeriod;
            m_iCycleInterval = 1000;
        } else {
            program.m_iThermalization = -1;
        }
        m_settings.m_iAveragePeriod = 10;
    }
    program.Start();
}

bool CPowerMeter::WriteProtocolLine(std::FILE* file, int, int)
{
    const MeasurePoint* newest = m_Doc.pGetLastMeasureValue();
    if (!newest) {
        BV_LOG_ERROR(logger(), kTag, "WriteProtocolLine: the store holds no point");
        return false;
    }
    return WriteTextMode(file, FormatProtocolLine(*newest, m_bEcProtocol != 0));
}

bool CPowerMeter::WriteProtocolRecord(IDataSource&, int, int)
{
    return true;
}

} // namespace bv
