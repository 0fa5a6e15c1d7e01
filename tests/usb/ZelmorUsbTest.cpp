#include <gtest/gtest.h>

#include <stdexcept>

#include "link/FrameCheck.h"
#include "link/UsbListing.h"
#include "link/ZelmorUSB.h"
#include "support/LogCapture.h"
#include "support/FakeD2xx.h"

namespace bv {
namespace {

std::vector<uint8_t> text(std::string_view s) { return bytesOf(s); }

std::vector<uint8_t> plainMessage(std::string_view body) { return buildUsbText(text(body).data(), body.size()); }
std::vector<uint8_t> trailerMessage(std::string_view body)
{
    return buildUsbTextWithTrailer(text(body).data(), body.size());
}
std::vector<uint8_t> relayMessage(uint8_t destination, uint8_t source, std::string_view payload)
{
    return buildUsbRelay(destination, source, text(payload).data(), payload.size());
}
// A message header with its header check for any body bytes.
std::vector<uint8_t> rawMessage(const std::vector<uint8_t>& body, uint8_t trailerFlag = 0, size_t announced = SIZE_MAX)
{
    if (announced == SIZE_MAX)
        announced = body.size();
    std::vector<uint8_t> m = {0x80, 0, uint8_t(announced >> 8), uint8_t(announced), trailerFlag, 0, 0, 0, 0};
    FrameCheck::putBigEndian(FrameCheck::update(FrameCheck::start, m.data(), 5), m.data() + 5);
    m.insert(m.end(), body.begin(), body.end());
    return m;
}
std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct RecordingSink final : IFrameSink {
    std::vector<FRAME> frames;
    bool throwIt = false;
    void onFrame(const FRAME& f) override
    {
        if (throwIt)
            throw std::runtime_error("boom");
        frames.push_back(f);
    }
};

class ZelmorUsbTest : public ::testing::Test {
protected:
    ZelmorUsbTest() : link(fake)
    {
        link.SetDescription("Zelmor USB Brivane", 2);
        EXPECT_EQ(link.Open(), 0);
    }

    // One timer tick of the window: read the driver, parse, take every record.
    std::vector<std::unique_ptr<FRAME>> tick()
    {
        link.ReadUSBDriverBuffer();
        link.GetFrame();
        std::vector<std::unique_ptr<FRAME>> out;
        while (auto f = link.takeFrame())
            out.push_back(std::move(f));
        return out;
    }
    // Ticks until the driver has nothing more (one chunk of 256 per tick).
    std::vector<std::unique_ptr<FRAME>> drain()
    {
        std::vector<std::unique_ptr<FRAME>> out;
        do {
            for (auto& f : tick())
                out.push_back(std::move(f));
        } while (!fake.queue.empty());
        return out;
    }

    test::FakeD2xx fake;
    ZelmorUSBCRC link;
};

TEST_F(ZelmorUsbTest, OpenConfiguresTheDeviceOnceAndCloseForgetsTheHandle)
{
    EXPECT_EQ(fake.openedWith, std::vector<std::string>{"Zelmor USB Brivane"});
    EXPECT_EQ(fake.openFlags, std::vector<uint32_t>{2});
    EXPECT_EQ(fake.flow, 0x0100);
    EXPECT_EQ(fake.xon, 0x11);
    EXPECT_EQ(fake.xoff, 0x13);
    EXPECT_EQ(fake.inSize, 64u);
    EXPECT_EQ(fake.outSize, 64u);
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.Open(), 0);
    EXPECT_EQ(fake.openedWith.size(), 1u);

    fake.arrive(plainMessage("ar")); // waits in the driver while closed
    EXPECT_EQ(link.Close(), 0);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(fake.closes, 1);
    const int calls = fake.statusCalls;
    EXPECT_EQ(link.ReadUSBDriverBuffer(), -1);
    EXPECT_EQ(fake.statusCalls, calls);
    EXPECT_EQ(link.Close(), 0);
    EXPECT_EQ(fake.closes, 1);

