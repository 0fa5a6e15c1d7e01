#include <gtest/gtest.h>

#include "platform/Profile.h"

namespace bv {
namespace {

// Found by fuzzing the profile: in a file with "\r\n" line ends, a last line
// without a line break lost its trailing '\r' each time the file was read and
// written back, so the file changed without anyone changing it.
TEST(ProfileFuzzRegression, LastLineWithoutBreakKeepsItsCarriageReturn)
{
    const std::string content = "Port=\r\nFile_N00000000t\r\r";
    ProfileDocument document(content);
    EXPECT_EQ(document.text(), content);
    EXPECT_EQ(ProfileDocument(document.text()).text(), content);

    // A written key still ends the old last line properly.
    document.writeString("Comm", "Port", "com2");
    EXPECT_EQ(document.getString("Comm", "Port", "", 100), "com2");
    const std::string written = document.text();
    EXPECT_EQ(ProfileDocument(written).text(), written);
}

} // namespace
} // namespace bv
