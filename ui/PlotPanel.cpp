#include "ui/PlotPanel.h"

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>
#include <exception>
#include <qcustomplot.h>

#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "settings/ProgramSettings.h"
#include "ui/ControlIds.h"
#include "ui/CNTGraph.h"
#include "ui/PlotScales.h"
#include "res/StringTable.h"

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
    using W = WindowIds;
    using panel::makeRadio;
    m_powerRadioGroup = new QButtonGroup(this);
    m_powerRadioGroup->addButton(makeRadio(windowText("Power"), W::kIdPowerRadio, "powerRadio"), 0);
    m_quantityGroup = new QButtonGroup(this);
    m_quantityGroup->addButton(makeRadio(windowText("Flow rate"), W::kIdFlowRadio, "flowRadio"), plot::kFlow);
    m_quantityGroup->addButton(makeRadio(windowText("Tin"), W::kIdTeRadio, "teRadio"), plot::kTe);
    m_quantityGroup->addButton(makeRadio(windowText("T diff"), W::kIdTdRadio, "tdRadio"), plot::kTd);
    m_ecPowerRadio = makeRadio(windowText("EC Power"), W::kIdEcPowerRadio, "ecPowerRadio");
    m_quantityGroup->addButton(m_ecPowerRadio, plot::kEcPower);
    m_ecPowerRadio->setVisible(false);
    m_clear = panel::makeButton(windowText("Clear"), W::kIdClear, "clearButton");

    m_powerScaleLabel = panel::makeLabel(windowText("Power scale"), W::kIdPowerScaleLabel, "powerScaleLabel");
    m_scaleButtons = new QButtonGroup(this);
    m_scaleButtons->addButton(makeRadio(windowText("Automatic"), W::kIdScaleAutomatic, "scaleAutomaticRadio"),
                              plot::kScaleAutomatic);
    m_scaleButtons->addButton(makeRadio(QStringLiteral("200 W"), W::kIdScale200, "scale200Radio"), plot::kScale200W);
    m_scaleButtons->addButton(makeRadio(QStringLiteral("500 W"), W::kIdScale500, "scale500Radio"), plot::kScale500W);
    m_periodLabel = panel::makeLabel(windowText("Time : Frequency"), W::kIdPeriodLabel, "periodLabel");
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
    // Both plots show the same time: a zoom or pan in one holds the other at
    // the same range, and a double click in either brings both back to live.
    // The value axes follow the points in view.
    for (const auto& pair : {std::pair{m_powerGraph, m_additionalGraph}, std::pair{m_additionalGraph, m_powerGraph}}) {
        CNTGraph* from = pair.first;
        CNTGraph* to = pair.second;
        connect(from, &CNTGraph::timeRangeHeld, this, [this, to](double lower, double upper) {
            guarded("timeRangeHeld", [&] {
                to->holdTimeRange(lower, upper);
                drawHeldView(true);
                OnPowerScaleChanged();
            });
        });
        connect(from, &CNTGraph::liveViewRequested, this, [this, to] {
            to->showLive();
            UpdateTimeArea();
        });
    }
}

void CPlotPanel::initPlots()
{
    // Clock time on the time axes needs no unit.
    m_powerGraph->SetXLabel(QString());
    m_powerGraph->SetYLabel(QStringLiteral("W"));
    m_powerGraph->setReadoutDecimals(plot::kPowerDecimals);
    m_additionalGraph->SetElementLineStyle(4);
    m_periodList->clear();
    for (int i = 0; i < plot::kPeriodCount; ++i)
        m_periodList->addItem(QString::fromLatin1(plot::period(i).text));
    m_periodList->setCurrentIndex(0);
    m_additionalGraph->SetXLabel(QString());
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
        followStore();
        if (m_powerGraph->viewHeld())
            drawHeldView(false);
        else
            drawLiveView();
        markEarlierRuns();
        CalcXScale();
        OnPowerScaleChanged();
    });
}

void CPlotPanel::markEarlierRuns()
{
    const int earlier = m_doc.EarlierCount();
    double from = 0, to = 0;
    if (earlier > 0) {
        from = static_cast<double>(m_doc.pGetMeaureValue(0)->timeMs) * 0.001;
        to = static_cast<double>(m_doc.pGetMeaureValue(earlier - 1)->timeMs) * 0.001;
    }
    const QString label = QString::fromStdString(strings::text(strings::kHistoryEarlierRuns));
    m_powerGraph->setHistorySpan(from, to, label);
    m_additionalGraph->setHistorySpan(from, to, label);
}

void CPlotPanel::drawLiveView()
{
    drawColumns(m_powerColumns, m_additionalColumns);
    m_heldDrawn = false;
}

