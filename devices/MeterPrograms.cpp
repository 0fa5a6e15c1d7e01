#include "devices/MeterPrograms.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "settings/ProgramSettings.h"
#include "control/Messages.h"
#include "devices/MeterModel.h"
#include "devices/PowerMeter.h"
#include "link/Link.h"
#include "platform/Clock.h"
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
constexpr int kBusLock = 0;
constexpr int32_t kBusLockTimeout = 30000;
constexpr const char* kShutterFails = "Shutter Operation Fails. Please check the device!";

// The model whose identifying words the "Ready" answer holds, if any.
const MeterModelTraits* identifiedModel(const FRAME* frame)
{
    int count = 0;
    const MeterModelTraits* models = identifiedModels(count);
    for (int i = 0; i < count; ++i) {
        const MeterModelTraits& m = models[i];
        if (CDevice::FindKey(m.readyKey, frame) >= 0 && (!m.versionKey || CDevice::FindKey(m.versionKey, frame) >= 0))
            return &m;
    }
    return nullptr;
}

// Whole numbers from the answer; a field that reads as "nan" or "inf" must not
// reach the integer conversion.
int32_t wholeNumber(double value)
{
    if (!std::isfinite(value))
        return 0;
    return static_cast<int32_t>(std::clamp(value, -2147483647.0, 2147483647.0));
}

// The field offset bytes behind the start of key (the keys of the calibration
// answer carry their separators in the offset).
std::optional<double> fieldAfter(const FRAME* frame, std::string_view key, int offset, int width)
{
    const int at = CDevice::FindKey(key, frame);
    if (at < 0)
        return std::nullopt;
    return CDevice::ReadField(frame, at + offset, width);
}

} // namespace

// ---------------------------------------------------------------------------
// PLC helpers

uint16_t PlcChannelMask(int channel)
{
    if (channel < 1 || channel > 16)
        return 0;
    return static_cast<uint16_t>(1u << (channel - 1));
}

std::string PlcOutputCommand(uint16_t mask)
{
    // Every output under the change mask: the one of the mask goes on, the
    // others off. The spare seventh byte is sent as 0.
    std::string payload = "so";
    payload.push_back(static_cast<char>(0xFF));
    payload.push_back(static_cast<char>(0xFF));
    payload.push_back(static_cast<char>(mask & 0xFF));
    payload.push_back(static_cast<char>(mask >> 8));
    payload.push_back('\0');
    return payload;
}

bool PlcInputWord(const FRAME* frame, uint16_t& word)
{
    if (!frame || frame->payloadSize() < 5)
        return false;
    // The module pulls active inputs low.
    const unsigned raw = frame->payload[4] * 256u + frame->payload[3];
    word = static_cast<uint16_t>(0xFFFF - raw);
    return true;
}

// ---------------------------------------------------------------------------
// Common road of the commands

CMeterProgram::CMeterProgram(CScheduler& scheduler, CPowerMeter& meter, int endCode)
    : CState(scheduler), m_meter(meter), m_iEndCode(endCode)
{
}

void CMeterProgram::OnEnd()
{
    ReleaseSync(kBusLock);
    m_meter.Notify(m_iEndCode, EndParameter());
}

bool CMeterProgram::HasLink() const { return m_meter.Link() != nullptr; }

bool CMeterProgram::OnSharedBus() const { return m_meter.Link() && m_meter.Link()->addressed(); }

LinkResult CMeterProgram::SendCommand(std::string_view text)
{
    return SendTo(m_meter.m_byDevice, text);
}

LinkResult CMeterProgram::SendTo(uint8_t destination, std::string_view payload)
{
    ILink* link = m_meter.Link();
    if (!link) {
        BV_LOG_ERROR(logger(), kTag, Name() << ": no link");
        return LinkResult::NotOpen;
    }
    return link->send(m_meter.m_byOwn, destination, payload);
}

void CMeterProgram::WaitAnswer(std::string_view pattern, int32_t timeout, int timeoutState)
{
    WaitAnswerFrom(m_meter.m_byDevice, pattern, timeout, timeoutState);
}

