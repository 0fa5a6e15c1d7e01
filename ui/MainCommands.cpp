#include <QAction>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QLineEdit>
#include <algorithm>

#include "app/BrivaneCore.h"
#include "app/Heartbeat.h"
#include "app/LinkSelection.h"
#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "link/CSerial.h"
#include "link/ZelmorUSB.h"
#include "settings/ProgramSettings.h"
#include "ui/AboutDialog.h"
#include "ui/CBrivaneMain.h"

#include "app/HistoryRecorder.h"
#include "ui/CFreeComm.h"
#include "ui/ExportCommands.h"
#include "ui/PortDialog.h"
#include "ui/StatusPanel.h"
#include "ui/SettingsDialogs.h"

// The operator window's menu and the commands that open dialogs or act on
// the link.
namespace bv {
namespace {

using panel::guarded;
using panel::kTag;
using panel::logger;

} // namespace

void CBrivaneMain::buildMenu()
{
    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("menu"));
    m_menuBar->setProperty("controlId", static_cast<int>(kIdMenu));
    auto add = [this](QMenu* menu, const QString& text, int id, const char* name, auto handler) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        if (id)
            a->setProperty("controlId", id);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    QMenu* file = m_menuBar->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    add(file, tr("&Settings..."), kCmdSettings, "settingsAction", [this] { OnSettings(); });
    add(file, tr("&Protocol..."), kCmdProtocol, "protocolAction", [this] { OnFileProtocol(); });
    file->addSeparator();
    m_exports = new CExportCommands(*m_pDevice, *m_pDoc, m_settings, m_prompt, *powerGraph(), *additionalGraph(), this);
    m_exports->setHistoryFile([this] {
        HistoryRecorder* history = m_core.history();
        return history ? history->store().path() : std::string();
    });
    m_exports->addActions(file);
    file->addSeparator();
    add(file, tr("&Quit"), 0, "quitAction", [this] { close(); })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // The buttons' commands from the keyboard, only while the button may be pressed.
    QMenu* measure = m_menuBar->addMenu(tr("&Measurement"));
    measure->setObjectName(QStringLiteral("measurementMenu"));
    auto press = [](QPushButton* b) {
        if (b->isEnabled() && b->isVisible())
            b->click();
    };
    add(measure, tr("&Start/Stop"), 0, "startStopAction", [this, press] { press(m_control->startStopButton()); })
        ->setShortcut(QKeySequence(Qt::Key_F5));
    add(measure, tr("&Use current value as offset"), 0, "takeZeroAction",
        [this, press] { press(m_control->zeroTakeButton()); })
        ->setShortcut(QKeySequence(Qt::Key_F6));
    add(measure, tr("&Zero level"), 0, "zeroFieldAction", [this] {
        m_control->zeroEdit()->setFocus(Qt::ShortcutFocusReason);
        m_control->zeroEdit()->selectAll();
    })->setShortcut(QKeySequence(Qt::Key_F7));
    measure->addSeparator();
    add(measure, tr("&Alarm log..."), 0, "alarmLogAction", [this] { m_status->showAlarmLog(this); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    QMenu* comm = m_menuBar->addMenu(tr("&Communication"));
    comm->setObjectName(QStringLiteral("communicationMenu"));
    add(comm, tr("&Free communication..."), kCmdFreeComm, "freeCommAction", [this] { ToggleWindow(); });
    QMenu* info = m_menuBar->addMenu(tr("&Info"));
    info->setObjectName(QStringLiteral("infoMenu"));
    add(info, tr("&About..."), 0, "aboutAction", [this] { OnAppAbout(); });
    // Shortcuts work wherever the focus is in the window.
    for (QAction* a : m_menuBar->findChildren<QAction*>())
        a->setShortcutContext(Qt::WindowShortcut);
    layout()->setMenuBar(m_menuBar);
}

void CBrivaneMain::OnTestComm()
{
    guarded("OnTestComm", [&] {
        m_pDevice->StartIdentification();
        m_pDevice->StartMeasuring(MeasuringMode::Single, 1);
    });
}

void CBrivaneMain::OnCommPort()
{
    guarded("OnCommPort", [&] {
        PortDialog dialog(m_core.serial(), m_ports, this);
        dialog.exec();
        m_pDevice->StartIdentification();
        m_pDevice->StartMeasuring(MeasuringMode::Single, 1);
        MyUpdate(kPartButtons);
    });
}

void CBrivaneMain::OnLinkReset()
{
    guarded("OnLinkReset", [&] {
        m_core.serial().Close();
        m_pDevice->ClearAlive();
        if (m_pDevice->MeasuringActive())
            OnStartstop();
        MyUpdate(kPartButtons);
    });
}

void CBrivaneMain::OnSettings()
{
    guarded("OnSettings", [&] {
        const int interval = m_settings.m_iInterval;
        DeviceSettingsDialog dialog(*m_pDevice, m_settings, this);
        dialog.exec();
        if (m_settings.m_iInterval != interval)
            m_pDoc->ClearAllPoints();
        OnSelchangeScalePeriodeCombo();
        UpdateTimeArea();
    });
}

void CBrivaneMain::OnSettingsOnly()
{
    guarded("OnSettingsOnly", [&] {
        DeviceSettingsDialog dialog(*m_pDevice, m_settings, this);
        dialog.exec();
    });
}

void CBrivaneMain::OnFileProtocol()
{
    guarded("OnFileProtocol", [&] {
        ProtocolDialog dialog(m_pDevice, m_prompt, this);
        dialog.exec();
    });
}

void CBrivaneMain::ToggleWindow()
{
    guarded("ToggleWindow", [&] {
        const bool visible = m_freeComm && m_freeComm->isVisible();
        BV_LOG_DEBUG(logger(), kTag, "ToggleWindow isVisible " << visible);
        if (!m_freeComm)
            return;
        m_freeComm->setVisible(!visible);
    });
}

void CBrivaneMain::OnAppAbout()
{
    guarded("OnAppAbout", [&] {
        AboutDialog dialog(this);
        dialog.exec();
    });
}

void CBrivaneMain::createFreeComm()
{
    LinkSelection* links = m_core.links();
    if (!links)
        return;
    auto* window = new CFreeComm(*links, *m_pDevice, this);
    window->setObjectName(QStringLiteral("freeCommWindow"));
    window->hide();
    m_freeComm = window;
    // The bus monitor sees what the heartbeat takes from the link and what
    // the PC sends to the USB device.
    m_core.heartbeatBody()->addObserver(window);
    links->usbSinks.push_back(window);
    // Its initialisation performs the first link selection.
    window->Initialise();
}

void CBrivaneMain::releaseFreeComm()
{
    auto* window = qobject_cast<CFreeComm*>(m_freeComm.data());
    if (!window)
        return;
    if (Heartbeat* heartbeat = m_core.heartbeatBody())
        heartbeat->removeObserver(window);
    if (LinkSelection* links = m_core.links()) {
        auto& sinks = links->usbSinks;
        sinks.erase(std::remove(sinks.begin(), sinks.end(), static_cast<IFrameSink*>(window)), sinks.end());
        if (ZelmorUSBCRC* usb = m_pDevice->UsbLink())
            usb->setSinks(sinks);
    }
    delete window;
}

} // namespace bv
