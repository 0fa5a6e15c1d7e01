#include "platform/Logging.h"

#include <log4cxx/basicconfigurator.h>
#include <log4cxx/consoleappender.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/propertyconfigurator.h>
#include <log4cxx/spi/location/locationinfo.h>

#include <fstream>

namespace bv::log {

Logger::Logger(const char* name) : m_logger(log4cxx::Logger::getLogger(name)), m_name(name) {}

bool Logger::isDebugEnabled() const { return m_logger->isDebugEnabled(); }
bool Logger::isErrorEnabled() const { return m_logger->isErrorEnabled(); }

void Logger::write(Level level, const std::string& message, const char* fileTag, int line) const
{
    log4cxx::LevelPtr lv;
    switch (level) {
    case Level::Trace: lv = log4cxx::Level::getTrace(); break;
    case Level::Debug: lv = log4cxx::Level::getDebug(); break;
    case Level::Info: lv = log4cxx::Level::getInfo(); break;
    case Level::Warn: lv = log4cxx::Level::getWarn(); break;
    case Level::Error: lv = log4cxx::Level::getError(); break;
    }
    if (!m_logger->isEnabledFor(lv))
        return;
    m_logger->forcedLog(lv, message, log4cxx::spi::LocationInfo(fileTag, fileTag, "", line));
}

void configure(const std::string& propertiesPath)
{
    std::ifstream probe(propertiesPath);
    if (probe.good()) {
        probe.close();
        log4cxx::PropertyConfigurator::configure(propertiesPath);
        if (log4cxx::Logger::getRootLogger()->getAllAppenders().size() > 0)
            return;
    }
    log4cxx::BasicConfigurator::configure();
    log4cxx::Logger::getRootLogger()->setLevel(log4cxx::Level::getWarn());
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
