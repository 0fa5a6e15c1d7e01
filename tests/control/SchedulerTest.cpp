#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "control/Scheduler.h"
#include "Harness.h"

namespace bv {
namespace {

using test::Bench;
using test::Script;
using Trace = std::vector<std::string>;

TEST(Scheduler, StartRunsStateZeroOnTheNextMessageOnce)
{
    Bench b;
    Script p(b.scheduler);
    EXPECT_GE(p.Id(), 1);
    EXPECT_EQ(p.Name(), "Noname");
    EXPECT_EQ(p.Status(), "WORK");
    p.Start();
    p.Start();  // already running: still one NullEvent group
    EXPECT_TRUE(p.IsRunning());
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), 1);
    b.time();
    b.time();
    EXPECT_EQ(p.visited, (std::vector<int>{0}));
}

TEST(Scheduler, LowerIdFirstAndActiveListInIdOrder)
{
    Bench b;
    Trace trace;
    Script a(b.scheduler, &trace), c(b.scheduler, &trace), d(b.scheduler, &trace);
    for (Script* s : {&a, &c, &d})
        s->states[0] = [](Script& p, const BusMessage&) { p.WaitFrame("al:5", 0, 0, 0, 0); };
    // Registered in reverse id order.
    d.Start();
    a.Start();
    EXPECT_EQ(b.scheduler.FirstActive(), a.Id());
    EXPECT_EQ(b.scheduler.NextActive(a.Id()), d.Id());
    EXPECT_EQ(b.scheduler.PreviousActive(d.Id()), a.Id());
    c.Start();
    EXPECT_EQ(b.scheduler.NextActive(a.Id()), c.Id());
    EXPECT_EQ(b.scheduler.NextActive(c.Id()), d.Id());
    b.time();
    trace.clear();
    b.frame(64, 113, "al");
    const std::string ia = std::to_string(a.Id()), ic = std::to_string(c.Id()), id = std::to_string(d.Id());
    EXPECT_EQ(trace, (Trace{ia + ":5", ic + ":5", id + ":5"}));
    EXPECT_EQ(b.scheduler.FirstActive(), -1);
}

TEST(Scheduler, OneGroupPerProgramPerMessage)
{
    Bench b;
    Script p(b.scheduler);
    p.states[0] = [](Script& s, const BusMessage&) {
        s.WaitFrame("", 0, 0, 0, 0);  // alarm wait: any frame, state 1
        s.WaitFrame("al:20", 0, 0, 0, 0);
    };
    p.Start();
    b.time();
    b.frame(64, 113, "al");
    EXPECT_EQ(p.visited, (std::vector<int>{0, 1}));
    ASSERT_EQ(b.scheduler.GroupCount(p.Id()), 1);  // the step wait stays
    b.frame(64, 113, "al");
    EXPECT_EQ(p.visited, (std::vector<int>{0, 1, 20}));
}

TEST(Scheduler, EndStopsWaitsAndKeepsTheFirstEndWord)
{
    Bench b;
    Script p(b.scheduler);
    p.states[0] = [](Script& s, const BusMessage&) {
        s.WaitFrame("al:1", 0, 0, 0, 0);
        s.WaitTime(100, 2);
    };
    p.Start();
    b.time();
    p.End("FEHLER1");
    EXPECT_FALSE(p.IsRunning());
    EXPECT_EQ(p.Status(), "FEHLER1");
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), 0);
    EXPECT_EQ(b.scheduler.FirstActive(), -1);
    p.End("OK");
    EXPECT_EQ(p.Status(), "FEHLER1");
    EXPECT_EQ(p.ends, 1);
    // It can be started again, from state 0.
    p.states.erase(0);
    p.Start();
    EXPECT_EQ(p.Status(), "WORK");
    b.time();
    EXPECT_EQ(p.visited.back(), 0);
}

TEST(Scheduler, RestartInsideItsOwnHandlerKeepsTheNewStart)
{
    Bench b;
    Script p(b.scheduler);
    int rounds = 0;
    p.states[0] = [&](Script& s, const BusMessage&) {
        if (++rounds > 2)
            return;
        s.End("OK");
        s.Start();
    };
    p.Start();
    b.time();
    EXPECT_TRUE(p.IsRunning());
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), 1);
    b.time();
    b.time();
    EXPECT_EQ(rounds, 3);
}

