#pragma once
#include <memory>
#include <sstream>
#include <string>

namespace log4cxx { class Logger; }

namespace bv::log {

enum class Level { Trace, Debug, Info, Warn, Error };

// A named log4cxx logger. Records carry the source file tag that operators
// know from the logs ("BV_main", "C_Serial", ...) and the line.
class Logger {
public:
    explicit Logger(const char* name);
    bool isDebugEnabled() const;
    bool isErrorEnabled() const;
    bool isEnabled(Level level) const;
    void write(Level level, const std::string& message, const char* fileTag, int line) const;
    const std::string& name() const { return m_name; }

private:
    std::shared_ptr<log4cxx::Logger> m_logger;
    std::string m_name;
};

// Reads the properties file; when it is missing or unreadable a console
// configuration on stderr is used (stdout carries the CLI's readings) and the
// program goes on. A record that cannot be written (a full disk) never ends
// the program: the first failure is reported once on stderr.
// ${brivane.logdir} in the file stands for logDirectory, the folder of the
// diagnostic log.
void configure(const std::string& propertiesPath, const std::string& logDirectory = ".");
// Quiet configuration for test programs (errors only, on the console).
void configureForTests();

} // namespace bv::log

#define BV_LOG(logger, level, tag, expr)                                              \
    do {                                                                              \
        std::ostringstream bv_log_os_;                                                \
        bv_log_os_ << expr;                                                           \
        (logger).write(level, bv_log_os_.str(), tag, __LINE__);                       \
    } while (0)

#define BV_LOG_DEBUG(logger, tag, expr)                                               \
    do {                                                                              \
        if ((logger).isDebugEnabled()) BV_LOG(logger, ::bv::log::Level::Debug, tag, expr); \
    } while (0)

#define BV_LOG_INFO(logger, tag, expr)                                                \
    do {                                                                              \
        if ((logger).isEnabled(::bv::log::Level::Info)) BV_LOG(logger, ::bv::log::Level::Info, tag, expr); \
    } while (0)

#define BV_LOG_WARN(logger, tag, expr)                                                \
    do {                                                                              \
        if ((logger).isEnabled(::bv::log::Level::Warn)) BV_LOG(logger, ::bv::log::Level::Warn, tag, expr); \
    } while (0)

#define BV_LOG_ERROR(logger, tag, expr)                                               \
    do {                                                                              \
        if ((logger).isErrorEnabled()) BV_LOG(logger, ::bv::log::Level::Error, tag, expr); \
    } while (0)
