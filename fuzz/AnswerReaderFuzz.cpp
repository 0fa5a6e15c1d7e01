// The answer readers on arbitrary frames: keys, positions and widths of any
// value, records whose length field claims more than they hold.
#include "fuzz/FuzzSupport.h"

#include <cstring>

#include "control/Device.h"
#include "link/Frame.h"

using namespace bv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    auto frame = std::make_unique<FRAME>();
    std::memset(frame.get(), 0xEE, sizeof(FRAME));
    const auto payload = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, kRecordPayload));
    fillRecord(*frame, 64, 113, kBusFrame, payload.data(), payload.size());
    if (in.ConsumeBool())
        frame->setLength(in.ConsumeIntegral<uint16_t>());
    const std::string_view text = frame->text();
    BV_FUZZ_REQUIRE(text.size() <= kRecordPayload);

    while (in.remaining_bytes() > 0) {
        const FRAME* f = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : frame.get();
        const std::string key = in.ConsumeRandomLengthString(24);
        const int at = CDevice::FindKey(key, f);
        if (at >= 0) {
            BV_FUZZ_REQUIRE(f != nullptr);
            BV_FUZZ_REQUIRE(static_cast<size_t>(at) + key.size() <= text.size());
            BV_FUZZ_REQUIRE(text.substr(static_cast<size_t>(at), key.size()) == key);
        } else {
            BV_FUZZ_REQUIRE(f == nullptr || text.find(key) == std::string_view::npos || key.size() > text.size());
        }
        // Readers are called with a found key's position plus an offset, or
        // with -1 plus an offset when the key was missing.
        const int position = in.ConsumeBool() ? at + in.ConsumeIntegralInRange<int>(0, 12) : in.ConsumeIntegral<int>();
        const int width = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 12) : in.ConsumeIntegral<int>();
        CDevice::ReadNumber(f, position, width);
        const char c = CDevice::CharAt(f, position);
        if (!f || position < 0 || static_cast<size_t>(position) >= text.size())
            BV_FUZZ_REQUIRE(c == '\0');
        else
            BV_FUZZ_REQUIRE(c == text[static_cast<size_t>(position)]);
        char copy[16];
        const int n = CDevice::CopyPayload(f, position, in.ConsumeIntegralInRange<int>(-1, 16), copy);
        BV_FUZZ_REQUIRE(n >= 0 && n <= 16);
    }
    return 0;
}
