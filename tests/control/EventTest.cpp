#include <gtest/gtest.h>

#include "control/Events.h"
#include "control/Scheduler.h"
#include "Harness.h"

namespace bv {
namespace {

using test::Bench;
using test::makeFrame;
using test::Script;

TEST(Pattern, ItemsLeftToRightWithTargets)
{
    using V = std::vector<PatternItem>;
    EXPECT_EQ(ParsePattern("Typ:50;Error:100", 7), (V{{"Typ", 50}, {"Error", 100}}));
    EXPECT_EQ(ParsePattern("asa:30;schieber:40", 7), (V{{"asa", 30}, {"schieber", 40}}));
    // A bare word stands for the current state + 1, also when it is not last.
    EXPECT_EQ(ParsePattern("Ready", 7), (V{{"Ready", 8}}));
    EXPECT_EQ(ParsePattern("a;b:3", 7), (V{{"a", 8}, {"b", 3}}));
    // The state is the leading digits; a trailing ';' adds no item.
    EXPECT_EQ(ParsePattern("al:20x;", 0), (V{{"al", 20}}));
    EXPECT_EQ(ParsePattern("x:", 0), (V{{"x", 0}}));
}

// A program in state 5 that waits on the pattern; returns the state it went to.
int answerState(const std::string& pattern, const std::string& answer)
{
    Bench b;
    Script p(b.scheduler);
    p.states[0] = [&](Script& s, const BusMessage&) { s.GotoState(5); };
    p.states[5] = [&](Script& s, const BusMessage&) { s.WaitFrame(pattern, 64, 113, 0, 0); };
    p.Start();
    b.time();
    b.frame(64, 113, answer);
    return p.State();
}

TEST(FrameEvent, AnswerWordMustStandAtTheStart)
{
    EXPECT_EQ(answerState("Typ:50;Error:100", "Typ 3 4 FlowMin 4.0"), 50);
    EXPECT_EQ(answerState("Typ:50;Error:100", "Error 7"), 100);
    EXPECT_EQ(answerState("Typ:50;Error:100", "xTyp 3 4"), 5);
    EXPECT_EQ(answerState("asa:30;schieber:40", "schieber klemmt"), 40);
    EXPECT_EQ(answerState("Ready", "Ready"), 6);
    EXPECT_EQ(answerState("Typ", "Ty"), 5);          // shorter than the word
    EXPECT_EQ(answerState("typ:50", "Typ 3 4"), 5);   // case-sensitive
    // The leftmost matching item wins.
    EXPECT_EQ(answerState("a:1;ab:2", "abc"), 1);
}

TEST(FrameEvent, AddressesAndWildcards)
{
    const BusMessage time = BusMessage::Time();
    FrameEvent specific("al", 113, 64, 1, nullptr);
    FrameEvent any("", 0, 0, 1, nullptr);
    FrameEvent timeWord("Time", 0, 0, 1, nullptr);

    const FRAME good = makeFrame(64, 113, "al PL=1");
    const FRAME otherDevice = makeFrame(64, 112, "al PL=1");
    const FRAME otherOwn = makeFrame(65, 113, "al PL=1");
    const FRAME adapterText = makeFrame(0, 0, "al PL=1", kTextFromAdapter);
    const FRAME empty = makeFrame(64, 113, "");
    const FRAME timeText = makeFrame(64, 113, "Time");

    EXPECT_TRUE(specific.Matches(BusMessage(good)));
    EXPECT_FALSE(specific.Matches(BusMessage(otherDevice)));
    EXPECT_FALSE(specific.Matches(BusMessage(otherOwn)));
    EXPECT_FALSE(specific.Matches(BusMessage(adapterText)));
    // Both addresses 0: any sender, the adapter's own texts included.
    EXPECT_TRUE(any.Matches(BusMessage(otherDevice)));
    EXPECT_TRUE(any.Matches(BusMessage(adapterText)));
    // Empty text never matches, not even the empty word.
    EXPECT_FALSE(any.Matches(BusMessage(empty)));
    // A time message is no frame, whatever the word.
    EXPECT_FALSE(timeWord.Matches(time));
    EXPECT_FALSE(any.Matches(time));
    EXPECT_TRUE(timeWord.Matches(BusMessage(timeText)));
    EXPECT_EQ(time.GetText(), "Time");
    EXPECT_EQ(BusMessage(good).GetText(), "al PL=1");
}

TEST(StringEvent, MessageTextInsideTheWord)
{
    StringEvent e("xxReadyxx", 1, nullptr);
    const FRAME ready = makeFrame(64, 113, "Ready");
    const FRAME other = makeFrame(64, 113, "Busy");
    const FRAME empty = makeFrame(64, 113, "");
    EXPECT_TRUE(e.Matches(BusMessage(ready)));
    EXPECT_FALSE(e.Matches(BusMessage(other)));
    EXPECT_FALSE(e.Matches(BusMessage(empty)));
}

TEST(TimerEvent, FiresOnlyAfterTheTimeoutHasRunOut)
{
    ManualClock clock(5000);
    TimerEvent t(clock, 500, 1, nullptr);
    const BusMessage m = BusMessage::Time();
    clock.set(5500);
    EXPECT_FALSE(t.Matches(m));
    clock.set(5501);
    EXPECT_TRUE(t.Matches(m));

    // A negative time-out (an overrun cycle) fires at the first look, also
    // when it would reach below tick 0.
    clock.set(5000);
    TimerEvent overrun(clock, -5, 1, nullptr);
    EXPECT_TRUE(overrun.Matches(m));
    clock.set(2);
    TimerEvent overrunAtZero(clock, -5, 1, nullptr);
    EXPECT_TRUE(overrunAtZero.Matches(m));
}

TEST(TimerEvent, WrapOfTheTickCount)
{
    ManualClock clock(0xFFFFFF00u);
    TimerEvent t(clock, 0x200, 1, nullptr);
    const BusMessage m = BusMessage::Time();
    EXPECT_EQ(t.m_dwDeadline, 0x100u);
    EXPECT_FALSE(t.Matches(m));           // just created: deadline below start must not fire
    clock.set(0xFFFFFFFFu);
    EXPECT_FALSE(t.Matches(m));
    clock.set(0x50);
    EXPECT_FALSE(t.Matches(m));
    clock.set(0x100);
    EXPECT_FALSE(t.Matches(m));
    clock.set(0x101);
    EXPECT_TRUE(t.Matches(m));
}

TEST(Group, SixteenthEventIsRefused)
{
    CEreignisGroup g(nullptr, 1);
    for (int i = 0; i < CEreignisGroup::kMaxEvents; ++i)
        ASSERT_EQ(g.Add(std::make_unique<NullEvent>(i, nullptr)), i);
    EXPECT_EQ(g.Add(std::make_unique<NullEvent>(99, nullptr)), -1);
    EXPECT_EQ(g.Count(), CEreignisGroup::kMaxEvents);
    ASSERT_TRUE(g.Matches(BusMessage::Time()));
    EXPECT_EQ(g.Fired()->m_iTargetState, 0);
}

TEST(WaitTime, ZeroGoesOnAtOnceAndMinusOneMeansNextState)
{
    Bench b;
    Script p(b.scheduler);
    p.states[0] = [](Script& s, const BusMessage&) { s.WaitTime(0, 7); };
    p.states[7] = [](Script& s, const BusMessage&) { s.WaitTime(300, -1); };
    p.Start();
    b.time();
    EXPECT_EQ(p.visited, (std::vector<int>{0, 7}));  // same message, no wait
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), 1);
    b.clock.advance(300);
    b.time();
    EXPECT_EQ(p.State(), 7);
    b.clock.advance(1);
    b.time();
    EXPECT_EQ(p.visited, (std::vector<int>{0, 7, 8}));
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), 0);
}

