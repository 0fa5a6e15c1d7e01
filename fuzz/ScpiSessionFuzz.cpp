// What a lab script sends to the SCPI server, in the pieces the socket
// happens to deliver: the session answers, queues or waits, never more.
#include "fuzz/FuzzSupport.h"

#include <algorithm>

#include "net/ScpiSession.h"

using namespace bv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte: commands on or off, a current reading or not, the size of the pieces.
    const uint8_t flags = data[0];
    ScpiSession session(flags & 1, "1.0");
    ReadingSnapshot s;
    s.anyValid = s.current = (flags & 2) != 0;
    s.power = 1500.5;
    s.model = 2;
    const size_t piece = 1 + (flags >> 2);
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    std::string out;
    bool refuse = false;
    for (size_t at = 0; at < length; at += piece) {
        session.receive(text + at, std::min(piece, length - at));
        session.run(s, out);
        while (session.waiting()) {
            BV_FUZZ_REQUIRE(flags & 1);  // no command without commands on
            CommandOutcome o;
            if ((refuse = !refuse))
                o.result = CommandOutcome::Result::Refused;
            session.commandDone(o);
            session.run(s, out);
        }
        BV_FUZZ_REQUIRE(session.errorCount() <= ScpiSession::kErrorQueueSize);
    }
    // One answer line at most per line received, each one whole.
    const auto lineEnds = static_cast<size_t>(std::count(text, text + length, '\n'));
    BV_FUZZ_REQUIRE(static_cast<size_t>(std::count(out.begin(), out.end(), '\n')) <= lineEnds);
    BV_FUZZ_REQUIRE(out.empty() || out.back() == '\n');
    // Nothing stale passes as current (unless the client itself sent the number, echoed in an error).
    if (!(flags & 2) && std::string(text, length).find("1500.5") == std::string::npos)
        BV_FUZZ_REQUIRE(out.find("1500.5") == std::string::npos);
    return 0;
}
