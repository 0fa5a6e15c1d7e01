#pragma once
#include <cstddef>
#include <cstdint>

namespace bv::FrameCheck {

// CRC-32/JAMCRC: reflected polynomial 0xEDB88320, start 0xFFFFFFFF, no final
// inversion. The running value may be continued over several ranges.
constexpr uint32_t start = 0xFFFFFFFFu;
uint32_t update(uint32_t value, const uint8_t* bytes, size_t count);

inline void putBigEndian(uint32_t value, uint8_t* out)
{
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

inline uint32_t getBigEndian(const uint8_t* in)
{
    return (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
}

} // namespace bv::FrameCheck
