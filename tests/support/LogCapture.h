#pragma once
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/loggingevent.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace bv::test {

// Records what the named loggers write while it lives. The loggers are set to
// DEBUG for that time and get their level back afterwards.
class LogCapture {
public:
    struct Record {
        std::string logger;
        std::string level;  // "DEBUG", "ERROR", ...
        std::string message;
    };

    explicit LogCapture(std::initializer_list<const char*> loggers)
        : m_appender(std::make_shared<Appender>())
    {
        for (const char* name : loggers) {
            auto logger = log4cxx::Logger::getLogger(name);
            m_attached.push_back({logger, logger->getLevel()});
            logger->setLevel(log4cxx::Level::getDebug());
            logger->addAppender(m_appender);
        }
    }
    ~LogCapture()
    {
        for (auto& [logger, level] : m_attached) {
            logger->removeAppender(m_appender);
            logger->setLevel(level);
        }
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // A copy: a server's thread may be logging meanwhile.
    std::vector<Record> records() const
    {
        std::lock_guard<std::mutex> lock(m_appender->mutex);
        return m_appender->records;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_appender->mutex);
        m_appender->records.clear();
    }

    // Records whose message begins with prefix (and, if given, have this level).
    size_t count(const std::string& prefix, const std::string& level = "") const
    {
        const std::vector<Record> all = records();
        return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const Record& r) {
            return r.message.rfind(prefix, 0) == 0 && (level.empty() || r.level == level);
        }));
    }
    bool has(const std::string& prefix, const std::string& level = "") const { return count(prefix, level) > 0; }

private:
    class Appender final : public log4cxx::AppenderSkeleton {
    public:
        std::vector<Record> records;
        mutable std::mutex mutex;

        void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
        {
            std::lock_guard<std::mutex> lock(mutex);
            records.push_back({event->getLoggerName(), event->getLevel()->toString(), event->getMessage()});
        }
        void close() override {}
        bool requiresLayout() const override { return false; }
    };

    std::shared_ptr<Appender> m_appender;
    std::vector<std::pair<log4cxx::LoggerPtr, log4cxx::LevelPtr>> m_attached;
};

} // namespace bv::test