TEST(Scheduler, WaitSyncTakesReleasesAndPassesHolderAndParent)
{
    Bench b;
    Script holder(b.scheduler), other(b.scheduler), child(b.scheduler);
    holder.states[0] = [](Script& s, const BusMessage&) { s.WaitSync(0, 5, 30000, 50); };
    holder.states[5] = [&](Script& s, const BusMessage&) {
        s.WaitSync(0, 6, 30000, 50);  // held by itself: on at once
    };
    holder.states[6] = [&](Script& s, const BusMessage&) { s.WaitStateEnd(child, "OK:7", 0, 0); };
    child.states[0] = [](Script& s, const BusMessage&) { s.WaitSync(0, 3, 30000, 50); };
    child.states[3] = [](Script& s, const BusMessage&) { s.End("OK"); };
    other.states[0] = [](Script& s, const BusMessage&) { s.WaitSync(0, 5, 1000, 50); };

    holder.Start();
    b.time();  // state 0 registers the lock wait
    b.time();  // takes the lock; the child (higher id) starts in the same walk
    EXPECT_EQ(holder.visited, (std::vector<int>{0, 5, 6}));
    EXPECT_EQ(b.scheduler.SyncHolder(0), &holder);
    EXPECT_EQ(child.Parent(), &holder);
    // The parent holds the lock, so the child goes on without it.
    EXPECT_EQ(child.visited, (std::vector<int>{0, 3}));
    EXPECT_EQ(child.Status(), "OK");
    b.time();
    EXPECT_EQ(holder.State(), 7);

    other.Start();
    b.time();
    b.time();
    EXPECT_EQ(other.State(), 0);  // waits for the lock
    other.ReleaseSync(0);         // not the holder: nothing
    EXPECT_EQ(b.scheduler.SyncHolder(0), &holder);
    holder.ReleaseSync(0);
    EXPECT_FALSE(b.scheduler.SyncBusy(0));
    b.time();
    EXPECT_EQ(other.State(), 5);
    EXPECT_EQ(b.scheduler.SyncHolder(0), &other);
}

TEST(Scheduler, WaitSyncTimesOut)
{
    Bench b;
    ASSERT_TRUE(b.scheduler.TakeSync(0, nullptr));
    Script p(b.scheduler);
    p.states[0] = [](Script& s, const BusMessage&) { s.WaitSync(0, 5, 1000, 50); };
    p.Start();
    b.time();
    for (int i = 0; i < 11; ++i)
        b.tick();
    EXPECT_EQ(p.State(), 0);
    b.tick();
    EXPECT_EQ(p.State(), 50);
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), 0);
}

TEST(Scheduler, WaitStateEndAndCancelThroughTheChildsKey)
{
    Bench b;
    Script parent(b.scheduler), child(b.scheduler);
    child.states[0] = [](Script& s, const BusMessage&) { s.WaitFrame("never", 0, 0, 0, 0); };
    parent.states[0] = [&](Script& s, const BusMessage&) { s.WaitStateEnd(child, "OK:10", 500, 20); };
    parent.Start();
    b.time();
    ASSERT_TRUE(child.IsRunning());
    b.time();  // child waits now
    EXPECT_EQ(b.scheduler.GroupCount(child.Id()), 1);
    ASSERT_NE(test::firstGroup(b.scheduler, parent.Id()), nullptr);
    EXPECT_EQ(test::firstGroup(b.scheduler, parent.Id())->Key(), child.Id());
    b.clock.advance(501);
    b.time();
    EXPECT_EQ(parent.State(), 20);
    // The time-out cancelled the child's waits along with the parent's group.
    EXPECT_EQ(b.scheduler.GroupCount(child.Id()), 0);
    EXPECT_EQ(b.scheduler.GroupCount(parent.Id()), 0);

    // The good road: the child's end word moves the parent.
    child.End("FEHLER1");
    child.states[0] = [](Script& s, const BusMessage&) { s.End("OK"); };
    parent.states[20] = [&](Script& s, const BusMessage&) { s.WaitStateEnd(child, "OK:30;FEHLER1:40", 0, 0); };
    parent.GotoState(20);
    b.scheduler.RunProgram(parent, BusMessage::Time());
    EXPECT_EQ(child.Status(), "WORK");  // not its previous end word
    b.time();
    b.time();
    EXPECT_EQ(parent.State(), 30);
    EXPECT_EQ(parent.ChildCount(), 1);  // entered once
}