TEST(WaitFrame, AnswerAndTimeoutCancelEachOther)
{
    Bench b;
    Script p(b.scheduler);
    p.states[0] = [](Script& s, const BusMessage&) { s.WaitFrame("al:20", 64, 113, 1000, 15); };
    p.Start();
    b.time();
    b.frame(64, 113, "al PL=3");
    EXPECT_EQ(p.State(), 20);
    EXPECT_EQ(b.scheduler.GroupCount(p.Id()), 0);  // the pending time-out went with the group
    b.clock.advance(5000);
    b.time();
    EXPECT_EQ(p.visited, (std::vector<int>{0, 20}));
}

TEST(WaitFrame, PatternTooLongForOneGroupIsRefused)
{
    Bench b;
    Script p(b.scheduler);
    std::string fifteen;
    for (int i = 0; i < 15; ++i)
        fifteen += "w" + std::to_string(i) + ":" + std::to_string(i + 1) + ";";
    p.states[0] = [&](Script& s, const BusMessage&) {
        s.WaitFrame(fifteen, 0, 0, 1000, 99);  // 15 items + time-out: one too many
        s.WaitFrame(fifteen, 0, 0, 0, 99);      // exactly 15
    };
    p.Start();
    b.time();
    ASSERT_EQ(b.scheduler.GroupCount(p.Id()), 1);
    CEreignisGroup* kept = test::firstGroup(b.scheduler, p.Id());
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->Count(), 15);
}

} // namespace
} // namespace bv
