#include <gtest/gtest.h>

#include <QApplication>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <cmath>
#include <random>

#include "WindowFixture.h"
#include "ui/CNTGraph.h"

namespace bv {
namespace {

// Found by the benchmarks: with the window's two-pixel pens, one replot of a
// noisy graph of 18001 points took up to 400 ms (the raster engine stroked the
// whole line as one path), so a heartbeat with a new point took over 120 ms.
TEST(GraphSpeed, WidePenGraphOf18001PointsUsesTheFastPolyline)
{
    test::windowApp();
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* graph = new CNTGraph(&host);
    layout->addWidget(graph);
    graph->SetElementLineColor(0x000000FF);
    host.resize(1100, 320);
    host.show();
    QApplication::processEvents();  // lays the graph out at its full size
    ASSERT_GE(graph->plot()->width(), 1000);
    // The flow over the longest period: the reading's noise makes every
    // pixel column a zig-zag. The window clears and refills the graph each time.
    std::mt19937 random(4);
    std::normal_distribution<double> noise(0, 1);
    std::vector<double> values(18001);
    for (double& v : values)
        v = noise(random);
    graph->ClearGraph();
    for (int i = 0; i < 18001; ++i)
        graph->PlotXY(i * 10.0, 4.5 + 0.01 * values[i], 0);
    graph->SetRange(0, 180000, 4.4, 4.6);
    graph->plot()->replot(QCustomPlot::rpImmediateRefresh);
    // The speed itself is measured in bench/; here: the drawing mode that
    // makes it fast stays switched on, and every point reached the plot.
    EXPECT_TRUE(graph->plot()->plottingHints().testFlag(QCP::phFastPolylines));
    EXPECT_EQ(graph->plot()->graph(0)->dataCount(), 18001);
}

} // namespace
} // namespace bv