TEST(Scheduler, EndOfParentEndsChildrenWithOk)
{
    Bench b;
    Script parent(b.scheduler), child(b.scheduler);
    child.states[0] = [](Script& s, const BusMessage&) { s.WaitFrame("never", 0, 0, 0, 0); };
    parent.states[0] = [&](Script& s, const BusMessage&) { s.WaitStateEnd(child, "ALL:5", 0, 0); };
    parent.Start();
    b.time();
    b.time();
    parent.End("FEHLER1");
    EXPECT_FALSE(child.IsRunning());
    EXPECT_EQ(child.Status(), "OK");
    EXPECT_EQ(b.scheduler.FirstActive(), -1);
}

TEST(Scheduler, ReentryIsRefusedForTheWholeDispatch)
{
    Bench b;
    Script first(b.scheduler), second(b.scheduler);
    bool busySeen = false;
    first.states[0] = [](Script& s, const BusMessage&) { s.WaitFrame("go:1", 0, 0, 0, 0); };
    second.states[0] = [](Script& s, const BusMessage&) { s.WaitFrame("go:1", 0, 0, 0, 0); };
    // The second program's handler runs after the first one fired and tries
    // a nested dispatch, as a modal box's timer would.
    second.states[1] = [&](Script&, const BusMessage&) {
        busySeen = b.scheduler.IsDispatchBusy();
        first.WaitFrame("again:2", 0, 0, 0, 0);
        b.frame(64, 1, "again");
    };
    first.Start();
    second.Start();
    b.time();
    b.frame(64, 1, "go");
    EXPECT_TRUE(busySeen);
    EXPECT_EQ(first.visited, (std::vector<int>{0, 1}));
    EXPECT_FALSE(b.scheduler.IsDispatchBusy());
    b.frame(64, 1, "again");
    EXPECT_EQ(first.State(), 2);
}

TEST(Scheduler, HandlerThatThrowsEndsItsProgramAndFreesTheBusForTheOthers)
{
    Bench b;
    Script p(b.scheduler), other(b.scheduler);
    p.states[0] = [](Script& s, const BusMessage&) { s.WaitSync(0, 1, 0, 0); };
    p.states[1] = [](Script& s, const BusMessage&) { s.WaitSync(3, 2, 0, 0); };
    p.states[2] = [](Script&, const BusMessage&) { throw std::runtime_error("boom"); };
    other.states[0] = [](Script& s, const BusMessage&) { s.WaitSync(0, 5, 0, 0); };
    p.Start();
    b.time();
    b.time();
    EXPECT_TRUE(b.scheduler.SyncBusy(0));
    EXPECT_NO_THROW(b.time());
    EXPECT_FALSE(p.IsRunning());
    EXPECT_EQ(p.Status(), "FEHLER1");
    EXPECT_EQ(p.ends, 1);
    EXPECT_FALSE(b.scheduler.IsDispatchBusy());
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), 0);
    EXPECT_FALSE(b.scheduler.SyncBusy(0));
    EXPECT_FALSE(b.scheduler.SyncBusy(3));
    other.Start();
    b.time();
    b.time();
    EXPECT_EQ(other.State(), 5);
    EXPECT_EQ(p.visited, (std::vector<int>{0, 1, 2}));
}

TEST(Scheduler, LimitsAreRefusedAndChangeNothing)
{
    Bench b;
    std::vector<std::unique_ptr<Script>> programs;
    for (int i = 1; i < CScheduler::kSlots; ++i)
        programs.push_back(std::make_unique<Script>(b.scheduler));
    EXPECT_EQ(programs.back()->Id(), 199);
    Script extra(b.scheduler);
    EXPECT_EQ(extra.Id(), 0);
    extra.Start();
    EXPECT_FALSE(extra.IsRunning());
    EXPECT_EQ(b.scheduler.FirstActive(), -1);
    programs[4].reset();  // id 5 is free again
    Script late(b.scheduler);
    EXPECT_EQ(late.Id(), 5);

    // Groups per program: the start group and 14 waits fill the slot.
    Script& p = *programs[0];
    p.Start();
    for (int i = 0; i < CScheduler::kMaxGroups; ++i)
        p.WaitFrame("x:" + std::to_string(i + 1), 0, 0, 0, 0);
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), CScheduler::kMaxGroups);
    b.time();  // the start group fires
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), CScheduler::kMaxGroups - 1);
    b.frame(64, 1, "x");
    EXPECT_EQ(p.State(), 1);
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), CScheduler::kMaxGroups - 2);
    p.End("OK");

    // Children per program.
    Script& parent = *programs[1];
    parent.states[0] = [&](Script& s, const BusMessage&) {
        for (int i = 0; i < CState::kMaxChildren + 1; ++i)
            s.WaitStateEnd(*programs[10 + i], "OK:1", 0, 0);
    };
    parent.Start();
    b.time();
    EXPECT_EQ(parent.ChildCount(), CState::kMaxChildren);
    EXPECT_EQ(b.scheduler.GroupCount(parent.Id()), CState::kMaxChildren);
    Script& refused = *programs[10 + CState::kMaxChildren];
    EXPECT_FALSE(refused.IsRunning());
    EXPECT_EQ(refused.Parent(), nullptr);

    // Sync slots outside 0..9.
    Script& q = *programs[2];
    q.states[0] = [](Script& s, const BusMessage&) {
        s.WaitSync(10, 5, 0, 0);
        s.WaitSync(-1, 5, 0, 0);
        s.ReleaseSync(10);
    };
    q.Start();
    b.time();
    EXPECT_EQ(q.visited, (std::vector<int>{0}));
    EXPECT_EQ(b.scheduler.GroupCount(q.Id()), 0);
    EXPECT_FALSE(b.scheduler.TakeSync(10, &q));
    EXPECT_FALSE(b.scheduler.SyncBusy(10));
}

