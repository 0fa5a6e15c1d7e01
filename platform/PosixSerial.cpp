#include "platform/SerialPort.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace bv {
namespace {

OsError errnoError(int code)
{
    return {code, std::strerror(code)};
}

// Unix 98 pseudo-terminal slaves: majors 136..143.
bool isPseudoTerminal(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

speed_t speedOf(uint32_t baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
    }
}

class PosixSerialPort final : public ISerialPort {
public:
    PosixSerialPort(int fd, bool pty) : m_fd(fd), m_pty(pty) {}
    ~PosixSerialPort() override
    {
        if (m_fd >= 0)
            close();
    }

    bool setup(size_t, size_t) override
    {
        // The tty layer sizes its own queues; only a dead port fails here.
        return alive();
    }

    bool purgeOutput() override { return alive() && check(tcflush(m_fd, TCOFLUSH) == 0); }
    bool purgeInput() override { return alive() && check(tcflush(m_fd, TCIFLUSH) == 0); }

    bool configure(uint32_t baud) override
    {
        if (!alive())
            return false;
        const speed_t speed = speedOf(baud);
        if (speed == B0)
            return fail(EINVAL);
        termios tio {};
        if (!check(tcgetattr(m_fd, &tio) == 0))
            return false;
        cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | CRTSCTS | PARODD);
        tio.c_cflag |= CS8 | CLOCAL | CREAD | PARENB | CMSPAR;
        tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY | PARMRK | ISTRIP);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (!check(cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0))
            return false;
        if (!apply(tio))
            return false;
        m_parity = Parity::Space;
        return true;
    }

    bool setParity(Parity parity) override
    {
        if (!alive())
            return false;
        termios tio {};
        if (!check(tcgetattr(m_fd, &tio) == 0))
            return false;
        tio.c_cflag |= PARENB | CMSPAR;
        if (parity == Parity::Mark)
            tio.c_cflag |= PARODD;
        else
            tio.c_cflag &= ~static_cast<tcflag_t>(PARODD);
        if (!apply(tio))
            return false;
        m_parity = parity;
        return true;
    }

    Parity parity() const override { return m_parity; }

    bool setRts(bool on) override
    {
        if (!alive())
            return false;
        int bits = TIOCM_RTS;
        if (ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0)
            return true;
        // No modem lines (a pseudo-terminal): nothing to drive.
        if (errno == ENOTTY || errno == EINVAL)
            return true;
        return fail(errno);
    }

    int bytesWaiting() override
    {
        if (!alive())
            return -1;
        int n = 0;
        if (ioctl(m_fd, FIONREAD, &n) != 0) {
            fail(errno);
            return -1;
        }
        return n;
    }

    int read(uint8_t* buffer, size_t count) override
    {
        if (!alive())
            return -1;
        if (count == 0)
            return 0;
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, count);
            if (n >= 0)
                return static_cast<int>(n);
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            fail(errno);
            return -1;
        }
    }

    int write(const uint8_t* bytes, size_t count) override
    {
        if (!alive())
            return -1;
        // The port is non-blocking, but callers expect a write to go out whole
        // as long as the line moves: wait for room, within a bound.
        size_t done = 0;
        int waitedMs = 0;
        while (done < count) {
            const ssize_t n = ::write(m_fd, bytes + done, count - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                fail(errno);
                return done ? static_cast<int>(done) : -1;
            }
            if (waitedMs >= kWriteWaitMs)
                break;
            pollfd p {m_fd, POLLOUT, 0};
            poll(&p, 1, 10);
            waitedMs += 10;
        }
        return static_cast<int>(done);
    }

    bool close() override
    {
        if (m_fd < 0)
            return true;
        ioctl(m_fd, TIOCNXCL);
        const int rc = ::close(m_fd);
        // The descriptor is released even when close reports an error.
        m_fd = -1;
        return check(rc == 0);
    }

    OsError lastError() const override { return m_error; }

