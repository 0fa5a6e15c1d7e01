#include "ui/CNTGraph.h"

#include <QDateTime>
#include <QEvent>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

namespace bv {
namespace {

QColor fromBgr(uint32_t bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

// The same texts on the axis and in the readout, in local time.
const QString kTimeFormat = QStringLiteral("HH:mm:ss");
const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd\nHH:mm");
const QString kReadoutDateFormat = QStringLiteral("yyyy-MM-dd ");

// The labels name whole seconds: ticks closer than that would repeat one.
class WholeSecondTicker final : public QCPAxisTickerDateTime {
protected:
    double getTickStep(const QCPRange& range) override
    {
        return std::max(1.0, QCPAxisTickerDateTime::getTickStep(range));
    }
};

} // namespace

CNTGraph::CNTGraph(QWidget* parent) : QWidget(parent), m_plot(new QCustomPlot(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plot);
    m_graph = m_plot->addGraph();
    m_graph->setAdaptiveSampling(true);
    m_plot->setNotAntialiasedElements(QCP::aeAll);
    // The lines are two pixels wide: drawn as one polyline, the raster engine
    // strokes and fills a noisy graph of 18001 points in up to 400 ms; drawn
    // segment by segment it takes a millisecond or two.
    m_plot->setPlottingHint(QCP::phFastPolylines, true);
    m_plot->setBackground(QColor(255, 255, 255));
    m_plot->xAxis->grid()->setPen(QPen(QColor(210, 210, 210), 0, Qt::DotLine));
    m_plot->yAxis->grid()->setPen(QPen(QColor(210, 210, 210), 0, Qt::DotLine));
    m_plot->setMinimumHeight(80);

    auto ticker = QSharedPointer<WholeSecondTicker>::create();
    ticker->setDateTimeFormat(kTimeFormat);
    ticker->setTickCount(6);
    m_plot->xAxis->setTicker(ticker);

    // Time only: the value axis follows the chosen scale.
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_plot->axisRect()->setRangeDrag(Qt::Horizontal);
    m_plot->axisRect()->setRangeZoom(Qt::Horizontal);
    connect(m_plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this](const QCPRange& r) {
        if (m_settingRange)
            return;
        m_held = true;
        emit timeRangeHeld(r.lower, r.upper);
    });
    connect(m_plot, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent*) {
        showLive();
        emit liveViewRequested();
    });
    connect(m_plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) { onMouseMove(e); });
    m_plot->setMouseTracking(true);
    m_plot->installEventFilter(this);

    m_marker = new QCPItemTracer(m_plot);
    m_marker->setStyle(QCPItemTracer::tsCircle);
    m_marker->setSize(8);
    m_marker->setPen(QPen(QColor(0, 0, 0), 1));
    m_marker->setVisible(false);
    m_readout = new QCPItemText(m_plot);
    m_readout->position->setType(QCPItemPosition::ptAxisRectRatio);
    m_readout->position->setCoords(0.01, 0.02);
    m_readout->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_readout->setTextAlignment(Qt::AlignLeft);
    m_readout->setPadding(QMargins(4, 2, 4, 2));
    m_readout->setBrush(QColor(255, 255, 255, 220));
    m_readout->setPen(QPen(QColor(160, 160, 160)));
    m_readout->setVisible(false);

    // Behind the line: x in time, y over the whole height of the axis rect.
    m_history = new QCPItemRect(m_plot);
    m_history->setLayer(QStringLiteral("background"));
    m_history->setClipToAxisRect(true);
    for (QCPItemPosition* corner : {m_history->topLeft, m_history->bottomRight}) {
        corner->setTypeX(QCPItemPosition::ptPlotCoords);
        corner->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
    m_history->setPen(QPen(QColor(200, 200, 200), 0, Qt::DashLine));
    m_history->setBrush(QColor(232, 232, 232));
    m_history->setVisible(false);
    m_historyLabel = new QCPItemText(m_plot);
    m_historyLabel->setLayer(QStringLiteral("background"));
    m_historyLabel->setClipToAxisRect(true);
    m_historyLabel->position->setParentAnchorX(m_history->topLeft);
    m_historyLabel->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
    m_historyLabel->position->setCoords(4, 0.98);
    m_historyLabel->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
    m_historyLabel->setColor(QColor(110, 110, 110));
    m_historyLabel->setVisible(false);
}

void CNTGraph::setHistorySpan(double from, double to, const QString& label)
{
    const bool shown = from < to;
    if (shown == m_history->visible() && (!shown || (m_history->topLeft->key() == from &&
                                                     m_history->bottomRight->key() == to &&
                                                     m_historyLabel->text() == label)))
        return;
    m_history->topLeft->setCoords(from, 0);
    m_history->bottomRight->setCoords(to, 1);
    m_history->setVisible(shown);
    m_historyLabel->setText(label);
    m_historyLabel->setVisible(shown);
    m_dirty = true;
}

bool CNTGraph::historySpanShown() const { return m_history->visible(); }
double CNTGraph::historySpanFrom() const { return m_history->topLeft->key(); }
double CNTGraph::historySpanTo() const { return m_history->bottomRight->key(); }

void CNTGraph::SetXLabel(const QString& unit)
{
    m_xLabel = unit;
    m_plot->xAxis->setLabel(unit);
}

void CNTGraph::SetYLabel(const QString& unit)
{
    m_yLabel = unit;
    m_plot->yAxis->setLabel(unit);
}

