#include <gtest/gtest.h>

#include "cli/ConsoleText.h"

namespace bv::cli {
namespace {

TEST(ConsoleText, DegreeSignInTheReadersCharacterSet)
{
    const std::string line = "21.50\t\xB0\t0.75\xB0\t\n";
    EXPECT_EQ(ConsoleText("UTF-8").fromLatin1(line), "21.50\t\xC2\xB0\t0.75\xC2\xB0\t\n");
    // Latin-9 has the sign where Latin-1 has it.
    EXPECT_EQ(ConsoleText("ISO-8859-15").fromLatin1(line), line);
    // Plain ASCII has none: the bytes stay as they were, not cut or lost.
    EXPECT_EQ(ConsoleText("ANSI_X3.4-1968").fromLatin1(line), line);
    EXPECT_EQ(ConsoleText("no such charset").fromLatin1(line), line);
}

} // namespace
} // namespace bv::cli
