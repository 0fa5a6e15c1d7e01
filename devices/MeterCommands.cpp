#include "devices/MeterCommands.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "devices/PowerMeter.h"
#include "devices/ReadingWatchdog.h"
#include "platform/Clock.h"
#include "platform/Logging.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"

namespace bv {
namespace {

constexpr const char* kTag = "MeterCommands";
constexpr double kZeroResolution = 1000.0;

const log::Logger& logger()
{
    static const log::Logger l("MeterCommands");
    return l;
}

std::string watts(double w)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", w);
    return buf;
}

CommandOutcome refused(Refusal why, std::string text)
{
    return {CommandOutcome::Result::Refused, why, std::move(text)};
}

CommandOutcome done() { return {}; }
CommandOutcome unchanged() { return {CommandOutcome::Result::Unchanged, Refusal::None, {}}; }

} // namespace

const char* CommandOutcome::resultWord() const
{
    switch (result) {
    case Result::Done: return "done";
    case Result::Unchanged: return "unchanged";
    case Result::Refused: return "refused";
    }
    return "refused";
}

std::optional<MeterCommand> commandFromWord(std::string_view word)
{
    std::string w;
    for (char c : word)
        w += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const std::pair<const char*, MeterCommand> words[] = {
        {"start", MeterCommand::Start},     {"stop", MeterCommand::Stop},
        {"single", MeterCommand::Single},   {"calibrate", MeterCommand::Calibrate},
        {"zero", MeterCommand::Zero},       {"open", MeterCommand::OpenShutter},
        {"close", MeterCommand::CloseShutter},
    };
    for (const auto& [text, command] : words)
        if (w == text)
            return command;
    return std::nullopt;
}

const char* commandWord(MeterCommand command)
{
    switch (command) {
    case MeterCommand::Start: return "start";
    case MeterCommand::Stop: return "stop";
    case MeterCommand::Single: return "single";
    case MeterCommand::Calibrate: return "calibrate";
    case MeterCommand::Zero: return "zero";
    case MeterCommand::SetZero: return "zero level";
    case MeterCommand::OpenShutter: return "open";
    case MeterCommand::CloseShutter: return "close";
    }
    return "?";
}

double zeroOffsetResolution(double w) { return std::round(w * kZeroResolution) / kZeroResolution; }

MeterCommands::MeterCommands(CPowerMeter& device, IClock& clock, const ReadingWatchdog* watchdog)
    : m_device(device), m_clock(clock), m_watchdog(watchdog)
{
}

CommandOutcome MeterCommands::run(const CommandRequest& request, const std::string& caller)
{
    const char* word = commandWord(request.command);
    CommandOutcome outcome;
    if (request.source == CommandSource::Operator) {
        // The front end's own handler reports what went wrong.
        outcome = decide(request);
        BV_LOG_DEBUG(logger(), kTag, "command \"" << word << "\" from " << caller << ": " << outcome.resultWord());
        if (outcome.refused())
            BV_LOG_INFO(logger(), kTag, caller << ": " << outcome.text);
        return outcome;
    }
    try {
        outcome = decide(request);
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, "command \"" << word << "\" from " << caller << ": " << e.what());
        outcome = refused(Refusal::NotStarted, strings::fill(strings::text(strings::kCommandNotStarted), {word}));
    }
    if (outcome.refused())
        tell(outcome.refusal, caller + ": " + outcome.text);
    else
        BV_LOG_INFO(logger(), kTag, caller << ": command \"" << word << "\" " << outcome.resultWord());
    return outcome;
}

void MeterCommands::refuseUnread(Refusal kind, const std::string& caller, const std::string& what)
{
    tell(kind, caller + ": " + what);
}

void MeterCommands::tell(Refusal kind, const std::string& text)
{
    const uint32_t now = m_clock.now();
    auto [at, first] = m_limits.try_emplace(kind);
    Limit& limit = at->second;
    if (!first && now - limit.lastMs < kReportEveryMs) {
        ++limit.held;
        ++m_suppressedTotal;
        return;
    }
    std::string line = text;
    if (limit.held > 0)
        line += strings::fill(strings::text(strings::kCommandRefusalsHeld), {std::to_string(limit.held)});
    limit.lastMs = now;
    limit.held = 0;
    BV_LOG_WARN(logger(), kTag, line);
    if (m_reporter)
        m_reporter(line);
}