void CMeterProgram::WaitAnswerFrom(uint8_t source, std::string_view pattern, int32_t timeout,
                                   int timeoutState)
{
    // Adapter texts carry no bus addresses.
    if (HasLink() && !OnSharedBus())
        WaitFrame(pattern, 0, 0, timeout, timeoutState);
    else
        WaitFrame(pattern, m_meter.m_byOwn, source, timeout, timeoutState);
}

// ---------------------------------------------------------------------------
// Identification

CIdentification::CIdentification(CScheduler& scheduler, CPowerMeter& meter)
    : CMeterProgram(scheduler, meter, kNotifyIdentificationEnded)
{
    SetName("Identification");
}

void CIdentification::Run(const BusMessage& message)
{
    const FRAME* frame = message.Frame();
    switch (m_iState) {
    case 0:
        m_bAwaitingLock = false;
        GotoState(10);
        break;
    case 10:
        if (OnSharedBus()) {
            m_bAwaitingLock = true;
            WaitSync(kBusLock, 15, kBusLockTimeout, 50);
        } else {
            GotoState(15);
        }
        break;
    case 15:
        m_bAwaitingLock = false;
        if (!HasLink()) {
            End(kEndFailed);
            break;
        }
        SendCommand("qr");
        WaitAnswer("Ready:20", 1000, 30);
        break;
    case 20:
        m_meter.MarkAlive();
        if (const MeterModelTraits* model = identifiedModel(frame)) {
            m_meter.SetModel(model->kind);
            m_meter.Notify(kNotifyIdentificationEnded, 0);
        } else if (CDevice::FindKey("BusConverter", frame) >= 0 && m_meter.UsbLink()) {
            m_meter.UsbLink()->setBusConverterPresent(true);
        }
        SendCommand("info");
        WaitAnswer("Typ:50;Error:100", 1000, 30);
        break;
    case 30:
        m_meter.ClearAlive();
        End(kEndFailed);
        break;
    case 50: {
        if (m_bAwaitingLock) {
            // The bus stayed busy for 30 s: nothing was asked, nothing to read.
            m_bAwaitingLock = false;
            BV_LOG_ERROR(logger(), kTag, "Identification: bus lock not obtained");
            End(kEndFailed);
            break;
        }
        const int typ = CDevice::FindKey("Typ ", frame);
        if (typ >= 0 && CDevice::ReadNumber(frame, typ + 4, 1) == 3
            && CDevice::ReadNumber(frame, typ + 6, 1) == 4)
            m_meter.m_bType34 = 1;
        // Without the key, or with a garbled or negative value, the old
        // minimum stays: a wrong one would switch the low-flow alarm off.
        if (CDevice::FindKey("FlowMin ", frame) >= 0) {
            const std::optional<double> flowMin = CDevice::ReadKeyed(frame, "FlowMin ", 6);
            if (flowMin && *flowMin >= 0)
                m_meter.m_dFlowMin = *flowMin;
            else
                BV_LOG_WARN(logger(), kTag, "Identification: flow minimum unreadable in \"" << frame->text()
                                                << "\"; " << m_meter.m_dFlowMin << " l/min stays");
        }
        switch (CDevice::CharAt(frame, CDevice::FindKey("shutter=", frame) + 8)) {
        case 'O': m_meter.m_iShutterState = kShutterOpen; break;
        case 'C': m_meter.m_iShutterState = kShutterClosed; break;
        case 'N': m_meter.m_iShutterState = kShutterNone; break;
        default: m_meter.m_iShutterState = kShutterUnknown; break;
        }
        End(kEndOk);
        break;
    }
    case 100:
        End(kEndOk);
        break;
    default:
        BV_LOG_ERROR(logger(), kTag, "Identification: no state " << m_iState);
        End(kEndFailed);
        break;
    }
}

void CIdentification::OnEnd()
{
    m_meter.IdentificationOutcome(Status() == kEndOk && m_meter.m_bAnswerSeen);
    CMeterProgram::OnEnd();
}

// ---------------------------------------------------------------------------
// Shutter

CShutterProgram::CShutterProgram(CScheduler& scheduler, CPowerMeter& meter)
    : CMeterProgram(scheduler, meter, kNotifyShutterEnded)
{
    SetName("Shutter");
}

