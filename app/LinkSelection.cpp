#include "app/LinkSelection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "settings/ProgramSettings.h"
#include "devices/PowerMeter.h"
#include "link/CSerial.h"
#include "link/UsbListing.h"
#include "link/ZelmorUSB.h"
#include "platform/Logging.h"
#include "platform/SerialPort.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger l("CFreeComm");
    return l;
}
constexpr const char* kTag = "CFreeComm";

} // namespace

LinkSelection::LinkSelection(ProgramSettings& settings, CSerial& serial, ISerialSystem& ports, ID2xx& usb,
                             CPowerMeter& device)
    : m_settings(settings), m_serial(serial), m_system(ports), m_usb(usb), m_device(device)
{
    bind();
}

ILink* LinkSelection::active() const
{
    switch (m_settings.m_iDataTransferMode) {
    case kLinkSerial: return &m_serial;
    case kLinkUsb: return m_device.UsbLink();
    default: return nullptr;
    }
}

void LinkSelection::bind() { m_device.SetLink(active()); }

void LinkSelection::use(LinkMode mode)
{
    m_settings.m_iDataTransferMode = mode;
    bind();
}

void LinkSelection::setRecovering(bool on) { m_serial.setRecovering(on); }

bool LinkSelection::ConnectPort(const std::string& name, std::string& why)
{
    use(kLinkSerial);
    switch (m_serial.openAndProbe(name)) {
    case LinkResult::Ok:
        return true;
    case LinkResult::NotOpen:
        why = "cannot open the serial port " + name + ": " + m_serial.lastError();
        return false;
    default:
        why = "no echo from the bus adapter on " + name;
        return false;
    }
}

void LinkSelection::setStart(bool on)
{
    if (enableStart)
        enableStart(on);
}

int LinkSelection::indexOf(const std::string& name) const
{
    auto it = std::find(m_ports.begin(), m_ports.end(), name);
    return it == m_ports.end() ? -1 : static_cast<int>(it - m_ports.begin());
}

void LinkSelection::ListPorts()
{
    auto link = ListAndCreateUsbLink(m_usb, m_device.UsbLink() != nullptr);
    if (link) {
        link->setSinks(usbSinks);
        m_device.SetUsbLink(std::move(link));
        bind();
    }
    // Ports in use, by this program too, do not open and so are not listed.
    m_ports = m_system.listPorts();
    m_selected = -1;
    BV_LOG_DEBUG(logger(), kTag, "ListPorts: " << m_ports.size() << " serial ports");
}

bool LinkSelection::ConnectUsb()
{
    ZelmorUSBCRC* usb = m_device.UsbLink();
    if (!usb)
        return false;
    return ok(usb->open());
}

bool LinkSelection::tryPort(const std::string& name, std::vector<std::string>& tried)
{
    for (const std::string& t : tried)
        if (m_system.samePort(t, name))
            return false;
    tried.push_back(name);
    // The scan shows no boxes: a named port that is gone is passed by.
    const int show = m_serial.showMessages();
    m_serial.setShowMessages(0);
    const bool opened = m_serial.bInitSerial(name) == 1;
    m_serial.setShowMessages(show);
    if (opened && m_serial.probe()) {
        int index = indexOf(name);
        for (size_t i = 0; i < m_ports.size() && index < 0; ++i)
            if (m_system.samePort(m_ports[i], name))
                index = static_cast<int>(i);
        if (index < 0) {
            // A port outside the listing (a pseudo-terminal, a path of the
            // operator's): shown, so the list says what is in use.
            m_ports.push_back(name);
            index = static_cast<int>(m_ports.size()) - 1;
        }
        m_selected = index;
        BV_LOG_DEBUG(logger(), kTag, "ConnectSerial: " << name << " answered");
        setStart(true);
        return true;
    }
    setStart(false);
    m_serial.Close();
    return false;
}

bool LinkSelection::ConnectSerial()
{
    // The ports named on the command line and in the settings first, as
    // given, then the listing; each port once, whatever its name.
    std::vector<std::string> tried;
    for (const std::string& named : {givenPort, m_settings.m_sPort})
        if (!named.empty() && tryPort(named, tried))
            return true;
    for (size_t i = 0; i < m_ports.size(); ++i) {
        const std::string name = m_ports[i];
        if (tryPort(name, tried))
            return true;
    }
    return false;
}

void LinkSelection::SelectLink()
{
    const int mode = m_settings.m_iDataTransferMode;
    bool connected = false;
    if (mode == kLinkSerial)
        connected = ConnectSerial();
    else if (mode == kLinkUsb)
        connected = ConnectUsb();
    if (!connected) {
        if (mode != kLinkUsb && ConnectUsb())
            use(kLinkUsb);
        else if (mode != kLinkSerial && ConnectSerial())
            use(kLinkSerial);
        else
            return;
    }
    bind();
    if (m_settings.m_iDataTransferMode == kLinkSerial) {
        m_parity = m_settings.m_bSetParity != 0;
        m_choice = m_settings.m_bUsbToSerialBridge ? kChoiceUsbToSerial : kChoiceSerial;
    } else {
        m_choice = kChoiceUsb;
    }
}

