#include <gtest/gtest.h>

#include "link/UsbListing.h"
#include "link/ZelmorUSB.h"
#include "platform/Clock.h"
#include "sim/SimMeter.h"
#include "sim/SimUsb.h"
#include "support/LogCapture.h"

namespace bv {
namespace {

using sim::SimUsbAdapter;
using sim::SimUsbConfig;
using sim::SimUsbKind;

class SimUsbTest : public ::testing::Test {
protected:
    void connect(SimUsbConfig config = {})
    {
        adapter = std::make_unique<SimUsbAdapter>(clock, std::move(config));
        adapter->attachMeter(meter);
        adapter->attachBusDevice(meter);
        link = ListAndCreateUsbLink(*adapter, false);
        ASSERT_TRUE(link);
        ASSERT_EQ(link->Open(), 0);
    }

    // Timer ticks of 100 ms until a record arrives (at most two seconds).
    std::unique_ptr<FRAME> awaitRecord()
    {
        for (int tick = 0; tick < 20; ++tick) {
            if (auto record = link->takeFrame())
                return record;
            clock.advance(100);
            link->ReadUSBDriverBuffer();
            link->GetFrame();
        }
        return link->takeFrame();
    }

    ManualClock clock{1000};
    sim::SimMeter meter;
    std::unique_ptr<SimUsbAdapter> adapter;
    std::unique_ptr<ZelmorUSBCRC> link;
};

TEST_F(SimUsbTest, DirectMeterAnswersQrAndQlThroughTheLink)
{
    connect();
    EXPECT_EQ(link->description(), "Zelmor USB Brivane");
    ASSERT_EQ(link->SendFrame("qr"), 0);
    ASSERT_EQ(adapter->textsFromPc().size(), 1u);
    EXPECT_EQ(adapter->textsFromPc()[0].text, "qr");
    EXPECT_TRUE(adapter->textsFromPc()[0].trailer);

    auto ready = awaitRecord();
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->kind, kTextFromAdapter);
    EXPECT_EQ(ready->text(), meter.model().readyText);
    EXPECT_TRUE(link->trailersSeen());
    EXPECT_FALSE(link->lastVerifiedMessage().empty());

    ASSERT_EQ(link->SendFrame("ql"), 0);
    auto reading = awaitRecord();
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->text().substr(0, 3), "al ");
    EXPECT_NE(reading->text().find("PL="), std::string_view::npos);
    EXPECT_EQ(adapter->badHeaderBytes() + adapter->badTrailers(), 0u);
}

TEST_F(SimUsbTest, BusConverterIdentifiesItselfAndRelaysBusFrames)
{
    SimUsbConfig config;
    config.kind = SimUsbKind::BusConverter;
    connect(config);
    ASSERT_EQ(link->SendFrame("qr"), 0);
    auto ready = awaitRecord();
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->text().substr(0, 5), "Ready");
    EXPECT_NE(ready->text().find("BusConverter"), std::string_view::npos);

    const std::string ql = "ql";
    ASSERT_EQ(link->SendFrame(64, 113, reinterpret_cast<const uint8_t*>(ql.data()), 2), 0);
    ASSERT_EQ(adapter->relaysFromPc().size(), 1u);
    EXPECT_EQ(adapter->relaysFromPc()[0].destination, 113);
    auto answer = awaitRecord();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind, kBusFrame);
    EXPECT_EQ(answer->destination, 64);
    EXPECT_EQ(answer->source, 113);
    EXPECT_EQ(answer->text().substr(0, 3), "al ");

    // Nobody at 99: no answer.
    ASSERT_EQ(link->SendFrame(64, 99, reinterpret_cast<const uint8_t*>(ql.data()), 2), 0);
    EXPECT_FALSE(awaitRecord());
}

TEST_F(SimUsbTest, ForeignDeviceListedFirstIsTakenOnlyOnALaterListing)
{
    SimUsbConfig config;
    D2xxDeviceInfo other;
    other.description = "FT232R USB UART";
    config.devicesBefore = {other};
    connect(config);
    EXPECT_EQ(link->description(), "Zelmor USB Brivane");
    link->Close();

    auto later = ListAndCreateUsbLink(*adapter, true);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->description(), "FT232R USB UART");
    test::LogCapture logs({"ZelmorUSB"});
    EXPECT_EQ(later->Open(), -1);
    EXPECT_TRUE(logs.has("USB open failed", "ERROR"));
}

TEST_F(SimUsbTest, AnswersInPiecesAreCompleted)
{
    connect();
    adapter->deliverInPieces(4, 60);
    ASSERT_EQ(link->SendFrame("qr"), 0);
    auto ready = awaitRecord();
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->text(), meter.model().readyText);
}

TEST_F(SimUsbTest, MoreThan256BytesAtOnceAreReadOverTwoTicks)
{
    connect();
    adapter->holdAnswers(true);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(link->SendFrame("info"), 0);
    clock.advance(500);
    adapter->holdAnswers(false);

    test::LogCapture logs({"ZelmorUSB"});
    EXPECT_EQ(link->ReadUSBDriverBuffer(), 1);
    EXPECT_TRUE(logs.has("ZelmorUSB::ReadUSBDriverBuffer(), timeout"));
    link->GetFrame();
    EXPECT_EQ(link->ReadUSBDriverBuffer(), 0);
    link->GetFrame();
    ASSERT_EQ(link->receivedCount(), 6u);
    while (auto record = link->takeFrame())
        EXPECT_EQ(record->text().substr(0, 4), "Typ ");
}

TEST_F(SimUsbTest, WrongHeaderCheckLosesThatAnswerOnlyAndWrongTrailerIsMarked)
{
    connect();
    adapter->corruptNextHeaderCheck();
    ASSERT_EQ(link->SendFrame("qr"), 0);
    EXPECT_FALSE(awaitRecord());
    ASSERT_EQ(link->SendFrame("qr"), 0);
    auto ready = awaitRecord();
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->text(), meter.model().readyText);

    adapter->corruptNextTrailer();
    ASSERT_EQ(link->SendFrame("qr"), 0);
    ready = awaitRecord();
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->text(), meter.model().readyText);
    EXPECT_TRUE(link->takenFrameFailedCheck());
}

TEST_F(SimUsbTest, UnpluggedAdapterFailsWritesAndOpens)
{
    connect();
    adapter->setConnected(false);
    EXPECT_EQ(link->SendFrame("qr"), 4);
    // Taken for gone and closed: reading asks the driver nothing more.
    EXPECT_TRUE(link->linkLost());
    EXPECT_EQ(link->ReadUSBDriverBuffer(), -1);
    link->Close();
    EXPECT_EQ(link->Open(), -1);
    adapter->setConnected(true);
    EXPECT_EQ(link->Open(), 0);
    EXPECT_FALSE(link->linkLost());
    EXPECT_EQ(link->SendFrame("qr"), 0);
    EXPECT_TRUE(awaitRecord());
}

} // namespace
} // namespace bv
