#include "link/ReceiveRing.h"

#include <algorithm>
#include <cstring>

namespace bv {

ReceiveRing::ReceiveRing(uint16_t size) : m_data(size ? size : 1), m_size(size ? size : 1) {}

size_t ReceiveRing::append(const uint8_t* bytes, size_t n)
{
    size_t stored = 0;
    while (stored < n && count() < m_size - 1) {
        m_data[m_write] = bytes[stored++];
        m_write = static_cast<uint16_t>((m_write + 1) % m_size);
    }
    return stored;
}

void ReceiveRing::peek(uint8_t* out, size_t n) const
{
    n = std::min<size_t>(n, count());
    const size_t first = std::min<size_t>(n, m_size - m_read);
    std::memcpy(out, m_data.data() + m_read, first);
    if (n > first)
        std::memcpy(out + first, m_data.data(), n - first);
}

void ReceiveRing::peekAt(size_t offset, uint8_t* out, size_t n) const
{
    if (offset >= count())
        return;
    n = std::min<size_t>(n, count() - offset);
    const size_t from = (m_read + offset) % m_size;
    const size_t first = std::min<size_t>(n, m_size - from);
    std::memcpy(out, m_data.data() + from, first);
    if (n > first)
        std::memcpy(out + first, m_data.data(), n - first);
}

void ReceiveRing::take(uint8_t* out, size_t n)
{
    n = std::min<size_t>(n, count());
    peek(out, n);
    drop(n);
}

void ReceiveRing::drop(size_t n)
{
    n = std::min<size_t>(n, count());
    m_read = static_cast<uint16_t>((m_read + n) % m_size);
}

} // namespace bv
