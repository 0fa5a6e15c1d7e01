#pragma once
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ProgramSettings.h"
#include "link/CSerial.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "sim/SimBus.h"
#include "sim/SimSerial.h"
#include "support/ScriptedPrompt.h"

namespace bv::test {

// A bus device that answers "qr" with "Ready" and "ql" with a reading.
class Responder final : public sim::ISimBusDevice {
public:
    explicit Responder(uint8_t address, uint32_t delayMs = 30) : m_address(address), m_delay(delayMs) {}
    uint8_t address() const override { return m_address; }
    std::vector<sim::Reply> onFrame(uint8_t source, std::string_view payload, uint32_t) override
    {
        heard.emplace_back(payload);
        sources.push_back(source);
        if (payload == "qr")
            return {{m_delay, "Ready"}};
        if (payload == "ql")
            return {{m_delay, "al PL=0012.34 Fl=04.50 Te=21.50 Td=02.10 shutter=O"}};
        return {};
    }
    std::vector<std::string> heard;
    std::vector<uint8_t> sources;

private:
    uint8_t m_address;
    uint32_t m_delay;
};

// A received record, copied out of the pool.
struct Received {
    uint8_t destination;
    uint8_t source;
    std::string payload;
};

inline Received copyOf(const FRAME& f)
{
    return {f.destination, f.source, std::string(f.text())};
}

inline const uint8_t* text(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

// COM1 on a simulated bus with a responder at 113, all on a manual clock.
class SerialBench : public ::testing::Test {
protected:
    SerialBench()
    {
        settings.m_bSetParity = 1;
        settings.m_iFuncExist = 0;
        bus.attach(meter);
    }

    void open() { ASSERT_EQ(link.bInitSerial("com1"), 1); }

    // One timer tick of the window: time passes, bytes move into the ring,
    // frames are cut; the window takes every record from the list.
    std::vector<Received> tick(uint32_t ms = 100)
    {
        clock.advance(ms);
        link.ReadAvailable();
        link.ExtractFrames();
        std::vector<Received> out;
        auto& list = link.receivedFrames();
        while (!list.empty()) {
            out.push_back(copyOf(*list.front()));
            list.pop_front();
        }
        return out;
    }

    std::vector<Received> ticks(int n)
    {
        std::vector<Received> all;
        for (int i = 0; i < n; ++i)
            for (auto& r : tick())
                all.push_back(std::move(r));
        return all;
    }

    const sim::SimPortRecord& com1() const { return ports.record("COM1"); }

    ManualClock clock{5000};
    sim::SimBus bus{clock, 7};
    sim::SimSerialSystem ports{clock, bus, "COM1"};
    ScriptedPrompt prompt;
    ProgramSettings settings;
    Responder meter{113};
    CSerial link{ports, clock, prompt, settings};
};

} // namespace bv::test
