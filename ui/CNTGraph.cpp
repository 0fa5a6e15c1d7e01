#include "ui/CNTGraph.h"

#include <QVBoxLayout>
#include <qcustomplot.h>

namespace bv {
namespace {

QColor fromBgr(uint32_t bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

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
}

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

void CNTGraph::SetRange(double xmin, double xmax, double ymin, double ymax)
{
    // A reversed pair is what the window computes for an empty store; QCustomPlot
    // normalises it, as the old control did.
    m_plot->xAxis->setRange(xmin, xmax);
    m_plot->yAxis->setRange(ymin, ymax);
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
        // Points arrive in time order, so the container can skip its sort.
        m_graph->setData(m_keys, m_values, true);
        m_dirty = false;
    }
    m_plot->replot(immediate ? QCustomPlot::rpImmediateRefresh : QCustomPlot::rpQueuedReplot);
}

int CNTGraph::pointCount() const { return static_cast<int>(m_keys.size()); }
double CNTGraph::xMin() const { return m_plot->xAxis->range().lower; }
double CNTGraph::xMax() const { return m_plot->xAxis->range().upper; }
double CNTGraph::yMin() const { return m_plot->yAxis->range().lower; }
double CNTGraph::yMax() const { return m_plot->yAxis->range().upper; }

} // namespace bv
