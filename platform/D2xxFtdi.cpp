// The D2XX functions over libftdi1. ftdi.h stays in this file: it defines
// global enumerators (NONE, MARK, ...) that clash with names elsewhere.
#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <set>

#include "platform/D2xx.h"

namespace bv {
namespace {

constexpr int kFtdiVendor = 0x0403;
// libftdi has no "bytes waiting": a quick read fills a local FIFO. The chip
// answers every bulk read within its latency timer (16 ms), so this time-out
// only guards against a device that stopped answering.
constexpr int kPollTimeoutMs = 50;

struct OpenDevice {
    ftdi_context* ctx = nullptr;
    std::deque<uint8_t> fifo;
    uint32_t readTimeoutMs = 0;
    uint32_t writeTimeoutMs = 0;
};

struct FtdiContext {
    ftdi_context* ctx = ftdi_new();
    ~FtdiContext()
    {
        if (ctx)
            ftdi_free(ctx);
    }
};

class FtdiD2xx final : public ID2xx {
public:
    ~FtdiD2xx() override
    {
        for (OpenDevice* device : m_open) {
            ftdi_usb_close(device->ctx);
            ftdi_free(device->ctx);
            delete device;
        }
    }

    D2xxStatus createDeviceInfoList(uint32_t& count) override
    {
        count = 0;
        m_list.clear();
        FtdiContext scan;
        if (!scan.ctx)
            return kD2xxOtherError;  // libusb could not start
        const D2xxStatus status = forEachDevice(scan.ctx, [&](libusb_device* dev, const libusb_device_descriptor& desc) {
            D2xxDeviceInfo info;
            info.id = (uint32_t(desc.idVendor) << 16) | desc.idProduct;
            info.locationId = (uint32_t(libusb_get_bus_number(dev)) << 8) | libusb_get_device_address(dev);
            readStrings(scan.ctx, dev, info);
            m_list.push_back(std::move(info));
            return false;
        });
        count = static_cast<uint32_t>(m_list.size());
        return status;
    }

    D2xxStatus getDeviceInfoList(std::vector<D2xxDeviceInfo>& nodes, uint32_t& count) override
    {
        const size_t n = std::min<size_t>(count, m_list.size());
        nodes.assign(m_list.begin(), m_list.begin() + static_cast<std::ptrdiff_t>(n));
        count = static_cast<uint32_t>(n);
        return kD2xxOk;
    }

    D2xxStatus openEx(const std::string& argument, uint32_t flags, D2xxHandle& handle) override
    {
        handle = nullptr;
        if (flags != 1 && flags != kD2xxOpenByDescription)  // by serial number, by description
            return kD2xxInvalidParameter;
        ftdi_context* ctx = ftdi_new();
        if (!ctx)
            return kD2xxOtherError;
        std::vector<libusb_device*> devices;
        std::vector<D2xxDeviceInfo> infos;
        libusb_device** list = nullptr;
        if (libusb_get_device_list(ctx->usb_ctx, &list) < 0) {
            ftdi_free(ctx);
            return kD2xxOtherError;
        }
        for (size_t i = 0; list[i]; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(list[i], &desc) < 0 || desc.idVendor != kFtdiVendor)
                continue;
            D2xxDeviceInfo info;
            readStrings(ctx, list[i], info);
            devices.push_back(list[i]);
            infos.push_back(std::move(info));
        }
        D2xxStatus result = kD2xxDeviceNotFound;
        const int chosen = deviceToOpen(infos, argument, flags);
        if (chosen >= 0) {
            // Detaches ftdi_sio from this one device only.
            ctx->module_detach_mode = AUTO_DETACH_SIO_MODULE;
            result = ftdi_usb_open_dev(ctx, devices[static_cast<size_t>(chosen)]) == 0 ? kD2xxOk
                                                                                     : kD2xxDeviceNotOpened;
        }
        libusb_free_device_list(list, 1);
        if (result != kD2xxOk) {
            ftdi_free(ctx);
            return result;
        }
        auto* device = new OpenDevice;
        device->ctx = ctx;
        m_open.insert(device);
        handle = device;
        return kD2xxOk;
    }

    D2xxStatus setFlowControl(D2xxHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) override
    {
        OpenDevice* device = find(handle);
        if (!device)
            return kD2xxInvalidHandle;
        int rc;
        if (flow == SIO_XON_XOFF_HS)
            rc = ftdi_setflowctrl_xonxoff(device->ctx, xon, xoff);
        else if (flow == SIO_RTS_CTS_HS || flow == SIO_DTR_DSR_HS)
            rc = ftdi_setflowctrl(device->ctx, flow);
        else
            rc = ftdi_setflowctrl(device->ctx, SIO_DISABLE_FLOW_CTRL);
        return rc == 0 ? kD2xxOk : kD2xxIoError;
    }

    D2xxStatus setUsbParameters(D2xxHandle handle, uint32_t inSize, uint32_t outSize) override
    {
        OpenDevice* device = find(handle);
        if (!device)
            return kD2xxInvalidHandle;
        if (inSize == 0 || outSize == 0)
            return kD2xxInvalidParameter;
        const bool ok = ftdi_read_data_set_chunksize(device->ctx, inSize) == 0 &&
                        ftdi_write_data_set_chunksize(device->ctx, outSize) == 0;
        return ok ? kD2xxOk : kD2xxIoError;
    }

