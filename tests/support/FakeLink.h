#pragma once
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/BusLink.h"
#include "link/Frame.h"

namespace bv::test {

// A link that records what is sent and hands back frames the test injects.
class FakeLink final : public CBusLink {
public:
    struct Sent {
        uint8_t source;
        uint8_t destination;
        std::string payload;
    };

    int ReadAvailable() override { return static_cast<int>(incoming.size()); }
    int iOnSendFrame(uint8_t source, uint8_t destination, const uint8_t* payload, uint16_t length) override
    {
        const size_t n = length ? length : std::strlen(reinterpret_cast<const char*>(payload));
        sent.push_back({source, destination, std::string(reinterpret_cast<const char*>(payload), n)});
        if (onSend)
            onSend(sent.back());
        return sendResult;
    }
    int Close() override { return 1; }

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
    int sendResult = 1;
};

} // namespace bv::test
