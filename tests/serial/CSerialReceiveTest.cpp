#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "SerialBench.h"

namespace bv::test {
namespace {

using SerialReceive = SerialBench;

TEST_F(SerialReceive, NothingIsReadWithoutAPort)
{
    bus.sendFrame(64, 113, "Ready");
    clock.advance(100);
    EXPECT_EQ(link.ReadAvailable(), 0);
    EXPECT_EQ(link.ExtractFrames(), 0);
}

TEST_F(SerialReceive, NothingIsReadWhenThePortIsNotRequired)
{
    open();
    link.setPortRequired(0);
    bus.sendFrame(64, 113, "Ready");
    clock.advance(100);
    EXPECT_EQ(link.ReadAvailable(), 0);
}

TEST_F(SerialReceive, ReplySplitOverTwoTicksCompletesOnTheSecond)
{
    open();
    bus.splitNextReply(4, 150);
    ASSERT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    auto first = tick();
    ASSERT_EQ(first.size(), 1u);  // our own echo only
    EXPECT_EQ(first[0].source, 64);
    EXPECT_EQ(link.bytesInRing(), 4u);

    auto second = tick();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].source, 113);
    EXPECT_EQ(second[0].payload, "Ready");
    EXPECT_EQ(link.allErrors(), 0);
    EXPECT_EQ(link.waitCount(), 0);
}

TEST_F(SerialReceive, IncompleteFrameIsGivenUpByteByByte)
{
    open();
    const std::string payload(40, 'p');  // need = 49, so 49 / 30 + 2 = 3 attempts are allowed
    bus.splitNextReply(20, 60000);
    bus.sendFrame(64, 113, payload);
    clock.advance(100);
    ASSERT_EQ(link.ReadAvailable(), 20);

    for (int attempt = 1; attempt <= 3; ++attempt) {
        EXPECT_EQ(link.ExtractFrames(), 0);
        EXPECT_EQ(link.timeouts(), 0) << "attempt " << attempt;
        EXPECT_EQ(link.bytesInRing(), 20u);
    }
    EXPECT_EQ(link.ExtractFrames(), 0);
    EXPECT_EQ(link.timeouts(), 1);
    EXPECT_EQ(link.allErrors(), 1);
    EXPECT_EQ(link.checkErrors(), 0);
    EXPECT_LT(link.bytesInRing(), 20u);
}

TEST_F(SerialReceive, StrayBytesBeforeAFrameAreSkippedWithoutCounting)
{
    open();
    bus.injectBytes({1, 2, 3});
    bus.sendFrame(64, 113, "Ready");
    clock.advance(100);
    link.ReadAvailable();
    EXPECT_EQ(link.ExtractFrames(), 1);
    EXPECT_EQ(link.allErrors(), 0);
}

TEST_F(SerialReceive, WakeUpBytesAreDroppedWithoutCounting)
{
    open();
    bus.injectBytes(std::vector<uint8_t>(10, 0xAA));
    bus.sendFrame(64, 113, "Ready");
    clock.advance(100);
    EXPECT_EQ(link.ReadAvailable(), 10 + 14);
    EXPECT_EQ(link.ExtractFrames(), 1);
    ASSERT_EQ(link.receivedFrames().size(), 1u);
    EXPECT_EQ(link.receivedFrames().front()->text(), "Ready");
    EXPECT_EQ(link.allErrors(), 0);
    EXPECT_EQ(link.timeouts(), 0);
    EXPECT_EQ(link.checkErrors(), 0);
    EXPECT_EQ(link.bytesInRing(), 0u);
}

TEST_F(SerialReceive, WrongFrameCheckCountsACheckError)
{
    open();
    bus.corruptNextReplyCheck();
    ASSERT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    auto got = ticks(3);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].source, 64);  // the echo; the answer never arrives
    EXPECT_EQ(link.checkErrors(), 1);
    EXPECT_GE(link.allErrors(), 1);
}

TEST_F(SerialReceive, ImplausibleLengthCountsOnlyAllErrors)
{
    open();
    // Header bytes that pass the first rule, with a length of 1536 + 0 > 1500.
    bus.injectBytes({64, 113, 0, 5, 0xFF, 1, 2, 3, 4, 5});
    bus.sendFrame(64, 113, "Ready");
    clock.advance(100);
    link.ReadAvailable();
    EXPECT_EQ(link.ExtractFrames(), 1);
    EXPECT_EQ(link.receivedFrames().back()->text(), "Ready");
    EXPECT_EQ(link.allErrors(), 1);
    EXPECT_EQ(link.checkErrors(), 0);
    EXPECT_EQ(link.timeouts(), 0);
}

TEST_F(SerialReceive, DamagedShortAnswerDoesNotHoldUpTheIntactOneBehind)
{
    open();
    // "Ready" with a payload byte changed. One byte on, its source, the two
    // zeros and the length read as a header that claims 1362 bytes.
    auto damaged = buildSerialFrame(64, 113, text("Ready"), 5);
    damaged[7] ^= 0x20;
    bus.injectBytes(damaged);
    bus.sendFrame(64, 113, "al PL=0012.34");
    auto got = tick();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, "al PL=0012.34");
    EXPECT_EQ(link.checkErrors(), 1);
    EXPECT_EQ(link.timeouts(), 0);
    EXPECT_EQ(link.bytesInRing(), 0u);
}

