#include "sim/SimWorld.h"

namespace bv::sim {

D2xxStatus NoUsbDevices::createDeviceInfoList(uint32_t& count)
{
    count = 0;
    return kD2xxOk;
}

D2xxStatus NoUsbDevices::getDeviceInfoList(std::vector<D2xxDeviceInfo>& nodes, uint32_t& count)
{
    nodes.clear();
    count = 0;
    return kD2xxOk;
}

namespace {
SimMeterConfig meterConfig(const SimWorldConfig& c)
{
    SimMeterConfig m;
    m.model = c.model;
    m.address = c.meterAddress;
    m.seed = c.seed;
    m.shutterStartsOpen = c.shutterOpen;
    return m;
}
} // namespace

SimWorld::SimWorld(IClock& clock, SimWorldConfig config)
    : m_config(config),
      m_bus(clock, config.seed),
      m_ports(clock),
      m_meter(meterConfig(config)),
      m_plc(config.plcAddress, PlcWiring{}, &m_meter)
{
    m_bus.attach(m_meter);
    m_bus.attach(m_plc);
    if (config.serialPort)
        m_ports.addPort("COM1", &m_bus);
    if (config.usbAdapter) {
        SimUsbConfig usb;
        usb.kind = config.usbKind;
        m_usb = std::make_unique<SimUsbAdapter>(clock, usb);
        if (config.usbKind == SimUsbKind::DirectMeter) {
            m_usb->attachMeter(m_meter);
        } else {
            m_usb->attachBusDevice(m_meter);
            m_usb->attachBusDevice(m_plc);
        }
    }
}

ID2xx& SimWorld::usb()
{
    if (m_usb)
        return *m_usb;
    return m_noUsb;
}

} // namespace bv::sim
