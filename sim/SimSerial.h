#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/SerialPort.h"

namespace bv {
class IClock;
}

namespace bv::sim {

class SimBus;

// What happened at one simulated port, for tests to look at.
struct SimPortRecord {
    bool open = false;
    int opens = 0;
    int configures = 0;
    std::vector<std::pair<uint32_t, Parity>> paritySets;  // every setParity call: time, parity
    std::vector<std::pair<uint32_t, bool>> rtsSets;       // every setRts call: time, raised
    int rtsDroppedMidByte = 0;  // RTS lowered while the PC's own bytes were still on the line
    std::vector<std::vector<uint8_t>> writes;             // every write, as the PC made it
};

// Serial ports that lead to simulated buses. A port opens by its name in any
// case ("com1" opens "COM1"); it is exclusive, as the real ones are.
class SimSerialSystem final : public ISerialSystem {
public:
    explicit SimSerialSystem(IClock& clock);
    // The usual set-up: "COM1" with the adapter of `bus` behind it.
    SimSerialSystem(IClock& clock, SimBus& bus, const std::string& name = "COM1");
    ~SimSerialSystem() override;

    // bus null: a port with nothing connected (writes vanish, nothing comes back).
    void addPort(const std::string& name, SimBus* bus);
    // Unplugged: opening fails, an open port fails every call.
    void setPresent(const std::string& name, bool present);
    // Opening fails with this error while set (code 0 clears it).
    void failNextOpens(const std::string& name, OsError error);
    // setParity fails from now on (a driver without mark/space parity).
    void failParity(const std::string& name, bool fail);
    // configure fails from now on (the port refuses the line settings).
    void failConfigure(const std::string& name, bool fail);
    const SimPortRecord& record(const std::string& name) const;
    void clearRecord(const std::string& name);

    std::unique_ptr<ISerialPort> open(const std::string& name, OsError* error) override;
    std::vector<std::string> listPorts() override;

    struct PortState;

private:
    PortState* find(const std::string& name) const;

    IClock& m_clock;
    std::vector<std::shared_ptr<PortState>> m_ports;
};

} // namespace bv::sim