CommandOutcome MeterCommands::decide(const CommandRequest& request)
{
    switch (request.command) {
    case MeterCommand::Start: return start(request);
    case MeterCommand::Single: return single(request);
    case MeterCommand::Calibrate: return calibrate(request);
    case MeterCommand::Stop: return stop();
    case MeterCommand::Zero:
    case MeterCommand::SetZero: return zero(request);
    case MeterCommand::OpenShutter:
    case MeterCommand::CloseShutter: return shutter(request);
    }
    return unchanged();
}

std::optional<CommandOutcome> MeterCommands::busy(MeterCommand command, CommandSource source, bool measuringToo) const
{
    const char* word = commandWord(command);
    if (m_device.Presence() == MeterPresence::NotFound)
        return refused(Refusal::NoMeter, strings::fill(strings::text(strings::kCommandNoMeter), {word}));
    // The operator's start waits for the identification to end; a remote
    // one would run with the limits of no model, unseen.
    if (source == CommandSource::Remote && m_device.m_Identification.IsRunning())
        return refused(Refusal::Identifying, strings::fill(strings::text(strings::kCommandIdentifying), {word}));
    if (m_device.CalibrationRunning())
        return refused(Refusal::Calibrating, strings::fill(strings::text(strings::kCommandCalibrating), {word}));
    if (measuringToo && m_device.MeasuringActive())
        return refused(Refusal::Measuring, strings::fill(strings::text(strings::kCommandMeasuring), {word}));
    return std::nullopt;
}

CommandOutcome MeterCommands::start(const CommandRequest& request)
{
    if (auto no = busy(MeterCommand::Start, request.source, false))
        return *no;
    if (m_device.MeasuringActive())
        return unchanged();
    // The question belongs to someone standing at the meter.
    if (request.source == CommandSource::Remote && m_device.m_iShutterState == kShutterUnknown &&
        !m_device.m_bUnknownShutterConfirmed)
        return refused(Refusal::ShutterUnknown, strings::fill(strings::text(strings::kCommandShutterUnknown), {"start"}));
    const bool asked = m_device.m_iShutterState == kShutterUnknown;
    if (!m_device.StartMeasuring(MeasuringMode::Continuous, 1))
        return asked ? refused(Refusal::Cancelled, strings::fill(strings::text(strings::kCommandCancelled), {"start"}))
                     : refused(Refusal::NotStarted, strings::fill(strings::text(strings::kCommandNotStarted), {"start"}));
    return done();
}

CommandOutcome MeterCommands::single(const CommandRequest& request)
{
    if (auto no = busy(MeterCommand::Single, request.source, true))
        return *no;
    if (m_device.m_Measuring.IsRunning() && m_device.m_Measuring.m_mode == MeasuringMode::Single)
        return unchanged();
    if (!m_device.StartMeasuring(MeasuringMode::Single, 1))
        return refused(Refusal::NotStarted, strings::fill(strings::text(strings::kCommandNotStarted), {"single"}));
    return done();
}

CommandOutcome MeterCommands::calibrate(const CommandRequest& request)
{
    if (m_device.CalibrationRunning())
        return unchanged();
    // The operator starts it from rest; a remote caller only from a running
    // measurement, whose current reading says the laser is off (the meter
    // turns the measurement into the calibration at its next cycle).
    if (auto no = busy(MeterCommand::Calibrate, request.source, request.source == CommandSource::Operator))
        return *no;
    if (m_device.Presence() == MeterPresence::Found && !m_device.Model().electronicCalibration)
        return refused(Refusal::NoCalibration,
                       strings::fill(strings::text(strings::kCommandNoCalibration), {"calibrate", m_device.Model().name}));
    if (request.source == CommandSource::Remote) {
        // Nobody there to be told to switch the laser off: it must be off.
        const MeasurePoint* newest = m_device.Store().pGetLastMeasureValue();
        if (!newest || !readingIsCurrent())
            return refused(Refusal::NoReading, strings::fill(strings::text(strings::kCommandNoReading), {"calibrate"}));
        if (newest->power > kLaserOnWatts)
            return refused(Refusal::LaserOn,
                           strings::fill(strings::text(strings::kCommandLaserOn), {"calibrate", watts(newest->power)}));
    } else {
        m_device.Prompt().show(strings::text(61302), PromptButtons::Ok, PromptIcon::Exclamation);
    }
    if (!m_device.StartMeasuring(MeasuringMode::Calibration, 1))
        return refused(Refusal::NotStarted, strings::fill(strings::text(strings::kCommandNotStarted), {"calibrate"}));
    return done();
}

