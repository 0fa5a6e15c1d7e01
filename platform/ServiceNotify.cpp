#include "platform/ServiceNotify.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <systemd/sd-daemon.h>

#include "platform/Logging.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger instance("ServiceNotify");
    return instance;
}

} // namespace

ServiceNotify::ServiceNotify()
{
    const char* socket = std::getenv("NOTIFY_SOCKET");
    m_enabled = socket && *socket;
    if (!m_enabled)
        return;
    uint64_t usec = 0;
    // Also false when WATCHDOG_PID names another process (a shell between us and the manager).
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        m_keepAliveMs = static_cast<uint32_t>(std::clamp<uint64_t>(usec / 2000, 1, UINT32_MAX));
    BV_LOG_INFO(logger(), "BV_main", "service manager at " << socket << ", keep-alive every "
                                                           << m_keepAliveMs << " ms (0: none asked for)");
}

void ServiceNotify::ready(const std::string& status)
{
    if (m_enabled)
        send("READY=1\nSTATUS=" + status);
}

void ServiceNotify::status(const std::string& text)
{
    if (m_enabled)
        send("STATUS=" + text);
}

void ServiceNotify::keepAlive()
{
    if (m_enabled)
        send("WATCHDOG=1");
}

void ServiceNotify::stopping(const std::string& status)
{
    if (m_enabled)
        send("STOPPING=1\nSTATUS=" + status);
}

void ServiceNotify::send(const std::string& state)
{
    // A manager gone away costs nothing but a line in the log; measuring goes on.
    const int r = sd_notify(0, state.c_str());
    if (r < 0 && !m_failed) {
        m_failed = true;
        BV_LOG_WARN(logger(), "BV_main", "cannot notify the service manager: " << std::strerror(-r));
    }
}

} // namespace bv