private:
    static constexpr int kWriteWaitMs = 2000;

    bool alive()
    {
        if (m_fd >= 0)
            return true;
        return fail(EBADF);
    }

    bool fail(int code)
    {
        m_error = errnoError(code);
        return false;
    }

    bool check(bool ok) { return ok ? true : fail(errno); }

    bool apply(termios& wanted)
    {
        if (tcsetattr(m_fd, TCSANOW, &wanted) != 0) {
            // A pseudo-terminal drops the parity bits, and once they are gone
            // it refuses them with EINVAL (after a reopen, or when the state
            // is applied again unchanged): take the rest without them.
            if (!m_pty || errno != EINVAL)
                return fail(errno);
            termios plain = wanted;
            plain.c_cflag &= ~static_cast<tcflag_t>(PARENB | CMSPAR | PARODD);
            if (!check(tcsetattr(m_fd, TCSANOW, &plain) == 0))
                return false;
        }
        if (m_pty)
            return true;  // no parity on a pseudo-terminal: nothing to verify
        // tcsetattr succeeds when any part was taken; a driver without mark/space
        // support silently keeps plain parity, which would corrupt the address mark.
        termios got {};
        if (!check(tcgetattr(m_fd, &got) == 0))
            return false;
        const tcflag_t bits = PARENB | CMSPAR | PARODD;
        if ((got.c_cflag & bits) != (wanted.c_cflag & bits)) {
            m_error = {EINVAL, "the driver does not support mark/space parity"};
            return false;
        }
        return true;
    }

    int m_fd;
    bool m_pty;
    Parity m_parity = Parity::Space;
    OsError m_error;
};

bool isDecimal(const std::string& s)
{
    return !s.empty() && s.size() <= 4 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> devicesWithPrefix(const std::string& devDir, const char* prefix)
{
    std::vector<std::string> names;
    DIR* dir = opendir(devDir.c_str());
    if (!dir)
        return names;
    const size_t n = std::strlen(prefix);
    while (dirent* e = readdir(dir)) {
        if (std::strncmp(e->d_name, prefix, n) == 0 && isDecimal(e->d_name + n))
            names.push_back(e->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), [n](const std::string& a, const std::string& b) {
        return std::stoi(a.substr(n)) < std::stoi(b.substr(n));
    });
    return names;
}

std::vector<std::string> entriesOf(const std::string& path)
{
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return names;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

OsError serialOpenError(int code)
{
    // The usual cause on Linux: the port belongs to the group dialout.
    if (code == EACCES || code == EPERM)
        return {code, "permission denied: add the user to the dialout group"};
    return errnoError(code);
}

std::string serialDevicePath(const std::string& name)
{
    if (name.size() > 3 && (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
        (name[2] == 'M' || name[2] == 'm') && isDecimal(name.substr(3))) {
        const int n = std::stoi(name.substr(3));
        if (n >= 1)
            return "/dev/ttyS" + std::to_string(n - 1);
    }
    return name;
}

std::unique_ptr<ISerialPort> PosixSerialSystem::open(const std::string& name, OsError* error)
{
    auto failWith = [error](int code) -> std::unique_ptr<ISerialPort> {
        if (error)
            *error = serialOpenError(code);
        return nullptr;
    };
    const std::string path = serialDevicePath(name);
    if (path.empty())
        return failWith(ENOENT);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failWith(errno);
    if (!isatty(fd)) {
        ::close(fd);
        return failWith(ENOTTY);
    }
    // TIOCEXCL keeps other programs out, but not root; the lock also covers a
    // second open from this program: a port in use is never listed or reused.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return failWith(code);
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int code = errno;
        ::close(fd);
        return failWith(code);
    }
    return std::make_unique<PosixSerialPort>(fd, isPseudoTerminal(fd));
}

std::vector<std::string> serialPortCandidates(const std::string& devDir)
{
    std::vector<std::string> names;
    for (const auto& dev : devicesWithPrefix(devDir, "ttyS")) {
        const int n = std::stoi(dev.substr(4));
        if (n < 255)
            names.push_back("COM" + std::to_string(n + 1));
    }
    // The Raspberry Pi's own UARTs, USB adapters, and the stable names udev
    // gives the adapters (one device may appear twice: the scan skips it).
    for (const char* prefix : {"ttyAMA", "ttyUSB", "ttyACM"}) {
        for (const auto& dev : devicesWithPrefix(devDir, prefix))
            names.push_back(devDir + "/" + dev);
    }
    const std::string byId = devDir + "/serial/by-id";
    for (const auto& link : entriesOf(byId))
        names.push_back(byId + "/" + link);
    return names;
}

std::vector<std::string> PosixSerialSystem::listPorts()
{
    std::vector<std::string> names;
    for (const auto& name : serialPortCandidates("/dev")) {
        OsError ignored;
        if (open(name, &ignored))
            names.push_back(name);
    }
    return names;
}

bool PosixSerialSystem::samePort(const std::string& a, const std::string& b)
{
    const std::string pa = serialDevicePath(a);
    const std::string pb = serialDevicePath(b);
    if (pa == pb)
        return true;
    char ra[PATH_MAX];
    char rb[PATH_MAX];
    return realpath(pa.c_str(), ra) && realpath(pb.c_str(), rb) && std::strcmp(ra, rb) == 0;
}

} // namespace bv
