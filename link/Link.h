#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "link/Frame.h"

namespace bv {

// What a link call came to. Negative values are failures; the set is closed,
// so a switch over it needs no default.
enum class LinkResult : int {
    Ok = 0,
    NotOpen = -1,     // no port or adapter open (or it would not open)
    Failed = -2,      // certainly not sent: no echo, write refused, bus never quiet
    Incomplete = -3,  // the write did not finish in its time: part may be on the line
};

constexpr bool ok(LinkResult r) { return r == LinkResult::Ok; }
const char* linkResultText(LinkResult r);

// A record as the link hands it over. One whose check failed is for the
// monitor and the log, never an answer. False stops the taking.
using FrameTaker = std::function<bool(const FRAME& record, bool checkFailed)>;

// The road to the meter: the serial port with its echoing adapter, or the USB
// adapter. Link selection chooses one; everything else holds it as this.
class ILink {
public:
    virtual ~ILink() = default;

    // Opens the port or adapter this link last had and proves it is there
    // (a serial adapter must echo). Ok when it did; lastError says why not.
    virtual LinkResult open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // It failed under use with an error that says the device is gone; it is
    // closed then and stays marked until the next open.
    virtual bool lost() const = 0;
    // The system's words for the last failure or the loss.
    virtual std::string lastError() const = 0;
    // The port or adapter as the operator's messages name it.
    virtual std::string name() const = 0;
    // The plant link's word for it ("usb", "serial COM1"); empty when nothing is named.
    virtual std::string describe() const = 0;
    // Frames carry bus addresses on a bus other devices share: answers are
    // matched by address and the bus lock is taken before asking.
    virtual bool addressed() const = 0;
    // A text (or bus frame) from source to destination; links without bus
    // addresses send the text alone.
    virtual LinkResult send(uint8_t source, uint8_t destination, std::string_view payload) = 0;
    // Reads what arrived and hands each whole record to take, oldest first.
    // Returns how many were handed over. A taker that returns false may have
    // destroyed the link: nothing of it is touched afterwards.
    virtual int takeFrames(const FrameTaker& take) = 0;
};

} // namespace bv