CommandOutcome MeterCommands::stop()
{
    const CMeasuringProgram& program = m_device.m_Measuring;
    const bool calibration =
        m_device.CalibrationRunning() || (program.IsRunning() && program.m_mode == MeasuringMode::Calibration);
    if (!calibration && !program.IsRunning() && !m_device.MeasuringActive())
        return unchanged();
    // Whatever runs ends its own way; a calibration with the heater off ("elp 0").
    m_device.StartMeasuring(calibration ? MeasuringMode::Calibration : program.m_mode, 0);
    return done();
}

bool MeterCommands::readingIsCurrent() const
{
    const MeasurePoint* newest = m_device.Store().pGetLastMeasureValue();
    return newest && newest->valid && m_device.MeasuringActive() && !(m_watchdog && m_watchdog->stale());
}

CommandOutcome MeterCommands::zero(const CommandRequest& request)
{
    const char* word = commandWord(request.command);
    // The calibration compares against the reading: its zero stays put.
    if (m_device.CalibrationRunning())
        return refused(Refusal::Calibrating, strings::fill(strings::text(strings::kCommandCalibrating), {word}));
    if (request.command == MeterCommand::SetZero) {
        if (!std::isfinite(request.value))
            return refused(Refusal::NotANumber, strings::fill(strings::text(strings::kCommandNotANumber), {word, "?"}));
        m_device.m_dZeroOffset = zeroOffsetResolution(request.value);
        return done();
    }
    const MeasurePoint* newest = m_device.Store().pGetLastMeasureValue();
    // The operator sees what the last reading was; a remote caller must not
    // zero on one that is no longer true.
    if (request.source == CommandSource::Remote && !readingIsCurrent())
        return refused(Refusal::NoReading, strings::fill(strings::text(strings::kCommandNoReading), {word}));
    // The point is already net of the old offset: adding it zeroes the reading.
    m_device.m_dZeroOffset = newest ? zeroOffsetResolution(m_device.m_dZeroOffset + newest->power) : 0.0;
    return done();
}

CommandOutcome MeterCommands::shutter(const CommandRequest& request)
{
    const bool open = request.command == MeterCommand::OpenShutter;
    const char* word = commandWord(request.command);
    if (m_device.Presence() == MeterPresence::NotFound)
        return refused(Refusal::NoMeter, strings::fill(strings::text(strings::kCommandNoMeter), {word}));
    if (m_device.m_iShutterState == kShutterNone)
        return refused(Refusal::NoShutter, strings::fill(strings::text(strings::kCommandNoShutter), {word}));
    if (m_device.m_ShutterProgram.IsRunning())
        return refused(Refusal::ShutterMoving, strings::fill(strings::text(strings::kCommandShutterMoving), {word}));
    if (request.source == CommandSource::Remote && m_device.CalibrationRunning())
        return refused(Refusal::Calibrating, strings::fill(strings::text(strings::kCommandCalibrating), {word}));
    if (open) {
        if (m_device.m_iShutterState == kShutterOpen)
            return unchanged();
        // Opening restarts the measurement, which would ask about an unknown shutter.
        if (request.source == CommandSource::Remote && m_device.MeasuringActive() &&
            m_device.m_iShutterState == kShutterUnknown && !m_device.m_bUnknownShutterConfirmed)
            return refused(Refusal::ShutterUnknown, strings::fill(strings::text(strings::kCommandShutterUnknown), {word}));
        m_device.OpenShutter();
        return done();
    }
    if (m_device.m_iShutterState == kShutterClosed)
        return unchanged();
    const MeasurePoint* newest = m_device.Store().pGetLastMeasureValue();
    if (!newest)
        return refused(Refusal::NoReading, strings::fill(strings::text(strings::kCommandNoReading), {word}));
    if (newest->power > kLaserOnWatts)
        return refused(Refusal::LaserOn, strings::fill(strings::text(strings::kCommandLaserOn), {word, watts(newest->power)}));
    m_device.CloseShutter();
    return done();
}

} // namespace bv
