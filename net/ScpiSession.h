#pragma once
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "devices/MeterCommands.h"
#include "net/ReadingSnapshot.h"

namespace bv {

namespace scpi {
// The standard error numbers this server uses.
enum Error : int {
    kNoError = 0,
    kCommandError = -100,
    kParameterNotAllowed = -108,
    kMissingParameter = -109,
    kUndefinedHeader = -113,
    kSettingsConflict = -221,
    kIllegalParameterValue = -224,
    kDataStale = -230,
    kQueueOverflow = -350,
};
// SCPI's "not a number", what a query answers without a current reading.
constexpr const char* kNotANumber = "9.91E37";
// The bits of STATus:QUEStionable:CONDition?.
enum Questionable : int { kStale = 1, kNoFlow = 2, kLowFlow = 4, kShutterNotOpen = 8, kLinkLost = 16 };
} // namespace scpi

// One client's SCPI conversation, without the socket: bytes in, answers out,
// the error queue. A command for the meter is handed out and the session
// reads nothing more until its outcome is back, so "INIT;*OPC?" answers once
// the start has run and commands keep their order.
class ScpiSession {
public:
    static constexpr size_t kMaxLine = 256;
    static constexpr size_t kErrorQueueSize = 16;

    ScpiSession(bool acceptCommands, std::string version);

    // Bytes as they come, split into lines at '\n' ("\r\n" too). A line
    // longer than kMaxLine is dropped whole with -100.
    void receive(const char* data, size_t size);
    // Runs the lines held until one needs the meter; what they answer is
    // appended to out, one "\n"-terminated line per input line with queries.
    void run(const ReadingSnapshot& snapshot, std::string& out);
    // The meter command waiting for its outcome, if any.
    std::optional<MeterCommand> pendingCommand() const { return m_pending; }
    // Its outcome; a refusal goes to the error queue as -221 with the reason.
    void commandDone(const CommandOutcome& outcome);
    bool waiting() const { return m_pending.has_value(); }
    // Lines received and not yet run.
    size_t heldLines() const { return m_lines.size(); }
    size_t errorCount() const { return m_errors.size(); }
    // The first error this client caused, once, for a log that names each
    // misbehaving client a single time.
    std::optional<std::string> takeFirstComplaint();

private:
    struct Unit {
        std::string header;  // as sent, case and all
        std::string parameters;
        bool query = false;
    };
    // Runs one unit; false when it handed out a meter command.
    bool execute(const Unit& unit, const ReadingSnapshot& s);
    void pushError(int number, const std::string& detail = {});
    void answer(const std::string& text);
    bool stale(const ReadingSnapshot& s);
    std::string number(double value, const ReadingSnapshot& s);

    bool m_acceptCommands;
    std::string m_version;
    std::string m_partial;  // the line being received
    bool m_overlong = false;
    std::deque<std::string> m_lines;
    // The line being run: its units left, the answers so far, the path that
    // a relative header in it continues from.
    std::deque<Unit> m_units;
    std::vector<std::string> m_answers;
    std::vector<std::string> m_path;
    bool m_staleReported = false;  // one -230 per unit
    std::optional<MeterCommand> m_pending;
    std::deque<std::pair<int, std::string>> m_errors;
    std::optional<std::string> m_firstComplaint;
    bool m_complained = false;
};

} // namespace bv
