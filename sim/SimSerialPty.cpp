#include "sim/SimSerialPty.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim/SimBus.h"

namespace bv::sim {

SimPtyAdapter::SimPtyAdapter(SimBus& bus) : m_bus(bus) {}

SimPtyAdapter::~SimPtyAdapter() { close(); }

bool SimPtyAdapter::open(std::string* error)
{
    auto fail = [&](const char* step) {
        if (error)
            *error = std::string(step) + ": " + std::strerror(errno);
        close();
        return false;
    };
    close();
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (grantpt(m_master) != 0)
        return fail("grantpt");
    if (unlockpt(m_master) != 0)
        return fail("unlockpt");
    const char* name = ptsname(m_master);
    if (!name)
        return fail("ptsname");
    m_slavePath = name;
    const int flags = fcntl(m_master, F_GETFL);
    if (flags < 0 || fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    // Raw from the start: until the program configures its side, the line
    // discipline would otherwise echo and translate bytes of its own.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail("open slave");
    termios tio {};
    if (tcgetattr(m_slave, &tio) != 0)
        return fail("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    return true;
}

void SimPtyAdapter::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
}

bool SimPtyAdapter::writeAll(const unsigned char* bytes, size_t count)
{
    size_t done = 0;
    int stalls = 0;
    while (done < count) {
        const ssize_t n = ::write(m_master, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        // The program does not read: after a second its bytes are lost, as on
        // a real line whose receiver overflows.
        if (++stalls > 100)
            return true;
        pollfd p {m_master, POLLOUT, 0};
        poll(&p, 1, 10);
    }
    return true;
}

bool SimPtyAdapter::pump(int timeoutMs)
{
    if (m_master < 0)
        return false;
    int wait = timeoutMs;
    const int due = m_bus.nextArrivalMs();
    if (due >= 0 && due < wait)
        wait = due;
    pollfd p {m_master, POLLIN, 0};
    const int ready = poll(&p, 1, wait);
    if (ready < 0 && errno != EINTR)
        return false;
    if (ready > 0 && (p.revents & POLLIN)) {
        unsigned char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            // A pseudo-terminal carries no ninth bit: everything counts as space.
            m_bus.transmit(buffer, static_cast<size_t>(n), Parity::Space);
        else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != EIO)
            return false;
    }
    std::vector<unsigned char> out(m_bus.available());
    if (!out.empty()) {
        out.resize(m_bus.receive(out.data(), out.size()));
        if (!writeAll(out.data(), out.size()))
            return false;
    }
    return true;
}

void SimPtyAdapter::run(const std::atomic<bool>& stop)
{
    while (!stop.load()) {
        if (!pump(20))
            break;
    }
}

} // namespace bv::sim
