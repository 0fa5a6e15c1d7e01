#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace bv {

class CPowerMeter;
class IClock;
class ReadingWatchdog;

enum class MeterCommand { Start, Stop, Single, Calibrate, Zero, SetZero, OpenShutter, CloseShutter };

// The operator at the window or on the command line may be asked a question;
// a remote caller never is: what would need one is refused.
enum class CommandSource { Operator, Remote };

struct CommandRequest {
    MeterCommand command;
    CommandSource source = CommandSource::Operator;
    double value = 0.0;  // SetZero: the offset in W
};

enum class Refusal {
    None,
    NoMeter,
    Identifying,
    Calibrating,
    Measuring,
    ShutterUnknown,
    NoCalibration,
    LaserOn,
    NoReading,
    NoShutter,
    ShutterMoving,
    NotANumber,
    Cancelled,
    NotStarted,
    // Remote messages refused before they became a command.
    Retained,
    TooLong,
    TooMany,
    UnknownWord,
};

struct CommandOutcome {
    enum class Result { Done, Unchanged, Refused };
    Result result = Result::Done;
    Refusal refusal = Refusal::None;
    std::string text;  // for the operator, in the table's language; empty when done

    bool done() const { return result == Result::Done; }
    bool refused() const { return result == Result::Refused; }
    const char* resultWord() const;  // "done", "unchanged", "refused"
};

// "start", "stop", "single", "calibrate", "zero", "open", "close"; any case.
std::optional<MeterCommand> commandFromWord(std::string_view word);
const char* commandWord(MeterCommand command);
// Offsets are kept in thousandths of a watt, as the zero field shows them.
double zeroOffsetResolution(double watts);

// The one way in for every command that changes what the meter does: the
// window's buttons, the CLI and every remote protocol. It decides whether the
// command may run now, runs it on the device and tells the caller what came
// of it. Remote refusals also go to the reporter (status list, stderr), each
// kind at most once a minute, so a flood cannot bury the alarms.
class MeterCommands {
public:
    using Reporter = std::function<void(const std::string&)>;
    static constexpr uint32_t kReportEveryMs = 60000;
    // Above this the laser is on the meter: no closing onto it, no
    // calibration under it.
    static constexpr double kLaserOnWatts = 50.0;

    MeterCommands(CPowerMeter& device, IClock& clock, const ReadingWatchdog* watchdog = nullptr);

    CommandOutcome run(const CommandRequest& request, const std::string& caller = "operator");
    // A remote message that never became a command; what says only what it
    // was, never the payload itself.
    void refuseUnread(Refusal kind, const std::string& caller, const std::string& what);
    void setReporter(Reporter reporter) { m_reporter = std::move(reporter); }
    unsigned long refusalsNotReported() const { return m_suppressedTotal; }

private:
    CommandOutcome decide(const CommandRequest& request);
    CommandOutcome start(const CommandRequest& request);
    CommandOutcome single(const CommandRequest& request);
    CommandOutcome calibrate(const CommandRequest& request);
    CommandOutcome stop();
    CommandOutcome zero(const CommandRequest& request);
    CommandOutcome shutter(const CommandRequest& request);
    // Refused when the meter cannot take a new run now.
    std::optional<CommandOutcome> busy(MeterCommand command, CommandSource source, bool measuringToo) const;
    bool readingIsCurrent() const;
    void tell(Refusal kind, const std::string& text);

    struct Limit {
        uint32_t lastMs = 0;
        unsigned long held = 0;
    };

    CPowerMeter& m_device;
    IClock& m_clock;
    const ReadingWatchdog* m_watchdog;
    Reporter m_reporter;
    std::map<Refusal, Limit> m_limits;
    unsigned long m_suppressedTotal = 0;
};

} // namespace bv
