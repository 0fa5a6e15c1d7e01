#include <gtest/gtest.h>

#include "platform/Logging.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Tests read log records; keep the console quiet unless asked for.
    bv::log::configureForTests();
    return RUN_ALL_TESTS();
}
