#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/BusMessage.h"

namespace bv {

class CState;
class CScheduler;
class IClock;

// Something a state program waits for. When it matches, the owner runs the
// target state next.
class Event {
public:
    Event(const char* kindName, int targetState, CState* owner);
    virtual ~Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    virtual bool Matches(const BusMessage& message) = 0;
    // True when the event keeps a pointer to this program (other than its owner).
    virtual bool Refers(const CState* /*program*/) const { return false; }

    std::string_view KindName() const { return m_szKind; }

    int32_t m_iTargetState;
    CState* m_pOwner;
    char m_szKind[20];
};

// Expires once more than the time-out has passed since its creation; a
// negative time-out expires at the first look. Counted as elapsed ticks, so
// the wrap of the 32-bit tick at 0xFFFFFFFF does not fire it early.
class TimerEvent final : public Event {
public:
    TimerEvent(IClock& clock, int32_t timeout, int targetState, CState* owner);
    bool Matches(const BusMessage& message) override;
    static bool Expired(uint32_t start, int32_t timeout, uint32_t now)
    {
        return timeout < 0 || now - start > static_cast<uint32_t>(timeout);
    }

    uint32_t m_dwStart;
    uint32_t m_dwDeadline;  // start + time-out, wrapping
    int32_t m_iTimeout;

private:
    IClock& m_clock;
};

// A frame whose text begins with the word; addresses 0 are wildcards.
class FrameEvent final : public Event {
public:
    FrameEvent(std::string word, uint8_t deviceAddress, uint8_t ownAddress, int targetState,
               CState* owner);
    bool Matches(const BusMessage& message) override;

    std::string m_sWord;
    uint8_t m_byDevice;
    uint8_t m_byOwn;
};

// The message text (not empty) occurs somewhere inside the event's word.
class StringEvent final : public Event {
public:
    StringEvent(std::string word, int targetState, CState* owner);
    bool Matches(const BusMessage& message) override;

    std::string m_sWord;
};

// The watched program ended: "ALL" waits until it is not running, any other
// word until its status word equals the word.
class StateEvent final : public Event {
public:
    StateEvent(CState* watched, std::string word, int targetState, CState* owner);
    bool Matches(const BusMessage& message) override;
    bool Refers(const CState* program) const override { return program == m_pWatched; }

    CState* m_pWatched;
    std::string m_sWord;
};

class NullEvent final : public Event {
public:
    NullEvent(int targetState, CState* owner);
    bool Matches(const BusMessage&) override { return true; }
};

// Takes the sync slot when it is free; matching makes the owner its holder.
class SyncEvent final : public Event {
public:
    SyncEvent(CScheduler& scheduler, int index, int targetState, CState* owner);
    bool Matches(const BusMessage& message) override;

    int32_t m_iIndex;

private:
    CScheduler& m_scheduler;
};

// The events one program waits on together; the first one that matches
// decides the next state. Used once: the scheduler deletes it after it fired.
class CEreignisGroup {
public:
    static constexpr int kMaxEvents = 15;

    CEreignisGroup(CState* owner, int key);
    ~CEreignisGroup();
    CEreignisGroup(const CEreignisGroup&) = delete;
    CEreignisGroup& operator=(const CEreignisGroup&) = delete;

    // Place index, or -1 when all places are taken (the event is discarded).
    int Add(std::unique_ptr<Event> event);
    bool Matches(const BusMessage& message);
    void Fire(const BusMessage& message);

    int Count() const;
    Event* At(int place) const { return place >= 0 && place < kMaxEvents ? m_apEvents[place].get() : nullptr; }
    bool Refers(const CState* program) const;
    CState* Owner() const { return m_pOwner; }
    Event* Fired() const { return m_pFired; }
    int Key() const { return m_iKey; }

private:
    std::array<std::unique_ptr<Event>, kMaxEvents> m_apEvents;
    CState* m_pOwner;
    Event* m_pFired = nullptr;
    int32_t m_iKey;
};

// One item of an answer pattern such as "asa:30;schieber:40".
struct PatternItem {
    std::string word;
    int target;
    bool operator==(const PatternItem&) const = default;
};

// Items from left to right; a bare word stands for currentState + 1.
std::vector<PatternItem> ParsePattern(std::string_view pattern, int currentState);

} // namespace bv