void CShutterProgram::SendPlcOutputs()
{
    const ProgramSettings& settings = m_meter.Settings();
    const uint16_t mask = PlcChannelMask(m_iAction == 0 ? settings.m_iOutput1 : settings.m_iOutput2);
    SendTo(static_cast<uint8_t>(settings.m_iTargetAddress), PlcOutputCommand(mask));
}

void CShutterProgram::Run(const BusMessage& message)
{
    const ProgramSettings& settings = m_meter.Settings();
    const uint8_t plc = static_cast<uint8_t>(settings.m_iTargetAddress);
    switch (m_iState) {
    case 0:
        m_iRetry = 0;
        GotoState(10);
        break;
    case 10:
        WaitSync(kBusLock, 20, kBusLockTimeout, 50);
        break;
    case 20:
        if (m_iAction != 0 && m_iAction != 1) {
            End(kEndFailed);
            break;
        }
        if (settings.m_bUseSps) {
            SendPlcOutputs();
            WaitTime(1000, 25);
            break;
        }
        if (m_iAction == 0) {
            SendCommand("sa");
            WaitAnswer("asa:30;schieber:40", 12000, 50);
        } else {
            SendCommand("sz");
            WaitAnswer("asz:30;schieber:40", 12000, 50);
        }
        break;
    case 25:
        SendTo(plc, "qi");
        WaitAnswerFrom(plc, "ai:26", 4000, 40);
        break;
    case 26: {
        uint16_t inputs = 0;
        // An unwired channel (outside 1..16) can never confirm a position.
        const uint16_t wanted = PlcChannelMask(m_iAction == 0 ? settings.m_iInput1 : settings.m_iInput2);
        const bool reached = PlcInputWord(message.Frame(), inputs) && wanted != 0 && inputs == wanted;
        GotoState(reached ? 30 : 40);
        break;
    }
    case 30:
        m_meter.MarkAlive();
        m_meter.m_iShutterState = m_iAction == 0 ? kShutterOpen : kShutterClosed;
        End(kEndOk);
        break;
    case 40:
        m_meter.MarkAlive();
        if (++m_iRetry > 2) {
            m_meter.m_iShutterState = kShutterError;
            m_meter.Prompt().show(kShutterFails, PromptButtons::Ok, PromptIcon::Exclamation);
            End(kEndFailed);
        } else {
            GotoState(10);
        }
        break;
    case 50:
        m_meter.m_iShutterState = kShutterError;
        m_meter.ClearAlive();
        End(kEndFailed);
        break;
    default:
        BV_LOG_ERROR(logger(), kTag, "Shutter: no state " << m_iState);
        End(kEndFailed);
        break;
    }
}

// ---------------------------------------------------------------------------
// Measuring cycle and electronic calibration

CMeasuringProgram::CMeasuringProgram(CScheduler& scheduler, CPowerMeter& meter, CBrivaneDoc& store)
    : CMeterProgram(scheduler, meter, kNotifyMeasuringEnded), m_pStore(&store)
{
    SetName("Measuring");
}

bool CMeasuringProgram::ReadHeater(const FRAME* frame, int32_t& state, int32_t& value)
{
    const int at = CDevice::FindKey("heater", frame);
    if (at < 0)
        return false;
    const std::optional<double> s = CDevice::ReadField(frame, at + 8, 1);
    const std::optional<double> v = CDevice::ReadField(frame, at + 10, 3);
    if (!s || !v)
        return false;
    state = wholeNumber(*s);
    value = wholeNumber(*v);
    return true;
}

bool CMeasuringProgram::ReadMeasurement(const FRAME* frame)
{
    const std::optional<double> power = CDevice::ReadKeyed(frame, "PL=", 10);
    const std::optional<double> te = CDevice::ReadKeyed(frame, "Te=", 10);
    const std::optional<double> td = CDevice::ReadKeyed(frame, "Td=", 10);
    const std::optional<double> flow = CDevice::ReadKeyed(frame, "Fl=", 10);
    const bool whole = power && te && td && flow;
    if (whole) {
        m_point.power = *power - m_meter.m_dZeroOffset;
        m_point.te = *te;
        m_point.td = *td;
        m_point.flow = *flow;
    }
    const int shutter = CDevice::FindKey("shutter=", frame);
    if (shutter < 0) {
        m_meter.m_iShutterState = kShutterUnknown;
        return whole;
    }
    switch (CDevice::CharAt(frame, shutter + 8)) {
    case 'O': m_meter.m_iShutterState = kShutterOpen; break;
    case 'C': m_meter.m_iShutterState = kShutterClosed; break;
    case 'U': m_meter.m_iShutterState = kShutterUnknown; break;
    case 'N': m_meter.m_iShutterState = kShutterNone; break;
    default: m_meter.m_iShutterState = kShutterError; break;
    }
    return whole;
}

