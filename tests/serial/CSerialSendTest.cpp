#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "SerialBench.h"

namespace bv::test {
namespace {

const char* const kNoPort = "No Port opened!\nPlease select 'Com-Port' first";
const char* const kNoEcho = "CSerial: No Echo";

using SerialOpen = SerialBench;

TEST_F(SerialOpen, SecondOpenKeepsTheFirstPort)
{
    ports.addPort("COM3", nullptr);
    ASSERT_EQ(link.bInitSerial("com1"), 1);
    EXPECT_EQ(link.bInitSerial("com3"), 1);
    EXPECT_EQ(link.portName(), "com1");
    EXPECT_EQ(ports.record("COM3").opens, 0);
    EXPECT_TRUE(com1().open);
}

TEST_F(SerialOpen, ChangingThePortNeedsCloseFirst)
{
    ports.addPort("COM3", nullptr);
    open();
    EXPECT_EQ(link.Close(), 1);
    EXPECT_FALSE(com1().open);
    EXPECT_EQ(link.Close(), 1);  // already closed
    ASSERT_EQ(link.bInitSerial("COM3"), 1);
    EXPECT_EQ(link.portName(), "COM3");
    EXPECT_TRUE(ports.record("COM3").open);
}

TEST_F(SerialOpen, MissingPortIsReportedAndNameKept)
{
    EXPECT_EQ(link.bInitSerial("COM9"), 0);
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.portName(), "COM9");
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.texts()[0], "CSerial: Cannot open Serial Interface !");

    // A port that is there but not the user's says what to do.
    ports.failNextOpens("COM1", serialOpenError(EACCES));
    EXPECT_EQ(link.bInitSerial("com1"), 0);
    ASSERT_EQ(prompt.shown.size(), 2u);
    EXPECT_EQ(prompt.texts()[1],
              "CSerial: Cannot open Serial Interface !\npermission denied: add the user to the dialout group");
}

TEST_F(SerialOpen, PortInUseDoesNotOpen)
{
    OsError error;
    auto other = ports.open("COM1", &error);
    ASSERT_TRUE(other);
    EXPECT_EQ(link.bInitSerial("com1"), 0);
    EXPECT_FALSE(link.isOpen());
}

TEST_F(SerialOpen, FailedSetupReleasesThePort)
{
    ports.failConfigure("COM1", true);
    EXPECT_EQ(link.bInitSerial("com1"), 0);
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.texts()[0], "CSerial: Error at SetCommState !");
    // The half-configured port is neither usable nor still held.
    EXPECT_FALSE(com1().open);
    EXPECT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 0);
    EXPECT_EQ(prompt.texts().back(), kNoPort);

    ports.failConfigure("COM1", false);
    EXPECT_EQ(link.bInitSerial("com1"), 1);
}

TEST_F(SerialOpen, OpenPurgesOldInput)
{
    bus.injectBytes({1, 2, 3, 4});
    clock.advance(50);
    open();
    clock.advance(50);
    EXPECT_EQ(link.ReadAvailable(), 0);
}

using SerialSend = SerialBench;

TEST_F(SerialSend, WithoutPortPromptsAndFails)
{
    EXPECT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 0);
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.texts()[0], kNoPort);
    EXPECT_EQ(link.sendFailures(), 1);
}

TEST_F(SerialSend, WithoutPortAndMessagesOffStaysSilent)
{
    EXPECT_EQ(link.SendQuiet(64, 113, text("qr"), 0, 0), 0);
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_EQ(link.showMessages(), 1);
}

TEST_F(SerialSend, ProbeWithoutEchoGivesUpAfterOneSecondQuietly)
{
    open();
    bus.setAdapterConnected(false);
    const uint32_t start = clock.now();
    EXPECT_EQ(link.SendQuiet(0, 0, text("PC Ready"), 0, 0), 0);
    const uint32_t took = clock.now() - start;
    EXPECT_GE(took, 1000u);
    EXPECT_LE(took, 1100u);
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_EQ(link.showMessages(), 1);
    EXPECT_EQ(link.sendFailures(), 1);
    EXPECT_TRUE(link.isOpen());
    // Only the address byte went out; RTS ends low.
    ASSERT_EQ(com1().writes.size(), 1u);
    ASSERT_FALSE(com1().rtsSets.empty());
    EXPECT_FALSE(com1().rtsSets.back().second);
}