void CPlotPanel::drawColumns(const MinMaxDecimator& power, const MinMaxDecimator& additional)
{
    // Each column's extremes at the wall time of their points, and a break
    // where readings are missing.
    m_powerGraph->ClearGraph();
    m_additionalGraph->ClearGraph();
    for (const MinMaxDecimator::Point& p : power.polyline())
        m_powerGraph->PlotXY(static_cast<double>(p.timeMs) * 0.001, p.value, 0);
    if (m_iAdditionalQuantity != plot::kNone)
        for (const MinMaxDecimator::Point& p : additional.polyline())
            m_additionalGraph->PlotXY(static_cast<double>(p.timeMs) * 0.001, p.value, 0);
    m_shownPower = &power;
    m_shownAdditional = &additional;
}

void CPlotPanel::drawHeldView(bool rangeChanged)
{
    // The points in the operator's range (and one beyond each edge, so the
    // line runs out of the view) decimated afresh: a zoom into a week shows
    // its detail, not the week's columns.
    const int64_t lower = static_cast<int64_t>(std::floor(m_powerGraph->xMin() * 1000));
    const int64_t upper = static_cast<int64_t>(std::ceil(m_powerGraph->xMax() * 1000));
    const int count = m_doc.GetCount();
    // Points that come after the view, or go from before it, change nothing
    // in it: the heartbeat stays light while the operator looks back.
    const bool unchanged = !rangeChanged && m_heldDrawn && m_heldClears == m_doc.ClearCount() &&
                           m_heldQuantity == m_iAdditionalQuantity && m_heldBeyond &&
                           m_doc.FirstSeq() <= m_heldFromSeq && lower == m_heldLower && upper == m_heldUpper;
    if (unchanged)
        return;
    auto timeAt = [&](int i) { return m_doc.pGetMeaureValue(i)->timeMs; };
    int from = 0, to = count;  // the store is in time order
    {
        int lo = 0, hi = count;
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            timeAt(mid) < lower ? lo = mid + 1 : hi = mid;
        }
        from = std::max(lo - 1, 0);
        lo = from, hi = count;
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            timeAt(mid) <= upper ? lo = mid + 1 : hi = mid;
        }
        to = std::min(lo + 1, count);
        m_heldBeyond = lo < count;
    }
    const int quantity = m_iAdditionalQuantity;
    m_heldDrawn = true;
    m_heldFromSeq = m_doc.FirstSeq() + from;
    m_heldLower = lower;
    m_heldUpper = upper;
    m_heldClears = m_doc.ClearCount();
    m_heldQuantity = quantity;
    // A quarter of the store or more: its own columns are at most four times
    // coarser than a fresh pass would be, and cost nothing per new point.
    if (4 * static_cast<int64_t>(to - from) >= count) {
        drawColumns(m_powerColumns, m_additionalColumns);
        return;
    }
    const int64_t pixels = plotPixels();
    int64_t width = 1;
    while ((to - from + width - 1) / width > pixels)
        width *= 2;
    const int64_t gap = plot::gapLimitMs(m_settings.m_iInterval);
    m_viewPower.reset(width, gap);
    m_viewAdditional.reset(width, gap);
    for (int i = from; i < to; ++i) {
        const MeasurePoint& p = *m_doc.pGetMeaureValue(i);
        const int64_t seq = m_doc.FirstSeq() + i;
        m_viewPower.append(seq, p.timeMs, p.power);
        if (quantity != plot::kNone)
            m_viewAdditional.append(seq, p.timeMs, plot::quantityValue(p, quantity));
    }
    drawColumns(m_viewPower, m_viewAdditional);
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
    const int64_t gap = plot::gapLimitMs(m_settings.m_iInterval);
    const bool rebuild = m_followedClears != m_doc.ClearCount() || m_followedQuantity != quantity ||
                         m_followedEnd < first || m_followedEnd > end || width < m_powerColumns.width() ||
                         gap != m_powerColumns.gapMs();
    if (rebuild) {
        m_powerColumns.reset(width, gap);
        m_additionalColumns.reset(width, gap);
        m_followedEnd = first;
        m_followedClears = m_doc.ClearCount();
        m_followedQuantity = quantity;
    } else {
        m_powerColumns.coarsen(width);
        m_additionalColumns.coarsen(width);
        auto at = [&](int64_t seq) -> const MeasurePoint* { return m_doc.pGetMeaureValue(static_cast<int>(seq - first)); };
        m_powerColumns.dropBefore(first, [&](int64_t seq) {
            const MeasurePoint* p = at(seq);
            return p ? MinMaxDecimator::Sample{p->timeMs, p->power} : MinMaxDecimator::Sample{0, std::nan("")};
        });
        if (quantity != plot::kNone)
            m_additionalColumns.dropBefore(first, [&](int64_t seq) {
                const MeasurePoint* p = at(seq);
                return p ? MinMaxDecimator::Sample{p->timeMs, plot::quantityValue(*p, quantity)}
                         : MinMaxDecimator::Sample{0, std::nan("")};
            });
    }
    for (int64_t seq = m_followedEnd; seq < end; ++seq) {
        const MeasurePoint* p = m_doc.pGetMeaureValue(static_cast<int>(seq - first));
        m_powerColumns.append(seq, p->timeMs, p->power);
        if (quantity != plot::kNone)
            m_additionalColumns.append(seq, p->timeMs, plot::quantityValue(*p, quantity));
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
        const MeasurePoint* oldest = m_doc.pGetMeaureValue(0);
        const MeasurePoint* newest = m_doc.pGetLastMeasureValue();
        // An empty store shows the interval ending now.
        const int64_t now = QDateTime::currentMSecsSinceEpoch();
        const int interval = m_settings.m_iInterval;
        const plot::AxisRange r = oldest ? plot::timeAxis(oldest->timeMs, newest->timeMs, interval)
                                         : plot::timeAxis(now - std::max(interval, 1), now, interval);
        m_dTimeMin = r.min;
        m_dTimeMax = r.max;
        const bool withDate = plot::axisShowsDate(m_doc.GetPeriod(), r.max - r.min);
        m_powerGraph->setTimeAxisWithDate(withDate);
        m_additionalGraph->setTimeAxisWithDate(withDate);
        BV_LOG_DEBUG(logger(), kTag, "CalcXScale min " << m_dTimeMin << " max " << m_dTimeMax);
    });
}

