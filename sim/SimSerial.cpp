#include "sim/SimSerial.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/Clock.h"
#include "sim/SimBus.h"

namespace bv::sim {

struct SimSerialSystem::PortState {
    std::string name;
    SimBus* bus = nullptr;
    bool present = true;
    bool failParity = false;
    bool failConfigure = false;
    OsError openError;
    SimPortRecord record;
};

namespace {

bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto la = static_cast<unsigned char>(a[i]);
        const auto lb = static_cast<unsigned char>(b[i]);
        if (std::tolower(la) != std::tolower(lb))
            return false;
    }
    return true;
}

OsError errnoError(int code) { return {code, std::strerror(code)}; }

class SimSerialPort final : public ISerialPort {
public:
    SimSerialPort(std::shared_ptr<SimSerialSystem::PortState> state, IClock& clock)
        : m_state(std::move(state)), m_clock(clock)
    {
    }
    ~SimSerialPort() override { close(); }

    bool setup(size_t, size_t) override { return usable(); }
    bool purgeOutput() override { return usable(); }
    bool purgeInput() override
    {
        if (!usable())
            return false;
        if (m_state->bus)
            m_state->bus->discardInput();
        return true;
    }
    bool configure(uint32_t) override
    {
        if (!usable())
            return false;
        ++m_state->record.configures;
        if (m_state->failConfigure) {
            m_error = errnoError(EINVAL);
            return false;
        }
        m_parity = Parity::Space;
        return true;
    }
    bool setParity(Parity parity) override
    {
        if (!usable())
            return false;
        m_state->record.paritySets.emplace_back(m_clock.now(), parity);
        if (m_state->failParity) {
            m_error = errnoError(EINVAL);
            return false;
        }
        m_parity = parity;
        return true;
    }
    Parity parity() const override { return m_parity; }
    bool setRts(bool on) override
    {
        if (!usable())
            return false;
        m_state->record.rtsSets.emplace_back(m_clock.now(), on);
        if (!on && m_state->bus && m_state->bus->pcTransmitting())
            ++m_state->record.rtsDroppedMidByte;
        return true;
    }
    int bytesWaiting() override
    {
        if (!usable())
            return -1;
        return m_state->bus ? static_cast<int>(m_state->bus->available()) : 0;
    }
    int read(uint8_t* buffer, size_t count) override
    {
        if (!usable())
            return -1;
        return m_state->bus ? static_cast<int>(m_state->bus->receive(buffer, count)) : 0;
    }
    int write(const uint8_t* bytes, size_t count) override
    {
        if (!usable())
            return -1;
        m_state->record.writes.emplace_back(bytes, bytes + count);
        if (m_state->bus)
            m_state->bus->transmit(bytes, count, m_parity);
        return static_cast<int>(count);
    }
    bool close() override
    {
        if (!m_open)
            return true;
        m_open = false;
        m_state->record.open = false;
        return true;
    }
    OsError lastError() const override { return m_error; }

private:
    bool usable()
    {
        if (!m_open) {
            m_error = errnoError(EBADF);
            return false;
        }
        if (!m_state->present) {
            m_error = errnoError(EIO);
            return false;
        }
        return true;
    }

    std::shared_ptr<SimSerialSystem::PortState> m_state;
    IClock& m_clock;
    bool m_open = true;
    Parity m_parity = Parity::Space;
    OsError m_error;
};

} // namespace

SimSerialSystem::SimSerialSystem(IClock& clock) : m_clock(clock) {}

SimSerialSystem::SimSerialSystem(IClock& clock, SimBus& bus, const std::string& name) : m_clock(clock)
{
    addPort(name, &bus);
}

SimSerialSystem::~SimSerialSystem() = default;

void SimSerialSystem::addPort(const std::string& name, SimBus* bus)
{
    if (PortState* existing = find(name)) {
        existing->bus = bus;
        return;
    }
    auto state = std::make_shared<PortState>();
    state->name = name;
    state->bus = bus;
    m_ports.push_back(std::move(state));
}

SimSerialSystem::PortState* SimSerialSystem::find(const std::string& name) const
{
    for (const auto& port : m_ports)
        if (sameName(port->name, name))
            return port.get();
    return nullptr;
}

void SimSerialSystem::setPresent(const std::string& name, bool present)
{
    if (PortState* port = find(name))
        port->present = present;
}

void SimSerialSystem::failNextOpens(const std::string& name, OsError error)
{
    if (PortState* port = find(name))
        port->openError = std::move(error);
}

void SimSerialSystem::failParity(const std::string& name, bool fail)
{
    if (PortState* port = find(name))
        port->failParity = fail;
}

void SimSerialSystem::failConfigure(const std::string& name, bool fail)
{
    if (PortState* port = find(name))
        port->failConfigure = fail;
}

const SimPortRecord& SimSerialSystem::record(const std::string& name) const
{
    if (PortState* port = find(name))
        return port->record;
    throw std::out_of_range("no simulated port " + name);
}

void SimSerialSystem::clearRecord(const std::string& name)
{
    if (PortState* port = find(name)) {
        const bool open = port->record.open;
        const int opens = port->record.opens;
        port->record = {};
        port->record.open = open;
        port->record.opens = opens;
    }
}

std::unique_ptr<ISerialPort> SimSerialSystem::open(const std::string& name, OsError* error)
{
    auto fail = [error](OsError e) -> std::unique_ptr<ISerialPort> {
        if (error)
            *error = std::move(e);
        return nullptr;
    };
    std::shared_ptr<PortState> state;
    for (const auto& port : m_ports)
        if (sameName(port->name, name))
            state = port;
    if (!state || !state->present)
        return fail(errnoError(ENOENT));
    if (state->openError.code != 0)
        return fail(state->openError);
    if (state->record.open)
        return fail(errnoError(EBUSY));
    state->record.open = true;
    ++state->record.opens;
    return std::make_unique<SimSerialPort>(state, m_clock);
}

std::vector<std::string> SimSerialSystem::listPorts()
{
    std::vector<std::string> names;
    for (const auto& port : m_ports)
        if (port->present && !port->record.open)
            names.push_back(port->name);
    return names;
}

} // namespace bv::sim