TEST_F(SerialSend, MissingEchoWithMessagesShowsNoEcho)
{
    open();
    bus.setEchoEnabled(false);
    EXPECT_EQ(link.iOnSendFrame(0, 0, text("PC Ready"), 0), 0);
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.texts()[0], kNoEcho);
    EXPECT_EQ(prompt.shown[0].buttons, PromptButtons::OkCancel);
    EXPECT_TRUE(link.isOpen());
}

TEST_F(SerialSend, CancelInTheMessageBoxClosesTheLink)
{
    open();
    bus.setEchoEnabled(false);
    prompt.script(PromptResult::Cancel);
    EXPECT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 0);
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(com1().open);
    // Closed means closed: the next send asks for a port.
    EXPECT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 0);
    EXPECT_EQ(prompt.texts().back(), kNoPort);
}

TEST_F(SerialSend, ExchangeIsEchoedAndAnswered)
{
    open();
    EXPECT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    EXPECT_EQ(link.sendFailures(), 0);
    EXPECT_TRUE(prompt.shown.empty());
    ASSERT_EQ(bus.sentFrames().size(), 1u);
    EXPECT_EQ(bus.sentFrames()[0].destination, 113);
    EXPECT_EQ(bus.sentFrames()[0].source, 64);
    EXPECT_EQ(bus.sentFrames()[0].payload, "qr");
    EXPECT_FALSE(com1().rtsSets.back().second);
    EXPECT_EQ(com1().rtsDroppedMidByte, 0);

    // The echo is cut out like any frame, then the answer follows.
    auto got = ticks(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].source, 64);
    EXPECT_EQ(got[0].destination, 113);
    EXPECT_EQ(got[0].payload, "qr");
    EXPECT_EQ(got[1].source, 113);
    EXPECT_EQ(got[1].destination, 64);
    EXPECT_EQ(got[1].payload, "Ready");
    EXPECT_EQ(link.allErrors(), 0);
}

TEST_F(SerialSend, ExplicitLengthSendsExactlyThatManyBytes)
{
    open();
    const uint8_t payload[] = {'q', 'l', 0, 'x'};
    EXPECT_EQ(link.iOnSendFrame(64, 161, payload, 4), 1);
    ASSERT_EQ(bus.sentFrames().size(), 1u);
    EXPECT_EQ(bus.sentFrames()[0].payload, std::string("ql\0x", 4));
}

TEST_F(SerialSend, ParityModeMarksOnlyTheAddressByte)
{
    settings.m_bSetParity = 1;
    open();
    ASSERT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    ASSERT_EQ(bus.sentFrames().size(), 1u);
    EXPECT_TRUE(bus.sentFrames()[0].addressMarked());
    ASSERT_EQ(com1().paritySets.size(), 2u);
    EXPECT_EQ(com1().paritySets[0].second, Parity::Mark);
    EXPECT_EQ(com1().paritySets[1].second, Parity::Space);
    // The address byte goes alone, so the switch can wait for its echo.
    ASSERT_GE(com1().writes.size(), 4u);
    EXPECT_EQ(com1().writes[0], std::vector<uint8_t>{113});
}

TEST_F(SerialSend, WithoutParitySettingNoParitySwitching)
{
    settings.m_bSetParity = 0;
    open();
    ASSERT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    EXPECT_TRUE(com1().paritySets.empty());
    ASSERT_EQ(bus.sentFrames().size(), 1u);
    EXPECT_TRUE(bus.sentFrames()[0].allSpace());

    // Nor after a failed send (once the answer is in: it would pass for an echo).
    ticks(2);
    bus.setEchoEnabled(false);
    EXPECT_EQ(link.SendQuiet(64, 113, text("qr"), 0, 0), 0);
    for (const auto& set : com1().paritySets)  // the error path only re-applies the state
        EXPECT_EQ(set.second, Parity::Space);
}

TEST_F(SerialSend, FailedSendRestoresSpaceParity)
{
    open();
    bus.setEchoEnabled(false);
    EXPECT_EQ(link.SendQuiet(64, 113, text("qr"), 0, 0), 0);
    ASSERT_FALSE(com1().paritySets.empty());
    EXPECT_EQ(com1().paritySets.front().second, Parity::Mark);
    EXPECT_EQ(com1().paritySets.back().second, Parity::Space);
}

