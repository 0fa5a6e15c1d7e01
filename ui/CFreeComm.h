#pragma once
#include <QDialog>

#include "link/FrameSink.h"

class QListWidget;

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

private:
    struct Ui;
    Ui* m_ui;
    LinkSelection& m_links;
    CPowerMeter& m_device;
};

} // namespace bv
