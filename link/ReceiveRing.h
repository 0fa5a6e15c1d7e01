#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bv {

// A link's fixed-size byte ring with 16-bit read and write positions. It holds
// at most size - 1 bytes; the links never append more than free() - 1.
class ReceiveRing {
public:
    explicit ReceiveRing(uint16_t size);

    uint16_t size() const { return m_size; }
    uint16_t count() const
    {
        return static_cast<uint16_t>(m_write >= m_read ? m_write - m_read : m_write + m_size - m_read);
    }
    uint16_t free() const { return static_cast<uint16_t>(m_size - count()); }

    // Appends byte by byte; returns how many were stored (stops short of full).
    size_t append(const uint8_t* bytes, size_t n);
    // Copies n bytes from the read position (n <= count()).
    void peek(uint8_t* out, size_t n) const;
    // Copies n bytes starting offset bytes past the read position (offset + n <= count()).
    void peekAt(size_t offset, uint8_t* out, size_t n) const;
    uint8_t at(size_t offset) const { return m_data[(m_read + offset) % m_size]; }
    void take(uint8_t* out, size_t n);
    void drop(size_t n);
    void clear() { m_read = m_write = 0; }

private:
    std::vector<uint8_t> m_data;
    uint16_t m_size;
    uint16_t m_read = 0;
    uint16_t m_write = 0;
};

} // namespace bv
