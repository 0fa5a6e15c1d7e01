#pragma once
#include <cstdint>
#include <string_view>

#include "link/Frame.h"

namespace bv {

// What the scheduler offers to the waiting events: a received frame, or the
// time message of one heartbeat. Lives only for the duration of a Dispatch.
class BusMessage {
public:
    // Frame message; the record must outlive the message.
    explicit BusMessage(const FRAME& frame) : m_bNotAFrame(0), m_pFrame(&frame) {}
    // Time message, text "Time".
    static BusMessage Time() { return BusMessage(); }

    int NotAFrame() const { return m_bNotAFrame; }
    bool IsFrame() const { return m_bNotAFrame == 0; }
    // The received record; null for a time message.
    const FRAME* Frame() const { return m_pFrame; }
    uint8_t Destination() const { return m_pFrame ? m_pFrame->destination : 0; }
    uint8_t Source() const { return m_pFrame ? m_pFrame->source : 0; }
    // Payload of a frame message (of the length in its header), "Time" otherwise.
    std::string_view GetText() const
    {
        return m_pFrame ? m_pFrame->text() : std::string_view(m_szTime);
    }

private:
    BusMessage() : m_bNotAFrame(1), m_pFrame(nullptr), m_szTime("Time") {}

    int m_bNotAFrame;
    const FRAME* m_pFrame;
    char m_szTime[200] = {};
};

} // namespace bv