bool CMeasuringProgram::ReadCalibration(const FRAME* frame)
{
    const std::optional<double> power = fieldAfter(frame, "Pel", 5, 4);
    const std::optional<double> current = fieldAfter(frame, "IRMS", 6, 6);
    const std::optional<double> voltage = fieldAfter(frame, "VRMS", 6, 3);
    int32_t state = -1, value = -1;
    if (!power || !current || !voltage || !ReadHeater(frame, state, value))
        return false;
    m_point.ecPower = *power;
    m_point.ecCurrent = *current;
    m_point.ecVoltage = *voltage;
    m_point.heaterState = state;
    m_point.heaterValue = value;
    return true;
}

void CMeasuringProgram::ForgetCalibrationValues()
{
    m_point.ecPower = m_point.ecCurrent = m_point.ecVoltage = 0;
    m_point.heaterState = m_point.heaterValue = -1;
}

void CMeasuringProgram::NextCycle()
{
    // Elapsed ticks, so the wrap of the tick count does not matter. The next
    // cycle is due one interval after this one was due, not after the beat
    // that noticed it: otherwise every cycle loses up to a beat. A cycle that
    // took longer than the interval starts the next at once, and its due time
    // counts from now, so an overrun is never made up by a burst.
    const int64_t interval = m_meter.m_iCycleInterval > 0 ? m_meter.m_iCycleInterval : 0;
    const uint32_t now = m_meter.Clock().now();
    const int64_t remaining = interval - static_cast<int64_t>(static_cast<uint32_t>(now - m_dwCycleStart));
    m_bNextDueSet = true;
    // A stop asked for ends the run now, not an interval later. A single
    // reading still waits its interval out: a Start meanwhile turns it into
    // the measurement asked for.
    if (remaining <= 0 || (m_bRun == 0 && m_bStopAsked)) {
        m_dwNextDue = now;
        GotoState(15);
        return;
    }
    m_dwNextDue = m_dwCycleStart + static_cast<uint32_t>(interval);
    // A wait ends once strictly more than its time-out has passed: one less
    // ends it on the beat that reaches the due time.
    WaitTime(static_cast<int32_t>(remaining - 1), 15);
    m_bIntervalWait = true;
}

void CMeasuringProgram::Stop()
{
    m_bRun = 0;
    m_bStopAsked = true;
    if (m_bIntervalWait && IsRunning()) {
        m_bIntervalWait = false;
        Resume(15);
    }
}

void CMeasuringProgram::OnEnd()
{
    m_bIntervalWait = false;
    // The one-second cycle belongs to the calibration only.
    if (m_mode == MeasuringMode::Calibration)
        m_meter.m_iCycleInterval = m_meter.Settings().m_iInterval;
    m_meter.RunChanged(m_mode, false);
    CMeterProgram::OnEnd();
}

