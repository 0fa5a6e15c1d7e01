#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bv {

enum class Parity { Space, Mark };

// An operating-system error, passed on with its own text.
struct OsError {
    int code = 0;
    std::string text;
};

// One open serial port: 8 data bits, 1 stop bit, the ninth bit forced to mark
// or space, RTS driven by hand, no flow control, non-blocking reads of what is
// waiting. Every call returns false or -1 on failure and leaves the reason in
// lastError().
class ISerialPort {
public:
    virtual ~ISerialPort() = default;
    virtual bool setup(size_t inputQueue, size_t outputQueue) = 0;
    virtual bool purgeOutput() = 0;
    virtual bool purgeInput() = 0;
    // Raw mode at the baud rate, parity space, no write time-outs.
    virtual bool configure(uint32_t baud) = 0;
    virtual bool setParity(Parity parity) = 0;
    virtual Parity parity() const = 0;
    // A port without modem lines (a pseudo-terminal) accepts this as a no-op.
    virtual bool setRts(bool on) = 0;
    virtual int bytesWaiting() = 0;
    virtual int read(uint8_t* buffer, size_t count) = 0;
    virtual int write(const uint8_t* bytes, size_t count) = 0;
    virtual bool close() = 0;
    virtual OsError lastError() const = 0;
};

// "COMn"/"comn" stands for /dev/ttyS(n-1); anything else is used as a path.
std::string serialDevicePath(const std::string& name);

// The serial ports of a machine (or of a simulator).
class ISerialSystem {
public:
    virtual ~ISerialSystem() = default;
    // Opens a port by the name the operator knows ("com1", "COM3", a path).
    virtual std::unique_ptr<ISerialPort> open(const std::string& name, OsError* error) = 0;
    // Names of the ports that open right now, in the "COMn" form where one applies.
    virtual std::vector<std::string> listPorts() = 0;
    // Whether two names lead to one port ("com1" and "COM1"; a link and its target).
    virtual bool samePort(const std::string& a, const std::string& b)
    {
        return serialDevicePath(a) == serialDevicePath(b);
    }
};

// Why a port did not open, for the operator: the system's text, except for a
// port that exists but may not be opened, which says what to do about it.
OsError serialOpenError(int code);

// The names a port listing tries, in order: ttyS as "COMn", then the paths of
// ttyAMA, ttyUSB and ttyACM devices and of the entries in serial/by-id.
std::vector<std::string> serialPortCandidates(const std::string& devDir);

// The real ports, through termios.
class PosixSerialSystem final : public ISerialSystem {
public:
    std::unique_ptr<ISerialPort> open(const std::string& name, OsError* error) override;
    std::vector<std::string> listPorts() override;
    bool samePort(const std::string& a, const std::string& b) override;
};

} // namespace bv
