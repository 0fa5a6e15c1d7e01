#include <gtest/gtest.h>

#include <sys/resource.h>

#include "platform/Clock.h"

namespace bv {
namespace {

long voluntarySwitches()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

// Found by measuring brivane-cli: a wait woke up every millisecond, so the
// 100 ms heartbeat alone kept the program busy with a thousand wake-ups a
// second (about 2 % of a core while doing nothing).
TEST(SystemClock, WaitSleepsItsTimeOutInOneGo)
{
    SystemClock clock;
    const long before = voluntarySwitches();
    const uint32_t start = clock.now();
    clock.wait(200);
    const uint32_t waited = clock.now() - start;
    const long wakeUps = voluntarySwitches() - before;
    EXPECT_GE(waited, 200u);
    EXPECT_LT(waited, 400u);
    EXPECT_LT(wakeUps, 20) << "woke up " << wakeUps << " times in 200 ms";
}

} // namespace
} // namespace bv
