#include "control/Scheduler.h"

#include <algorithm>
#include <exception>

#include "control/Messages.h"

#include "platform/Clock.h"
#include "platform/Logging.h"

namespace bv {
namespace {

const log::Logger& schedulerLog()
{
    static const log::Logger instance("CScheduler");
    return instance;
}

const log::Logger& stateLog()
{
    static const log::Logger instance("CState");
    return instance;
}

constexpr const char* kTag = "Scheduler";

} // namespace

// ---------------------------------------------------------------------------
// CState

CState::CState(CScheduler& scheduler) : m_pScheduler(&scheduler)
{
    m_iId = scheduler.EnterProgram(this);
}

CState::~CState()
{
    if (m_pScheduler) {
        m_pScheduler->ForgetProgram(this);
        return;
    }
    // The scheduler went first: mend the direct links at least.
    if (m_pParent)
        std::replace(m_pParent->m_apChildren.begin(), m_pParent->m_apChildren.end(),
                     static_cast<CState*>(this), static_cast<CState*>(nullptr));
    for (CState* child : m_apChildren)
        if (child && child->m_pParent == this)
            child->m_pParent = nullptr;
}

void CState::SetName(std::string_view name)
{
    m_sName = std::string(name.substr(0, 19));
}

int CState::ChildCount() const
{
    return static_cast<int>(std::count_if(m_apChildren.begin(), m_apChildren.end(),
                                          [](CState* c) { return c != nullptr; }));
}

void CState::Start()
{
    if (m_bRunning)
        return;
    if (!m_pScheduler || m_iId == 0) {
        BV_LOG_ERROR(stateLog(), kTag, "Start: program " << m_sName << " has no scheduler slot");
        return;
    }
    auto group = std::make_unique<CEreignisGroup>(this, m_iId);
    group->Add(std::make_unique<NullEvent>(0, this));
    if (!Register(std::move(group)))
        return;
    m_apChildren.fill(nullptr);
    // A restarted program must not show the end word of its previous run to
    // whoever waits for its new one.
    m_sStatus = "WORK";
    m_bRunning = 1;
}

void CState::Resume(int s)
{
    if (!m_bRunning || !m_pScheduler)
        return;
    m_pScheduler->CancelAll(m_iId);
    auto group = std::make_unique<CEreignisGroup>(this, m_iId);
    group->Add(std::make_unique<NullEvent>(s, this));
    Register(std::move(group));
}

void CState::GotoState(int s)
{
    m_iState = s;
    m_bRerun = 1;
}

void CState::End(const std::string& word)
{
    if (!m_bRunning)
        return;
    m_bRunning = 0;
    m_sStatus = word;
    OnEnd();
    const auto children = m_apChildren;
    for (CState* child : children)
        if (child)
            child->End("OK");
    if (m_pScheduler)
        m_pScheduler->CancelAll(m_iId);
    m_bRerun = 0;
}

bool CState::Register(std::unique_ptr<CEreignisGroup> group)
{
    if (!m_pScheduler) {
        BV_LOG_ERROR(stateLog(), kTag, "Register: program " << m_iId << " has no scheduler");
        return false;
    }
    return m_pScheduler->Register(std::move(group));
}

bool CState::AddPattern(CEreignisGroup& group, std::string_view pattern,
                        const std::function<std::unique_ptr<Event>(const PatternItem&)>& make)
{
    for (const PatternItem& item : ParsePattern(pattern, m_iState))
        if (group.Add(make(item)) < 0)
            return false;
    return true;
}

bool CState::AddTimeout(CEreignisGroup& group, int32_t timeout, int timeoutState)
{
    if (timeout == 0)
        return true;
    if (!m_pScheduler)
        return false;
    return group.Add(std::make_unique<TimerEvent>(m_pScheduler->Clock(), timeout, timeoutState, this)) >= 0;
}

void CState::WaitFrame(std::string_view pattern, uint8_t ownAddress, uint8_t deviceAddress,
                       int32_t timeout, int timeoutState)
{
    auto group = std::make_unique<CEreignisGroup>(this, m_iId);
    const bool built = AddPattern(*group, pattern, [&](const PatternItem& item) {
        return std::make_unique<FrameEvent>(item.word, deviceAddress, ownAddress, item.target, this);
    }) && AddTimeout(*group, timeout, timeoutState);
    if (!built) {
        BV_LOG_ERROR(stateLog(), kTag, "WaitFrame: wait of program " << m_iId << " refused");
        return;
    }
    Register(std::move(group));
}

void CState::WaitString(std::string_view pattern, int32_t timeout, int timeoutState)
{
    auto group = std::make_unique<CEreignisGroup>(this, m_iId);
    const bool built = AddPattern(*group, pattern, [&](const PatternItem& item) {
        return std::make_unique<StringEvent>(item.word, item.target, this);
    }) && AddTimeout(*group, timeout, timeoutState);
    if (!built) {
        BV_LOG_ERROR(stateLog(), kTag, "WaitString: wait of program " << m_iId << " refused");
        return;
    }
    Register(std::move(group));
}

void CState::WaitStateEnd(CState& child, std::string_view pattern, int32_t timeout, int timeoutState)
{
    if (child.m_pScheduler != m_pScheduler || child.m_iId == 0) {
        BV_LOG_ERROR(stateLog(), kTag,
                     "WaitStateEnd: program " << child.m_iId << " is not one of this scheduler");
        return;
    }
    auto entered = std::find(m_apChildren.begin(), m_apChildren.end(), &child);
    if (entered == m_apChildren.end())
        entered = std::find(m_apChildren.begin(), m_apChildren.end(), nullptr);
    if (entered == m_apChildren.end()) {
        BV_LOG_ERROR(stateLog(), kTag,
                     "WaitStateEnd: program " << m_iId << " already has " << kMaxChildren << " children");
        return;
    }
    auto group = std::make_unique<CEreignisGroup>(this, child.m_iId);
    const bool built = AddPattern(*group, pattern, [&](const PatternItem& item) {
        return std::make_unique<StateEvent>(&child, item.word, item.target, this);
    }) && AddTimeout(*group, timeout, timeoutState);
    if (!built) {
        BV_LOG_ERROR(stateLog(), kTag, "WaitStateEnd: wait of program " << m_iId << " refused");
        return;
    }
    if (!Register(std::move(group)))
        return;
    *entered = &child;
    child.m_pParent = this;
    child.Start();
}

void CState::WaitTime(int32_t timeout, int target)
{
    if (target < 0)
        target = m_iState + 1;
    if (timeout == 0) {
        GotoState(target);
        return;
    }
    auto group = std::make_unique<CEreignisGroup>(this, m_iId);
    if (!AddTimeout(*group, timeout, target)) {
        BV_LOG_ERROR(stateLog(), kTag, "WaitTime: wait of program " << m_iId << " refused");
        return;
    }
    Register(std::move(group));
}

void CState::WaitSync(int index, int target, int32_t timeout, int timeoutState)
{
    if (!m_pScheduler || index < 0 || index >= CScheduler::kSyncSlots) {
        BV_LOG_ERROR(stateLog(), kTag, "WaitSync: program " << m_iId << ", no sync slot " << index);
        return;
    }
    const CState* holder = m_pScheduler->SyncHolder(index);
    if (holder && (holder == this || holder == m_pParent)) {
        GotoState(target);
        return;
    }
    auto group = std::make_unique<CEreignisGroup>(this, m_iId);
    group->Add(std::make_unique<SyncEvent>(*m_pScheduler, index, target, this));
    if (!AddTimeout(*group, timeout, timeoutState)) {
        BV_LOG_ERROR(stateLog(), kTag, "WaitSync: wait of program " << m_iId << " refused");
        return;
    }
    Register(std::move(group));
}

void CState::ReleaseSync(int index)
{
    if (!m_pScheduler) {
        BV_LOG_ERROR(stateLog(), kTag, "ReleaseSync: program " << m_iId << " has no scheduler");
        return;
    }
    m_pScheduler->ReleaseSync(index, this);
}

// ---------------------------------------------------------------------------
// CScheduler

CScheduler::CScheduler(IClock& clock) : m_clock(clock) {}

CScheduler::~CScheduler()
{
    // Programs may outlive us; they must not reach back into a dead table.
    for (CState* program : m_apPrograms)
        if (program)
            program->m_pScheduler = nullptr;
}

int CScheduler::EnterProgram(CState* program)
{
    for (int id = 1; id < kSlots; ++id) {
        if (!m_apPrograms[id]) {
            m_apPrograms[id] = program;
            return id;
        }
    }
    BV_LOG_ERROR(schedulerLog(), kTag, "program registry full: " << (kSlots - 1) << " programs");
    return 0;
}

void CScheduler::ForgetProgram(CState* program)
{
    const int id = program->m_iId;
    if (!ValidId(id) || m_apPrograms[id] != program)
        return;
    CancelAll(id);
    // Waits of other programs that are keyed with it or watch it.
    for (int slot = 1; slot < kSlots; ++slot) {
        for (int place = 0; place < kMaxGroups; ++place) {
            CEreignisGroup* group = m_aSlots[slot].groups[place].get();
            if (!group || (group->Key() != id && !group->Refers(program)))
                continue;
            if (group == m_pFiring) {
                m_pFiringCancelled = std::move(m_aSlots[slot].groups[place]);
                if (--m_aSlots[slot].count == 0)
                    Unlink(slot);
            } else {
                RemoveGroup(slot, place);
            }
        }
    }
    for (int index = 0; index < kSyncSlots; ++index) {
        if (m_apSyncHolder[index] == program) {
            m_apSyncHolder[index] = nullptr;
            m_abSyncBusy[index] = 0;
        }
    }
    for (CState* other : m_apPrograms) {
        if (!other || other == program)
            continue;
        std::replace(other->m_apChildren.begin(), other->m_apChildren.end(), program,
                     static_cast<CState*>(nullptr));
        if (other->m_pParent == program)
            other->m_pParent = nullptr;
    }
    m_apPrograms[id] = nullptr;
}

CState* CScheduler::Program(int id) const
{
    return ValidId(id) ? m_apPrograms[id] : nullptr;
}

int CScheduler::GroupCount(int id) const
{
    return id >= 0 && id < kSlots ? m_aSlots[id].count : 0;
}

CEreignisGroup* CScheduler::Group(int id, int place) const
{
    if (id < 0 || id >= kSlots || place < 0 || place >= kMaxGroups)
        return nullptr;
    return m_aSlots[id].groups[place].get();
}

int CScheduler::NextActive(int id) const
{
    return id >= 0 && id < kSlots ? m_aSlots[id].next : -1;
}

int CScheduler::PreviousActive(int id) const
{
    return id >= 0 && id < kSlots ? m_aSlots[id].previous : 0;
}

bool CScheduler::Register(std::unique_ptr<CEreignisGroup> group)
{
    if (!group)
        return false;
    CState* owner = group->Owner();
    const int id = owner ? owner->m_iId : 0;
    if (!owner || owner->m_pScheduler != this || !ValidId(id) || m_apPrograms[id] != owner) {
        BV_LOG_ERROR(schedulerLog(), kTag, "Register: group of program " << id << " refused: not ours");
        return false;
    }
    Slot& slot = m_aSlots[id];
    auto free = std::find(slot.groups.begin(), slot.groups.end(), nullptr);
    if (free == slot.groups.end()) {
        BV_LOG_ERROR(schedulerLog(), kTag,
                     "Register: program " << id << " already waits on " << kMaxGroups << " groups; refused");
        return false;
    }
    *free = std::move(group);
    if (slot.count++ == 0)
        Link(id);
    return true;
}

void CScheduler::Link(int id)
{
    int before = 0;
    while (m_aSlots[before].next != -1 && m_aSlots[before].next < id)
        before = m_aSlots[before].next;
    const int after = m_aSlots[before].next;
    m_aSlots[id].previous = before;
    m_aSlots[id].next = after;
    m_aSlots[before].next = id;
    if (after != -1)
        m_aSlots[after].previous = id;
}

void CScheduler::Unlink(int id)
{
    // The slot keeps its own links: a dispatch standing on it goes on from there.
    const Slot& slot = m_aSlots[id];
    if (slot.next != -1)
        m_aSlots[slot.next].previous = slot.previous;
    m_aSlots[slot.previous].next = slot.next;
}

void CScheduler::RemoveGroup(int id, int place)
{
    Slot& slot = m_aSlots[id];
    if (!slot.groups[place])
        return;
    slot.groups[place].reset();
    if (--slot.count == 0)
        Unlink(id);
}

void CScheduler::RemoveFiring(int id)
{
    // The handler may have cancelled and re-registered: remove this very
    // group, not whatever holds its old place now.
    for (int place = 0; place < kMaxGroups; ++place) {
        if (m_aSlots[id].groups[place].get() == m_pFiring) {
            RemoveGroup(id, place);
            return;
        }
    }
}

void CScheduler::CancelAll(int id)
{
    if (!ValidId(id) || m_aSlots[id].count == 0)
        return;
    // Take the groups out first: a key that leads back here finds nothing.
    auto taken = std::move(m_aSlots[id].groups);
    m_aSlots[id].groups = {};
    m_aSlots[id].count = 0;
    Unlink(id);
    for (auto& group : taken) {
        if (!group)
            continue;
        if (group->Key() != id)
            CancelAll(group->Key());
        if (group.get() == m_pFiring)
            m_pFiringCancelled = std::move(group);  // still inside its Fire
        else
            group.reset();
    }
}

void CScheduler::RunProgram(CState& program, const BusMessage& message)
{
    // A handler that throws ends its own program, not the process: the other
    // programs must carry on, so it gives back the bus lock and every slot.
    try {
        do {
            program.m_bRerun = 0;
            program.m_sStatus = "WORK";
            program.Run(message);
        } while (program.m_bRerun);
        return;
    } catch (const std::exception& e) {
        BV_LOG_ERROR(schedulerLog(), kTag, "program " << program.m_sName << " (" << program.m_iId << ") state "
                                                      << program.m_iState << " threw: " << e.what());
    } catch (...) {
        BV_LOG_ERROR(schedulerLog(), kTag, "program " << program.m_sName << " (" << program.m_iId << ") state "
                                                      << program.m_iState << " threw");
    }
    try {
        program.End(kEndFailed);
    } catch (...) {
        BV_LOG_ERROR(schedulerLog(), kTag, "program " << program.m_sName << ": its end threw as well");
        program.m_bRunning = 0;
        program.m_sStatus = kEndFailed;
        CancelAll(program.m_iId);
    }
    program.m_bRerun = 0;
    for (int index = 0; index < kSyncSlots; ++index)
        ReleaseSync(index, &program);
}

void CScheduler::Dispatch(const BusMessage& message)
{
    if (m_bDispatchBusy) {
        BV_LOG_DEBUG(schedulerLog(), kTag, "Dispatch: busy, message dropped");
        return;
    }
    m_bDispatchBusy = 1;
    // The flag stays set for the whole walk: a handler that opens a nested
    // event loop must not let a second dispatch fire groups this walk holds.
    // A handler that throws must not leave the scheduler locked, nor its
    // group behind to fire again.
    struct Done {
        CScheduler& s;
        int slot = 0;
        ~Done()
        {
            if (s.m_pFiring && !s.m_pFiringCancelled)
                s.RemoveFiring(slot);
            s.m_pFiring = nullptr;
            s.m_pFiringCancelled.reset();
            s.m_bDispatchBusy = 0;
        }
    } done{*this};

    int id = m_aSlots[0].next;
    while (ValidId(id)) {
        Slot& slot = m_aSlots[id];
        CEreignisGroup* match = nullptr;
        for (auto& group : slot.groups) {
            if (group && group->Matches(message)) {
                match = group.get();
                break;
            }
        }
        if (match) {
            m_pFiring = match;
            done.slot = id;
            if (match->Key() != id)
                CancelAll(match->Key());
            if (!m_pFiringCancelled)
                match->Fire(message);
            if (!m_pFiringCancelled)
                RemoveFiring(id);
            m_pFiring = nullptr;
            m_pFiringCancelled.reset();
        }
        id = slot.next;
    }
}

bool CScheduler::TakeSync(int index, CState* holder)
{
    if (!ValidSync(index)) {
        BV_LOG_ERROR(schedulerLog(), kTag, "TakeSync: no sync slot " << index);
        return false;
    }
    if (m_abSyncBusy[index])
        return false;
    m_abSyncBusy[index] = 1;
    m_apSyncHolder[index] = holder;
    return true;
}

bool CScheduler::ReleaseSync(int index, const CState* caller)
{
    if (!ValidSync(index)) {
        BV_LOG_ERROR(schedulerLog(), kTag, "ReleaseSync: no sync slot " << index);
        return false;
    }
    if (!m_abSyncBusy[index] || !caller || m_apSyncHolder[index] != caller)
        return false;
    m_abSyncBusy[index] = 0;
    m_apSyncHolder[index] = nullptr;
    return true;
}

bool CScheduler::SyncBusy(int index) const
{
    return ValidSync(index) && m_abSyncBusy[index] != 0;
}

CState* CScheduler::SyncHolder(int index) const
{
    return ValidSync(index) ? m_apSyncHolder[index] : nullptr;
}

} // namespace bv
