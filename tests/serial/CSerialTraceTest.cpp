#include <gtest/gtest.h>

#include "SerialBench.h"
#include "support/LogCapture.h"

namespace bv::test {
namespace {

using SerialTrace = SerialBench;

TEST_F(SerialTrace, FailedStepGoesToTheDebugLogWithTheSystemText)
{
    LogCapture log({"CSerial"});
    EXPECT_EQ(link.bInitSerial("COM9"), 0);
    EXPECT_TRUE(log.has("Error: bInitSerial(), CreateFile() failed with error 2: No such file or directory",
                        "DEBUG"));
}

TEST_F(SerialTrace, SendTimingsAreTraced)
{
    LogCapture log({"CSerial"});
    open();
    ASSERT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    EXPECT_TRUE(log.has("   0 ms for SetCommState(MARKPARITY)", "DEBUG"));
    EXPECT_TRUE(log.has("iAnzahl =   2 iSent =   2", "DEBUG"));
}

} // namespace
} // namespace bv::test
