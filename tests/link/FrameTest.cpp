#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "link/Frame.h"
#include "link/FrameCheck.h"
#include "link/ReceiveRing.h"

#ifdef BRIVANE_HAVE_ZLIB
#include <zlib.h>
#endif

namespace bv {
namespace {

uint32_t checkOf(const std::string& s)
{
    return FrameCheck::update(FrameCheck::start, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(FrameCheck, KnownAnswers)
{
    EXPECT_EQ(checkOf(""), 0xFFFFFFFFu);
    EXPECT_EQ(checkOf("123456789"), 0x340BC6D9u);
    // Continuing over two ranges equals one pass over both.
    const std::string a = "12345", b = "6789";
    uint32_t v = FrameCheck::update(FrameCheck::start, reinterpret_cast<const uint8_t*>(a.data()), a.size());
    v = FrameCheck::update(v, reinterpret_cast<const uint8_t*>(b.data()), b.size());
    EXPECT_EQ(v, 0x340BC6D9u);
}

#ifdef BRIVANE_HAVE_ZLIB
TEST(FrameCheck, IsTheComplementOfZlibCrc32)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> buf(rng() % 3000);
        for (auto& b : buf)
            b = static_cast<uint8_t>(rng());
        const uint32_t ours = FrameCheck::update(FrameCheck::start, buf.data(), buf.size());
        const uint32_t zlib = static_cast<uint32_t>(crc32(0L, buf.data(), static_cast<uInt>(buf.size())));
        ASSERT_EQ(ours, ~zlib) << "length " << buf.size();
    }
}
#endif

TEST(SerialFrame, LayoutAndAcceptance)
{
    const std::string p = "qr";
    auto f = buildSerialFrame(113, 64, reinterpret_cast<const uint8_t*>(p.data()), p.size());
    ASSERT_EQ(f.size(), 11u);
    EXPECT_EQ(f[0], 113);
    EXPECT_EQ(f[1], 64);
    EXPECT_EQ(f[2], 0);
    EXPECT_EQ(f[3], 0);
    EXPECT_EQ(f[4], 2);
    EXPECT_EQ(std::string(f.begin() + 5, f.begin() + 7), "qr");
    EXPECT_EQ(FrameCheck::getBigEndian(&f[7]), checkOf(std::string(f.begin(), f.begin() + 7)));
    EXPECT_TRUE(serialFrameAccepted(f.data(), f.size()));
    EXPECT_FALSE(serialFrameAccepted(f.data(), f.size() - 1));

    auto corrupt = f;
    corrupt[9] ^= 1;
    EXPECT_FALSE(serialFrameAccepted(corrupt.data(), corrupt.size()));
}

// Frames whose header breaks a rule are refused even with a correct check.
std::vector<uint8_t> frameWithHeader(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4)
{
    const size_t length = 256u * b3 + b4;
    std::vector<uint8_t> f(5 + length + 4, 'x');
    f[0] = b0, f[1] = b1, f[2] = b2, f[3] = b3, f[4] = b4;
    FrameCheck::putBigEndian(FrameCheck::update(FrameCheck::start, f.data(), 5 + length), &f[5 + length]);
    return f;
}

TEST(SerialFrame, RefusedHeaders)
{
    auto zero = frameWithHeader(113, 64, 0, 0, 0);
    EXPECT_FALSE(serialFrameAccepted(zero.data(), zero.size()));
    auto big = frameWithHeader(113, 64, 0, 6, 0);
    EXPECT_FALSE(serialFrameAccepted(big.data(), big.size()));
    auto tooLong = frameWithHeader(113, 64, 0, 5, 0xDD);  // 1501
    EXPECT_FALSE(serialFrameAccepted(tooLong.data(), tooLong.size()));
    auto longest = frameWithHeader(113, 64, 0, 5, 0xDC);  // 1500
    EXPECT_TRUE(serialFrameAccepted(longest.data(), longest.size()));
    auto byte2 = frameWithHeader(113, 64, 1, 0, 3);
    EXPECT_FALSE(serialFrameAccepted(byte2.data(), byte2.size()));
    auto wake0 = frameWithHeader(0xAA, 64, 0, 0, 3);
    EXPECT_FALSE(serialFrameAccepted(wake0.data(), wake0.size()));
    auto wake1 = frameWithHeader(113, 0xAA, 0, 0, 3);
    EXPECT_FALSE(serialFrameAccepted(wake1.data(), wake1.size()));
}

TEST(UsbMessage, TextWithAndWithoutTrailer)
{
    const std::string t = "qr";
    auto plain = buildUsbText(reinterpret_cast<const uint8_t*>(t.data()), t.size());
    ASSERT_EQ(plain.size(), 11u);
    EXPECT_EQ(plain[0], 0x80);
    EXPECT_EQ(plain[1], 0);
    EXPECT_EQ(plain[2], 0);
    EXPECT_EQ(plain[3], 2);
    EXPECT_EQ(plain[4], 0);
    EXPECT_EQ(FrameCheck::getBigEndian(&plain[5]), FrameCheck::update(FrameCheck::start, plain.data(), 5));

    auto trailed = buildUsbTextWithTrailer(reinterpret_cast<const uint8_t*>(t.data()), t.size());
    ASSERT_EQ(trailed.size(), 15u);
    EXPECT_EQ(trailed[3], 6);
    EXPECT_EQ(trailed[4], 1);
    EXPECT_EQ(FrameCheck::getBigEndian(&trailed[11]), FrameCheck::update(FrameCheck::start, trailed.data(), 11));
}

TEST(UsbMessage, RelayedFrame)
{
    const std::string p = "ql";
    auto m = buildUsbRelay(113, 64, reinterpret_cast<const uint8_t*>(p.data()), p.size());
    ASSERT_EQ(m.size(), p.size() + 26);
    EXPECT_EQ(256 * m[2] + m[3], static_cast<int>(p.size() + 17));
    EXPECT_EQ(std::string(m.begin() + 9, m.begin() + 17), "bus 123 ");
    EXPECT_TRUE(serialFrameAccepted(m.data() + 17, m.size() - 17));
    EXPECT_TRUE(usbBodyIsRelayedFrame(m.data() + 9, 8 + 11));
}

TEST(UsbMessage, AdapterTextsAreNotRelayedFrames)
{
    const uint8_t two[] = {'b', 'u'};
    EXPECT_FALSE(usbBodyIsRelayedFrame(two, 2));
    const uint8_t capital[] = {'B', 'u', 's', 'C', 'o', 'n'};
    EXPECT_FALSE(usbBodyIsRelayedFrame(capital, sizeof capital));
}

TEST(FrameRecord, FillCutsAtCapacity)
{
    FRAME r;
    std::vector<uint8_t> big(2500, 'a');
    fillRecord(r, 1, 2, kTextFromAdapter, big.data(), big.size());
    EXPECT_EQ(r.length(), 2000);
    EXPECT_EQ(r.payloadSize(), 2000u);
    r.setLength(2500);  // a length field larger than the record is never read past it
    EXPECT_EQ(r.payloadSize(), 2000u);
}

TEST(ReceiveRing, WrapsAndNeverFillsCompletely)
{
    ReceiveRing ring(8);
    const uint8_t data[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(ring.append(data, 9), 7u);
    EXPECT_EQ(ring.count(), 7);
    EXPECT_EQ(ring.free(), 1);
    ring.drop(5);
    EXPECT_EQ(ring.append(data, 4), 4u);  // write position wraps
    uint8_t out[6];
    ring.peek(out, 6);
    EXPECT_EQ(out[0], 6);
    EXPECT_EQ(out[1], 7);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[5], 4);
    EXPECT_EQ(ring.at(3), 2);
    ring.take(out, 6);
    EXPECT_EQ(ring.count(), 0);
}

} // namespace
} // namespace bv
