#include "control/Events.h"

#include <cstring>

#include "control/Scheduler.h"
#include "platform/Clock.h"
#include "platform/Logging.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger instance("CEreignisGroup");
    return instance;
}

// atoi on the text after the ':': blanks, an optional sign, then digits.
int leadingInteger(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 0x7FFFFFFF)  // state numbers are small; keep the sum bounded
            value = 0x7FFFFFFF;
    }
    return static_cast<int>(negative ? -value : value);
}

} // namespace

Event::Event(const char* kindName, int targetState, CState* owner)
    : m_iTargetState(targetState), m_pOwner(owner), m_szKind{}
{
    std::strncpy(m_szKind, kindName, sizeof m_szKind - 1);
}

TimerEvent::TimerEvent(IClock& clock, int32_t timeout, int targetState, CState* owner)
    : Event("TimerEvent", targetState, owner),
      m_dwStart(clock.now()),
      m_dwDeadline(m_dwStart + static_cast<uint32_t>(timeout)),
      m_iTimeout(timeout),
      m_clock(clock)
{
}

bool TimerEvent::Matches(const BusMessage&)
{
    return Expired(m_dwStart, m_iTimeout, m_clock.now());
}

FrameEvent::FrameEvent(std::string word, uint8_t deviceAddress, uint8_t ownAddress,
                       int targetState, CState* owner)
    : Event("FrameEvent", targetState, owner),
      m_sWord(std::move(word)),
      m_byDevice(deviceAddress),
      m_byOwn(ownAddress)
{
}

bool FrameEvent::Matches(const BusMessage& message)
{
    if (!message.IsFrame())
        return false;
    if (m_byDevice != 0 && m_byDevice != message.Source())
        return false;
    if (m_byOwn != 0 && m_byOwn != message.Destination())
        return false;
    const std::string_view text = message.GetText();
    return !text.empty() && text.starts_with(m_sWord);
}

StringEvent::StringEvent(std::string word, int targetState, CState* owner)
    : Event("StringEvent", targetState, owner), m_sWord(std::move(word))
{
}

bool StringEvent::Matches(const BusMessage& message)
{
    const std::string_view text = message.GetText();
    return !text.empty() && std::string_view(m_sWord).find(text) != std::string_view::npos;
}

StateEvent::StateEvent(CState* watched, std::string word, int targetState, CState* owner)
    : Event("StateEvent", targetState, owner), m_pWatched(watched), m_sWord(std::move(word))
{
}

bool StateEvent::Matches(const BusMessage&)
{
    if (!m_pWatched)
        return false;
    if (m_sWord == "ALL")
        return !m_pWatched->IsRunning();
    return m_pWatched->Status() == m_sWord;
}

NullEvent::NullEvent(int targetState, CState* owner) : Event("NullEvent", targetState, owner) {}

SyncEvent::SyncEvent(CScheduler& scheduler, int index, int targetState, CState* owner)
    : Event("SyncEvent", targetState, owner), m_iIndex(index), m_scheduler(scheduler)
{
}

bool SyncEvent::Matches(const BusMessage&)
{
    return m_scheduler.TakeSync(m_iIndex, m_pOwner);
}

CEreignisGroup::CEreignisGroup(CState* owner, int key) : m_pOwner(owner), m_iKey(key) {}

CEreignisGroup::~CEreignisGroup() = default;

int CEreignisGroup::Add(std::unique_ptr<Event> event)
{
    if (!event)
        return -1;
    for (int i = 0; i < kMaxEvents; ++i) {
        if (!m_apEvents[i]) {
            m_apEvents[i] = std::move(event);
            return i;
        }
    }
    BV_LOG_ERROR(logger(), "Scheduler",
                 "Add: group of program " << m_iKey << " already holds " << kMaxEvents
                                          << " events; " << event->KindName() << " refused");
    return -1;
}

int CEreignisGroup::Count() const
{
    int n = 0;
    while (n < kMaxEvents && m_apEvents[n])
        ++n;
    return n;
}

bool CEreignisGroup::Matches(const BusMessage& message)
{
    for (auto& event : m_apEvents) {
        if (!event)
            break;
        if (event->Matches(message)) {
            m_pFired = event.get();
            return true;
        }
    }
    return false;
}

void CEreignisGroup::Fire(const BusMessage& message)
{
    if (!m_pFired || !m_pOwner || !m_pOwner->Scheduler()) {
        BV_LOG_ERROR(logger(), "Scheduler", "Fire: group of program " << m_iKey << " cannot fire");
        return;
    }
    m_pOwner->m_iState = m_pFired->m_iTargetState;
    m_pOwner->Scheduler()->RunProgram(*m_pOwner, message);
}

bool CEreignisGroup::Refers(const CState* program) const
{
    for (const auto& event : m_apEvents)
        if (event && event->Refers(program))
            return true;
    return false;
}

std::vector<PatternItem> ParsePattern(std::string_view pattern, int currentState)
{
    std::vector<PatternItem> items;
    std::string_view rest = pattern;
    for (;;) {
        const size_t semicolon = rest.find(';');
        const std::string_view item = rest.substr(0, semicolon);
        const size_t colon = item.find(':');
        if (colon != std::string_view::npos)
            items.push_back({std::string(item.substr(0, colon)), leadingInteger(item.substr(colon + 1))});
        else
            items.push_back({std::string(item), currentState + 1});
        if (semicolon == std::string_view::npos)
            break;
        rest.remove_prefix(semicolon + 1);
        if (rest.empty())  // a trailing ';' closes the list
            break;
    }
    return items;
}

} // namespace bv
