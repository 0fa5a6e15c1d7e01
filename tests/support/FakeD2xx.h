#pragma once
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/D2xx.h"

namespace bv::test {

// A scripted D2XX driver: bytes the test lets "arrive" wait in the driver's
// receive queue; writes, time-outs and opens are recorded.
class FakeD2xx final : public ID2xx {
public:
    std::vector<D2xxDeviceInfo> devices;
    D2xxStatus createStatus = kD2xxOk;
    D2xxStatus listStatus = kD2xxOk;
    D2xxStatus openStatus = kD2xxOk;
    D2xxStatus readStatus = kD2xxOk;
    D2xxStatus writeStatus = kD2xxOk;
    uint32_t writeShortBy = 0;
    bool throwOnRead = false;
    uint32_t readLimit = UINT32_MAX;  // a read delivers at most this many bytes

    std::deque<uint8_t> queue;
    std::function<void()> afterRead;  // e.g. more bytes arrive meanwhile

    std::vector<std::string> openedWith;
    std::vector<uint32_t> openFlags;
    std::vector<std::vector<uint8_t>> written;
    std::vector<std::pair<uint32_t, uint32_t>> timeouts;
    std::vector<uint32_t> readSizes;
    uint16_t flow = 0;
    uint8_t xon = 0, xoff = 0;
    uint32_t inSize = 0, outSize = 0;
    int closes = 0;
    int statusCalls = 0;

    void arrive(const std::vector<uint8_t>& bytes) { queue.insert(queue.end(), bytes.begin(), bytes.end()); }
    D2xxHandle handle() { return &m_token; }

    D2xxStatus createDeviceInfoList(uint32_t& count) override
    {
        count = static_cast<uint32_t>(devices.size());
        return createStatus;
    }
    D2xxStatus getDeviceInfoList(std::vector<D2xxDeviceInfo>& nodes, uint32_t& count) override
    {
        if (listStatus != kD2xxOk)
            return listStatus;
        nodes.assign(devices.begin(), devices.begin() + std::min<size_t>(count, devices.size()));
        count = static_cast<uint32_t>(nodes.size());
        return kD2xxOk;
    }
    D2xxStatus openEx(const std::string& argument, uint32_t flags, D2xxHandle& h) override
    {
        openedWith.push_back(argument);
        openFlags.push_back(flags);
        h = openStatus == kD2xxOk ? handle() : nullptr;
        return openStatus;
    }
    D2xxStatus setFlowControl(D2xxHandle h, uint16_t f, uint8_t on, uint8_t off) override
    {
        if (h != handle())
            return kD2xxInvalidHandle;
        flow = f;
        xon = on;
        xoff = off;
        return kD2xxOk;
    }
    D2xxStatus setUsbParameters(D2xxHandle h, uint32_t in, uint32_t out) override
    {
        if (h != handle())
            return kD2xxInvalidHandle;
        inSize = in;
        outSize = out;
        return kD2xxOk;
    }
    D2xxStatus getStatus(D2xxHandle h, uint32_t& rx, uint32_t& tx, uint32_t& events) override
    {
        ++statusCalls;
        rx = tx = events = 0;
        if (h != handle())
            return kD2xxInvalidHandle;
        rx = static_cast<uint32_t>(queue.size());
        return kD2xxOk;
    }
    D2xxStatus setTimeouts(D2xxHandle h, uint32_t readMs, uint32_t writeMs) override
    {
        if (h != handle())
            return kD2xxInvalidHandle;
        timeouts.emplace_back(readMs, writeMs);
        return kD2xxOk;
    }
    D2xxStatus read(D2xxHandle h, void* buffer, uint32_t count, uint32_t& got) override
    {
        got = 0;
        if (throwOnRead)
            throw std::runtime_error("driver gone");
        if (h != handle())
            return kD2xxInvalidHandle;
        readSizes.push_back(count);
        if (readStatus != kD2xxOk)
            return readStatus;
        auto* out = static_cast<uint8_t*>(buffer);
        while (got < count && got < readLimit && !queue.empty()) {
            out[got++] = queue.front();
            queue.pop_front();
        }
        if (afterRead)
            afterRead();
        return kD2xxOk;
    }
    D2xxStatus write(D2xxHandle h, const void* buffer, uint32_t count, uint32_t& done) override
    {
        done = 0;
        if (h != handle())
            return kD2xxInvalidHandle;
        if (writeStatus != kD2xxOk)
            return writeStatus;
        done = count > writeShortBy ? count - writeShortBy : 0;
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        written.emplace_back(bytes, bytes + done);
        return kD2xxOk;
    }
    D2xxStatus close(D2xxHandle h) override
    {
        if (h != handle())
            return kD2xxInvalidHandle;
        ++closes;
        return kD2xxOk;
    }

private:
    int m_token = 0;
};

} // namespace bv::test