TEST_F(SerialReceive, AGivenUpHeaderLeavesNoWaitingBehindForTheNextFrame)
{
    open();
    // Noise that passes the header rules and claims 40 bytes: 49 / 30 + 2 = 3 waits.
    bus.injectBytes({64, 113, 0, 0, 40, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(tick().empty());
    // The rest of its claimed length fails the check; a real frame of the
    // same size follows, in two parts.
    bus.injectBytes(std::vector<uint8_t>(34, 0x11));
    bus.splitNextReply(30, 150);
    bus.sendFrame(64, 113, std::string(40, 'p'));
    auto got = ticks(3);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, std::string(40, 'p'));
    EXPECT_EQ(link.timeouts(), 0);
}

TEST_F(SerialReceive, EveryIntactFrameOfADamagedStreamComesOutOnceAndInTime)
{
    open();
    std::mt19937 random(11);
    std::vector<uint8_t> stream;
    std::vector<std::string> intact;
    for (int i = 0; i < 60; ++i) {
        // Short answers ("Ready") make the worst false headers.
        const size_t length = i % 3 == 0 ? 5 : 1 + random() % 60;
        std::string payload;
        for (size_t k = 0; k < length; ++k)
            payload += static_cast<char>('!' + random() % 90);
        auto frame = buildSerialFrame(64, 113, text(payload.c_str()), length);
        if (i % 4 == 1)
            frame[random() % frame.size()] ^= static_cast<uint8_t>(1 + random() % 255);
        else if (i % 4 == 3)
            frame.resize(random() % frame.size());
        else
            intact.push_back(payload);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    bus.injectBytes(stream);
    // The line brings about 87 bytes a tick; two ticks more for the last frame.
    const int arrivalTicks = static_cast<int>(stream.size() * sim::kByteTimeUs / 100000) + 1;
    std::vector<std::string> got;
    for (auto& r : ticks(arrivalTicks + 2))
        got.push_back(r.payload);
    EXPECT_EQ(got, intact);
}

TEST_F(SerialReceive, RecordHoldsTheFrameAsItCame)
{
    open();
    bus.sendFrame(64, 113, "al PL=0001.00");
    clock.advance(100);
    link.ReadAvailable();
    ASSERT_EQ(link.ExtractFrames(), 1);
    const FRAME& f = *link.receivedFrames().front();
    EXPECT_EQ(f.destination, 64);
    EXPECT_EQ(f.source, 113);
    EXPECT_EQ(f.kind, 0);
    EXPECT_EQ(f.length(), 13);
    const auto wire = buildSerialFrame(64, 113, text("al PL=0001.00"), 13);
    EXPECT_TRUE(std::equal(wire.begin(), wire.end(), f.bytes()));
}

class SerialPool : public SerialBench {
protected:
    void queueFrames(int count)
    {
        for (int i = 0; i < count; ++i) {
            char payload[16];
            std::snprintf(payload, sizeof payload, "f%02d", i);
            bus.sendFrame(64, 113, payload);
        }
        clock.advance(1000);
        link.Drain();
    }
};

TEST_F(SerialPool, FortyFirstFrameWaitsForTheNextCall)
{
    open();
    queueFrames(41);
    EXPECT_EQ(link.ExtractFrames(), 40);
    auto& list = link.receivedFrames();
    ASSERT_EQ(list.size(), 40u);
    EXPECT_EQ(list.front()->text(), "f00");
    EXPECT_EQ(list.back()->text(), "f39");
    EXPECT_EQ(link.bytesInRing(), 12u);

    list.clear();
    EXPECT_EQ(link.ExtractFrames(), 1);
    EXPECT_EQ(list.front()->text(), "f40");
}

TEST_F(SerialPool, UnreadRecordsAreNeverOverwritten)
{
    open();
    queueFrames(42);
    EXPECT_EQ(link.ExtractFrames(), 40);
    auto& list = link.receivedFrames();
    // The reader took nothing: another frame would need a block still in use.
    EXPECT_EQ(link.ExtractFrames(), 0);
    ASSERT_EQ(list.size(), 40u);
    EXPECT_EQ(list.front()->text(), "f00");

    list.pop_front();
    EXPECT_EQ(link.ExtractFrames(), 1);
    EXPECT_EQ(list.front()->text(), "f01");
    EXPECT_EQ(list.back()->text(), "f40");
    list.clear();
    EXPECT_EQ(link.ExtractFrames(), 1);
    EXPECT_EQ(list.front()->text(), "f41");
}

TEST_F(SerialPool, ReopenForgetsFramesOfTheOldPort)
{
    open();
    queueFrames(2);
    ASSERT_EQ(link.ExtractFrames(), 2);
    ASSERT_EQ(link.Close(), 1);
    open();
    EXPECT_TRUE(link.receivedFrames().empty());
    bus.sendFrame(64, 113, "Ready");
    clock.advance(100);
    link.ReadAvailable();
    EXPECT_EQ(link.ExtractFrames(), 1);
    EXPECT_EQ(link.receivedFrames().front()->text(), "Ready");
}

TEST_F(SerialPool, RingNeverFillsCompletely)
{
    open();
    bus.injectBytes(std::vector<uint8_t>(9000, 0x11));
    clock.advance(20000);
    link.Drain();
    EXPECT_EQ(link.bytesInRing(), CSerial::kRingSize - 1u);
    EXPECT_EQ(link.ReadAvailable(), 0);
}

} // namespace
} // namespace bv::test
