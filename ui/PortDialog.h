#pragma once
#include <QDialog>
#include <string>

class QRadioButton;

namespace bv {

class CSerial;
class ISerialSystem;

// "Select port": puts the serial link on com1 .. com4. Ports that do not
// open (absent, or in use by another program) cannot be chosen.
class PortDialog : public QDialog {
    Q_OBJECT
public:
    enum { kIdd = 123, kIdCom1 = 1002, kIdOk = 1 };
    static constexpr int kPorts = 4;

    PortDialog(CSerial& serial, ISerialSystem& ports, QWidget* parent = nullptr);

    // Centres over the parent, closes the link, probes com4 .. com1 and
    // checks the button the link should go on (none when no port opens).
    void Initialise();
    // Opens the link on the checked port and closes the dialog.
    void onOk();

    QRadioButton* portButton(int index) const { return m_buttons[index]; }
    // "com1" .. "com4"; -1 when no button is checked.
    int checkedIndex() const;
    static std::string portName(int index);

    // Which button to check: `current` is the link's port name before the
    // dialog closed it; `opened[i]` tells whether com(i+1) opened.
    static int chooseButton(const std::string& current, const bool (&opened)[kPorts]);

protected:
    void showEvent(QShowEvent* event) override;

private:
    CSerial& m_serial;
    ISerialSystem& m_ports;
    QRadioButton* m_buttons[kPorts] = {};
    bool m_initialised = false;
};

} // namespace bv
