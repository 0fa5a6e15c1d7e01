#pragma once
#include <QObject>
#include <cstdint>

#include "data/MeasurePoint.h"
#include "ui/MainPanels.h"
#include "ui/ValueArea.h"

class QButtonGroup;
class QComboBox;
class QLabel;

namespace bv {

class CBrivaneDoc;
class CPowerMeter;
class ProgramSettings;

// The readings: the value area, the five small value texts beside the
// quantity buttons, the display mode and the averaging time.
class CValuePanel : public QObject {
    Q_OBJECT
public:
    CValuePanel(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPanelHost& host,
                QObject* parent);

    // The list shows averagePeriod (the operator's choice from the settings file).
    void initAveraging(int averagePeriod);
    // The list follows the window in force (a calibration's own).
    void showAveragingWindow();

    // The readings of the value area; the window adds layout and alarm.
    ValueAreaState state() const;
    void UpdateValueArea();
    void smallValueTexts(const MeasurePoint& newest);
    // While the readings are stale: no value at all, rather than an old one.
    void staleValueTexts();
    // Greyed while no measurement runs or the readings are stale.
    void showTextsLive(bool live);
    void setEcVisible(bool ec);

    void OnDisplayMode();
    void OnSelchangePeriodCombo();
    void UpdateData(bool fromControls);
    void setDisplayMode(int mode) { m_iDisplayMode = mode; }
    int displayMode() const { return m_iDisplayMode; }

    ValueArea* valueArea() const { return m_valueArea; }
    QButtonGroup* modeGroup() const { return m_modeGroup; }
    QLabel* timeLabel() const { return m_timeLabel; }
    QComboBox* averagingList() const { return m_averagingList; }
    QLabel* powerText() const { return m_powerText; }
    QLabel* flowText() const { return m_flowText; }
    QLabel* teText() const { return m_teText; }
    QLabel* tdText() const { return m_tdText; }
    QLabel* ecPowerText() const { return m_ecPowerText; }

private:
    void selectPeriod(int averagePeriod);

    CPowerMeter& m_device;
    CBrivaneDoc& m_doc;
    ProgramSettings& m_settings;
    IPanelHost& m_host;
    int32_t m_iDisplayMode = 0;

    ValueArea* m_valueArea = nullptr;
    QButtonGroup* m_modeGroup = nullptr;
    QLabel* m_timeLabel = nullptr;
    QComboBox* m_averagingList = nullptr;
    QLabel* m_powerText = nullptr;
    QLabel* m_flowText = nullptr;
    QLabel* m_teText = nullptr;
    QLabel* m_tdText = nullptr;
    QLabel* m_ecPowerText = nullptr;
};

} // namespace bv
