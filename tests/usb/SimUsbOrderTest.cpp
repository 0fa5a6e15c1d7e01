#include <gtest/gtest.h>

#include "link/UsbListing.h"
#include "link/ZelmorUSB.h"
#include "platform/Clock.h"
#include "sim/SimMeter.h"
#include "sim/SimUsb.h"

namespace bv {
namespace {

// Found by the soak: answers delivered in pieces used to interleave with the
// next answer's pieces, which no device does, and the link then took a message
// of mixed bytes (its trailer mismatch is not fatal) as the meter's answer.
TEST(SimUsbOrder, AnswersInPiecesNeverInterleave)
{
    ManualClock clock(1000);
    sim::SimMeter meter;
    sim::SimUsbAdapter adapter(clock);
    adapter.attachMeter(meter);
    auto link = ListAndCreateUsbLink(adapter, false);
    ASSERT_TRUE(link);
    ASSERT_EQ(link->Open(), 0);
    adapter.deliverInPieces(3, 40);
    ASSERT_EQ(link->SendFrame("ql"), 0);
    clock.advance(10);
    ASSERT_EQ(link->SendFrame("info"), 0);
    std::vector<std::string> texts;
    for (int tick = 0; tick < 100 && texts.size() < 2; ++tick) {
        clock.advance(100);
        link->ReadUSBDriverBuffer();
        link->GetFrame();
        while (auto record = link->takeFrame())
            texts.emplace_back(record->text());
    }
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].substr(0, 6), "al PL=");
    EXPECT_EQ(texts[0].size(), 68u) << texts[0];
    EXPECT_EQ(texts[1].substr(0, 4), "Typ ") << texts[1];
    EXPECT_EQ(adapter.badTrailers(), 0u);
}

} // namespace
} // namespace bv
