#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "WindowFixture.h"
#include "ui/CNTGraph.h"

namespace bv {
namespace {

// Found by the benchmarks: with the window's two-pixel pens, one replot of a
// noisy graph of 18001 points took up to 400 ms (the raster engine stroked the
// whole line as one path), so a heartbeat with a new point took over 120 ms.
TEST(GraphSpeed, WidePenGraphOf18001PointsRedrawsQuickly)
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
    std::vector<qint64> ms;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        graph->ClearGraph();
        for (int i = 0; i < 18001; ++i)
            graph->PlotXY(i * 10.0, 4.5 + 0.01 * values[i], 0);
        graph->SetRange(0, 180000, 4.4, 4.6);
        graph->plot()->replot(QCustomPlot::rpImmediateRefresh);
        ms.push_back(timer.elapsed());
    }
    std::sort(ms.begin(), ms.end());
    // A few milliseconds here; the budget of a whole heartbeat is 15.
    EXPECT_LT(ms[1], 60) << "median replot of 18001 points took " << ms[1] << " ms";
}

} // namespace
} // namespace bv