TEST_F(SerialSend, ParityRefusedClosesTheLinkSilently)
{
    open();
    ports.failParity("COM1", true);
    EXPECT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 0);
    EXPECT_FALSE(link.isOpen());
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_TRUE(com1().writes.empty());
}

TEST_F(SerialSend, UnpluggedPortClosesTheLink)
{
    open();
    ports.setPresent("COM1", false);
    EXPECT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 0);
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.ReadAvailable(), 0);
}

TEST_F(SerialSend, WakeUpBytesPrecedeFramesTo192And144)
{
    settings.m_iFuncExist = 1;
    Responder plc(192);
    bus.attach(plc);
    open();
    ASSERT_EQ(link.iOnSendFrame(64, 192, text("qr"), 0), 1);
    ASSERT_GE(com1().writes.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(com1().writes[i], std::vector<uint8_t>{0xAA});
    EXPECT_EQ(bus.wakeUpBytes(), 3u);
    // Every echo counted was the frame's own: RTS stays up to its last byte.
    EXPECT_EQ(com1().rtsDroppedMidByte, 0);
    EXPECT_EQ(plc.heard, std::vector<std::string>{"qr"});

    // The three echoed 0xAA are dropped one by one without a count.
    auto got = ticks(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].payload, "qr");
    EXPECT_EQ(got[1].payload, "Ready");
    EXPECT_EQ(link.allErrors(), 0);
    EXPECT_EQ(link.timeouts(), 0);
    EXPECT_EQ(link.checkErrors(), 0);

    ASSERT_EQ(link.iOnSendFrame(64, 144, text("x"), 0), 1);
    EXPECT_EQ(bus.wakeUpBytes(), 6u);
    ASSERT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    EXPECT_EQ(bus.wakeUpBytes(), 6u);
}

TEST_F(SerialSend, NoWakeUpBytesWithoutTheSetting)
{
    settings.m_iFuncExist = 0;
    open();
    ASSERT_EQ(link.iOnSendFrame(64, 192, text("qr"), 0), 1);
    EXPECT_EQ(bus.wakeUpBytes(), 0u);
    EXPECT_EQ(com1().writes[0], std::vector<uint8_t>{192});
}

TEST_F(SerialSend, BusyBusForMoreThanASecondGivesUpSilently)
{
    open();
    bus.injectNoise(1000);  // about 1.15 s of line time
    const uint32_t start = clock.now();
    EXPECT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 0);
    EXPECT_GE(clock.now() - start, 1000u);
    EXPECT_LT(clock.now() - start, 1100u);
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_TRUE(com1().writes.empty());
    EXPECT_EQ(link.sendFailures(), 0);
}

TEST_F(SerialSend, WaitsUntilTheBusIsQuiet)
{
    open();
    bus.injectNoise(100);  // about 115 ms
    const uint32_t start = clock.now();
    EXPECT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    EXPECT_GE(clock.now() - start, 115u + 20u);
    ASSERT_EQ(bus.sentFrames().size(), 1u);
}

TEST_F(SerialSend, AllEchoWaitsShareOneSecond)
{
    settings.m_bSetParity = 0;
    open();
    // 859 bytes on the line in all: about 984 ms of echo.
    const std::string fits(850, 'a');
    EXPECT_EQ(link.iOnSendFrame(64, 113, text(fits.c_str()), 0), 1);
    ticks(20);

    // 877 bytes: the payload alone would pass within a second, the whole
    // frame does not.
    const std::string tooLong(868, 'b');
    EXPECT_EQ(link.iOnSendFrame(64, 113, text(tooLong.c_str()), 0), 0);
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.texts()[0], kNoEcho);
}

TEST_F(SerialSend, TextTooLongForTheLengthFieldIsRefused)
{
    open();
    const std::string huge(70000, 'x');
    EXPECT_EQ(link.iOnSendFrame(64, 113, text(huge.c_str()), 0), 0);
    EXPECT_TRUE(com1().writes.empty());
    EXPECT_EQ(link.sendFailures(), 1);
}

TEST_F(SerialSend, NullPayloadSendsAnEmptyFrame)
{
    open();
    EXPECT_EQ(link.iOnSendFrame(64, 113, nullptr, 0), 1);
    // Five header and four check bytes; no receiver takes a frame without payload.
    size_t total = 0;
    for (const auto& w : com1().writes)
        total += w.size();
    EXPECT_EQ(total, 9u);
    EXPECT_TRUE(bus.sentFrames().empty());
}

} // namespace
} // namespace bv::test
