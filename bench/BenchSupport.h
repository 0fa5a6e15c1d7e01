#pragma once
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "platform/D2xx.h"
#include "platform/Logging.h"
#include "platform/Prompt.h"
#include "tests/support/ScriptedPrompt.h"
#include "platform/SerialPort.h"

namespace bv::bench {

// Every box answered Ok, none kept.
struct OkPrompt : test::ScriptedPrompt {
    OkPrompt() { keepShown = false; }
};

// A port whose receive side replays one block of traffic, as often as read.
class ReplayPort final : public ISerialPort {
public:
    explicit ReplayPort(const std::vector<uint8_t>& traffic) : m_traffic(traffic) {}
    bool setup(size_t, size_t) override { return true; }
    bool purgeOutput() override { return true; }
    bool purgeInput() override { return true; }
    bool configure(uint32_t) override { return true; }
    bool setParity(Parity) override { return true; }
    Parity parity() const override { return Parity::Space; }
    bool setRts(bool) override { return true; }
    int bytesWaiting() override { return static_cast<int>(m_waiting); }
    int read(uint8_t* buffer, size_t count) override
    {
        const size_t n = std::min(count, m_waiting);
        for (size_t i = 0; i < n; ++i) {
            buffer[i] = m_traffic[m_at];
            m_at = (m_at + 1) % m_traffic.size();
        }
        m_waiting -= n;
        return static_cast<int>(n);
    }
    int write(const uint8_t*, size_t count) override { return static_cast<int>(count); }
    bool close() override { return true; }
    OsError lastError() const override { return {}; }

    void arrive(size_t n) { m_waiting += n; }

private:
    const std::vector<uint8_t>& m_traffic;
    size_t m_at = 0;
    size_t m_waiting = 0;
};

class ReplayPorts final : public ISerialSystem {
public:
    explicit ReplayPorts(const std::vector<uint8_t>& traffic) : m_traffic(traffic) {}
    std::unique_ptr<ISerialPort> open(const std::string&, OsError*) override
    {
        auto port = std::make_unique<ReplayPort>(m_traffic);
        last = port.get();
        return port;
    }
    std::vector<std::string> listPorts() override { return {"COM1"}; }
    ReplayPort* last = nullptr;

private:
    const std::vector<uint8_t>& m_traffic;
};

// D2XX functions whose receive queue replays one block of traffic.
class ReplayD2xx final : public ID2xx {
public:
    explicit ReplayD2xx(const std::vector<uint8_t>& traffic) : m_traffic(traffic) {}
    void arrive(size_t n) { m_waiting += n; }

    D2xxStatus createDeviceInfoList(uint32_t& count) override
    {
        count = 1;
        return kD2xxOk;
    }
    D2xxStatus getDeviceInfoList(std::vector<D2xxDeviceInfo>& nodes, uint32_t& count) override
    {
        nodes.assign(1, D2xxDeviceInfo{});
        nodes[0].description = "Zelmor USB";
        count = 1;
        return kD2xxOk;
    }
    D2xxStatus openEx(const std::string&, uint32_t, D2xxHandle& handle) override
    {
        handle = this;
        return kD2xxOk;
    }
    D2xxStatus setFlowControl(D2xxHandle, uint16_t, uint8_t, uint8_t) override { return kD2xxOk; }
    D2xxStatus setUsbParameters(D2xxHandle, uint32_t, uint32_t) override { return kD2xxOk; }
    D2xxStatus getStatus(D2xxHandle, uint32_t& rx, uint32_t& tx, uint32_t& events) override
    {
        rx = static_cast<uint32_t>(m_waiting);
        tx = events = 0;
        return kD2xxOk;
    }
    D2xxStatus setTimeouts(D2xxHandle, uint32_t, uint32_t) override { return kD2xxOk; }
    D2xxStatus read(D2xxHandle, void* buffer, uint32_t count, uint32_t& got) override
    {
        const size_t n = std::min<size_t>(count, m_waiting);
        auto* out = static_cast<uint8_t*>(buffer);
        for (size_t i = 0; i < n; ++i) {
            out[i] = m_traffic[m_at];
            m_at = (m_at + 1) % m_traffic.size();
        }
        m_waiting -= n;
        got = static_cast<uint32_t>(n);
        return kD2xxOk;
    }
    D2xxStatus write(D2xxHandle, const void*, uint32_t count, uint32_t& done) override
    {
        done = count;
        return kD2xxOk;
    }
    D2xxStatus close(D2xxHandle) override { return kD2xxOk; }

private:
    const std::vector<uint8_t>& m_traffic;
    size_t m_at = 0;
    size_t m_waiting = 0;
};


inline const std::string& measuringAnswer()
{
    static const std::string text = "al PL=  1500.123 Fl=     4.512 Te=    21.004 Td=     4.771 shutter=O";
    return text;
}

// main() of each benchmark program: quiet logging, the library's options.
inline int runBenchmarks(int argc, char** argv)
{
    log::configureForTests();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bv::bench