TEST(Scheduler, DestroyedProgramLeavesNothingBehind)
{
    Bench b;
    Script parent(b.scheduler);
    auto child = std::make_unique<Script>(b.scheduler);
    const int childId = child->Id();
    child->states[0] = [](Script& s, const BusMessage&) { s.WaitSync(0, 1, 0, 0); };
    child->states[1] = [](Script& s, const BusMessage&) { s.WaitFrame("never", 0, 0, 1000, 2); };
    parent.states[0] = [&](Script& s, const BusMessage&) { s.WaitStateEnd(*child, "OK:5", 0, 0); };
    parent.Start();
    b.time();
    b.time();
    ASSERT_EQ(b.scheduler.SyncHolder(0), child.get());
    child.reset();
    EXPECT_FALSE(b.scheduler.SyncBusy(0));
    EXPECT_EQ(b.scheduler.GroupCount(childId), 0);
    EXPECT_EQ(b.scheduler.GroupCount(parent.Id()), 0);  // its wait watched the child
    EXPECT_EQ(parent.ChildCount(), 0);
    EXPECT_EQ(b.scheduler.Program(childId), nullptr);
    b.clock.advance(2000);
    b.time();
    EXPECT_EQ(parent.State(), 0);
}

TEST(Scheduler, WatchedProgramDestroyedWhileItsWaitFires)
{
    Bench b;
    auto victim = std::make_unique<Script>(b.scheduler);
    Script killer(b.scheduler);
    victim->states[0] = [](Script& s, const BusMessage&) { s.WaitFrame("x:1", 0, 0, 0, 0); };
    killer.states[0] = [&](Script& s, const BusMessage&) { s.WaitStateEnd(*victim, "ALL:1", 0, 0); };
    killer.states[1] = [&](Script&, const BusMessage&) { victim.reset(); };
    killer.Start();
    b.time();
    b.time();
    victim->End("OK");
    b.time();  // killer fires on a group keyed with the victim, and destroys it
    EXPECT_EQ(victim, nullptr);
    EXPECT_EQ(killer.State(), 1);
    EXPECT_EQ(b.scheduler.FirstActive(), -1);
}

TEST(Scheduler, SchedulersAreIndependent)
{
    ManualClock clock;
    CScheduler one(clock), two(clock);
    test::Script a(one), c(two);
    EXPECT_EQ(a.Id(), 1);
    EXPECT_EQ(c.Id(), 1);
    EXPECT_TRUE(one.TakeSync(0, &a));
    EXPECT_TRUE(two.TakeSync(0, &c));
    // A group of another scheduler's program is refused.
    auto group = std::make_unique<CEreignisGroup>(&c, c.Id());
    group->Add(std::make_unique<NullEvent>(0, &c));
    EXPECT_FALSE(one.Register(std::move(group)));
    EXPECT_EQ(one.GroupCount(1), 0);
}

TEST(Scheduler, ProgramMayOutliveItsScheduler)
{
    ManualClock clock;
    auto scheduler = std::make_unique<CScheduler>(clock);
    Script p(*scheduler);
    p.Start();
    scheduler.reset();
    EXPECT_EQ(p.Scheduler(), nullptr);
    p.End("OK");
    EXPECT_EQ(p.Status(), "OK");
}

} // namespace
} // namespace bv
