#include "ui/PlotPanel.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <cmath>
#include <exception>
#include <qcustomplot.h>

#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "settings/ProgramSettings.h"
#include "ui/CBrivaneMain.h"
#include "ui/CNTGraph.h"
#include "ui/PlotScales.h"

namespace bv {
namespace {

using panel::guarded;
using panel::kTag;
using panel::logger;

} // namespace

CPlotPanel::CPlotPanel(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPanelHost& host,
                       QObject* parent)
    : QObject(parent), m_device(device), m_doc(doc), m_settings(settings), m_host(host)
{
    using W = CBrivaneMain;
    using panel::makeRadio;
    m_powerRadioGroup = new QButtonGroup(this);
    m_powerRadioGroup->addButton(makeRadio(W::tr("Power"), W::kIdPowerRadio, "powerRadio"), 0);
    m_quantityGroup = new QButtonGroup(this);
    m_quantityGroup->addButton(makeRadio(W::tr("Flow rate"), W::kIdFlowRadio, "flowRadio"), plot::kFlow);
    m_quantityGroup->addButton(makeRadio(W::tr("Tin"), W::kIdTeRadio, "teRadio"), plot::kTe);
    m_quantityGroup->addButton(makeRadio(W::tr("T diff"), W::kIdTdRadio, "tdRadio"), plot::kTd);
    m_ecPowerRadio = makeRadio(W::tr("EC Power"), W::kIdEcPowerRadio, "ecPowerRadio");
    m_quantityGroup->addButton(m_ecPowerRadio, plot::kEcPower);
    m_ecPowerRadio->setVisible(false);
    m_clear = panel::makeButton(W::tr("Clear"), W::kIdClear, "clearButton");

    m_powerScaleLabel = panel::makeLabel(W::tr("Power scale"), W::kIdPowerScaleLabel, "powerScaleLabel");
    m_scaleButtons = new QButtonGroup(this);
    m_scaleButtons->addButton(makeRadio(W::tr("Automatic"), W::kIdScaleAutomatic, "scaleAutomaticRadio"),
                              plot::kScaleAutomatic);
    m_scaleButtons->addButton(makeRadio(QStringLiteral("200 W"), W::kIdScale200, "scale200Radio"), plot::kScale200W);
    m_scaleButtons->addButton(makeRadio(QStringLiteral("500 W"), W::kIdScale500, "scale500Radio"), plot::kScale500W);
    m_periodLabel = panel::makeLabel(W::tr("Time : Frequency"), W::kIdPeriodLabel, "periodLabel");
    m_periodList = new QComboBox;
    panel::tag(m_periodList, W::kIdPeriodList, "periodList");

    m_powerGraph = new CNTGraph;
    panel::tag(m_powerGraph, W::kIdPowerGraph, "powerGraph");
    m_powerGraph->setMinimumHeight(220);
    m_additionalGraph = new CNTGraph;
    panel::tag(m_additionalGraph, W::kIdAdditionalGraph, "additionalGraph");
    m_additionalGraph->setFixedHeight(190);

    connect(m_quantityGroup, &QButtonGroup::idClicked, this, [this](int) { OnAdditionalQuantity(); });
    connect(m_powerRadioGroup, &QButtonGroup::idClicked, this, [this](int) { OnPowerRadio(); });
    connect(m_scaleButtons, &QButtonGroup::idClicked, this, [this](int) { OnPowerScaleChanged(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { OnClear(); });
    connect(m_periodList, &QComboBox::activated, this, [this](int) {
        OnSelchangeScalePeriodeCombo();
        UpdateTimeArea();
    });
}

void CPlotPanel::initPlots()
{
    m_powerGraph->SetXLabel(QStringLiteral("s"));
    m_powerGraph->SetYLabel(QStringLiteral("W"));
    m_additionalGraph->SetElementLineStyle(4);
    m_periodList->clear();
    for (int i = 0; i < plot::kPeriodCount; ++i)
        m_periodList->addItem(QString::fromLatin1(plot::period(i).text));
    m_periodList->setCurrentIndex(0);
    m_additionalGraph->SetXLabel(QStringLiteral("s"));
    m_additionalGraph->SetElementLineStyle(2);

    ChangeAdditionalScale();
    OnPowerScaleChanged();
    OnSelchangeScalePeriodeCombo();
    UpdateTimeArea();
}

void CPlotPanel::UpdateData(bool fromControls)
{
    if (fromControls) {
        m_iPowerRadio = panel::readRadio(m_powerRadioGroup);
        m_iAdditionalQuantity = panel::readRadio(m_quantityGroup);
        m_iPowerScale = panel::readRadio(m_scaleButtons);
    } else {
        panel::setRadio(m_powerRadioGroup, m_iPowerRadio);
        panel::setRadio(m_quantityGroup, m_iAdditionalQuantity);
        panel::setRadio(m_scaleButtons, m_iPowerScale);
    }
}

void CPlotPanel::setEcVisible(bool ec) { m_ecPowerRadio->setVisible(ec); }

void CPlotPanel::UpdateTimeArea()
{
    guarded("UpdateTimeArea", [&] {
        BV_LOG_DEBUG(logger(), kTag, "UpdateTimeArea");
        const double dt = m_settings.m_iInterval * 0.001;
        followStore();
        // The graphs get each column's extremes, at the time of their points.
        const int64_t first = m_doc.FirstSeq();
        m_powerGraph->ClearGraph();
        m_additionalGraph->ClearGraph();
        for (const MinMaxDecimator::Point& p : m_powerColumns.polyline())
            m_powerGraph->PlotXY(static_cast<double>(p.seq - first) * dt, p.value, 0);
        if (m_iAdditionalQuantity != plot::kNone)
            for (const MinMaxDecimator::Point& p : m_additionalColumns.polyline())
                m_additionalGraph->PlotXY(static_cast<double>(p.seq - first) * dt, p.value, 0);
        CalcXScale();
        OnPowerScaleChanged();
    });
}

int CPlotPanel::plotPixels() const
{
    // A window not laid out yet has tiny plots: never fewer columns than this.
    constexpr int kLeast = 256;
    const int power = m_powerGraph->plot()->axisRect()->width();
    const int additional = m_additionalGraph->plot()->axisRect()->width();
    return std::max({power, additional, kLeast});
}

void CPlotPanel::followStore()
{
    const int64_t first = m_doc.FirstSeq();
    const int64_t end = first + m_doc.GetCount();
    // The narrowest power-of-two column that keeps to one column per pixel;
    // doubling it merges neighbouring columns exactly.
    const int64_t pixels = plotPixels();
    int64_t width = 1;
    while ((end - first + width - 1) / width > pixels)
        width *= 2;
    const int quantity = m_iAdditionalQuantity;
    const bool rebuild = m_followedClears != m_doc.ClearCount() || m_followedQuantity != quantity ||
                         m_followedEnd < first || m_followedEnd > end || width < m_powerColumns.width();
    if (rebuild) {
        m_powerColumns.reset(width);
        m_additionalColumns.reset(width);
        m_followedEnd = first;
        m_followedClears = m_doc.ClearCount();
        m_followedQuantity = quantity;
    } else {
        m_powerColumns.coarsen(width);
        m_additionalColumns.coarsen(width);
        auto at = [&](int64_t seq) -> const MeasurePoint* { return m_doc.pGetMeaureValue(static_cast<int>(seq - first)); };
        m_powerColumns.dropBefore(first, [&](int64_t seq) {
            const MeasurePoint* p = at(seq);
            return p ? p->power : std::nan("");
        });
        if (quantity != plot::kNone)
            m_additionalColumns.dropBefore(first, [&](int64_t seq) {
                const MeasurePoint* p = at(seq);
                return p ? plot::quantityValue(*p, quantity) : std::nan("");
            });
    }
    for (int64_t seq = m_followedEnd; seq < end; ++seq) {
        const MeasurePoint* p = m_doc.pGetMeaureValue(static_cast<int>(seq - first));
        m_powerColumns.append(seq, p->power);
        if (quantity != plot::kNone)
            m_additionalColumns.append(seq, plot::quantityValue(*p, quantity));
    }
    m_followedEnd = end;
}

void CPlotPanel::PlotAdditionalScale(const MeasurePoint* point, double x)
{
    guarded("PlotAdditionalScale", [&] {
        BV_LOG_DEBUG(logger(), kTag, "PlotAdditionalScale ScaleMode " << m_iAdditionalQuantity << " Messpunkt "
                                                                      << point << " XValue " << x);
        if (m_iAdditionalQuantity == plot::kNone || !point)
            return;
        m_additionalGraph->PlotXY(x, plot::quantityValue(*point, m_iAdditionalQuantity), 0);
    });
}

void CPlotPanel::CalcXScale()
{
    guarded("CalcXScale", [&] {
        const plot::AxisRange r =
            plot::timeAxis(m_doc.GetCount(), m_settings.m_iInterval * 0.001, m_doc.GetPeriod());
        m_dTimeMin = r.min;
        m_dTimeMax = r.max;
        BV_LOG_DEBUG(logger(), kTag, "CalcXScale min " << m_dTimeMin << " max " << m_dTimeMax);
    });
}

void CPlotPanel::OnPowerScaleChanged()
{
    guarded("OnPowerScaleChanged", [&] {
        BV_LOG_DEBUG(logger(), kTag, "OnPowerScaleChanged");
        m_host.UpdateData(true);
        double phi = 0, plo = 0, amax = 0, amin = 0;
        if (m_doc.GetCount() > 0) {
            MeasurePoint minimum, maximum;
            m_doc.getExtrema(minimum, maximum);
            phi = maximum.power;
            plo = minimum.power;
            const int q = m_iAdditionalQuantity;
            if (q >= plot::kFlow && q <= plot::kEcPower) {
                const plot::QuantityStyle style = plot::quantityStyle(q);
                m_additionalGraph->SetYLabel(QString::fromUtf8(style.unit));
                m_additionalGraph->SetElementLineColor(style.colorBgr);
                amax = plot::quantityValue(maximum, q);
                amin = plot::quantityValue(minimum, q);
            } else {
                m_additionalGraph->SetYLabel(QString());
                m_additionalGraph->SetElementLineColor(0);
                amax = 1;
                amin = -1;
            }
            m_powerGraph->SetElementLineColor(plot::kPowerLineColor);
        }
        const plot::AxisRange power = plot::powerAxis(m_iPowerScale, phi, plo);
        m_dPowerMax = power.max;
        m_dPowerMin = power.min;
        additionalRange(amax, amin, m_iAdditionalQuantity);
        ChangePowerScale();
        ChangeAdditionalScale();
    });
}

void CPlotPanel::additionalRange(double a, double b, int quantity)
{
    const plot::AxisRange r = plot::additionalAxis(a, b, quantity);
    m_dAdditionalMax = r.max;
    m_dAdditionalMin = r.min;
}

void CPlotPanel::ChangePowerScale()
{
    BV_LOG_DEBUG(logger(), kTag, "ChangePowerScale " << m_dTimeMin << " " << m_dTimeMax << " " << m_dPowerMin << " "
                                                     << m_dPowerMax);
    try {
        m_powerGraph->SetRange(m_dTimeMin, m_dTimeMax, m_dPowerMin, m_dPowerMax);
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, "ChangePowerScale " << e.what() << " params " << m_dTimeMin << " " << m_dTimeMax
                                                         << " " << m_dPowerMin << " " << m_dPowerMax);
    } catch (...) {
        BV_LOG_ERROR(logger(), kTag, "ChangePowerScale unknown error " << m_dTimeMin << " " << m_dTimeMax << " "
                                                                       << m_dPowerMin << " " << m_dPowerMax);
    }
}

void CPlotPanel::ChangeAdditionalScale()
{
    BV_LOG_DEBUG(logger(), kTag, "ChangeAdditionalScale " << m_dTimeMin << " " << m_dTimeMax << " "
                                                          << m_dAdditionalMin << " " << m_dAdditionalMax);
    try {
        m_additionalGraph->SetRange(m_dTimeMin, m_dTimeMax, m_dAdditionalMin, m_dAdditionalMax);
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, "ChangeAdditionalScale " << e.what() << " params " << m_dTimeMin << " "
                                                              << m_dTimeMax << " " << m_dAdditionalMin << " "
                                                              << m_dAdditionalMax);
    } catch (...) {
        BV_LOG_ERROR(logger(), kTag, "ChangeAdditionalScale unknown error " << m_dTimeMin << " " << m_dTimeMax << " "
                                                                            << m_dAdditionalMin << " "
                                                                            << m_dAdditionalMax);
    }
}

void CPlotPanel::OnPowerRadio()
{
    guarded("OnPowerRadio", [&] {
        m_host.UpdateData(true);
        m_iAdditionalQuantity = plot::kNone;
        m_host.UpdateData(false);
        UpdateTimeArea();
    });
}

void CPlotPanel::OnAdditionalQuantity()
{
    guarded("OnAdditionalQuantity", [&] {
        m_host.UpdateData(true);
        UpdateTimeArea();
    });
}

void CPlotPanel::OnClear()
{
    guarded("OnClear", [&] {
        m_powerGraph->ClearGraph();
        m_additionalGraph->ClearGraph();
        m_doc.ClearAllPoints();
        UpdateTimeArea();
        m_host.UpdateValueArea();
    });
}

void CPlotPanel::OnSelchangeScalePeriodeCombo()
{
    const int index = m_periodList->currentIndex();
    try {
        m_host.UpdateData(true);
        const int interval = m_settings.m_iInterval;
        BV_LOG_DEBUG(logger(), kTag, "OnSelchangeScalePeriodeCombo param " << index);
        const plot::Period period = plot::period(index);
        m_settings.m_iInterval = period.intervalMs;
        m_doc.SetPeriod(period.periodSeconds);
        if (m_settings.m_iInterval != interval) {
            m_doc.ClearAllPoints();
            m_device.m_iCycleInterval = m_settings.m_iInterval;
        }
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, "OnSelchangeScalePeriodeCombo param " << index << " " << e.what());
    } catch (...) {
        BV_LOG_ERROR(logger(), kTag, "OnSelchangeScalePeriodeCombo param " << index << " unknown error");
    }
}

} // namespace bv
