#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/D2xx.h"
#include "platform/SerialPort.h"
#include "sim/MeterModels.h"
#include "sim/SimBus.h"
#include "sim/SimMeter.h"
#include "sim/SimPlc.h"
#include "sim/SimSerial.h"
#include "sim/SimUsb.h"

namespace bv {
class IClock;
}

namespace bv::sim {

// A USB driver that finds no device at all.
class NoUsbDevices final : public ID2xx {
public:
    D2xxStatus createDeviceInfoList(uint32_t& count) override;
    D2xxStatus getDeviceInfoList(std::vector<D2xxDeviceInfo>& nodes, uint32_t& count) override;
    D2xxStatus openEx(const std::string&, uint32_t, D2xxHandle&) override { return kD2xxDeviceNotFound; }
    D2xxStatus setFlowControl(D2xxHandle, uint16_t, uint8_t, uint8_t) override { return kD2xxInvalidHandle; }
    D2xxStatus setUsbParameters(D2xxHandle, uint32_t, uint32_t) override { return kD2xxInvalidHandle; }
    D2xxStatus getStatus(D2xxHandle, uint32_t&, uint32_t&, uint32_t&) override { return kD2xxInvalidHandle; }
    D2xxStatus setTimeouts(D2xxHandle, uint32_t, uint32_t) override { return kD2xxInvalidHandle; }
    D2xxStatus read(D2xxHandle, void*, uint32_t, uint32_t&) override { return kD2xxInvalidHandle; }
    D2xxStatus write(D2xxHandle, const void*, uint32_t, uint32_t&) override { return kD2xxInvalidHandle; }
    D2xxStatus close(D2xxHandle) override { return kD2xxInvalidHandle; }
};

struct SimWorldConfig {
    MeterModel model = MeterModel::EC;
    uint8_t meterAddress = kDefaultMeterAddress;
    uint32_t seed = 1;
    bool serialPort = true;  // "COM1" with the RS-485 adapter and the meter behind it
    bool usbAdapter = true;  // a USB adapter whose description holds "Zelmor"
    SimUsbKind usbKind = SimUsbKind::DirectMeter;
    uint8_t plcAddress = kDefaultPlcAddress;  // on the same bus, wired to the meter's shutter
    bool shutterOpen = true;  // the laser already reaches the absorber
};

// The built-in simulated installation: one meter reachable over the simulated
// COM1 and over a simulated USB adapter, with a PLC on the bus.
class SimWorld {
public:
    SimWorld(IClock& clock, SimWorldConfig config = {});

    ISerialSystem& serialPorts() { return m_ports; }
    ID2xx& usb();
    SimMeter& meter() { return m_meter; }
    SimPlc& plc() { return m_plc; }
    SimBus& bus() { return m_bus; }
    SimSerialSystem& ports() { return m_ports; }
    SimUsbAdapter* usbAdapter() { return m_usb.get(); }
    const SimWorldConfig& config() const { return m_config; }

private:
    SimWorldConfig m_config;
    SimBus m_bus;
    SimSerialSystem m_ports;
    SimMeter m_meter;
    SimPlc m_plc;
    std::unique_ptr<SimUsbAdapter> m_usb;
    NoUsbDevices m_noUsb;
};

} // namespace bv::sim
