#include "link/FrameCheck.h"

#include <array>

namespace bv::FrameCheck {
namespace {

constexpr std::array<uint32_t, 256> makeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[i] = c;
    }
    return table;
}

constexpr auto kTable = makeTable();

} // namespace

uint32_t update(uint32_t value, const uint8_t* bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        value = (value >> 8) ^ kTable[(value ^ bytes[i]) & 0xFFu];
    return value;
}

} // namespace bv::FrameCheck
