#include "net/RemoteAccess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "res/StringTable.h"

namespace bv {

namespace {
bool parsePort(const std::string& text, int& port)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

std::string trimmed(const std::string& s)
{
    const auto from = s.find_first_not_of(" \t");
    if (from == std::string::npos)
        return {};
    return s.substr(from, s.find_last_not_of(" \t") - from + 1);
}

bool prefixMatches(const uint8_t* a, const uint8_t* b, int prefix)
{
    const int whole = prefix / 8;
    if (std::memcmp(a, b, static_cast<size_t>(whole)) != 0)
        return false;
    const int rest = prefix % 8;
    if (rest == 0)
        return true;
    const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

constexpr size_t kOnceEachMemory = 256;
} // namespace

bool ServerConfig::setAddress(const std::string& address)
{
    const auto colon = address.rfind(':');
    int p = 0;
    if (colon == std::string::npos) {
        if (!parsePort(address, p))
            return false;
    } else {
        if (colon == 0 || !parsePort(address.substr(colon + 1), p))
            return false;
        bind = address.substr(0, colon);
        // "[::1]:5025"
        if (bind.size() > 2 && bind.front() == '[' && bind.back() == ']')
            bind = bind.substr(1, bind.size() - 2);
    }
    port = p;
    return true;
}

bool AllowList::parse(const std::string& text, std::string& error)
{
    m_entries.clear();
    std::string list = text;
    for (char& c : list)
        if (c == ';' || c == ' ')
            c = ',';
    size_t at = 0;
    while (at <= list.size()) {
        size_t end = list.find(',', at);
        if (end == std::string::npos)
            end = list.size();
        const std::string item = trimmed(list.substr(at, end - at));
        at = end + 1;
        if (item.empty())
            continue;
        Entry e;
        std::string host = item;
        const auto slash = item.find('/');
        if (slash != std::string::npos)
            host = item.substr(0, slash);
        if (inet_pton(AF_INET, host.c_str(), e.bytes) == 1) {
            e.prefix = 32;
        } else if (inet_pton(AF_INET6, host.c_str(), e.bytes) == 1) {
            e.v6 = true;
            e.prefix = 128;
        } else {
            error = "\"" + item + "\" is not an address";
            m_entries.clear();
            return false;
        }
        if (slash != std::string::npos) {
            const std::string bits = item.substr(slash + 1);
            const int most = e.prefix;
            if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(bits) > most) {
                error = "\"" + item + "\" has no valid prefix length";
                m_entries.clear();
                return false;
            }
            e.prefix = std::stoi(bits);
        }
        m_entries.push_back(e);
    }
    return true;
}

bool AllowList::allows(const sockaddr* address) const
{
    if (m_entries.empty())
        return true;
    if (!address)
        return false;
    uint8_t bytes[16];
    bool v6;
    if (address->sa_family == AF_INET) {
        std::memcpy(bytes, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
        v6 = false;
    } else if (address->sa_family == AF_INET6) {
        const auto* a6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {
            std::memcpy(bytes, a6->sin6_addr.s6_addr + 12, 4);
            v6 = false;
        } else {
            std::memcpy(bytes, a6->sin6_addr.s6_addr, 16);
            v6 = true;
        }
    } else {
        return false;
    }
    for (const Entry& e : m_entries)
        if (e.v6 == v6 && prefixMatches(e.bytes, bytes, e.prefix))
            return true;
    return false;
}

int listenTcp(const std::string& bind, int port, int backlog, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(bind.empty() ? nullptr : bind.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        error = strings::fill(strings::text(strings::kCannotListen), {bind + ":" + service, gai_strerror(rc)});
        return -1;
    }
    int fd = -1;
    std::string reason = "no address";
    for (addrinfo* a = found; a; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            reason = strings::osErrorText(errno);
            continue;
        }
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, backlog) == 0)
            break;
        reason = strings::osErrorText(errno);
        ::close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    if (fd < 0)
        error = strings::fill(strings::text(strings::kCannotListen), {bind + ":" + service, reason});
    return fd;
}

AcceptedClient acceptClient(int listenFd, const AllowList& allow)
{
    AcceptedClient c;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    c.fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c.fd < 0)
        return c;
    char text[INET6_ADDRSTRLEN] = "?";
    if (peer.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr, text, sizeof text);
    else if (peer.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr, text, sizeof text);
    c.peer = text;
    c.allowed = allow.allows(reinterpret_cast<sockaddr*>(&peer));
    return c;
}

bool OnceEach::first(const std::string& key)
{
    if (m_said.count(key))
        return false;
    if (m_said.size() >= kOnceEachMemory)
        m_said.erase(m_said.begin());
    m_said.insert(key);
    return true;
}

} // namespace bv
