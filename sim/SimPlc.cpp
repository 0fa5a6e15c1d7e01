#include "sim/SimPlc.h"

#include "sim/SimMeter.h"

namespace bv::sim {

namespace {

uint16_t channelBit(int channel)
{
    if (channel < 1 || channel > 16)
        return 0;
    return static_cast<uint16_t>(1u << (channel - 1));
}

uint16_t word(std::string_view payload, size_t at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(payload[at])
                                 | (static_cast<uint8_t>(payload[at + 1]) << 8));
}

} // namespace

SimPlc::SimPlc(uint8_t address, PlcWiring wiring, SimMeter* meter)
    : m_address(address), m_wiring(wiring), m_meter(meter)
{
}

std::vector<Reply> SimPlc::onFrame(uint8_t /*source*/, std::string_view payload, uint32_t now)
{
    return command(payload, now);
}

std::vector<Reply> SimPlc::command(std::string_view payload, uint32_t now)
{
    if (m_silent)
        return {};
    if (payload.starts_with("so") && payload.size() >= 6) {
        const uint16_t change = word(payload, 2);
        const uint16_t values = word(payload, 4);
        m_outputs = static_cast<uint16_t>((m_outputs & ~change) | (values & change));
        applyOutputs(now);
        return {};
    }
    if (payload.starts_with("qi")) {
        const uint16_t pulledLow = static_cast<uint16_t>(~inputs(now));
        std::string answer = "ai:";
        answer.push_back(static_cast<char>(pulledLow & 0xFF));
        answer.push_back(static_cast<char>(pulledLow >> 8));
        return {{m_replyDelayMs, answer}};
    }
    return {{m_replyDelayMs, "Error: unknown command"}};
}

// The actuator only moves on a clear order; both coils or none leave it where it is.
void SimPlc::applyOutputs(uint32_t now)
{
    if (!m_meter)
        return;
    const bool open = (m_outputs & channelBit(m_wiring.openOutput)) != 0;
    const bool close = (m_outputs & channelBit(m_wiring.closeOutput)) != 0;
    if (open != close)
        m_meter->driveShutter(open, now);
}

uint16_t SimPlc::inputs(uint32_t now)
{
    uint16_t active = m_otherInputs;
    if (m_meter) {
        const ShutterPosition position = m_meter->shutterPosition(now);
        if (position == ShutterPosition::Open)
            active |= channelBit(m_wiring.openInput);
        else if (position == ShutterPosition::Closed)
            active |= channelBit(m_wiring.closeInput);
    }
    return active;
}

} // namespace bv::sim
