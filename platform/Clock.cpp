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
    const uint32_t start = now();
    while (now() - start < ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void SystemClock::yield()
{
    // A byte takes about a millisecond at 9600 baud; sleeping that long keeps
    // echo waits from burning a core.
    std::this_thread::sleep_for(std::chrono::microseconds(500));
}

} // namespace bv
