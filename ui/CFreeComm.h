#pragma once
#include <QDialog>

#include "link/FrameSink.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace bv {

class CPowerMeter;
class LinkSelection;

// "Free Communication": link choice, free command texts to any bus address or
// to the USB device, and the bus monitor. Modeless; created hidden by the
// operator window and kept for the whole run. Its initialisation performs the
// first link selection (see Initialise).
class CFreeComm : public QDialog, public IFrameSink {
    Q_OBJECT
public:
    enum { kIdd = 103 };
    static constexpr int kMonitorLines = 80;

    CFreeComm(LinkSelection& links, CPowerMeter& device, QWidget* parent = nullptr);
    ~CFreeComm() override;

    // What the dialog's creation does once: first link selection,
    // identification and one single reading, then the controls shown.
    void Initialise();

    // Bus monitor: one line per frame that passes (IFrameSink).
    void onFrame(const FRAME& record) override;
    static std::string monitorLine(const FRAME& record);
    QListWidget* monitor() const;

    // Shows the link selection's members in the controls.
    void ShowMembers();

    enum {
        kIdUsb = 1205, kIdSerial = 1201, kIdUsbToSerial = 1202, kIdParity = 1203, kIdScan = 1168,
        kIdCommand = 1206, kIdSendUsb = 1166, kIdHex = 1007, kIdComPort = 1204, kIdTest = 1128,
        kIdMonitor = 1054,
    };
    static constexpr int kLines = 3;
    static constexpr int kMonitorLineBytes = 110;

    // The controls, for the operator window and tests.
    QRadioButton* usbRadio() const;
    QRadioButton* serialRadio() const;
    QRadioButton* usbToSerialRadio() const;
    QCheckBox* parityCheck() const;
    QPushButton* scanButton() const;
    QLineEdit* commandEdit() const;
    QPushButton* sendUsbButton() const;
    QLineEdit* fromEdit(int line) const;
    QLineEdit* toEdit(int line) const;
    QComboBox* commandCombo(int line) const;
    QPushButton* sendLineButton(int line) const;
    QLineEdit* hexEdit() const;
    QComboBox* portCombo() const;
    QPushButton* testButton() const;
    bool showAll() const { return m_bShowAll; }

    // The handlers; each reads the controls it needs first.
    void OnUsb();
    void OnSerial();
    void OnUsbToSerial();
    void OnParity();
    void OnScan();
    void OnPortSelected();
    void OnTest();
    void OnSendUsb();
    void OnSendLine(int line);

private:
    void appendMonitorLine(const QString& line);
    struct Ui;
    Ui* m_ui;
    LinkSelection& m_links;
    CPowerMeter& m_device;
    bool m_bShowAll = false;
};

} // namespace bv
