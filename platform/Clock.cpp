#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace bv {

uint32_t SystemClock::now()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::wait(uint32_t ms)
{
    // One sleep for what is left: waking every millisecond cost the headless
    // program about 2 % of a core just to wait out its 100 ms ticks.
    const uint32_t start = now();
    for (uint32_t elapsed = 0; elapsed < ms; elapsed = now() - start)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms - elapsed));
}

void SystemClock::yield()
{
    // A byte takes about a millisecond at 9600 baud; sleeping that long keeps
    // echo waits from burning a core.
    std::this_thread::sleep_for(std::chrono::microseconds(500));
}

} // namespace bv
