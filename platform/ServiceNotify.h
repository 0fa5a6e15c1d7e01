#pragma once
#include <cstdint>
#include <string>

namespace bv {

// What the service manager that started us wants to hear (sd_notify). A run
// from a shell or under another supervisor has no NOTIFY_SOCKET: then nothing
// is sent, formatted or looked at, ever.
class ServiceNotify {
public:
    // Reads the environment once.
    ServiceNotify();

    bool enabled() const { return m_enabled; }
    // How often to say WATCHDOG=1: half the manager's watchdog time; 0 when it watches none.
    uint32_t keepAliveMs() const { return m_keepAliveMs; }

    void ready(const std::string& status);
    void status(const std::string& text);
    void keepAlive();
    void stopping(const std::string& status);

private:
    void send(const std::string& state);

    bool m_enabled = false;
    uint32_t m_keepAliveMs = 0;
    bool m_failed = false;  // said once in the log
};

} // namespace bv