void CMeasuringProgram::Run(const BusMessage& message)
{
    const FRAME* frame = message.Frame();
    switch (m_iState) {
    case 0:
        m_iCounter = 0;
        m_bNextDueSet = false;
        m_bIntervalWait = false;
        m_bStopAsked = false;
        GotoState(10);
        break;
    case 10:
        m_bHeaterAsked = false;
        if (OnSharedBus())
            WaitSync(kBusLock, 12, kBusLockTimeout, 50);
        else
            GotoState(12);
        break;
    case 12:
        if (m_mode != MeasuringMode::Calibration) {
            GotoState(15);
            break;
        }
        if (!HasLink()) {
            End(kEndFailed);
            break;
        }
        m_bHeaterAsked = true;
        SendCommand(std::string_view("elp 1", 5));
        // Unconfirmed, the heater may still have come on: switch it off.
        WaitFrame("elcal_enabled:13", 0, 0, 2000, 28);
        break;
    case 13: {
        int32_t state = 0, value = 0;
        if (!ReadHeater(frame, state, value) || state != 0) {
            GotoState(15);
            break;
        }
        // The heater did not come on: a marker tells the window why.
        m_point.heaterState = state;
        m_point.heaterValue = value;
        m_pStore->AddMesswert(m_point, 1);
        GotoState(28);
        break;
    }
    case 15: {
        m_bIntervalWait = false;
        // On the interval's grid when the wait brought us here at most an
        // interval late; the first cycle, a retry after a time-out and a
        // start after a long stall count from now.
        {
            const uint32_t now = m_meter.Clock().now();
            const int64_t late = static_cast<int32_t>(now - m_dwNextDue);
            const bool onGrid = m_bNextDueSet && late >= 0 && late < std::max<int64_t>(m_meter.m_iCycleInterval, 1);
            m_dwCycleStart = onGrid ? m_dwNextDue : now;
            m_bNextDueSet = false;
        }
        if (m_bRun == 0) {
            GotoState(28);
            break;
        }
        if (m_mode == MeasuringMode::Calibration && !m_bHeaterAsked) {
            // A single reading became the calibration after its start: the heater first.
            GotoState(12);
            break;
        }
        if (!HasLink()) {
            End(kEndFailed);
            break;
        }
        // An incomplete write may still have reached the meter: its answer decides.
        const LinkResult sent = SendCommand("ql");
        if (sent != LinkResult::Ok && sent != LinkResult::Incomplete) {
            BV_LOG_ERROR(logger(), kTag, "Measuring: \"ql\" not sent");
            End(kEndFailed);
            break;
        }
        WaitAnswer("al:20", 1000, 15);
        break;
    }
    case 20: {
        const bool whole = ReadMeasurement(frame);
        if (OnSharedBus())
            ReleaseSync(kBusLock);
        if (!whole) {
            // Neither plotted, nor averaged, nor written: the answer is not a reading.
            m_meter.AnswerError(frame, "unreadable measuring answer, no point taken");
            if (m_mode == MeasuringMode::Single) {
                m_bRun = 0;
                m_meter.Notify(kNotifySingleReading, 2);
            }
            NextCycle();
        } else if (m_mode == MeasuringMode::Calibration) {
            // The device sends it by itself; without it the answer's flow and
            // temperatures still reach the alarms.
            WaitAnswer("Pel:25", 1000, 26);
        } else {
            GotoState(27);
        }
        break;
    }
    case 25: {
        if (!ReadCalibration(frame)) {
            m_meter.AnswerError(frame, "unreadable calibration answer, EC values not taken");
            GotoState(26);
            break;
        }
        if (m_iThermalization >= 0)
            --m_iThermalization;
        m_point.thermalization = m_iThermalization;
        const int32_t before = m_iCalibration--;
        if (m_point.heaterState != 0) {
            GotoState(before >= 2 ? 27 : 28);
        } else {
            m_pStore->AddMesswert(m_point, 1);
            GotoState(28);
        }
        break;
    }
    case 26:
        ForgetCalibrationValues();
        GotoState(27);
        break;
    case 27: {
        m_pStore->AddMesswert(m_point, 0);
        if (m_meter.WriteProtocol(0, 0) == 0)
            ++m_meter.m_lProtocolLinesLost;
        if (m_mode == MeasuringMode::Single) {
            m_bRun = 0;
            m_meter.Notify(kNotifySingleReading, 2);
        }
        NextCycle();
        break;
    }
    case 28:
        if (m_mode != MeasuringMode::Calibration) {
            GotoState(30);
            break;
        }
        if (!HasLink()) {
            End(kEndFailed);
            break;
        }
        SendCommand(std::string_view("elp 0", 5));
        WaitFrame("elcal_enabled:30", 0, 0, 2000, 30);
        break;
    case 30:
        End(kEndFailed);
        break;
    case 50:
        // The bus stayed busy for 30 s; without this the program would sit
        // running with nothing to wait for.
        BV_LOG_ERROR(logger(), kTag, "Measuring: bus lock not obtained");
        End(kEndFailed);
        break;
    default:
        BV_LOG_ERROR(logger(), kTag, "Measuring: no state " << m_iState);
        End(kEndFailed);
        break;
    }
}

} // namespace bv
