#pragma once
#include <functional>
#include <string>
#include <vector>

#include "link/FrameSink.h"
#include "link/Link.h"
#include "settings/LinkMode.h"

namespace bv {

class CPowerMeter;
class CSerial;
class ID2xx;
class ILink;
class ISerialSystem;
class ProgramSettings;

// Chooses and connects the link to the meter (USB, serial port, or serial
// port behind a USB-to-serial converter) and carries out what the free
// communication window's controls ask for. No window code: the dialog shows
// these members and calls these operations.
class LinkSelection {
public:
    enum Choice { kChoiceNone = -1, kChoiceUsb = 0, kChoiceSerial = 1, kChoiceUsbToSerial = 2 };

    LinkSelection(ProgramSettings& settings, CSerial& serial, ISerialSystem& ports, ID2xx& usb,
                  CPowerMeter& device);

    // Called with true when a port answered the probe, false when none did
    // (the operator window's start button follows it).
    std::function<void(bool)> enableStart;
    // Handed to every USB link created here, for the traffic the PC sends.
    std::vector<IFrameSink*> usbSinks;
    // A port named on the command line: tried before the "Port" setting.
    std::string givenPort;

    // The link the mode in force names (null: none), and the meter's link.
    // Only here is the link mode looked at.
    ILink* active() const;
    // The link mode from now on; the meter takes the link it names.
    void use(LinkMode mode);
    // The serial port opened by name and probed; false with the reason in `why`.
    bool ConnectPort(const std::string& name, std::string& why);
    // While a lost link is brought back: no message boxes from its opens.
    void setRecovering(bool on);

    // The USB listing (creating the link), then the serial ports that open.
    void ListPorts();
    bool ConnectUsb();
    // The named ports as given, then the listed ones, until one answers the
    // probe; one that is not listed joins the list.
    bool ConnectSerial();
    void SelectLink();
    // First link selection: list, select, identify, one single reading.
    void Initialise();

    // Handlers of the free communication window.
    void OnChooseUsb();
    void OnChooseSerial(bool usbToSerialBridge);
    void OnParity(bool on);
    // Refused (false, with a status line) while the measuring program runs: a
    // scan ends in a single reading, which would take over the running
    // program's mode and leave a calibration's heater on.
    bool OnScan();
    void OnPortSelected(int index);
    void OnTest();
    LinkResult SendUsbCommand(const std::string& text);
    // A command line: decimal source and destination texts, as by atoi.
    LinkResult SendLine(const std::string& from, const std::string& to, const std::string& text);

    const std::vector<std::string>& ports() const { return m_ports; }
    int selectedPort() const { return m_selected; }
    int choice() const { return m_choice; }
    bool parityChecked() const { return m_parity; }
    bool parityEnabled() const { return m_parityEnabled; }
    // The choice that matches the link mode now in force.
    void ShowMembers();

private:
    void bind();
    int indexOf(const std::string& name) const;
    bool tryPort(const std::string& name, std::vector<std::string>& tried);
    void setStart(bool on);
    void startDevice();

    ProgramSettings& m_settings;
    CSerial& m_serial;
    ISerialSystem& m_system;
    ID2xx& m_usb;
    CPowerMeter& m_device;
    std::vector<std::string> m_ports;
    int m_selected = -1;
    int m_choice = kChoiceNone;
    bool m_parity = false;
    bool m_parityEnabled = true;
};

} // namespace bv
