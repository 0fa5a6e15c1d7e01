#pragma once
#include <QEvent>
#include <QPointer>
#include <cstdint>
#include <string>

#include "control/Device.h"
#include "control/DeviceDoc.h"
#include "control/Messages.h"
#include "data/MeasurePoint.h"
#include "devices/ReadingWatchdog.h"
#include "ui/ControlIds.h"
#include "ui/ControlPanel.h"
#include "ui/PlotPanel.h"
#include "ui/ResizableDialog.h"
#include "ui/StatusPanel.h"
#include "ui/ValueArea.h"
#include "ui/ValuePanel.h"

class QComboBox;
class QLineEdit;
class QMenuBar;
class QPushButton;

namespace bv {

class BrivaneCore;
class CBrivaneDoc;
struct CalibrationResult;
class CExportCommands;
class CNTGraph;
class CPowerMeter;
class IPrompt;
class ISerialSystem;
class ProgramSettings;
class ShutterPicture;
class StatusList;

// The first user message number of the window system the message numbers
// were counted from; the custom event types keep the same offsets.
constexpr int kFirstUserMessage = 1024;
constexpr QEvent::Type kTimerContinueEvent =
    static_cast<QEvent::Type>(QEvent::User + (kMsgTimerContinue - kFirstUserMessage));

// The operator window. The panels (values, plots, controls, status) hold
// the controls; the window lays them out, routes the notifications to them
// and keeps them in step with each other. Its 100 ms timer is the heartbeat
// of the program: each tick posts the continuation event (unless a dispatch
// is in progress), whose handler runs the core's heartbeat. The device's and the alarm
// monitor's notifications arrive synchronously and keep the controls in step.
class CBrivaneMain : public ResizableDialog,
                     public IDeviceListener,
                     public IPointListener,
                     public IReadingWatchListener,
                     public WindowIds,
                     private IPanelHost {
    Q_OBJECT
public:
    enum { kIdd = 136, kIdMenu = 112, kTimerId = 1, kTimerPeriodMs = 100 };

    struct Options {
        // Tests run the heartbeat themselves on a manual clock.
        bool heartbeatTimer = true;
    };

    // The core must have been started. prompt shows the window's own boxes;
    // ports are what the port selection offers.
    CBrivaneMain(BrivaneCore& core, IPrompt& prompt, ISerialSystem& ports, QWidget* parent = nullptr);
    CBrivaneMain(BrivaneCore& core, IPrompt& prompt, ISerialSystem& ports, Options options,
                 QWidget* parent = nullptr);
    ~CBrivaneMain() override;

    // The window's initialisation: first link selection, timer, lists,
    // graphs and scales. The owner calls it once before showing the window.
    bool OnInitDialog();

    // Puts the stored points of the period that the store lacks in front of
    // it, as earlier runs (or this run's start). Returns how many.
    int LoadHistory();

    // Heartbeat.
    void OnTimer();
    void OnTimerWeiter();
    // Notifications.
    void OnDeviceChanged(int hint, long argument) override;
    void OnNewPoint(const DecidedPoint& point) override;
    void MyUpdate(int parts) override;
    // The core's watchdog: greyed "---", the shutter and flow unknown, a red
    // status line; the first valid point after it clears all that.
    void OnReadingsStale(int64_t lastWallMs) override;
    void OnReadingsResumed() override;
    bool ReadingsStale() const override;
    // A measurement or calibration runs (or a lost link holds one): only
    // then are the readings on screen current.
    bool MeasuringShown() const;

    // Commands.
    void OnStartstop() { m_control->OnStartstop(); }
    void OnCalibration() { m_control->OnCalibration(); }
    void OnTestComm();
    void OnCommPort();
    void OnLinkReset();
    void OnSettings();
    void OnSettingsOnly();
    void OnFileProtocol();
    void ToggleWindow();
    void OnAppAbout();
    void OnSelchangePeriodCombo() { m_value->OnSelchangePeriodCombo(); }
    void EnableStartButton(uint8_t enable) { m_control->EnableStartButton(enable); }
    void OnShutterButton();
    void OnTakenull() { m_control->OnTakenull(); }
    void OnZeroApply() { m_control->OnZeroApply(); }
    void OnDisplayMode() { m_value->OnDisplayMode(); }

    // Value area, status list and time plots.
    void UpdateValueArea() override { m_value->UpdateValueArea(); }
    void AddErrorMessage(const std::string& text, int kind) { m_status->AddErrorMessage(text, kind); }
    void UpdateTimeArea() { m_plot->UpdateTimeArea(); }
    void PlotAdditionalScale(const MeasurePoint* point, double x) { m_plot->PlotAdditionalScale(point, x); }
    void CalcXScale() { m_plot->CalcXScale(); }
    void OnPowerScaleChanged() { m_plot->OnPowerScaleChanged(); }
    void ChangePowerScale() { m_plot->ChangePowerScale(); }
    void ChangeAdditionalScale() { m_plot->ChangeAdditionalScale(); }
    void OnPowerRadio() { m_plot->OnPowerRadio(); }
    void OnAdditionalQuantity() { m_plot->OnAdditionalQuantity(); }
    void OnClear() { m_plot->OnClear(); }
    void OnSelchangeScalePeriodeCombo() { m_plot->OnSelchangeScalePeriodeCombo(); }

    // Radio members and their buttons of all panels (true: read the buttons).
    void UpdateData(bool fromControls) override;

    // What the window holds, for tests and screenshots.
    ValueAreaState valueAreaState() const;
    QWidget* control(int id) const;
    ValueArea* valueArea() const { return m_value->valueArea(); }
    CNTGraph* powerGraph() const { return m_plot->powerGraph(); }
    CNTGraph* additionalGraph() const { return m_plot->additionalGraph(); }
    StatusList* statusList() const { return m_status->statusList(); }
    QComboBox* averagingList() const { return m_value->averagingList(); }
    QComboBox* periodList() const { return m_plot->periodList(); }
    QPushButton* startStopButton() const { return m_control->startStopButton(); }
    QPushButton* calibrationButton() const { return m_control->calibrationButton(); }
    QPushButton* shutterButton() const { return m_control->shutterButton(); }
    ShutterPicture* shutterPicture() const { return m_control->shutterPicture(); }
    QLineEdit* zeroEdit() const { return m_control->zeroEdit(); }
    QMenuBar* menuBar() const { return m_menuBar; }
    // Statistics, CSV, plot pictures and the calibration report.
    CExportCommands* exports() const { return m_exports; }
    QWidget* freeCommWindow() const { return m_freeComm; }
    int displayMode() const { return m_value->displayMode(); }
    int additionalQuantity() const { return m_plot->additionalQuantity(); }
    int powerScale() const { return m_plot->powerScale(); }
    int64_t plotColumnWidth() const { return m_plot->columnWidth(); }
    bool calibrationLayout() const { return m_control->calibrationLayout(); }
    bool alarmShown() const { return m_status->alarmShown(); }
    const std::string& alarmText() const { return m_status->alarmText(); }
    int thermalizationShown() const { return m_status->thermalizationShown(); }
    double powerMin() const { return m_plot->powerMin(); }
    double powerMax() const { return m_plot->powerMax(); }
    double timeMin() const { return m_plot->timeMin(); }
    double timeMax() const { return m_plot->timeMax(); }
    double additionalMin() const { return m_plot->additionalMin(); }
    double additionalMax() const { return m_plot->additionalMax(); }
    // The last calibration's verdict, as the status list and value area tell it.
    const std::string& calibrationVerdict() const { return m_sVerdict; }
    int heartbeatsRun() const { return m_iHeartbeats; }
    bool timerRunning() const { return m_iTimerId != 0; }

    CStatusPanel* statusPanel() const { return m_status; }

public slots:
    void accept() override;
    // Asks first while a measurement or a calibration runs.
    void reject() override;

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    void buildControls();
    void buildMenu();
    void fillAnchors();
    void ShowAverageMode() override;
    void ReportToOperator(const std::string& text, int kind) override;
    bool confirmExit();
    void createFreeComm();
    void releaseFreeComm();
    void showCalibrationVerdict(const CalibrationResult& result);
    void showPresence();

    BrivaneCore& m_core;
    IPrompt& m_prompt;
    ISerialSystem& m_ports;
    Options m_options;
    ProgramSettings& m_settings;
    CPowerMeter* m_pDevice;
    CBrivaneDoc* m_pDoc;
    QPointer<QWidget> m_freeComm;
    int m_iTimerId = 0;
    bool m_bInitialised = false;
    int m_iHeartbeats = 0;
    bool m_bStaleShown = false;
    bool m_bNoMeterShown = false;
    std::string m_sVerdict;
    int m_iVerdictKind = 0;

    CValuePanel* m_value = nullptr;
    CPlotPanel* m_plot = nullptr;
    CControlPanel* m_control = nullptr;
    CStatusPanel* m_status = nullptr;
    CExportCommands* m_exports = nullptr;
    QMenuBar* m_menuBar = nullptr;
};

} // namespace bv