    EXPECT_EQ(link.Open(), 0);
    auto frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->text(), "ar");
}

TEST(ZelmorUsbOpenTest, FailedOpenLogsAndReturnsMinusOne)
{
    test::FakeD2xx fake;
    fake.openStatus = kD2xxDeviceNotFound;
    ZelmorUSBCRC link(fake);
    link.SetDescription("nothing", 2);
    test::LogCapture logs({"ZelmorUSB"});
    EXPECT_EQ(link.Open(), -1);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(logs.has("USB open failed", "ERROR"));
    EXPECT_FALSE(logs.has("USB open successfully"));
    EXPECT_EQ(link.ReadUSBDriverBuffer(), -1);
    EXPECT_EQ(link.SendFrame("qr"), 4);
}

TEST(ZelmorUsbOpenTest, SuccessfulOpenLogsEachStep)
{
    test::FakeD2xx fake;
    ZelmorUSBCRC link(fake);
    link.SetDescription(std::string(100, 'Z'), 2);
    EXPECT_EQ(link.description().size(), ZelmorUSB::kMaxDescription);
    test::LogCapture logs({"ZelmorUSB"});
    EXPECT_EQ(link.Open(), 0);
    EXPECT_TRUE(logs.has("USB open successfully", "DEBUG"));
    EXPECT_TRUE(logs.has("FT_SetFlowControl OK", "DEBUG"));
    EXPECT_TRUE(logs.has("FT_SetUSBParameters OK", "DEBUG"));
}

TEST_F(ZelmorUsbTest, ThreeHundredWaitingBytesAreReadAs256ThenTheRest)
{
    fake.arrive(std::vector<uint8_t>(300, 0x55));
    test::LogCapture logs({"ZelmorUSB"});
    EXPECT_EQ(link.ReadUSBDriverBuffer(), 1);
    EXPECT_EQ(link.ring().count(), 256);
    EXPECT_TRUE(logs.has("ZelmorUSB::ReadUSBDriverBuffer(), RxBytes = 300", "DEBUG"));
    EXPECT_TRUE(logs.has("ZelmorUSB::ReadUSBDriverBuffer(), timeout", "ERROR"));
    EXPECT_EQ(fake.timeouts.back(), std::make_pair(400u, 400u));

    logs.clear();
    EXPECT_EQ(link.ReadUSBDriverBuffer(), 0);
    EXPECT_EQ(link.ring().count(), 300);
    EXPECT_EQ(fake.readSizes, (std::vector<uint32_t>{256, 44}));
    EXPECT_FALSE(logs.has("ZelmorUSB::ReadUSBDriverBuffer(), timeout"));
    EXPECT_EQ(link.ReadUSBDriverBuffer(), 0);  // nothing waiting
}

TEST_F(ZelmorUsbTest, BytesArrivingDuringTheReadAreFetchedWithoutLoss)
{
    fake.arrive(std::vector<uint8_t>(100, 1));
    bool once = false;
    fake.afterRead = [&] {
        if (!once)
            fake.arrive(std::vector<uint8_t>(50, 2));
        once = true;
    };
    test::LogCapture logs({"ZelmorUSB"});
    EXPECT_EQ(link.ReadUSBDriverBuffer(), 0);
    EXPECT_EQ(link.ring().count(), 150);
    EXPECT_EQ(fake.readSizes, (std::vector<uint32_t>{100, 50}));
    EXPECT_FALSE(logs.has("ZelmorUSB::ReadUSBDriverBuffer(), read failed"));
}

