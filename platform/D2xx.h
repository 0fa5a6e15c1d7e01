#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bv {

// Status codes as the FTDI D2XX library reports them; 0 is success.
using D2xxStatus = uint32_t;
enum : D2xxStatus {
    kD2xxOk = 0,
    kD2xxInvalidHandle = 1,
    kD2xxDeviceNotFound = 2,
    kD2xxDeviceNotOpened = 3,
    kD2xxIoError = 4,
    kD2xxInsufficientResources = 5,
    kD2xxInvalidParameter = 6,
    kD2xxOtherError = 18,
};

// An opened device; nullptr is "none".
using D2xxHandle = void*;

constexpr uint32_t kD2xxOpenByDescription = 2;
constexpr uint16_t kD2xxFlowRtsCts = 0x0100;

// One node of the device list: what the program reads from it.
struct D2xxDeviceInfo {
    uint32_t flags = 0;
    uint32_t type = 0;
    uint32_t id = 0;  // vendor << 16 | product
    uint32_t locationId = 0;
    std::string serialNumber;  // up to 15 characters
    std::string description;   // up to 63 characters
};

// The functions of the FTDI D2XX driver library that the USB link uses.
class ID2xx {
public:
    virtual ~ID2xx() = default;

    // Builds the device list and reports how many devices it holds.
    virtual D2xxStatus createDeviceInfoList(uint32_t& count) = 0;
    // The list built by the last createDeviceInfoList; count in: room, out: nodes.
    virtual D2xxStatus getDeviceInfoList(std::vector<D2xxDeviceInfo>& nodes, uint32_t& count) = 0;
    virtual D2xxStatus openEx(const std::string& argument, uint32_t flags, D2xxHandle& handle) = 0;
    virtual D2xxStatus setFlowControl(D2xxHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) = 0;
    virtual D2xxStatus setUsbParameters(D2xxHandle handle, uint32_t inSize, uint32_t outSize) = 0;
    virtual D2xxStatus getStatus(D2xxHandle handle, uint32_t& rxBytes, uint32_t& txBytes,
                                 uint32_t& events) = 0;
    virtual D2xxStatus setTimeouts(D2xxHandle handle, uint32_t readMs, uint32_t writeMs) = 0;
    virtual D2xxStatus read(D2xxHandle handle, void* buffer, uint32_t count, uint32_t& bytesRead) = 0;
    virtual D2xxStatus write(D2xxHandle handle, const void* buffer, uint32_t count,
                             uint32_t& bytesWritten) = 0;
    virtual D2xxStatus close(D2xxHandle handle) = 0;
};

// The word in a USB description that marks the maker's adapter (case-sensitive).
constexpr const char* kZelmorDeviceWord = "Zelmor";

// The device an open by serial number (flags 1) or by description (flags 2)
// may take from a device list: the first one that the argument names and
// whose description holds the word; -1 for none. Opening takes the device from
// its kernel driver, so an operator's own FTDI USB-serial cable is never opened.
int deviceToOpen(const std::vector<D2xxDeviceInfo>& devices, const std::string& argument, uint32_t flags);

// The real backend: FTDI devices through libftdi1 (vendor 0x0403, any
// product); only the maker's adapters are ever opened.
std::unique_ptr<ID2xx> makeFtdiD2xx();

} // namespace bv
