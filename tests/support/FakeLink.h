#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "link/Link.h"

namespace bv::test {

// A link that records what is sent and hands back frames the test injects.
// Shared by the tests, the fuzz targets and the benchmarks.
class FakeLink final : public ILink {
public:
    struct Sent {
        uint8_t source;
        uint8_t destination;
        std::string payload;
    };

    LinkResult open() override { m_open = true; return LinkResult::Ok; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool lost() const override { return false; }
    std::string lastError() const override { return {}; }
    std::string name() const override { return "fake link"; }
    std::string describe() const override { return "fake"; }
    bool addressed() const override { return true; }

    LinkResult send(uint8_t source, uint8_t destination, std::string_view payload) override
    {
        ++sendCount;
        if (!keepSent)
            return sendResult;
        sent.push_back({source, destination, std::string(payload)});
        if (onSend)
            onSend(sent.back());
        return sendResult;
    }

    int takeFrames(const FrameTaker& take) override
    {
        int n = 0;
        while (!incoming.empty()) {
            const FRAME frame = incoming.front();
            incoming.pop_front();
            ++n;
            if (!take(frame, false))
                break;
        }
        return n;
    }

    // A frame as the bus would deliver it to us.
    void inject(uint8_t destination, uint8_t source, const std::string& text, uint8_t kind = kBusFrame)
    {
        FRAME frame;
        fillRecord(frame, destination, source, kind, reinterpret_cast<const uint8_t*>(text.data()),
                   text.size());
        incoming.push_back(frame);
    }

    std::vector<Sent> sent;
    std::deque<FRAME> incoming;
    std::function<void(const Sent&)> onSend;  // answer scripting
    LinkResult sendResult = LinkResult::Ok;
    // Off for long runs (fuzzing, benchmarks): only the count is kept.
    bool keepSent = true;
    long sendCount = 0;

private:
    bool m_open = true;
};

} // namespace bv::test
