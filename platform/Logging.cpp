#include "platform/Logging.h"

#include <log4cxx/consoleappender.h>
#include <log4cxx/helpers/fileinputstream.h>
#include <log4cxx/helpers/properties.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/propertyconfigurator.h>
#include <log4cxx/spi/location/locationinfo.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <fstream>

namespace bv::log {

Logger::Logger(const char* name) : m_logger(log4cxx::Logger::getLogger(name)), m_name(name) {}

bool Logger::isDebugEnabled() const { return m_logger->isDebugEnabled(); }
bool Logger::isErrorEnabled() const { return m_logger->isErrorEnabled(); }

namespace {

log4cxx::LevelPtr levelOf(Level level)
{
    switch (level) {
    case Level::Trace: return log4cxx::Level::getTrace();
    case Level::Debug: return log4cxx::Level::getDebug();
    case Level::Info: return log4cxx::Level::getInfo();
    case Level::Warn: return log4cxx::Level::getWarn();
    case Level::Error: break;
    }
    return log4cxx::Level::getError();
}

std::atomic<bool> g_failureReported{false};

void reportFailure(const char* what)
{
    if (g_failureReported.exchange(true))
        return;
    std::fprintf(stderr, "BrivaneSoftware: the diagnostic log cannot be written (%s); "
                         "the program goes on without it\n", what);
    std::fflush(stderr);
}

} // namespace

bool Logger::isEnabled(Level level) const { return m_logger->isEnabledFor(levelOf(level)); }

void Logger::write(Level level, const std::string& message, const char* fileTag, int line) const
{
    // A log that cannot be written must not end the program it describes.
    try {
        const log4cxx::LevelPtr lv = levelOf(level);
        if (!m_logger->isEnabledFor(lv))
            return;
        m_logger->forcedLog(lv, message, log4cxx::spi::LocationInfo(fileTag, fileTag, "", line));
    } catch (const std::exception& e) {
        reportFailure(e.what());
    } catch (...) {
        reportFailure("unknown error");
    }
}

void configure(const std::string& propertiesPath, const std::string& logDirectory)
{
    std::ifstream probe(propertiesPath);
    if (probe.good()) {
        probe.close();
        try {
            log4cxx::helpers::Properties properties;
            properties.load(std::make_shared<log4cxx::helpers::FileInputStream>(propertiesPath));
            const log4cxx::LogString key = LOG4CXX_STR("brivane.logdir");
            // A file that names the folder itself keeps it.
            if (properties.getProperty(key).empty())
                properties.setProperty(key, logDirectory.empty() ? std::string(".") : logDirectory);
            log4cxx::PropertyConfigurator::configure(properties);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "BrivaneSoftware: %s cannot be read (%s)\n", propertiesPath.c_str(), e.what());
        }
        if (log4cxx::Logger::getRootLogger()->getAllAppenders().size() > 0)
            return;
    }
    // Never stdout: the CLI's readings go there.
    auto root = log4cxx::Logger::getRootLogger();
    root->removeAllAppenders();
    auto layout = std::make_shared<log4cxx::PatternLayout>("%r [%t] %p %c %x - %m%n");
    root->addAppender(std::make_shared<log4cxx::ConsoleAppender>(layout, "System.err"));
    root->setLevel(log4cxx::Level::getWarn());
}

void configureForTests()
{
    auto root = log4cxx::Logger::getRootLogger();
    root->removeAllAppenders();
    auto layout = std::make_shared<log4cxx::PatternLayout>("%-5p %c %F:%L - %m%n");
    root->addAppender(std::make_shared<log4cxx::ConsoleAppender>(layout, "System.err"));
    root->setLevel(log4cxx::Level::getError());
}

} // namespace bv::log
