#pragma once
#include <cstdint>

namespace bv {

// Millisecond tick counter, 32 bits, wrapping. Every wait in the program asks
// this clock, so tests can run hours of bus traffic on a manual clock.
class IClock {
public:
    virtual ~IClock() = default;
    virtual uint32_t now() = 0;
    // Busy-wait helpers: loops call these so that a manual clock advances and
    // a simulator behind the same clock gets to answer.
    virtual void wait(uint32_t ms) = 0;
    virtual void yield() = 0;
};

class SystemClock final : public IClock {
public:
    uint32_t now() override;
    void wait(uint32_t ms) override;
    void yield() override;
};

// Time moves only when told: wait(ms) advances by ms, yield() by one tick.
class ManualClock final : public IClock {
public:
    explicit ManualClock(uint32_t start = 0) : m_now(start) {}
    uint32_t now() override { return m_now; }
    void wait(uint32_t ms) override { m_now += ms; }
    void yield() override { m_now += 1; }
    void advance(uint32_t ms) { m_now += ms; }
    void set(uint32_t t) { m_now = t; }

private:
    uint32_t m_now;
};

} // namespace bv