TEST_F(ZelmorUsbTest, FailedReadIsLoggedWithItsCodeAndDiscarded)
{
    fake.arrive(std::vector<uint8_t>(20, 1));
    fake.readStatus = kD2xxIoError;
    test::LogCapture logs({"ZelmorUSB"});
    EXPECT_EQ(link.ReadUSBDriverBuffer(), 2);
    EXPECT_TRUE(logs.has("ZelmorUSB::ReadUSBDriverBuffer(), read failed, error code 4", "ERROR"));
    EXPECT_EQ(link.ring().count(), 0);
    // A driver error: the device is taken for gone and closed until reopened.
    EXPECT_TRUE(link.linkLost());
    EXPECT_EQ(link.ReadUSBDriverBuffer(), -1);
    EXPECT_EQ(link.Open(), 0);
    EXPECT_FALSE(link.linkLost());

    // Fewer bytes than asked for is a failure too, but no loss.
    fake.readStatus = kD2xxOk;
    fake.readLimit = 5;
    EXPECT_EQ(link.ReadUSBDriverBuffer(), 2);
    EXPECT_TRUE(logs.has("ZelmorUSB::ReadUSBDriverBuffer(), read failed, error code 0", "ERROR"));
    EXPECT_EQ(link.ring().count(), 0);
    EXPECT_FALSE(link.linkLost());
}

TEST_F(ZelmorUsbTest, ReadingStopsWhenTheRingIsFullAndLeavesTheRestInTheDriver)
{
    // A device that keeps sending while it is read.
    fake.arrive(std::vector<uint8_t>(10, 1));
    fake.afterRead = [&] { fake.arrive(std::vector<uint8_t>(100, 1)); };
    EXPECT_EQ(link.ReadUSBDriverBuffer(), 1);
    EXPECT_EQ(link.ring().count(), ZelmorUSB::kRingSize - 1);
    EXPECT_FALSE(fake.queue.empty());
    EXPECT_EQ(link.ReadUSBDriverBuffer(), 1);
    EXPECT_EQ(link.ring().count(), ZelmorUSB::kRingSize - 1);
}

TEST_F(ZelmorUsbTest, EscapingExceptionsAreLoggedWithTheOperationName)
{
    fake.arrive({1, 2, 3});
    fake.throwOnRead = true;
    test::LogCapture logs({"ZelmorUSB", "ZelmorUSBCRC"});
    EXPECT_EQ(link.ReadUSBDriverBuffer(), -1);
    EXPECT_TRUE(logs.has("ReadUSBDriverBuffer driver gone", "ERROR"));

    RecordingSink sink;
    sink.throwIt = true;
    link.addSink(&sink);
    EXPECT_EQ(link.SendFrame("qr"), -1);
    EXPECT_EQ(logs.records().back().logger, "ZelmorUSBCRC");
    EXPECT_EQ(logs.records().back().message, "SendFrame boom");
    const uint8_t payload[] = {'q', 'r'};
    EXPECT_EQ(link.SendFrame(64, 113, payload, 2), -1);
    EXPECT_EQ(logs.records().back().logger, "ZelmorUSB");
    EXPECT_EQ(logs.records().back().message, "SendFrame boom");
}

TEST_F(ZelmorUsbTest, AdapterTextBecomesAKindTwoRecordWithoutAddresses)
{
    fake.arrive(plainMessage("Ready BusConverter"));
    auto frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->kind, kTextFromAdapter);
    EXPECT_EQ(frames[0]->destination, 0);
    EXPECT_EQ(frames[0]->source, 0);
    EXPECT_EQ(frames[0]->text(), "Ready BusConverter");
    EXPECT_FALSE(link.trailersSeen());
}

