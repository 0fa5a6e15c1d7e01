#pragma once
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/D2xx.h"
#include "platform/Logging.h"
#include "platform/Prompt.h"
#include "tests/support/ScriptedPrompt.h"
#include "platform/SerialPort.h"

namespace bv::fuzz {

// A property the code must keep; a violation is a finding like a crash.
#define BV_FUZZ_REQUIRE(cond)                                                          \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

// Logging once, quietly: errors the code logs on bad input are expected.
inline void quietLogging()
{
    static const bool done = [] {
        log::configureForTests();
        return true;
    }();
    (void)done;
}


// Bytes the test lets arrive wait here; the port hands them out in reads of
// at most `readLimit`, and reports at most `reportLimit` waiting.
struct FuzzLine {
    std::deque<uint8_t> incoming;
    size_t readLimit = SIZE_MAX;
    size_t reportLimit = SIZE_MAX;
    size_t written = 0;
    void arrive(const std::vector<uint8_t>& bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }
};

class FuzzPort final : public ISerialPort {
public:
    explicit FuzzPort(FuzzLine& line) : m_line(line) {}
    bool setup(size_t, size_t) override { return true; }
    bool purgeOutput() override { return true; }
    bool purgeInput() override { return true; }
    bool configure(uint32_t) override { return true; }
    bool setParity(Parity p) override
    {
        m_parity = p;
        return true;
    }
    Parity parity() const override { return m_parity; }
    bool setRts(bool) override { return true; }
    int bytesWaiting() override { return static_cast<int>(std::min(m_line.incoming.size(), m_line.reportLimit)); }
    int read(uint8_t* buffer, size_t count) override
    {
        const size_t n = std::min({count, m_line.incoming.size(), m_line.readLimit});
        std::copy_n(m_line.incoming.begin(), n, buffer);
        m_line.incoming.erase(m_line.incoming.begin(), m_line.incoming.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int>(n);
    }
    int write(const uint8_t*, size_t count) override
    {
        m_line.written += count;
        return static_cast<int>(count);
    }
    bool close() override { return true; }
    OsError lastError() const override { return {}; }

private:
    FuzzLine& m_line;
    Parity m_parity = Parity::Space;
};

class FuzzPorts final : public ISerialSystem {
public:
    std::unique_ptr<ISerialPort> open(const std::string&, OsError*) override
    {
        return std::make_unique<FuzzPort>(line);
    }
    std::vector<std::string> listPorts() override { return {"COM1"}; }
    FuzzLine line;
};

// D2XX functions over a byte queue, with read and status results the input
// chooses; writes vanish.
class FuzzD2xx final : public ID2xx {
public:
    std::deque<uint8_t> queue;
    size_t readLimit = SIZE_MAX;   // a read delivers at most this many bytes
    size_t reportLimit = SIZE_MAX; // getStatus reports at most this many
    D2xxStatus readStatus = kD2xxOk;
    D2xxStatus writeStatus = kD2xxOk;

    void arrive(const std::vector<uint8_t>& bytes) { queue.insert(queue.end(), bytes.begin(), bytes.end()); }

    D2xxStatus createDeviceInfoList(uint32_t& count) override
    {
        count = 1;
        return kD2xxOk;
    }
    D2xxStatus getDeviceInfoList(std::vector<D2xxDeviceInfo>& nodes, uint32_t& count) override
    {
        D2xxDeviceInfo info;
        info.description = "Zelmor USB";
        nodes.assign(1, info);
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
        rx = static_cast<uint32_t>(std::min(queue.size(), reportLimit));
        tx = events = 0;
        return kD2xxOk;
    }
    D2xxStatus setTimeouts(D2xxHandle, uint32_t, uint32_t) override { return kD2xxOk; }
    D2xxStatus read(D2xxHandle, void* buffer, uint32_t count, uint32_t& got) override
    {
        got = 0;
        if (readStatus != kD2xxOk)
            return readStatus;
        const size_t n = std::min({static_cast<size_t>(count), queue.size(), readLimit});
        std::copy_n(queue.begin(), n, static_cast<uint8_t*>(buffer));
        queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(n));
        got = static_cast<uint32_t>(n);
        return kD2xxOk;
    }
    D2xxStatus write(D2xxHandle, const void*, uint32_t count, uint32_t& done) override
    {
        done = writeStatus == kD2xxOk ? count : 0;
        return writeStatus;
    }
    D2xxStatus close(D2xxHandle) override { return kD2xxOk; }
};

} // namespace bv::fuzz