    D2xxStatus getStatus(D2xxHandle handle, uint32_t& rxBytes, uint32_t& txBytes, uint32_t& events) override
    {
        rxBytes = txBytes = events = 0;
        OpenDevice* device = find(handle);
        if (!device)
            return kD2xxInvalidHandle;
        const D2xxStatus status = poll(*device, kPollTimeoutMs);
        rxBytes = static_cast<uint32_t>(device->fifo.size());
        return status;
    }

    D2xxStatus setTimeouts(D2xxHandle handle, uint32_t readMs, uint32_t writeMs) override
    {
        OpenDevice* device = find(handle);
        if (!device)
            return kD2xxInvalidHandle;
        device->readTimeoutMs = readMs;
        device->writeTimeoutMs = writeMs;
        return kD2xxOk;
    }

    // Takes from the FIFO first, then reads until count bytes came or the read
    // time-out ran out (0: a single attempt).
    D2xxStatus read(D2xxHandle handle, void* buffer, uint32_t count, uint32_t& bytesRead) override
    {
        bytesRead = 0;
        OpenDevice* device = find(handle);
        if (!device)
            return kD2xxInvalidHandle;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(device->readTimeoutMs);
        D2xxStatus status = kD2xxOk;
        for (;;) {
            if (device->fifo.size() >= count)
                break;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const int timeout = static_cast<int>(std::clamp<long long>(left.count(), 1, kPollTimeoutMs));
            status = poll(*device, timeout);
            if (status != kD2xxOk || std::chrono::steady_clock::now() >= deadline)
                break;
        }
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(count, device->fifo.size()));
        auto* out = static_cast<uint8_t*>(buffer);
        std::copy_n(device->fifo.begin(), n, out);
        device->fifo.erase(device->fifo.begin(), device->fifo.begin() + n);
        bytesRead = n;
        return n > 0 ? kD2xxOk : status;
    }

    D2xxStatus write(D2xxHandle handle, const void* buffer, uint32_t count, uint32_t& bytesWritten) override
    {
        bytesWritten = 0;
        OpenDevice* device = find(handle);
        if (!device)
            return kD2xxInvalidHandle;
        device->ctx->usb_write_timeout = device->writeTimeoutMs ? int(device->writeTimeoutMs) : 5000;
        const int rc = ftdi_write_data(device->ctx, static_cast<const unsigned char*>(buffer), int(count));
        if (rc < 0)
            return kD2xxIoError;
        bytesWritten = static_cast<uint32_t>(rc);
        return kD2xxOk;
    }

    D2xxStatus close(D2xxHandle handle) override
    {
        OpenDevice* device = find(handle);
        if (!device)
            return kD2xxInvalidHandle;
        ftdi_usb_close(device->ctx);
        ftdi_free(device->ctx);
        m_open.erase(device);
        delete device;
        return kD2xxOk;
    }

private:
    using Visitor = std::function<bool(libusb_device*, const libusb_device_descriptor&)>;

    // Calls visit for every device of the FTDI vendor until it returns true.
    static D2xxStatus forEachDevice(ftdi_context* ctx, const Visitor& visit)
    {
        libusb_device** devs = nullptr;
        if (libusb_get_device_list(ctx->usb_ctx, &devs) < 0)
            return kD2xxOtherError;
        for (size_t i = 0; devs[i]; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(devs[i], &desc) < 0 || desc.idVendor != kFtdiVendor)
                continue;
            if (visit(devs[i], desc))
                break;
        }
        libusb_free_device_list(devs, 1);
        return kD2xxOk;
    }

    // A device that cannot be asked (no permission, busy) stays in the list
    // with empty strings, as the D2XX list shows devices it cannot open.
    static void readStrings(ftdi_context* ctx, libusb_device* dev, D2xxDeviceInfo& info)
    {
        char description[64] = {};
        char serial[16] = {};
        if (ftdi_usb_get_strings(ctx, dev, nullptr, 0, description, sizeof description, serial, sizeof serial) == 0) {
            info.description = description;
            info.serialNumber = serial;
        }
    }

    OpenDevice* find(D2xxHandle handle) const
    {
        auto* device = static_cast<OpenDevice*>(handle);
        return m_open.count(device) ? device : nullptr;
    }

    static D2xxStatus poll(OpenDevice& device, int timeoutMs)
    {
        unsigned char chunk[512];
        device.ctx->usb_read_timeout = timeoutMs;
        const int rc = ftdi_read_data(device.ctx, chunk, sizeof chunk);
        if (rc < 0)
            return kD2xxIoError;
        device.fifo.insert(device.fifo.end(), chunk, chunk + rc);
        return kD2xxOk;
    }

    std::vector<D2xxDeviceInfo> m_list;
    std::set<OpenDevice*> m_open;
};

} // namespace

int deviceToOpen(const std::vector<D2xxDeviceInfo>& devices, const std::string& argument, uint32_t flags)
{
    if (flags != 1 && flags != kD2xxOpenByDescription)
        return -1;
    for (size_t i = 0; i < devices.size(); ++i) {
        const D2xxDeviceInfo& d = devices[i];
        const std::string& name = flags == 1 ? d.serialNumber : d.description;
        // A device that is not ours stays with its driver, even when named.
        if (name == argument && d.description.find(kZelmorDeviceWord) != std::string::npos)
            return static_cast<int>(i);
    }
    return -1;
}

std::unique_ptr<ID2xx> makeFtdiD2xx() { return std::make_unique<FtdiD2xx>(); }

} // namespace bv
