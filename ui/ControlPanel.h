#pragma once
#include <QObject>
#include <cstdint>
#include <string>

#include "devices/MeterCommands.h"
#include "ui/MainPanels.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace bv {

class CPowerMeter;
class IPrompt;
class ShutterPicture;
namespace status {
enum class ShutterAction;
}

// Running the meter: start/stop, calibration, shutter button and picture,
// and the zero offset.
class CControlPanel : public QObject {
    Q_OBJECT
public:
    CControlPanel(CPowerMeter& device, IPrompt& prompt, MeterCommands& commands, IPanelHost& host,
                  QObject* parent);

    // Button texts and the zero edit's first text: the offset in force.
    void initControls();

    void OnStartstop();
    void OnCalibration();
    // What the window decided the shutter button does now.
    void OnShutterButton(status::ShutterAction action);
    void OnTakenull();
    void OnZeroApply();
    void EnableStartButton(uint8_t enable);

    // The window's update parts of these controls.
    void showShutter(const std::string& buttonText, bool buttonEnabled);
    void showButtons();
    void showZero();
    void setEcVisible(bool ec);

    bool calibrationLayout() const { return m_bCalibrationLayout != 0; }
    bool eventFilter(QObject* watched, QEvent* event) override;

    ShutterPicture* shutterPicture() const { return m_shutterPicture; }
    QPushButton* shutterButton() const { return m_shutterButton; }
    QPushButton* startStopButton() const { return m_startStop; }
    QPushButton* calibrationButton() const { return m_calibration; }
    QLabel* zeroLabel() const { return m_zeroLabel; }
    QLineEdit* zeroEdit() const { return m_zeroEdit; }
    QPushButton* zeroApplyButton() const { return m_zeroApply; }
    QPushButton* zeroTakeButton() const { return m_zeroTake; }

private:
    // No meter answered: a box says why nothing starts.
    // Runs it through the core's door; a refusal goes to the status list.
    // The operator is told of a refusal: a box without a meter, a status line otherwise.
    CommandOutcome command(MeterCommand command, double value = 0.0);

    CPowerMeter& m_device;
    IPrompt& m_prompt;
    MeterCommands& m_commands;
    IPanelHost& m_host;
    uint8_t m_bCalibrationLayout = 0;
    bool m_bShutterHidden = false;

    ShutterPicture* m_shutterPicture = nullptr;
    QPushButton* m_shutterButton = nullptr;
    QPushButton* m_startStop = nullptr;
    QPushButton* m_calibration = nullptr;
    QLabel* m_zeroLabel = nullptr;
    QLineEdit* m_zeroEdit = nullptr;
    QPushButton* m_zeroApply = nullptr;
    QPushButton* m_zeroTake = nullptr;
};

} // namespace bv
