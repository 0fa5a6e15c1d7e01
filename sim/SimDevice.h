#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bv::sim {

// One answer of a simulated device: a payload that leaves the device delayMs
// after the command that caused it has fully arrived.
struct Reply {
    uint32_t delayMs = 0;
    std::string payload;
};

// A device that listens on the simulated RS-485 bus. The bus (with its echoing
// adapter, line timing and byte-level faults) cuts the PC's frames and hands
// each complete frame to the devices whose address it carries; the replies go
// back on the bus as frames with the two addresses exchanged.
class ISimBusDevice {
public:
    virtual ~ISimBusDevice() = default;
    virtual uint8_t address() const = 0;
    virtual std::vector<Reply> onFrame(uint8_t source, std::string_view payload, uint32_t now) = 0;
};

} // namespace bv::sim