TEST_F(ZelmorUsbTest, WrongTrailerIsDeliveredMarkedAsACheckError)
{
    auto good = trailerMessage("al PL=0001.5");
    fake.arrive(good);
    auto frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->text(), "al PL=0001.5");
    EXPECT_FALSE(link.takenFrameFailedCheck());
    EXPECT_TRUE(link.trailersSeen());
    EXPECT_EQ(link.lastVerifiedMessage(), good);

    auto bad = trailerMessage("al PL=0002.5");
    bad.back() ^= 0xFF;
    fake.arrive(bad);
    frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->text(), "al PL=0002.5");  // for the monitor and the log
    EXPECT_TRUE(link.takenFrameFailedCheck());
    EXPECT_EQ(link.checkErrors(), 1u);
    EXPECT_EQ(link.lastVerifiedMessage(), good);

    fake.arrive(trailerMessage("al PL=0003.5"));
    frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(link.takenFrameFailedCheck());
}

TEST_F(ZelmorUsbTest, AfterATrailerEveryTextLosesFourBytesAndNeverGoesNegative)
{
    fake.arrive(concat({trailerMessage("ar"), plainMessage("0123456789"), plainMessage("ab")}));
    auto frames = tick();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0]->text(), "ar");
    EXPECT_EQ(frames[1]->length(), 6);
    EXPECT_EQ(frames[1]->text(), "012345");
    EXPECT_EQ(frames[2]->length(), 0);
}

TEST_F(ZelmorUsbTest, RecordLengthNeverExceedsWhatTheRecordHolds)
{
    const std::string big(2100, 'p');
    fake.arrive(plainMessage(big));
    auto frames = drain();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->length(), kRecordPayload);
    EXPECT_EQ(frames[0]->text(), big.substr(0, kRecordPayload));

    // Byte 1 of the header adds to the body length.
    auto m = rawMessage(text("abcd"), 0, 3);
    m[1] = 1;
    FrameCheck::putBigEndian(FrameCheck::update(FrameCheck::start, m.data(), 5), m.data() + 5);
    fake.arrive(m);
    frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->text(), "abcd");
}

TEST_F(ZelmorUsbTest, RelayedFrameCarriesTheInnerAddressesAndPayload)
{
    auto relayed = relayMessage(64, 113, "al PL=1500.0");
    relayed.back() ^= 0x5A;  // the inner check is not verified
    fake.arrive(relayed);
    auto frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->kind, kBusFrame);
    EXPECT_EQ(frames[0]->destination, 64);
    EXPECT_EQ(frames[0]->source, 113);
    EXPECT_EQ(frames[0]->text(), "al PL=1500.0");
}

TEST_F(ZelmorUsbTest, ShortOrCapitalisedBusBodiesAreAdapterTexts)
{
    fake.arrive(concat({rawMessage(text("bu")), rawMessage(text("Bus 123 abcdefgh")), rawMessage(text("bus 123 ab"))}));
    auto frames = tick();
    ASSERT_EQ(frames.size(), 3u);
    for (auto& f : frames)
        EXPECT_EQ(f->kind, kTextFromAdapter);
    EXPECT_EQ(frames[0]->text(), "bu");
    EXPECT_EQ(frames[1]->text(), "Bus 123 abcdefgh");
    // Too short for prefix and inner header: nothing is read beyond the message.
    EXPECT_EQ(frames[2]->text(), "bus 123 ab");
}

TEST_F(ZelmorUsbTest, RelayedInnerLengthIsCutToTheMessageAndToTheRecord)
{
    // The inner header claims 500 bytes; the message holds 3 (and no check).
    auto body = concat({text("bus 123 "), {113, 64, 0, 0x01, 0xF4}, text("abc")});
    fake.arrive(rawMessage(body));
    auto frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->destination, 113);
    EXPECT_EQ(frames[0]->text(), "abc");

    const std::string big(2500, 'r');
    fake.arrive(relayMessage(64, 113, big));
    frames = drain();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->length(), kRecordPayload);
}

