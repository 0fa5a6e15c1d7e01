#pragma once
#include <QEvent>
#include <QPointer>
#include <cstdint>
#include <string>

#include "control/Device.h"
#include "control/DeviceDoc.h"
#include "control/Messages.h"
#include "data/MeasurePoint.h"
#include "ui/ResizableDialog.h"
#include "ui/ValueArea.h"

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QRadioButton;

namespace bv {

class BrivaneCore;
class CBrivaneDoc;
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

// The operator window. Its 100 ms timer is the heartbeat of the program: each
// tick posts the continuation event (unless a dispatch is in progress), whose
// handler runs the core's heartbeat. The device's and the store's
// notifications arrive synchronously and keep the controls in step.
class CBrivaneMain : public ResizableDialog, public IDeviceListener, public IDocListener {
    Q_OBJECT
public:
    enum { kIdd = 136, kIdMenu = 112, kTimerId = 1, kTimerPeriodMs = 100 };
    enum ControlId : int {
        kIdValueArea = 1218,
        kIdControlGroup = 1243,
        kIdShutterPicture = 1103,
        kIdShutterButton = 1168,
        kIdStartStop = 1104,
        kIdCalibration = 1166,
        kIdModeCurrent = 1207,
        kIdModeMin = 1208,
        kIdModeMax = 1209,
        kIdModeAverage = 1210,
        kIdTimeLabel = 1247,
        kIdAveragingList = 1232,
        kIdZeroLabel = 1246,
        kIdZeroEdit = 1100,
        kIdZeroApply = 1128,
        kIdZeroTake = 1101,
        kIdScaleGroup = 1242,
        kIdPowerRadio = 1219,
        kIdFlowRadio = 1213,
        kIdTeRadio = 1214,
        kIdTdRadio = 1215,
        kIdEcPowerRadio = 1228,
        kIdPowerText = 1220,
        kIdFlowText = 1109,
        kIdTeText = 1110,
        kIdTdText = 1111,
        kIdEcPowerText = 1229,
        kIdClear = 1171,
        kIdPowerScaleLabel = 1245,
        kIdScaleAutomatic = 1094,
        kIdScale200 = 1095,
        kIdScale500 = 1097,
        kIdStatusList = 1231,
        kIdPowerGraph = 1235,
        kIdPeriodLabel = 1244,
        kIdPeriodList = 1233,
        kIdAdditionalGraph = 1236,
    };
    enum Command : int {
        kCmdSettings = 32774,
        kCmdProtocol = 32806,
        kCmdFreeComm = 32772,
        kCmdCommPort = 32773,
        kCmdTestComm = 1105,
        kCmdLinkReset = 32817,
        kCmdSettingsOnly = 1088,
    };
    enum Part : int {
        kPartShutter = 1,
        kPartButtons = 2,
        kPartValueArea = 4,
        kPartValueTexts = 8,
        kPartZero = 16,
        kPartModelControls = 32,
        kPartCaption = 64,
        kPartStatus = 128,
        kPartAll = 255,
        kPartNewPoint = 175,  // all but the zero edit and the caption
    };

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

    // Heartbeat.
    void OnTimer();
    void OnTimerWeiter();
    // Notifications.
    void OnDeviceChanged(int hint, long argument) override;
    void OnDocChanged(int hint, CDeviceDoc* doc) override;
    void MyUpdate(int parts);

    // Commands.
    void OnStartstop();
    void OnCalibration();
    void OnTestComm();
    void OnCommPort();
    void OnLinkReset();
    void OnSettings();
    void OnSettingsOnly();
    void OnFileProtocol();
    void ToggleWindow();
    void OnAppAbout();
    void OnSelchangePeriodCombo();
    void EnableStartButton(uint8_t enable);
    void OnShutterButton();
    void OnTakenull();
    void OnZeroApply();
    void OnDisplayMode();

    // Value area, status list and time plots.
    void UpdateValueArea();
    void AddErrorMessage(const std::string& text, int kind);
    void UpdateTimeArea();
    void PlotAdditionalScale(const MeasurePoint* point, double x);
    void CalcXScale();
    void OnPowerScaleChanged();
    void ChangePowerScale();
    void ChangeAdditionalScale();
    void OnPowerRadio();
    void OnAdditionalQuantity();
    void OnClear();
    void OnSelchangeScalePeriodeCombo();

    // Radio members and their buttons (true: read the buttons).
    void UpdateData(bool fromControls);

