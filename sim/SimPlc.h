#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/SimDevice.h"

namespace bv::sim {

class SimMeter;

constexpr uint8_t kDefaultPlcAddress = 161;

// How the PLC's terminals are wired to the meter's shutter. Channels count from 1,
// as in the program's "Output1"/"Output2"/"Input1"/"Input2" settings; 0 is unwired.
struct PlcWiring {
    int openOutput = 1;  // energised: the actuator drives the shutter open
    int closeOutput = 2; // energised: it drives it closed
    int openInput = 1;   // active while the shutter rests open
    int closeInput = 2;  // active while it rests closed
};

// A PLC interface on the bus with 16 outputs and 16 inputs.
// "so" payload: 's', 'o', change mask (low, high), values (low, high), one spare byte;
// outputs under the mask take the values. No answer.
// "qi" answer: 'a', 'i', ':', then the input word inverted (low, high): the module
// pulls its inputs low when they are active.
class SimPlc : public ISimBusDevice {
public:
    explicit SimPlc(uint8_t address = kDefaultPlcAddress, PlcWiring wiring = {},
                    SimMeter* meter = nullptr);

    std::vector<Reply> command(std::string_view payload, uint32_t now);

    uint8_t address() const override { return m_address; }
    void setAddress(uint8_t address) { m_address = address; }
    std::vector<Reply> onFrame(uint8_t source, std::string_view payload, uint32_t now) override;

    void attach(SimMeter* meter) { m_meter = meter; }
    const PlcWiring& wiring() const { return m_wiring; }
    void setReplyDelay(uint32_t ms) { m_replyDelayMs = ms; }

    uint16_t outputs() const { return m_outputs; }
    // Active inputs as 1 bits, before the inversion on the bus.
    uint16_t inputs(uint32_t now);

    // Other sensors on the same module, active as 1 bits.
    void setOtherInputs(uint16_t active) { m_otherInputs = active; }
    void setSilent(bool silent) { m_silent = silent; }

private:
    void applyOutputs(uint32_t now);

    uint8_t m_address;
    PlcWiring m_wiring;
    SimMeter* m_meter;
    uint32_t m_replyDelayMs = 30;
    uint16_t m_outputs = 0;
    uint16_t m_otherInputs = 0;
    bool m_silent = false;
};

} // namespace bv::sim