TEST_F(ZelmorUsbTest, MessageArrivingInPiecesIsDeliveredWhenComplete)
{
    auto first = trailerMessage("ar Brivane EC 2.13");
    auto second = plainMessage("ok");
    auto all = concat({first, second});
    fake.arrive({all.begin(), all.begin() + 4});
    EXPECT_TRUE(tick().empty());
    fake.arrive({all.begin() + 4, all.begin() + 15});
    EXPECT_TRUE(tick().empty());
    fake.arrive({all.begin() + 15, all.begin() + static_cast<long>(first.size()) + 3});
    auto frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->text(), "ar Brivane EC 2.13");
    fake.arrive({all.begin() + static_cast<long>(first.size()) + 3, all.end()});
    frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->length(), 0);  // "ok" less the trailer that was seen before
}

TEST_F(ZelmorUsbTest, NoiseBeforeAMessageIsDroppedByteByByte)
{
    fake.arrive(concat({{0x80, 0x00, 0x12, 0x34, 0x55, 0x66}, plainMessage("ar")}));
    auto frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->text(), "ar");
    EXPECT_EQ(link.ring().count(), 0);
}

TEST_F(ZelmorUsbTest, OversizedAnnouncementIsGivenUpAndNeverDelivered)
{
    fake.arrive(rawMessage(std::vector<uint8_t>(200, 'x'), 0, 5000));
    link.ReadUSBDriverBuffer();
    for (int attempt = 1; attempt <= 10; ++attempt) {
        EXPECT_EQ(link.GetFrame(), 0);
        EXPECT_EQ(link.ring().count(), 209) << attempt;
    }
    EXPECT_EQ(link.GetFrame(), 0);  // the 11th waiting attempt drops the first byte
    EXPECT_LT(link.ring().count(), 209);

    fake.arrive(plainMessage("after"));
    std::vector<std::unique_ptr<FRAME>> frames;
    for (int i = 0; i < 30 && frames.empty(); ++i)
        frames = tick();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->text(), "after");
}

TEST_F(ZelmorUsbTest, FullRingMessageThatCannotCompleteIsDroppedOnePerElevenAttempts)
{
    // Fills the ring: the announced 5000 bytes can never be there.
    fake.arrive(rawMessage(std::vector<uint8_t>(4351, 'x'), 0, 5000));
    while (link.ReadUSBDriverBuffer() == 1) {
    }
    ASSERT_EQ(link.ring().count(), ZelmorUSB::kRingSize - 1);
    for (int i = 0; i < 10; ++i)
        link.GetFrame();
    EXPECT_EQ(link.ring().count(), ZelmorUSB::kRingSize - 1);
    EXPECT_EQ(link.GetFrame(), 0);
    EXPECT_LE(link.ring().count(), 9);  // the rest has no valid header
    EXPECT_EQ(link.receivedCount(), 0u);
}

TEST_F(ZelmorUsbTest, SentTextsAndRelayedFramesReachTheSinks)
{
    RecordingSink monitor, log;
    link.setSinks({&monitor, &log});

    EXPECT_EQ(link.SendFrame("qr"), 0);
    ASSERT_EQ(fake.written.size(), 1u);
    EXPECT_EQ(fake.written[0], trailerMessage("qr"));
    EXPECT_EQ(fake.timeouts.back(), std::make_pair(1u, 1u));

    const uint8_t payload[] = {'q', 'l'};
    EXPECT_EQ(link.SendFrame(64, 113, payload, 2), 0);
    EXPECT_EQ(fake.written[1], relayMessage(113, 64, "ql"));
    EXPECT_EQ(fake.timeouts.back(), std::make_pair(100u, 100u));

    for (auto* sink : {&monitor, &log}) {
        ASSERT_EQ(sink->frames.size(), 2u);
        EXPECT_EQ(sink->frames[0].kind, kTextToAdapter);
        EXPECT_EQ(sink->frames[0].destination, 0);
        EXPECT_EQ(sink->frames[0].text(), "qr");
        EXPECT_EQ(sink->frames[1].kind, kBusFrame);
        EXPECT_EQ(sink->frames[1].destination, 113);
        EXPECT_EQ(sink->frames[1].source, 64);
        EXPECT_EQ(sink->frames[1].text(), "ql");
    }
}

