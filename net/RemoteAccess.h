#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct sockaddr;

namespace bv {

// Where a server for remote clients listens and whom it serves.
struct ServerConfig {
    bool enabled = false;
    std::string bind = "127.0.0.1";
    int port = 0;
    bool acceptCommands = false;
    int maxClients = 1;
    // Addresses or networks ("192.168.10.7, 10.1.0.0/16, ::1") allowed to
    // connect; empty: anyone who reaches the bind address.
    std::string allowFrom;

    // "PORT" or "ADDR:PORT"; false when the port is not a number in 1..65535.
    bool setAddress(const std::string& address);
};

// The client addresses a server takes.
class AllowList {
public:
    // False, with the entry that is not an address in error, for a list that
    // cannot be read: a server must not then serve everyone.
    bool parse(const std::string& text, std::string& error);
    bool allows(const sockaddr* address) const;
    bool empty() const { return m_entries.empty(); }

private:
    struct Entry {
        bool v6 = false;
        uint8_t bytes[16] = {};
        int prefix = 0;
    };
    std::vector<Entry> m_entries;
};

// A listening TCP socket (non-blocking, close-on-exec, address reuse); -1
// with the reason in error.
int listenTcp(const std::string& bind, int port, int backlog, std::string& error);

// The next waiting client, non-blocking, and whether allow takes it (the
// caller closes one it does not). Nobody waiting: fd -1.
struct AcceptedClient {
    int fd = -1;
    bool allowed = false;
    std::string peer;  // its address, for the log
};
AcceptedClient acceptClient(int listenFd, const AllowList& allow);

// Says each thing once: a client's refused request, a refused address. The
// memory is bounded, so a flood of new names cannot grow it.
class OnceEach {
public:
    bool first(const std::string& key);
    void forget(const std::string& key) { m_said.erase(key); }

private:
    std::set<std::string> m_said;
};

} // namespace bv
