#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

namespace bv::test {

// A client of the test's own on a real TCP socket, line by line (SCPI).
struct LineClient {
    explicit LineClient(int port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~LineClient() { ::close(fd); }
    // Without waiting when the server stops reading: what does not fit is lost.
    void send(const std::string& text, bool wait = true)
    {
        ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT));
    }
    // One answer line, the heartbeat going on meanwhile; "closed" when the server let go.
    std::string line(const std::function<void()>& beat, std::chrono::milliseconds within = std::chrono::seconds(5))
    {
        const auto until = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < until) {
            const auto nl = got.find('\n');
            if (nl != std::string::npos) {
                std::string l = got.substr(0, nl);
                got.erase(0, nl + 1);
                return l;
            }
            beat();
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char buffer[512];
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    return "closed";
                got.append(buffer, static_cast<size_t>(n));
            }
        }
        return "timeout";
    }
    int fd = -1;
    bool connected = false;
    std::string got;
};

} // namespace bv::test
