#pragma once
// A mosquitto broker of a test's own on loopback, for the tests that talk
// to a real one.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "support/TempDir.h"

namespace bv::test {

inline const std::string kMosquitto = "/usr/sbin/mosquitto";

inline int freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

inline bool accepts(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A mosquitto of its own in a temporary directory, with persistence so that
// a subscriber's session survives a broker restart.
class Broker {
public:
    explicit Broker(const std::string& extra = "") : m_port(freePort())
    {
        std::ofstream(m_dir.file("mosquitto.conf"))
            << "listener " << m_port << " 127.0.0.1\n"
            << (extra.empty() ? "allow_anonymous true\n" : extra) << "persistence true\n"
            << "persistence_location " << m_dir.path() << "/\n"
            << "log_dest file " << m_dir.file("mosquitto.log") << "\n";
        // Started as root it changes to the user "mosquitto", who must write here.
        std::filesystem::permissions(m_dir.path(), std::filesystem::perms::all);
    }
    ~Broker() { stop(); }

    bool start()
    {
        m_pid = fork();
        if (m_pid == 0) {
            const std::string conf = m_dir.file("mosquitto.conf");
            execl(kMosquitto.c_str(), kMosquitto.c_str(), "-c", conf.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return waitFor([&] { return accepts(m_port); }, std::chrono::seconds(5));
    }
    void stop()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    int port() const { return m_port; }
    const TempDir& dir() const { return m_dir; }

private:
    TempDir m_dir;
    int m_port;
    pid_t m_pid = -1;
};

} // namespace bv::test
