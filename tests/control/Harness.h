#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "control/Scheduler.h"
#include "link/Frame.h"
#include "platform/Clock.h"

namespace bv::test {

inline FRAME makeFrame(uint8_t destination, uint8_t source, const std::string& text,
                       uint8_t kind = kBusFrame)
{
    FRAME f;
    fillRecord(f, destination, source, kind, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return f;
}

// The first group a program waits on (groups keep the place they got).
inline CEreignisGroup* firstGroup(const CScheduler& s, int id)
{
    for (int place = 0; place < CScheduler::kMaxGroups; ++place)
        if (CEreignisGroup* g = s.Group(id, place))
            return g;
    return nullptr;
}

// A program whose states are lambdas; records every state it ran, also in a
// trace shared between programs (as "id:state").
class Script : public CState {
public:
    using Handler = std::function<void(Script&, const BusMessage&)>;

    Script(CScheduler& s, std::vector<std::string>* trace = nullptr) : CState(s), m_trace(trace) {}

    void Run(const BusMessage& message) override
    {
        visited.push_back(m_iState);
        if (m_trace)
            m_trace->push_back(std::to_string(m_iId) + ":" + std::to_string(m_iState));
        if (auto it = states.find(m_iState); it != states.end())
            it->second(*this, message);
    }
    void OnEnd() override { ++ends; }

    std::map<int, Handler> states;
    std::vector<int> visited;
    int ends = 0;

private:
    std::vector<std::string>* m_trace;
};

// Scheduler on a manual clock, with helpers that dispatch one message.
struct Bench {
    ManualClock clock{1000};
    CScheduler scheduler{clock};

    void frame(uint8_t destination, uint8_t source, const std::string& text)
    {
        const FRAME f = makeFrame(destination, source, text);
        scheduler.Dispatch(BusMessage(f));
    }
    void time() { scheduler.Dispatch(BusMessage::Time()); }
    // One heartbeat: a time message, then 100 ms pass.
    void tick()
    {
        time();
        clock.advance(100);
    }
};

} // namespace bv::test
