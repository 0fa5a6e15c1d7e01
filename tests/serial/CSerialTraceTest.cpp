#include <gtest/gtest.h>

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/loggingevent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SerialBench.h"

namespace bv::test {
namespace {

class CaptureAppender : public log4cxx::AppenderSkeleton {
public:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
    {
        messages.push_back(event->getRenderedMessage());
    }
    void close() override {}
    bool requiresLayout() const override { return false; }
    std::vector<std::string> messages;
};

class SerialTrace : public SerialBench {
protected:
    void SetUp() override
    {
        m_logger = log4cxx::Logger::getLogger("CSerial");
        m_oldLevel = m_logger->getLevel();
        m_logger->setLevel(log4cxx::Level::getDebug());
        m_logger->setAdditivity(false);
        m_logger->addAppender(capture);
    }
    void TearDown() override
    {
        m_logger->removeAppender(capture);
        m_logger->setAdditivity(true);
        m_logger->setLevel(m_oldLevel);
    }
    bool traced(const std::string& text) const
    {
        const auto& m = capture->messages;
        return std::find(m.begin(), m.end(), text) != m.end();
    }

    std::shared_ptr<CaptureAppender> capture = std::make_shared<CaptureAppender>();

private:
    log4cxx::LoggerPtr m_logger;
    log4cxx::LevelPtr m_oldLevel;
};

TEST_F(SerialTrace, FailedStepGoesToTheDebugLogWithTheSystemText)
{
    EXPECT_EQ(link.bInitSerial("COM9"), 0);
    EXPECT_TRUE(traced("Error: bInitSerial(), CreateFile() failed with error 2: No such file or directory"));
}

TEST_F(SerialTrace, SendTimingsAreTraced)
{
    open();
    ASSERT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    EXPECT_TRUE(traced("   0 ms for SetCommState(MARKPARITY)"));
    EXPECT_TRUE(traced("iAnzahl =   2 iSent =   2"));
}

} // namespace
} // namespace bv::test
