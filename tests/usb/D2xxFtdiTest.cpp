#include <gtest/gtest.h>

#include "link/UsbListing.h"
#include "platform/D2xx.h"

namespace bv {
namespace {

// Without hardware: the libftdi backend must find nothing, refuse handles it
// never gave out, and never crash or hang (also when libusb cannot start).
TEST(D2xxFtdiTest, WithoutADeviceNothingOpensAndNothingCrashes)
{
    auto d2xx = makeFtdiD2xx();
    uint32_t count = 99;
    const D2xxStatus listed = d2xx->createDeviceInfoList(count);
    if (listed != kD2xxOk) {
        EXPECT_EQ(count, 0u);
    }
    std::vector<D2xxDeviceInfo> nodes;
    uint32_t room = count;
    EXPECT_EQ(d2xx->getDeviceInfoList(nodes, room), kD2xxOk);
    EXPECT_EQ(nodes.size(), room);

    D2xxHandle handle = reinterpret_cast<D2xxHandle>(0x1);
    EXPECT_NE(d2xx->openEx("Zelmor device that is not there", kD2xxOpenByDescription, handle), kD2xxOk);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(d2xx->openEx("x", 4, handle), kD2xxInvalidParameter);

    int foreign = 0;
    uint32_t rx = 1, tx = 1, events = 1, done = 1;
    uint8_t buffer[8] = {};
    for (D2xxHandle h : {D2xxHandle(nullptr), D2xxHandle(&foreign)}) {
        EXPECT_EQ(d2xx->getStatus(h, rx, tx, events), kD2xxInvalidHandle);
        EXPECT_EQ(rx, 0u);
        EXPECT_EQ(d2xx->setTimeouts(h, 400, 400), kD2xxInvalidHandle);
        EXPECT_EQ(d2xx->read(h, buffer, sizeof buffer, done), kD2xxInvalidHandle);
        EXPECT_EQ(done, 0u);
        EXPECT_EQ(d2xx->write(h, buffer, sizeof buffer, done), kD2xxInvalidHandle);
        EXPECT_EQ(d2xx->setFlowControl(h, kD2xxFlowRtsCts, 0x11, 0x13), kD2xxInvalidHandle);
        EXPECT_EQ(d2xx->setUsbParameters(h, 64, 64), kD2xxInvalidHandle);
        EXPECT_EQ(d2xx->close(h), kD2xxInvalidHandle);
    }
}

D2xxDeviceInfo node(std::string description, std::string serial)
{
    D2xxDeviceInfo d;
    d.description = std::move(description);
    d.serialNumber = std::move(serial);
    return d;
}

// Opening detaches the kernel driver: the operator's own FTDI cable must
// never be taken, however the listing came to name it.
TEST(D2xxFtdiTest, OnlyTheMakersAdapterIsEverOpened)
{
    const std::vector<D2xxDeviceInfo> devices = {node("FT232R USB UART", "A1"), node("", "B0"),
                                                 node("Zelmor USB Brivane", "C3")};
    EXPECT_EQ(deviceToOpen(devices, "Zelmor USB Brivane", kD2xxOpenByDescription), 2);
    EXPECT_EQ(deviceToOpen(devices, "C3", 1), 2);
    EXPECT_EQ(deviceToOpen(devices, "FT232R USB UART", kD2xxOpenByDescription), -1);
    EXPECT_EQ(deviceToOpen(devices, "A1", 1), -1);
    // A device whose strings could not be read; a listing without a Zelmor
    // device names it by its empty description.
    EXPECT_EQ(deviceToOpen(devices, "", kD2xxOpenByDescription), -1);
    EXPECT_EQ(deviceToOpen(devices, "zelmor usb brivane", kD2xxOpenByDescription), -1);
    EXPECT_EQ(deviceToOpen(devices, "Zelmor USB Brivane", 4), -1);
}

TEST(D2xxFtdiTest, LinkOverTheRealBackendFailsToOpenAndReadsNothing)
{
    auto d2xx = makeFtdiD2xx();
    ZelmorUSBCRC link(*d2xx);
    link.SetDescription("Zelmor device that is not there", 2);
    EXPECT_EQ(link.Open(), -1);
    EXPECT_EQ(link.ReadUSBDriverBuffer(), -1);
    EXPECT_EQ(link.SendFrame("qr"), 4);
    EXPECT_EQ(link.GetFrame(), 0);
}

} // namespace
} // namespace bv
