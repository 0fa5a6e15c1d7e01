#pragma once
#include <cstdint>

namespace bv {

// The abstract link through which a device sends. Slot order as the serial
// link has always had it; the fourth operation is unused and answers 1.
class CBusLink {
public:
    virtual ~CBusLink() = default;
    virtual int ReadAvailable() = 0;
    // length 0: the payload is a zero-terminated text.
    virtual int iOnSendFrame(uint8_t source, uint8_t destination, const uint8_t* payload,
                             uint16_t length) = 0;
    virtual int Close() = 0;
    virtual int Reserved(int, int, int, int) { return 1; }
};

} // namespace bv
