#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

#include "platform/Profile.h"
#include "support/TempDir.h"
#include "tests/settings/ProfileFilesDouble.h"

namespace bv {
namespace {

using test::readFile;
using test::writeFile;

TEST(ProfileDocument, NamesCompareWithoutRegardToCase)
{
    ProfileDocument doc("[Comm]\nPort=com3\n");
    EXPECT_EQ(doc.getString("COMM", "port", "x", 100), "com3");
    EXPECT_EQ(doc.getString("comm", "PORT", "x", 100), "com3");
    EXPECT_EQ(doc.getString("Com", "Port", "x", 100), "x");

    doc.writeString("cOmM", "pOrT", "com4");
    EXPECT_EQ(doc.text(), "[Comm]\nPort=com4\n");
}

TEST(ProfileDocument, ValueIsCutToTheBufferSize)
{
    const std::string longValue(250, 'v');
    ProfileDocument doc("[S]\nk=" + longValue + "\n");
    EXPECT_EQ(doc.getString("S", "k", "", 100), std::string(99, 'v'));
    EXPECT_EQ(doc.getString("S", "k", "", 200), std::string(199, 'v'));
    EXPECT_EQ(doc.getString("S", "k", "", 199), std::string(198, 'v'));
    EXPECT_EQ(doc.getString("S", "k", "", 0), "");
    EXPECT_EQ(doc.getString("S", "missing", std::string(120, 'd'), 100), std::string(99, 'd'));
}

TEST(ProfileDocument, BlanksAndMatchingQuotesAreRemoved)
{
    ProfileDocument doc("[S]\n"
                        "  spaced  =   a value with blanks \t \n"
                        "double=\"  quoted  \"\n"
                        "single= 'x' \n"
                        "mismatch=\"half'\n"
                        "lone=\"\n"
                        "empty=\n");
    EXPECT_EQ(doc.getString("S", "spaced", "", 100), "a value with blanks");
    EXPECT_EQ(doc.getString("S", "double", "", 100), "  quoted  ");
    EXPECT_EQ(doc.getString("S", "single", "", 100), "x");
    EXPECT_EQ(doc.getString("S", "mismatch", "", 100), "\"half'");
    EXPECT_EQ(doc.getString("S", "lone", "", 100), "\"");
    EXPECT_EQ(doc.getString("S", "empty", "default", 100), "");
    EXPECT_EQ(doc.getString("S", "absent", "default  ", 100), "default");
}

TEST(ProfileDocument, IntegerIsTheLeadingDecimalNumber)
{
    ProfileDocument doc("[S]\n"
                        "neg=  -42abc\n"
                        "plus=+7\n"
                        "text=abc\n"
                        "real=12.9\n"
                        "hex=0x1F\n"
                        "empty=\n"
                        "big=4294967297\n");
    EXPECT_EQ(doc.getInt("S", "neg", 5), -42);
    EXPECT_EQ(doc.getInt("S", "plus", 5), 7);
    EXPECT_EQ(doc.getInt("S", "text", 5), 0);
    EXPECT_EQ(doc.getInt("S", "real", 5), 12);
    EXPECT_EQ(doc.getInt("S", "hex", 5), 0);
    EXPECT_EQ(doc.getInt("S", "empty", 5), 5);
    EXPECT_EQ(doc.getInt("S", "absent", 5), 5);
    EXPECT_EQ(doc.getInt("S", "big", 5), 1);  // wraps at 32 bits, never undefined
}

TEST(ProfileDocument, FirstOccurrenceWinsAndKeysOutsideSectionsAreIgnored)
{
    ProfileDocument doc("stray=1\n[A]\nk=first\nk=second\n[B]\nk=b\n[a]\nk=third\nonlyhere=4\n");
    EXPECT_EQ(doc.getString("A", "k", "", 100), "first");
    EXPECT_EQ(doc.getString("A", "onlyhere", "", 100), "4");
    EXPECT_EQ(doc.getString("", "stray", "none", 100), "none");

    // Keys added to a document already read: the lines behind them move on,
    // an earlier line of the same key wins, and a "key" that reads as a
    // header starts a section. It answers as the file it writes, read anew.
    auto answersAsItsFile = [&] {
        const ProfileDocument reread(doc.text());
        for (const char* section : {"A", "B", "C=x", ""})
            for (const char* key : {"k", "new", "onlyhere", "later", "stray", "[C"})
                EXPECT_EQ(doc.getString(section, key, "-", 100), reread.getString(section, key, "-", 100))
                    << section << " " << key << " in\n" << doc.text();
    };
    doc.writeString("A", "new", "n");
    answersAsItsFile();
    doc.writeString("a", "onlyhere=q", "v");  // a line "onlyhere=..." ahead of the old one
    EXPECT_EQ(doc.getString("A", "onlyhere", "", 100), "q=v");
    answersAsItsFile();
    doc.writeString("B", "[C", "x");
    doc.writeString("C=x", "later", "y");
    EXPECT_EQ(doc.getString("C=x", "later", "", 100), "y");
    answersAsItsFile();
}

TEST(ProfileDocument, WritingKeepsEveryOtherLineInPlace)
{
    const std::string original = "; settings of the test bench\n"
                                 "\n"
                                 "[Comm]\n"
                                 "Port = com2   ; inline remark stays part of the value\n"
                                 "garbage line without equals\n"
                                 "Rescan=1,2\n"
                                 "; comment before the next section\n"
                                 "\n"
                                 "[Unknown]\n"
                                 "foo=bar\n";
    ProfileDocument doc(original);
    doc.writeString("Comm", "Rescan", "3,4");         // replaced in place
    doc.writeString("Comm", "Set Parity", "1");        // added after the section's last key
    doc.writeString("Unknown", "foo", "bar");          // same value: no change
    doc.writeString("New Section", "key", "value");    // section added at the end
    EXPECT_EQ(doc.text(), "; settings of the test bench\n"
                          "\n"
                          "[Comm]\n"
                          "Port = com2   ; inline remark stays part of the value\n"
                          "garbage line without equals\n"
                          "Rescan=3,4\n"
                          "Set Parity=1\n"
                          "; comment before the next section\n"
                          "\n"
                          "[Unknown]\n"
                          "foo=bar\n"
                          "[New Section]\n"
                          "key=value\n");
    EXPECT_EQ(doc.getString("comm", "set parity", "", 100), "1");
    EXPECT_EQ(doc.getString("new section", "KEY", "", 100), "value");
}

TEST(ProfileDocument, UnchangedValueLeavesTheDocumentUnmodified)
{
    ProfileDocument doc("[S]\nk=v\n");
    doc.writeString("s", "K", "v");
    EXPECT_FALSE(doc.modified());
    doc.writeString("s", "K", "w");
    EXPECT_TRUE(doc.modified());
}

TEST(ProfileDocument, LineBreakInAValueCannotAddLines)
{
    ProfileDocument doc("[Comm]\nPort=com1\n");
    doc.writeString("Comm", "Device Address", "113\r\nPort=evil");
    EXPECT_EQ(doc.getString("Comm", "Device Address", "", 100), "113");
    EXPECT_EQ(doc.getString("Comm", "Port", "", 100), "com1");
    EXPECT_EQ(doc.text(), "[Comm]\nPort=com1\nDevice Address=113\n");
}

TEST(ProfileDocument, CrlfFileIsReadAndWrittenWithItsLineEnding)
{
    ProfileDocument doc("[Version]\r\nno=15\r\n[Comm]\r\nPort=com2\r\n");
    EXPECT_EQ(doc.getInt("Version", "no", 0), 15);
    EXPECT_EQ(doc.getString("Comm", "Port", "", 100), "com2");
    doc.writeString("Comm", "Port", "com3");
    doc.writeString("Comm", "Rescan", "1");
    doc.writeString("Setup", "Interval", "500");
    EXPECT_EQ(doc.text(), "[Version]\r\nno=15\r\n[Comm]\r\nPort=com3\r\nRescan=1\r\n"
                          "[Setup]\r\nInterval=500\r\n");
}

TEST(ProfileDocument, FileWithoutFinalLineEndOrWithByteOrderMark)
{
    ProfileDocument doc("\xEF\xBB\xBF[S]\nk=1");
    EXPECT_EQ(doc.getInt("S", "k", 0), 1);
    doc.writeString("S", "j", "2");
    EXPECT_EQ(doc.text(), "\xEF\xBB\xBF[S]\nk=1\nj=2\n");
}

class ProfileFileTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string path = dir.file("test.ini");
    Profile profile;
};

TEST_F(ProfileFileTest, WritingCreatesFileSectionAndKey)
{
    EXPECT_EQ(profile.getString(path, "S", "k", "none", 100), "none");
    EXPECT_EQ(profile.getInt(path, "S", "k", 3), 3);
    ASSERT_TRUE(profile.writeString(path, "S", "k", "1"));
    ASSERT_TRUE(profile.writeString(path, "T", "j", "2"));
    EXPECT_EQ(readFile(path), "[S]\nk=1\n[T]\nj=2\n");
    EXPECT_EQ(profile.getInt(path, "s", "K", 0), 1);

    EXPECT_FALSE(profile.writeString(dir.file("no/such/dir.ini"), "S", "k", "1"));
}

TEST_F(ProfileFileTest, RewriteLeavesNoTemporaryFileAndKeepsThePermissions)
{
    writeFile(path, "[S]\nk=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(profile.writeString(path, "S", "k", "2"));

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(readFile(path), "[S]\nk=2\n");
}

TEST_F(ProfileFileTest, ALinkToTheFileStaysALink)
{
    const std::string real = dir.file("real.ini");
    writeFile(real, "[S]\nk=1\n");
    std::filesystem::create_symlink(real, path);
    ASSERT_TRUE(profile.writeString(path, "S", "k", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFile(real), "[S]\nk=2\n");
}

TEST_F(ProfileFileTest, WriteProtectedFileIsReportedAndKept)
{
    writeFile(path, "[S]\nk=1\n");
    test::WriteProtectedFiles files;
    Profile protectedProfile(files);
    EXPECT_EQ(protectedProfile.getInt(path, "S", "k", 0), 1);
    EXPECT_FALSE(protectedProfile.writeString(path, "S", "k", "2"));
    EXPECT_EQ(readFile(path), "[S]\nk=1\n");
}

TEST_F(ProfileFileTest, UnreadableFileIsNeverOverwritten)
{
    // A directory stands for a file that exists but cannot be read.
    std::filesystem::create_directory(path);
    ProfileDocument doc;
    EXPECT_FALSE(profile.load(path, doc));
    EXPECT_FALSE(profile.writeString(path, "S", "k", "1"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(ProfileFileTest, RemoveFailsForMissingFiles)
{
    FileSystemProfileFiles files;
    EXPECT_FALSE(files.remove(path));
    EXPECT_FALSE(files.canWrite(path));
    EXPECT_FALSE(std::filesystem::exists(path));  // the write test creates nothing
    writeFile(path, "x");
    EXPECT_TRUE(files.canWrite(path));
    EXPECT_EQ(readFile(path), "x");
    EXPECT_TRUE(files.remove(path));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(ProfileConversions, LeadingNumbers)
{
    EXPECT_EQ(leadingReal("1.2345"), 1.2345);
    EXPECT_EQ(leadingReal("  -2.5e1x"), -25.0);
    EXPECT_EQ(leadingReal("1."), 1.0);
    EXPECT_EQ(leadingReal("abc"), 0.0);
    EXPECT_EQ(leadingReal(""), 0.0);
    EXPECT_EQ(leadingUnsigned("123456789"), 123456789ul);
    EXPECT_EQ(leadingUnsigned("x"), 0ul);
    EXPECT_EQ(leadingInt("-0"), 0);

    EXPECT_EQ(truncToInt(12.9), 12);
    EXPECT_EQ(truncToInt(-5.9), -5);
    EXPECT_EQ(truncToInt(1e30), INT_MAX);
    EXPECT_EQ(truncToInt(-1e30), INT_MIN);
    EXPECT_EQ(truncToInt(leadingReal("nan")), 0);
}

TEST(ProfileConversions, FormatsAreThoseOfPrintf)
{
    EXPECT_EQ(formatReal("%1.8f", 0.0106), "0.01060000");
    EXPECT_EQ(formatReal("%1.8f", 6000), "6000.00000000");
    EXPECT_EQ(formatReal("%g", 20.632), "20.632");
    EXPECT_EQ(formatReal("%g", -0.16), "-0.16");
    EXPECT_EQ(formatReal("%g", 3500), "3500");
    EXPECT_EQ(formatReal("%g", 1234567.0), "1.23457e+06");
    EXPECT_EQ(formatReal("%1.8f", 1e300).size(), 310u);
}

TEST(ProfileConversions, DecimalPointDoesNotFollowTheProcessLocale)
{
    const char* const previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    const std::string formatted = formatReal("%g", 1.5);
    const double parsed = leadingReal("1.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(formatted, "1.5");
    EXPECT_EQ(parsed, 1.5);
}

} // namespace
} // namespace bv
