#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "control/BusMessage.h"
#include "control/Events.h"

namespace bv {

class IClock;
class CScheduler;

// Base of every state program. A program never blocks: each state sends what
// it has to send, registers what it waits for and returns; the scheduler runs
// the next state when an awaited event matches.
class CState {
public:
    static constexpr int kMaxChildren = 10;

    // Takes the lowest free id of the scheduler's program registry (0 when the
    // registry is full; such a program refuses to start).
    explicit CState(CScheduler& scheduler);
    virtual ~CState();
    CState(const CState&) = delete;
    CState& operator=(const CState&) = delete;

    // Runs state 0 at the next dispatched message. Nothing if running.
    virtual void Start();
    // The state handler: a switch over State().
    virtual void Run(const BusMessage& message) = 0;
    // Called by End after the status word is set.
    virtual void OnEnd() {}

    // Continue at once with state s once the handler returns.
    void GotoState(int s);
    // Ends the program (and the programs it started) with an end word.
    void End(const std::string& word);

    // Wait operations; each registers one group (or none, as noted).
    // time-out 0 means no time-out.
    void WaitFrame(std::string_view pattern, uint8_t ownAddress, uint8_t deviceAddress,
                   int32_t timeout, int timeoutState);
    void WaitString(std::string_view pattern, int32_t timeout, int timeoutState);
    // Starts the child and waits for its end word; cancelling the wait
    // cancels the child's waits too.
    void WaitStateEnd(CState& child, std::string_view pattern, int32_t timeout, int timeoutState);
    // time-out 0: GotoState at once; target < 0: the current state + 1.
    void WaitTime(int32_t timeout, int target);
    // GotoState at once when this program or its parent holds the slot.
    void WaitSync(int index, int target, int32_t timeout, int timeoutState);
    void ReleaseSync(int index);
    // Drops whatever the program waits for and continues it with state s at
    // the next dispatched message, as Start does with state 0. For a caller
    // outside the handler; nothing when the program does not run.
    void Resume(int s);

    int Id() const { return m_iId; }
    bool IsRunning() const { return m_bRunning != 0; }
    int State() const { return m_iState; }
    const std::string& Status() const { return m_sStatus; }
    CScheduler* Scheduler() const { return m_pScheduler; }
    CState* Parent() const { return m_pParent; }
    int ChildCount() const;
    CState* Child(int i) const { return i >= 0 && i < kMaxChildren ? m_apChildren[i] : nullptr; }
    const std::string& Name() const { return m_sName; }
    void SetName(std::string_view name);  // cut at 19 characters

protected:
    int32_t m_iId = 0;
    int32_t m_bRunning = 0;
    int32_t m_iState = 0;
    int32_t m_bRerun = 0;
    std::string m_sStatus = "WORK";
    CScheduler* m_pScheduler;
    CState* m_pParent = nullptr;
    std::array<CState*, kMaxChildren> m_apChildren{};
    std::string m_sName = "Noname";

private:
    friend class CScheduler;
    friend class CEreignisGroup;
    // Registers the group; a refused group is logged and dropped.
    bool Register(std::unique_ptr<CEreignisGroup> group);
    // One event per pattern item, in item order; false when the group is full.
    bool AddPattern(CEreignisGroup& group, std::string_view pattern,
                    const std::function<std::unique_ptr<Event>(const PatternItem&)>& make);
    // The time-out event, when the time-out is not 0.
    bool AddTimeout(CEreignisGroup& group, int32_t timeout, int timeoutState);
};

// Steps all state programs of one process cooperatively. Holds the program
// registry, the waiting groups of every program and the sync slots.
class CScheduler {
public:
    static constexpr int kSlots = 200;  // slot 0 is the head of the active list
    static constexpr int kMaxGroups = 15;
    static constexpr int kSyncSlots = 10;

    explicit CScheduler(IClock& clock);
    ~CScheduler();
    CScheduler(const CScheduler&) = delete;
    CScheduler& operator=(const CScheduler&) = delete;

    // Takes the group into the slot of its owner's id. Refused (false, group
    // dropped, error logged) when the owner is not ours or its slot is full.
    bool Register(std::unique_ptr<CEreignisGroup> group);
    // Offers one message to the waiting groups, lowest program id first; at
    // most one group per program fires. Refused while a dispatch runs.
    void Dispatch(const BusMessage& message);
    // Deletes every group of the program id (and the waits keyed through them).
    void CancelAll(int id);
    // Runs the program's state handler until it stops asking for a rerun.
    void RunProgram(CState& program, const BusMessage& message);

    // The heartbeat must not post while this is set.
    bool IsDispatchBusy() const { return m_bDispatchBusy != 0; }
    IClock& Clock() const { return m_clock; }

    CState* Program(int id) const;
    int GroupCount(int id) const;
    CEreignisGroup* Group(int id, int place) const;
    // The active list: head's next (-1 when empty) and a slot's own links.
    int FirstActive() const { return m_aSlots[0].next; }
    int NextActive(int id) const;
    int PreviousActive(int id) const;

    // Sync slots: a cooperative lock between programs (slot 0 is the bus lock).
    bool TakeSync(int index, CState* holder);
    bool ReleaseSync(int index, const CState* caller);
    bool SyncBusy(int index) const;
    CState* SyncHolder(int index) const;

private:
    friend class CState;

    struct Slot {
        int32_t previous = 0;
        int32_t next = -1;
        std::array<std::unique_ptr<CEreignisGroup>, kMaxGroups> groups;
        int32_t count = 0;
    };

    int EnterProgram(CState* program);
    // Everything that still points at a program that goes away.
    void ForgetProgram(CState* program);
    void Link(int id);
    void Unlink(int id);
    void RemoveGroup(int id, int place);
    void RemoveFiring(int id);
    static bool ValidId(int id) { return id >= 1 && id < kSlots; }
    static bool ValidSync(int index) { return index >= 0 && index < kSyncSlots; }

    IClock& m_clock;
    std::array<Slot, kSlots> m_aSlots;
    std::array<CState*, kSlots> m_apPrograms{};
    std::array<int32_t, kSyncSlots> m_abSyncBusy{};
    std::array<CState*, kSyncSlots> m_apSyncHolder{};
    int32_t m_bDispatchBusy = 0;
    // The group being fired; a cancel during its firing parks it here.
    CEreignisGroup* m_pFiring = nullptr;
    std::unique_ptr<CEreignisGroup> m_pFiringCancelled;
};

} // namespace bv