void CPlotPanel::OnPowerScaleChanged()
{
    guarded("OnPowerScaleChanged", [&] {
        BV_LOG_DEBUG(logger(), kTag, "OnPowerScaleChanged");
        m_host.UpdateData(true);
        double phi = 0, plo = 0, current = 0, amax = 0, amin = 0;
        followStore();
        if (m_doc.GetCount() > 0) {
            // The scales fit what is in view: the whole store live, the
            // operator's range while a zoom or pan holds it.
            const Extent power = extentInView(m_powerGraph->viewHeld() ? *m_shownPower : m_powerColumns);
            phi = power.peak;
            plo = power.low;
            current = power.last;
            const int q = m_iAdditionalQuantity;
            if (q >= plot::kFlow && q <= plot::kEcPower) {
                const plot::QuantityStyle style = plot::quantityStyle(q);
                m_additionalGraph->SetYLabel(QString::fromUtf8(style.unit));
                m_additionalGraph->SetElementLineColor(style.colorBgr);
                m_additionalGraph->setReadoutDecimals(style.decimals);
                const Extent additional =
                    extentInView(m_powerGraph->viewHeld() ? *m_shownAdditional : m_additionalColumns);
                amax = additional.peak;
                amin = additional.low;
            } else {
                m_additionalGraph->SetYLabel(QString());
                m_additionalGraph->SetElementLineColor(0);
                amax = 1;
                amin = -1;
            }
            m_powerGraph->SetElementLineColor(plot::kPowerLineColor);
        }
        const plot::AxisRange power = plot::powerAxis(m_iPowerScale, phi, plo, current);
        m_dPowerMax = power.max;
        m_dPowerMin = power.min;
        additionalRange(amax, amin, m_iAdditionalQuantity);
        ChangePowerScale();
        ChangeAdditionalScale();
    });
}

CPlotPanel::Extent CPlotPanel::extentInView(const MinMaxDecimator& columns) const
{
    const bool held = m_powerGraph->viewHeld();
    const int64_t lower = held ? static_cast<int64_t>(std::floor(m_powerGraph->xMin() * 1000)) : INT64_MIN;
    const int64_t upper = held ? static_cast<int64_t>(std::ceil(m_powerGraph->xMax() * 1000)) : INT64_MAX;
    auto in = [&](int64_t t) { return t >= lower && t <= upper; };
    Extent e;
    bool hasLast = false;
    for (int pass = 0; pass < 2 && !e.any; ++pass) {
        // Nothing in a view panned off the points: fit them all.
        const bool all = pass == 1;
        for (const MinMaxDecimator::Column& c : columns.columns()) {
            for (auto [value, time] : {std::pair{c.min, c.minTime}, std::pair{c.max, c.maxTime}}) {
                if (!all && !in(time))
                    continue;
                e.low = e.any ? std::min(e.low, value) : value;
                e.peak = e.any ? std::max(e.peak, value) : value;
                e.any = true;
            }
            if (all || in(c.lastTime)) {
                e.last = c.last;
                hasLast = true;
            }
        }
    }
    // Without its newest point in view the peak alone places a window.
    if (!hasLast)
        e.last = e.peak;
    return e;
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
        // Nothing is left to look back at.
        m_powerGraph->showLive();
        m_additionalGraph->showLive();
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
        // Another period is another view.
        m_powerGraph->showLive();
        m_additionalGraph->showLive();
        m_settings.m_iInterval = period.intervalMs;
        m_doc.SetPeriod(period.periodSeconds);
        if (m_settings.m_iInterval != interval) {
            m_doc.ClearAllPoints();
            m_device.setCycleInterval(m_settings.m_iInterval);
        }
        if (m_periodLoader)
            m_periodLoader();
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, "OnSelchangeScalePeriodeCombo param " << index << " " << e.what());
    } catch (...) {
        BV_LOG_ERROR(logger(), kTag, "OnSelchangeScalePeriodeCombo param " << index << " unknown error");
    }
}

} // namespace bv