    // What the window holds, for tests and screenshots.
    ValueAreaState valueAreaState() const;
    QWidget* control(int id) const;
    ValueArea* valueArea() const { return m_valueArea; }
    CNTGraph* powerGraph() const { return m_powerGraph; }
    CNTGraph* additionalGraph() const { return m_additionalGraph; }
    StatusList* statusList() const { return m_statusList; }
    QComboBox* averagingList() const { return m_averagingList; }
    QComboBox* periodList() const { return m_periodList; }
    QPushButton* startStopButton() const { return m_startStop; }
    QPushButton* calibrationButton() const { return m_calibration; }
    QPushButton* shutterButton() const { return m_shutterButton; }
    ShutterPicture* shutterPicture() const { return m_shutterPicture; }
    QLineEdit* zeroEdit() const { return m_zeroEdit; }
    QMenuBar* menuBar() const { return m_menuBar; }
    QWidget* freeCommWindow() const { return m_freeComm; }
    int displayMode() const { return m_iDisplayMode; }
    int additionalQuantity() const { return m_iAdditionalQuantity; }
    int powerScale() const { return m_iPowerScale; }
    bool calibrationLayout() const { return m_bCalibrationLayout != 0; }
    bool alarmShown() const { return m_bAlarmShown != 0; }
    const std::string& alarmText() const { return m_sAlarmText; }
    int thermalizationShown() const { return m_iThermalizationShown; }
    double powerMin() const { return m_dPowerMin; }
    double powerMax() const { return m_dPowerMax; }
    double timeMin() const { return m_dTimeMin; }
    double timeMax() const { return m_dTimeMax; }
    double additionalMin() const { return m_dAdditionalMin; }
    double additionalMax() const { return m_dAdditionalMax; }
    int heartbeatsRun() const { return m_iHeartbeats; }
    bool timerRunning() const { return m_iTimerId != 0; }

public slots:
    void accept() override;

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    void buildControls();
    void buildMenu();
    void fillAnchors();
    void tag(QWidget* w, int id, const char* name);
    void setRadio(QButtonGroup* group, int value);
    int readRadio(QButtonGroup* group) const;
    void statusUpdate(const MeasurePoint& newest);
    void smallValueTexts(const MeasurePoint& newest);
    void createFreeComm();
    void releaseFreeComm();
    void additionalRange(double a, double b, int quantity);

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
    bool m_bShutterHidden = false;

    double m_dPowerMin = -450, m_dPowerMax = 50;
    double m_dTimeMin = 0, m_dTimeMax = 1;
    double m_dAdditionalMin = -1, m_dAdditionalMax = 1;
    uint8_t m_bAlarmShown = 0;
    std::string m_sAlarmText;
    int32_t m_iThermalizationShown = -1;
    uint8_t m_bCalibrationLayout = 0;
    int32_t m_iDisplayMode = 0;
    int32_t m_iPowerRadio = 0;
    // Left open by the template; flow is shown until the operator chooses.
    int32_t m_iAdditionalQuantity = 0;
    int32_t m_iPowerScale = 2;

    QMenuBar* m_menuBar = nullptr;
    ValueArea* m_valueArea = nullptr;
    QGroupBox* m_controlGroup = nullptr;
    ShutterPicture* m_shutterPicture = nullptr;
    QPushButton* m_shutterButton = nullptr;
    QPushButton* m_startStop = nullptr;
    QPushButton* m_calibration = nullptr;
    QButtonGroup* m_modeGroup = nullptr;
    QComboBox* m_averagingList = nullptr;
    QLineEdit* m_zeroEdit = nullptr;
    QPushButton* m_zeroApply = nullptr;
    QPushButton* m_zeroTake = nullptr;
    QGroupBox* m_scaleGroup = nullptr;
    QButtonGroup* m_powerRadioGroup = nullptr;
    QButtonGroup* m_quantityGroup = nullptr;
    QLabel* m_powerText = nullptr;
    QLabel* m_flowText = nullptr;
    QLabel* m_teText = nullptr;
    QLabel* m_tdText = nullptr;
    QLabel* m_ecPowerText = nullptr;
    QPushButton* m_clear = nullptr;
    QButtonGroup* m_scaleGroupButtons = nullptr;
    StatusList* m_statusList = nullptr;
    CNTGraph* m_powerGraph = nullptr;
    CNTGraph* m_additionalGraph = nullptr;
    QComboBox* m_periodList = nullptr;
};

} // namespace bv
