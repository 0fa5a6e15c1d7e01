#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include <log4cxx/consoleappender.h>
#include <log4cxx/logger.h>

#include "platform/Logging.h"
#include "support/TempDir.h"

namespace bv {
namespace {

// Runs a body with the working directory in a fresh temp dir, then restores
// both the directory and the quiet test logging.
template <class Body>
void inTempDir(Body body)
{
    test::TempDir dir;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    body(dir);
    std::filesystem::current_path(before);
    log::configureForTests();
}

TEST(Logging, ShippedConfigurationWritesRecordsWithTheFileTag)
{
    inTempDir([](const test::TempDir& dir) {
        std::filesystem::copy_file(std::string(BRIVANE_SOURCE_DIR) + "/res/log4j.properties",
                                   dir.file("log4j.properties"));
        log::configure("log4j.properties");
        log::Logger logger("CSerial");
        BV_LOG(logger, log::Level::Error, "C_Serial", "port " << 3 << " failed");
        std::ifstream in(dir.file("BrivaneSoftware.log"));
        std::ostringstream s;
        s << in.rdbuf();
        EXPECT_NE(s.str().find("CSerial [C_Serial:"), std::string::npos) << s.str();
        EXPECT_NE(s.str().find("port 3 failed"), std::string::npos);
    });
}

// The installed program keeps its diagnostic log in its state folder.
TEST(Logging, ShippedConfigurationWritesIntoTheGivenLogFolder)
{
    inTempDir([](const test::TempDir& dir) {
        std::filesystem::create_directory(dir.file("state"));
        log::configure(std::string(BRIVANE_SOURCE_DIR) + "/res/log4j.properties", dir.file("state"));
        log::Logger logger("CBrivaneApp");
        BV_LOG(logger, log::Level::Error, "BV_main", "into the state folder");
        std::ifstream in(dir.file("state/BrivaneSoftware.log"));
        std::ostringstream s;
        s << in.rdbuf();
        EXPECT_NE(s.str().find("into the state folder"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir.file("BrivaneSoftware.log")));
    });
}

TEST(Logging, MissingOrBrokenFileFallsBackAndGoesOn)
{
    inTempDir([](const test::TempDir& dir) {
        log::configure("no-such-file.properties");
        log::Logger logger("CBrivaneApp");
        BV_LOG_ERROR(logger, "BV_main", "still logging");
        EXPECT_TRUE(logger.isErrorEnabled());

        std::ofstream(dir.file("broken.properties")) << "log4j.rootLogger=\x01\x02 nonsense,,,\n";
        log::configure(dir.file("broken.properties"));
        BV_LOG_ERROR(logger, "BV_main", "still logging");
        EXPECT_TRUE(logger.isErrorEnabled());
    });
}

TEST(Logging, FullDiskNeverEndsTheProgramAndTheFallbackStaysOffStdout)
{
    inTempDir([](const test::TempDir& dir) {
        std::ofstream(dir.file("full.properties"))
            << "log4j.rootLogger=ERROR, F\n"
               "log4j.appender.F=org.apache.log4j.FileAppender\n"
               "log4j.appender.F.File=/dev/full\n"
               "log4j.appender.F.layout=org.apache.log4j.PatternLayout\n"
               "log4j.appender.F.layout.ConversionPattern=%m%n\n";
        log::configure(dir.file("full.properties"));
        log::Logger logger("CBrivaneApp");
        EXPECT_NO_THROW(for (int i = 0; i < 200; ++i) BV_LOG_ERROR(logger, "BV_main", "record " << i));

        // Without a properties file: the console is stderr, stdout carries readings.
        log::configure("no-such-file.properties");
        const auto appenders = log4cxx::Logger::getRootLogger()->getAllAppenders();
        ASSERT_EQ(appenders.size(), 1u);
        const auto console = log4cxx::cast<log4cxx::ConsoleAppender>(appenders.front());
        ASSERT_TRUE(console);
        EXPECT_EQ(console->getTarget(), LOG4CXX_STR("System.err"));
    });
}

} // namespace
} // namespace bv
