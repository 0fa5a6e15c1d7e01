#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings/ProgramSettings.h"
#include "link/BusLog.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"

namespace bv {
namespace {

using test::readFile;

std::tm fixedTime()
{
    std::tm t{};
    t.tm_mday = 7;
    t.tm_mon = 11;
    t.tm_year = 119;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 30;
    return t;
}

const std::string kStamp = "07.12.2019 09:05:30";
const std::string kStartBanner = "\r\n***** Programm Neustart : " + kStamp + " - BV_2000 *****\r\n\r\n";
const std::string kEndBanner = "\r\n***** Programm beendet : " + kStamp + " - BV_2000 *****\r\n";

void writeAll(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

FRAME frame(uint8_t destination, uint8_t source, std::string_view payload, uint8_t kind = kBusFrame)
{
    FRAME f;
    fillRecord(f, destination, source, kind, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    return f;
}

std::string line(unsigned long n, const std::string& rest)
{
    char head[32];
    std::snprintf(head, sizeof head, "%10lu: ", n);
    return head + rest + "\r\n";
}

class BusLogTest : public ::testing::Test {
protected:
    BusLogTest()
    {
        settings.m_sProgramDir = dir.path();
        settings.m_iProtocol = 1;
        settings.m_ulFileNo = 1;
        settings.m_ulCommandNo = 0;
    }

    std::unique_ptr<BusLog> makeLog()
    {
        return std::make_unique<BusLog>(settings, prompt, "BV_2000", [] { return std::optional(fixedTime()); });
    }
    std::string file(unsigned n) const
    {
        char name[32];
        std::snprintf(name, sizeof name, "BusPro%02u.Dat", n);
        return dir.file(name);
    }

    test::TempDir dir;
    ProgramSettings settings;
    test::ScriptedPrompt prompt;
};

TEST_F(BusLogTest, FirstRunCreatesIndexAndFileOneAndStoresFinalCounterAtStop)
{
    auto log = makeLog();
    log->StartBusLog();
    ASSERT_TRUE(log->isOpen());
    EXPECT_EQ(readFile(file(0)), "01 0000000000");
    EXPECT_EQ(readFile(file(1)), kStartBanner);

    log->LogFrame(frame(113, 64, "qr"));
    log->LogFrame(frame(64, 113, "ar Brivane"));
    // Flushed per line: nothing waits in a buffer for a crash to lose.
    EXPECT_EQ(readFile(file(1)), kStartBanner + line(1, " 64->113: qr") + line(2, "113-> 64: ar Brivane"));

    log->StopBusLog();
    EXPECT_FALSE(log->isOpen());
    EXPECT_EQ(readFile(file(0)), "01 0000000002");
    EXPECT_EQ(readFile(file(1)), kStartBanner + line(1, " 64->113: qr") + line(2, "113-> 64: ar Brivane") + kEndBanner);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(BusLogTest, RestartAppendsToTheCurrentFileAndContinuesTheCounter)
{
    writeAll(file(0), "03 0000000016");
    writeAll(file(3), "earlier\r\n");
    auto log = makeLog();
    log->StartBusLog();
    log->LogFrame(frame(113, 64, "qr"));
    log->StopBusLog();
    log->StartBusLog();
    log->LogFrame(frame(113, 64, "ql"));
    log->StopBusLog();

    EXPECT_EQ(readFile(file(3)), "earlier\r\n" + kStartBanner + line(17, " 64->113: qr") + kEndBanner +
                                    kStartBanner + line(18, " 64->113: ql") + kEndBanner);
    EXPECT_EQ(readFile(file(0)), "03 0000000018");
    EXPECT_EQ(settings.m_ulFileNo, 3u);
    EXPECT_EQ(settings.m_ulCommandNo, 18u);
    EXPECT_FALSE(std::filesystem::exists(file(1)));
}

TEST_F(BusLogTest, LastLineOfFileEightRollsOverToAnEmptiedFileOne)
{
    writeAll(file(0), "08 0000008191");
    writeAll(file(1), "old contents of file one\r\n");
    auto log = makeLog();
    log->StartBusLog();
    log->LogFrame(frame(113, 64, "qr"));

    EXPECT_EQ(readFile(file(8)), kStartBanner + line(8192, " 64->113: qr") +
                                    "\r\n***** Fortsetzung in Datei BusPro01.Dat - " + kStamp + " *****\r\n");
    const std::string continued = "***** Fortsetzung von Datei BusPro08.Dat - " + kStamp + " - BV_2000 *****\r\n\r\n";
    EXPECT_EQ(readFile(file(1)), continued);
    EXPECT_EQ(settings.m_ulFileNo, 1u);

    log->LogFrame(frame(64, 113, "ar"));
    log->StopBusLog();
    EXPECT_EQ(readFile(file(1)), continued + line(8193, "113-> 64: ar") + kEndBanner);
    EXPECT_EQ(readFile(file(0)), "01 0000008193");
}

TEST_F(BusLogTest, EightFilesOf4096LinesAreUsedInTurnWithAContinuousCounter)
{
    auto log = makeLog();
    log->StartBusLog();
    const unsigned long total = 8 * BusLog::kLinesPerFile + 1;
    for (unsigned long i = 0; i < total; ++i)
        log->LogFrame(frame(113, 64, "ql"));
    log->StopBusLog();

    for (unsigned n = 2; n <= 8; ++n) {
        const std::string text = readFile(file(n));
        SCOPED_TRACE(n);
        char from[64];
        std::snprintf(from, sizeof from, "***** Fortsetzung von Datei BusPro%02u.Dat - ", n - 1);
        EXPECT_EQ(text.rfind(from, 0), 0u);
        const unsigned long first = (n - 1) * BusLog::kLinesPerFile + 1;
        const unsigned long last = n * BusLog::kLinesPerFile;
        EXPECT_NE(text.find(line(first, " 64->113: ql")), std::string::npos);
        EXPECT_NE(text.find(line(last, " 64->113: ql")), std::string::npos);
        EXPECT_EQ(text.find(line(last + 1, " 64->113: ql")), std::string::npos);
        size_t lines = 0;
        for (size_t at = text.find(": ql\r\n"); at != std::string::npos; at = text.find(": ql\r\n", at + 1))
            ++lines;
        EXPECT_EQ(lines, BusLog::kLinesPerFile);
    }
    // Back in file 1, which was emptied first: only the newest line is there.
    const std::string one = readFile(file(1));
    EXPECT_EQ(one.rfind("***** Fortsetzung von Datei BusPro08.Dat - ", 0), 0u);
    EXPECT_NE(one.find(line(total, " 64->113: ql")), std::string::npos);
    EXPECT_EQ(one.find(line(1, " 64->113: ql")), std::string::npos);
    EXPECT_EQ(readFile(file(0)), "01 0000032769");
    EXPECT_FALSE(std::filesystem::exists(file(9)));
}

TEST_F(BusLogTest, FrameLinePayloadStopsAtZeroByteAndAfter300Bytes)
{
    using namespace std::string_literals;
    EXPECT_EQ(BusLog::frameLine(5, frame(113, 64, "ab\0cd"s)), "         5:  64->113: ab\n");
    EXPECT_EQ(BusLog::frameLine(1, frame(0, 0, "info", kTextToAdapter)), "         1:   0->  0: info\n");
    const std::string longText(450, 'x');
    EXPECT_EQ(BusLog::frameLine(1, frame(1, 2, longText)), "         1:   2->  1: " + std::string(300, 'x') + "\n");
    // A length field beyond what the record holds never reads past it.
    FRAME big = frame(1, 2, std::string(2000, 'y'));
    big.setLength(65535);
    EXPECT_EQ(BusLog::frameLine(1, big).size(), std::string("         1:   2->  1: ").size() + 300 + 1);
    // Payload line ends are stored as text line ends too.
    auto log = makeLog();
    log->StartBusLog();
    log->LogFrame(frame(113, 64, "a\nb"));
    EXPECT_EQ(readFile(file(1)), kStartBanner + line(1, " 64->113: a\r\nb"));
}

TEST_F(BusLogTest, ProtocolOffTouchesNoFileAndKeepsTheCounters)
{
    settings.m_iProtocol = 0;
    settings.m_ulFileNo = 3;
    settings.m_ulCommandNo = 45;
    auto log = makeLog();
    log->StartBusLog();
    log->LogFrame(frame(113, 64, "qr"));
    log->StopBusLog();
    EXPECT_FALSE(log->isOpen());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(settings.m_ulFileNo, 3u);
    EXPECT_EQ(settings.m_ulCommandNo, 45u);
    EXPECT_TRUE(prompt.shown.empty());

    // Only 1 switches the log on.
    settings.m_iProtocol = 2;
    makeLog()->StartBusLog();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(BusLogTest, UnusableDirectoryShowsTheMessagesAndTheProgramRunsOn)
{
    writeAll(dir.file("plain"), "x");
    settings.m_sProgramDir = dir.file("plain") + "/sub";
    auto log = makeLog();
    log->StartBusLog();
    EXPECT_FALSE(log->isOpen());
    ASSERT_EQ(prompt.shown.size(), 2u);
    EXPECT_EQ(prompt.shown[0].text, "Cannot open BV_BusPro00.Dat.");
    EXPECT_EQ(prompt.shown[1].text, "Cannot open BV_BusPro01.Dat.");
    EXPECT_EQ(prompt.shown[1].icon, PromptIcon::Exclamation);

    log->LogFrame(frame(113, 64, "qr"));
    log->StopBusLog();
    EXPECT_EQ(settings.m_ulCommandNo, 0u);
    EXPECT_EQ(prompt.shown.size(), 2u);
}

TEST_F(BusLogTest, FailedRolloverLeavesTheLogClosedUntilTheNextStart)
{
    writeAll(file(0), "01 0000004095");
    std::filesystem::create_directory(file(2));  // cannot be opened as a file
    auto log = makeLog();
    log->StartBusLog();
    log->LogFrame(frame(113, 64, "qr"));
    EXPECT_FALSE(log->isOpen());
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text, "Cannot open BV_BusPro02.Dat.");
    log->LogFrame(frame(113, 64, "ql"));
    EXPECT_EQ(settings.m_ulCommandNo, 4096u);
}

TEST_F(BusLogTest, IndexThatCannotBeRewrittenAtStopGivesTheMessageWithZero)
{
    auto log = makeLog();
    log->StartBusLog();
    std::filesystem::remove(file(0));
    std::filesystem::create_directory(file(0));
    log->StopBusLog();
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text, "Cannot open BV_BusPro00.Dat.");
}

struct CorruptIndex {
    std::string index;
    unsigned long fileNo;
    unsigned long counter;
};

class BusLogCorruptIndexTest : public BusLogTest, public ::testing::WithParamInterface<CorruptIndex> {};

// The index must never make the log write into the index itself or into a
// ninth file; unreadable numbers read as 0.
TEST_P(BusLogCorruptIndexTest, StartsInAFileOfTheSetAndLeavesTheIndexAlone)
{
    writeAll(file(0), GetParam().index);
    auto log = makeLog();
    log->StartBusLog();
    ASSERT_TRUE(log->isOpen());
    EXPECT_EQ(settings.m_ulFileNo, GetParam().fileNo);
    EXPECT_EQ(settings.m_ulCommandNo, GetParam().counter);
    EXPECT_EQ(readFile(file(0)), GetParam().index);
    EXPECT_EQ(readFile(file(GetParam().fileNo)), kStartBanner);
    for (unsigned n : {9u, 12u, 99u})
        EXPECT_FALSE(std::filesystem::exists(file(n)));
}

INSTANTIATE_TEST_SUITE_P(Cases, BusLogCorruptIndexTest,
                         ::testing::Values(CorruptIndex{"00 0000000045", 1, 45},
                                           CorruptIndex{"09 0000000045", 1, 45},
                                           CorruptIndex{"12 0000000007", 1, 7},
                                           CorruptIndex{"xy abcdefghij", 1, 0},
                                           CorruptIndex{"05 -000000003", 5, 0},
                                           CorruptIndex{"4", 4, 0},
                                           CorruptIndex{"", 1, 0}));

TEST_F(BusLogTest, FileNumberOutsideTheSetFromTheSettingsStartsAtOne)
{
    settings.m_ulFileNo = 0;
    auto log = makeLog();
    log->StartBusLog();
    EXPECT_EQ(readFile(file(0)), "01 0000000000");
    EXPECT_EQ(readFile(file(1)), kStartBanner);
}

TEST_F(BusLogTest, StampWithoutLocalTimeIsFehler)
{
    BusLog log(settings, prompt, "BV_2000", [] { return std::optional<std::tm>(); });
    log.StartBusLog();
    EXPECT_EQ(readFile(file(1)), "\r\n***** Programm Neustart : Fehler - BV_2000 *****\r\n\r\n");
    EXPECT_EQ(BusLog::stamp(fixedTime()), kStamp);
}

TEST_F(BusLogTest, ReplacedMessageTextIsNeverUsedAsAFormat)
{
    strings::setOverrides({{BusLog::kCannotOpenText, "%s Datei BV_BusPro%02lu.Dat %n nicht offen 100%%"}});
    settings.m_sProgramDir = dir.file("missing");
    makeLog()->StartBusLog();
    strings::setOverrides({});
    ASSERT_EQ(prompt.shown.size(), 2u);
    EXPECT_EQ(prompt.shown[1].text, "%s Datei BV_BusPro01.Dat %n nicht offen 100%");
}

} // namespace
} // namespace bv