void CNTGraph::SetElementLineColor(uint32_t colorBGR)
{
    m_color = colorBGR;
    m_graph->setPen(QPen(fromBgr(colorBGR), 2));
}

void CNTGraph::SetElementLineStyle(short style) { m_style = style; }

void CNTGraph::setTimeAxisWithDate(bool withDate)
{
    if (withDate == m_withDate)
        return;
    m_withDate = withDate;
    if (auto ticker = m_plot->xAxis->ticker().dynamicCast<QCPAxisTickerDateTime>())
        ticker->setDateTimeFormat(withDate ? kDateTimeFormat : kTimeFormat);
}

void CNTGraph::SetRange(double xmin, double xmax, double ymin, double ymax)
{
    // A reversed pair is what the window computes for an empty store; QCustomPlot
    // normalises it, as the old control did.
    m_liveXMin = xmin;
    m_liveXMax = xmax;
    m_settingRange = true;
    if (!m_held)
        m_plot->xAxis->setRange(xmin, xmax);
    m_plot->yAxis->setRange(ymin, ymax);
    m_settingRange = false;
    flush();
}

void CNTGraph::holdTimeRange(double lower, double upper)
{
    m_held = true;
    m_settingRange = true;
    m_plot->xAxis->setRange(lower, upper);
    m_settingRange = false;
    flush();
}

void CNTGraph::showLive()
{
    m_held = false;
    m_settingRange = true;
    m_plot->xAxis->setRange(m_liveXMin, m_liveXMax);
    m_settingRange = false;
    flush();
}

void CNTGraph::ClearGraph()
{
    m_keys.clear();
    m_values.clear();
    m_graph->data()->clear();
    m_dirty = true;
}

void CNTGraph::PlotXY(double x, double y, short)
{
    m_keys.push_back(x);
    m_values.push_back(y);
    m_dirty = true;
}

void CNTGraph::flush(bool immediate)
{
    if (m_dirty) {
        // Points arrive in time order, so the container can skip its sort;
        // a wall clock set back is the exception.
        m_graph->setData(m_keys, m_values, std::is_sorted(m_keys.cbegin(), m_keys.cend()));
        m_dirty = false;
    }
    // The view may have moved under a mouse that stays: read out what is there now.
    if (readoutShown())
        showReadoutAt(m_readoutPixelX);
    m_plot->replot(immediate ? QCustomPlot::rpImmediateRefresh : QCustomPlot::rpQueuedReplot);
}

bool CNTGraph::showReadoutAt(double pixelX)
{
    m_readoutPixelX = pixelX;
    const QCPRange view = m_plot->xAxis->range();
    const double key = m_plot->xAxis->pixelToCoord(pixelX);
    // The nearest point with a value, on either side of the key.
    const auto at = std::lower_bound(m_keys.cbegin(), m_keys.cend(), key);
    qsizetype best = -1;
    for (qsizetype i = at - m_keys.cbegin(); i < m_keys.size(); ++i)
        if (!std::isnan(m_values[i])) {
            best = i;
            break;
        }
    for (qsizetype i = (at - m_keys.cbegin()) - 1; i >= 0; --i)
        if (!std::isnan(m_values[i])) {
            if (best < 0 || key - m_keys[i] < m_keys[best] - key)
                best = i;
            break;
        }
    if (best < 0 || !view.contains(m_keys[best])) {
        hideReadout();
        return false;
    }
    const double t = m_keys[best], v = m_values[best];
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(t * 1000)));
    QString text = (m_withDate ? when.toString(kReadoutDateFormat) : QString()) + when.toString(kTimeFormat) +
                   QStringLiteral("  ") + QString::number(v, 'f', m_decimals);
    if (!m_yLabel.isEmpty())
        text += QLatin1Char(' ') + m_yLabel;
    m_marker->position->setCoords(t, v);
    m_marker->setVisible(true);
    m_readout->setText(text);
    m_readout->setVisible(true);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
    return true;
}

void CNTGraph::hideReadout()
{
    if (!readoutShown())
        return;
    m_marker->setVisible(false);
    m_readout->setVisible(false);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

QString CNTGraph::readoutText() const { return readoutShown() ? m_readout->text() : QString(); }
bool CNTGraph::readoutShown() const { return m_readout->visible(); }

void CNTGraph::onMouseMove(QMouseEvent* event)
{
    // A drag pans: no readout while the view moves.
    if (event->buttons() != Qt::NoButton || !m_plot->axisRect()->rect().contains(event->position().toPoint()))
        hideReadout();
    else
        showReadoutAt(event->position().x());
}

bool CNTGraph::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_plot && event->type() == QEvent::Leave)
        hideReadout();
    return QWidget::eventFilter(watched, event);
}

int CNTGraph::pointCount() const { return static_cast<int>(m_keys.size()); }
int CNTGraph::gapCount() const
{
    return static_cast<int>(std::count_if(m_values.cbegin(), m_values.cend(), [](double v) { return std::isnan(v); }));
}
double CNTGraph::xMin() const { return m_plot->xAxis->range().lower; }
double CNTGraph::xMax() const { return m_plot->xAxis->range().upper; }
double CNTGraph::yMin() const { return m_plot->yAxis->range().lower; }
double CNTGraph::yMax() const { return m_plot->yAxis->range().upper; }

} // namespace bv
