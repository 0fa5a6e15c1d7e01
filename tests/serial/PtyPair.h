#pragma once
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace bv::test {

// A bare pseudo-terminal: the test plays the far end on the master side.
class PtyPair {
public:
    PtyPair()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        if (const char* name = ptsname(m_master))
            m_slave = name;
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair()
    {
        if (m_master >= 0)
            close(m_master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0 && !m_slave.empty(); }
    const std::string& slave() const { return m_slave; }

    bool write(const std::string& bytes) { return ::write(m_master, bytes.data(), bytes.size()) == ssize_t(bytes.size()); }

    // Whatever the slave side wrote, waiting up to timeoutMs for `count` bytes.
    std::string read(size_t count, int timeoutMs = 1000)
    {
        std::string out;
        for (int waited = 0; out.size() < count && waited < timeoutMs; waited += 10) {
            pollfd p {m_master, POLLIN, 0};
            if (poll(&p, 1, 10) > 0) {
                char buffer[256];
                const ssize_t n = ::read(m_master, buffer, sizeof buffer);
                if (n > 0)
                    out.append(buffer, size_t(n));
            }
        }
        return out;
    }

private:
    int m_master = -1;
    std::string m_slave;
};

} // namespace bv::test