void LinkSelection::startDevice()
{
    m_device.StartIdentification();
    m_device.StartMeasuring(MeasuringMode::Single, 1);
}

void LinkSelection::Initialise()
{
    ListPorts();
    SelectLink();
    startDevice();
}

void LinkSelection::ShowMembers()
{
    switch (m_settings.m_iDataTransferMode) {
    case kLinkUsb: m_choice = kChoiceUsb; break;
    case kLinkSerial: m_choice = m_settings.m_bUsbToSerialBridge ? kChoiceUsbToSerial : kChoiceSerial; break;
    default: m_choice = kChoiceNone; break;
    }
}

void LinkSelection::OnChooseUsb()
{
    if (m_choice == kChoiceUsb)
        return;
    if (m_choice == kChoiceSerial || m_choice == kChoiceUsbToSerial)
        m_serial.Close();
    if (ConnectUsb()) {
        use(kLinkUsb);
        m_choice = kChoiceUsb;
        m_parity = false;
        m_parityEnabled = false;
    } else {
        use(kLinkNone);
        m_choice = kChoiceNone;
    }
}

void LinkSelection::OnChooseSerial(bool usbToSerialBridge)
{
    const int wanted = usbToSerialBridge ? kChoiceUsbToSerial : kChoiceSerial;
    if (m_choice == wanted)
        return;
    if (m_choice == kChoiceUsb && m_device.UsbLink())
        m_device.UsbLink()->Close();
    if (!ConnectSerial()) {
        use(kLinkNone);
        m_choice = kChoiceNone;
        return;
    }
    use(kLinkSerial);
    m_choice = wanted;
    m_parityEnabled = true;
    m_parity = !usbToSerialBridge;
    m_settings.m_bSetParity = usbToSerialBridge ? 0 : 1;
    m_settings.m_bUsbToSerialBridge = usbToSerialBridge ? 1 : 0;
}

void LinkSelection::OnParity(bool on)
{
    m_parity = on;
    m_settings.m_bSetParity = on ? 1 : 0;
}

bool LinkSelection::OnScan()
{
    if (m_device.m_Measuring.IsRunning()) {
        BV_LOG_ERROR(logger(), kTag, "OnScan refused: the measuring program runs in mode " << m_device.m_Measuring.m_mode);
        m_device.ReportStatus(m_device.m_Measuring.m_mode == MeasuringMode::Calibration ? "Scan refused: stop the calibration first"
                                                                : "Scan refused: stop measuring first",
                              kStatusWarning);
        return false;
    }
    if (m_choice == kChoiceUsb) {
        if (m_device.UsbLink())
            m_device.UsbLink()->Close();
    } else if (m_choice == kChoiceSerial || m_choice == kChoiceUsbToSerial) {
        m_serial.Close();
    }
    Initialise();
    return true;
}

void LinkSelection::OnPortSelected(int index)
{
    m_serial.Close();
    if (index < 0 || index >= static_cast<int>(m_ports.size()))
        return;
    m_selected = index;
    if (m_serial.bInitSerial(m_ports[static_cast<size_t>(index)]) != 1)
        return;
    if (m_serial.probe()) {
        setStart(true);
    } else {
        setStart(false);
        m_serial.Close();
    }
}

void LinkSelection::OnTest()
{
    static const char kProbe[] = "PC Ready";
    m_serial.SendQuiet(0, 0, reinterpret_cast<const uint8_t*>(kProbe), 0, 1);
}

LinkResult LinkSelection::SendUsbCommand(const std::string& text)
{
    ZelmorUSBCRC* usb = m_device.UsbLink();
    return usb ? usb->send(0, 0, text) : LinkResult::NotOpen;
}

LinkResult LinkSelection::SendLine(const std::string& from, const std::string& to, const std::string& text)
{
    // Command texts are cut at 299 characters, as the window's fields hold.
    const std::string payload = text.substr(0, 299);
    const auto source = static_cast<uint8_t>(std::atoi(from.c_str()));
    const auto destination = static_cast<uint8_t>(std::atoi(to.c_str()));
    ZelmorUSBCRC* usb = m_device.UsbLink();
    if (usb && active() == usb && usb->busConverterPresent()) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(payload.data());
        return usb->SendFrame(source, destination, bytes, static_cast<uint16_t>(payload.size())) == 0
                   ? LinkResult::Ok
                   : LinkResult::Incomplete;
    }
    if (payload.empty())
        return LinkResult::Failed;  // nothing to send
    return m_serial.send(source, destination, payload);
}

} // namespace bv
