#pragma once
#include <functional>
#include <QObject>
#include <cstdint>

#include "data/MeasurePoint.h"
#include "data/MinMaxDecimator.h"
#include "ui/MainPanels.h"
#include "ui/PlotScales.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace bv {

class CBrivaneDoc;
class CNTGraph;
class CPowerMeter;
class ProgramSettings;

// The time plots: power graph and additional graph, their scales, the plot
// period, the quantity buttons and Clear.
class CPlotPanel : public QObject {
    Q_OBJECT
public:
    CPlotPanel(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPanelHost& host,
               QObject* parent);

    // Graph labels and styles, the period list, first scales and plot.
    void initPlots();

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
    void UpdateData(bool fromControls);
    void setEcVisible(bool ec);

    int additionalQuantity() const { return m_iAdditionalQuantity; }
    void setAdditionalQuantity(int quantity) { m_iAdditionalQuantity = quantity; }
    int powerScale() const { return m_iPowerScale; }
    double powerMin() const { return m_dPowerMin; }
    double powerMax() const { return m_dPowerMax; }
    double timeMin() const { return m_dTimeMin; }
    double timeMax() const { return m_dTimeMax; }
    double additionalMin() const { return m_dAdditionalMin; }
    double additionalMax() const { return m_dAdditionalMax; }

    CNTGraph* powerGraph() const { return m_powerGraph; }
    CNTGraph* additionalGraph() const { return m_additionalGraph; }
    QComboBox* periodList() const { return m_periodList; }
    QButtonGroup* powerRadioGroup() const { return m_powerRadioGroup; }
    QButtonGroup* quantityGroup() const { return m_quantityGroup; }
    QButtonGroup* scaleButtons() const { return m_scaleButtons; }
    QPushButton* clearButton() const { return m_clear; }
    QLabel* powerScaleLabel() const { return m_powerScaleLabel; }
    QLabel* periodLabel() const { return m_periodLabel; }

    // Points per min/max column of the plots (1 while every point has a pixel).
    int64_t columnWidth() const { return m_powerColumns.width(); }

    // Called when the period (and so the time the store should cover) is
    // set: the window reads what the store lacks from the history.
    void setPeriodLoader(std::function<void()> loader) { m_periodLoader = std::move(loader); }

private:
    struct Extent {
        double low = 0, peak = 0, last = 0;  // last: the newest point in view
        bool any = false;
    };
    // Of the columns' points in view.
    Extent extentInView(const MinMaxDecimator& columns) const;
    void additionalRange(double a, double b, int quantity);
    // Brings the min/max columns up to the store: new points are appended,
    // dropped ones forgotten; only a clear, another quantity or a wider plot
    // reads the whole history again.
    void followStore();
    // The band over the points of earlier runs.
    void markEarlierRuns();
    void drawLiveView();
    void drawColumns(const MinMaxDecimator& power, const MinMaxDecimator& additional);
    // While the operator holds a range: the points in it, decimated for it.
    void drawHeldView(bool rangeChanged);
    int plotPixels() const;

    CPowerMeter& m_device;
    CBrivaneDoc& m_doc;
    ProgramSettings& m_settings;
    IPanelHost& m_host;

    double m_dPowerMin = -450, m_dPowerMax = 50;
    double m_dTimeMin = 0, m_dTimeMax = 1;
    double m_dAdditionalMin = -1, m_dAdditionalMax = 1;
    int32_t m_iPowerRadio = 0;
    // Left open by the template; flow is shown until the operator chooses.
    int32_t m_iAdditionalQuantity = 0;
    int32_t m_iPowerScale = 2;

    QButtonGroup* m_powerRadioGroup = nullptr;
    QButtonGroup* m_quantityGroup = nullptr;
    QRadioButton* m_ecPowerRadio = nullptr;
    QPushButton* m_clear = nullptr;
    QLabel* m_powerScaleLabel = nullptr;
    QButtonGroup* m_scaleButtons = nullptr;
    QLabel* m_periodLabel = nullptr;
    QComboBox* m_periodList = nullptr;
    CNTGraph* m_powerGraph = nullptr;
    CNTGraph* m_additionalGraph = nullptr;

    MinMaxDecimator m_powerColumns, m_additionalColumns;
    int64_t m_followedClears = -1;  // the store's clear count the columns belong to
    int64_t m_followedEnd = 0;      // first running number not yet in the columns
    int m_followedQuantity = plot::kNone;

    MinMaxDecimator m_viewPower, m_viewAdditional;  // of the held range
    const MinMaxDecimator* m_shownPower = &m_powerColumns;  // what the graphs draw
    const MinMaxDecimator* m_shownAdditional = &m_additionalColumns;
    bool m_heldDrawn = false;
    int64_t m_heldLower = 0, m_heldUpper = 0;  // ms
    int64_t m_heldClears = -1;
    int64_t m_heldFromSeq = 0;  // first point drawn
    bool m_heldBeyond = false;  // a point after the range was drawn
    int m_heldQuantity = plot::kNone;
    std::function<void()> m_periodLoader;
};

} // namespace bv