TEST_F(ZelmorUsbTest, FailedOrShortWritesReturnFourAndReachNoSink)
{
    RecordingSink sink;
    link.addSink(&sink);
    fake.writeStatus = kD2xxIoError;
    EXPECT_EQ(link.SendFrame("qr"), 4);
    fake.writeStatus = kD2xxOk;
    fake.writeShortBy = 1;
    EXPECT_EQ(link.SendFrame("qr"), 4);
    const uint8_t payload[] = {'q'};
    EXPECT_EQ(link.SendFrame(64, 113, payload, 1), 4);
    EXPECT_TRUE(sink.frames.empty());
}

TEST(ZelmorUsbBaseTest, BaseLinkSendsWithoutTrailerAndKeepsTheFullLength)
{
    test::FakeD2xx fake;
    ZelmorUSB link(fake);
    link.SetDescription("Zelmor", 2);
    ASSERT_EQ(link.Open(), 0);
    EXPECT_EQ(link.SendFrame("info"), 0);
    EXPECT_EQ(fake.written.at(0), plainMessage("info"));
    EXPECT_EQ(fake.timeouts.back(), std::make_pair(100u, 100u));

    fake.arrive(concat({trailerMessage("ab"), plainMessage("cd")}));
    link.ReadUSBDriverBuffer();
    EXPECT_EQ(link.GetFrame(), 2);
    EXPECT_EQ(link.takeFrame()->length(), 6);  // the base knows no trailers
    EXPECT_EQ(link.takeFrame()->text(), "cd");
    EXPECT_EQ(link.takeFrame(), nullptr);
}

// Listing and creating the link.

D2xxDeviceInfo device(std::string description, std::string serial)
{
    D2xxDeviceInfo d;
    d.description = std::move(description);
    d.serialNumber = std::move(serial);
    return d;
}

TEST(UsbListingTest, FirstListingTakesTheZelmorDeviceLaterOnesTheFirstDevice)
{
    test::FakeD2xx fake;
    fake.devices = {device("FT232R USB UART", "A1"), device("Zelmor USB Brivane", "B2"),
                    device("Zelmor other", "C3")};
    test::LogCapture logs({"CFreeComm"});
    auto first = ListAndCreateUsbLink(fake, false);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->description(), "Zelmor USB Brivane");
    EXPECT_EQ(first->openFlags(), 2);
    EXPECT_TRUE(logs.has("Number of USB devices is 3", "DEBUG"));
    EXPECT_TRUE(logs.has("Dev 0  Description FT232R USB UART SerialNumber A1"));
    EXPECT_TRUE(logs.has("Dev 1  Description Zelmor USB Brivane SerialNumber B2"));
    EXPECT_FALSE(logs.has("Dev 2 "));  // the search stops at the first match

    auto later = ListAndCreateUsbLink(fake, true);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->description(), "FT232R USB UART");
}

TEST(UsbListingTest, WithoutAZelmorDeviceTheFirstOneIsTaken)
{
    test::FakeD2xx fake;
    fake.devices = {device("FT232R USB UART", "A1"), device("zelmor ZELMOR", "B2")};
    auto link = ListAndCreateUsbLink(fake, false);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->description(), "FT232R USB UART");

    fake.devices.clear();
    link = ListAndCreateUsbLink(fake, false);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->description(), "");
    EXPECT_EQ(link->Open(), 0);  // the fake opens anything; the real driver would refuse
}

TEST(UsbListingTest, UnreadableDeviceListCreatesNoLink)
{
    test::FakeD2xx fake;
    fake.devices = {device("Zelmor USB Brivane", "B2")};
    fake.listStatus = kD2xxIoError;
    EXPECT_EQ(ListAndCreateUsbLink(fake, false), nullptr);
}

} // namespace
} // namespace bv
