// The plots on the wall clock: points at the time they were taken, a break
// where readings are missing, and the operator's zoom, pan, readout and way
// back to the live view.
#include <QDateTime>
#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>
#include <qcustomplot.h>

#include "ui/CNTGraph.h"
#include "ui/WindowFixture.h"

namespace bv::test {
namespace {

constexpr int64_t kT0 = 1'780'000'000'000;  // ms since 1970

class PlotTime : public WindowFixture {
protected:
    // The store stamps its points from the manual clock.
    void startMeasuring()
    {
        start();
        store().SetWallClock([this] { return kT0 + clock.now(); });
        run(4000);
        window->OnStartstop();
        run(1000);
        ASSERT_TRUE(device().m_Measuring.IsRunning());
    }
    double oldestS() { return store().pGetMeaureValue(0)->timeMs / 1000.0; }
    double newestS() { return store().pGetLastMeasureValue()->timeMs / 1000.0; }

    // Widest run between neighbouring drawn points on either side of a break.
    static double widestBreak(CNTGraph& g)
    {
        const QCPGraphDataContainer& data = *g.plot()->graph(0)->data();
        double widest = 0, before = NAN;
        bool broken = false;
        for (auto it = data.constBegin(); it != data.constEnd(); ++it) {
            if (std::isnan(it->value)) {
                broken = true;
                continue;
            }
            if (broken && !std::isnan(before))
                widest = std::max(widest, it->key - before);
            broken = false;
            before = it->key;
        }
        return widest;
    }

    void send(QWidget* to, QEvent&& e) { QCoreApplication::sendEvent(to, &e); }
    QPointF inside(CNTGraph& g, double fx) const
    {
        const QRect r = g.plot()->axisRect()->rect();
        return QPointF(r.left() + fx * r.width(), r.center().y());
    }
};

TEST_F(PlotTime, PointsOnTheClockAndABreakWhereTheLinkWasLost)
{
    startMeasuring();
    run(120000);  // the "90s : 1s" store is full and slides
    ASSERT_EQ(store().GetCount(), 91);
    CNTGraph& power = *window->powerGraph();
    CNTGraph& flow = *window->additionalGraph();
    // A point a second: the 91 points span 90 s, and the axis is that span.
    EXPECT_NEAR(newestS() - oldestS(), 90, 0.1);
    EXPECT_DOUBLE_EQ(power.xMin(), oldestS());
    EXPECT_DOUBLE_EQ(power.xMax(), newestS());
    EXPECT_DOUBLE_EQ(flow.xMax(), newestS());
    EXPECT_EQ(power.gapCount(), 0);

    world->usbAdapter()->setConnected(false);
    run(7000);
    world->usbAdapter()->setConnected(true);
    const int64_t lost = store().pGetLastMeasureValue()->timeMs;
    ASSERT_TRUE(runUntil([&] { return store().pGetLastMeasureValue()->timeMs > lost + 10000; }, 30000));
    // One break in both plots, at least as long as the loss; the axis still
    // runs from the oldest point held to the newest.
    for (CNTGraph* g : {&power, &flow}) {
        EXPECT_EQ(g->gapCount(), 1);
        EXPECT_GE(widestBreak(*g), 7.0);
        EXPECT_DOUBLE_EQ(g->xMin(), oldestS());
        EXPECT_DOUBLE_EQ(g->xMax(), newestS());
    }
    EXPECT_GT(newestS() - oldestS(), 97);
}

TEST_F(PlotTime, ZoomPanAndReadoutHoldTheViewUntilTheDoubleClick)
{
    start();
    store().SetWallClock([this] { return kT0 + clock.now(); });
    window->resize(1100, 700);
    window->show();
    QCoreApplication::processEvents();
    world->meter().setLaserPower(1500);
    run(4000);
    window->OnStartstop();
    run(60000);
    CNTGraph& power = *window->powerGraph();
    CNTGraph& flow = *window->additionalGraph();
    power.plot()->replot(QCustomPlot::rpImmediateRefresh);
    flow.plot()->replot(QCustomPlot::rpImmediateRefresh);

    // The 500 W window after a drop to 200 W shows the present value.
    ASSERT_TRUE(window->powerScale() == 2);
    world->meter().setLaserPower(200);
    ASSERT_TRUE(runUntil([&] { return store().pGetLastMeasureValue()->power < 220; }, 30000));
    const double now = store().pGetLastMeasureValue()->power;
    EXPECT_LE(window->powerMin(), now);
    EXPECT_GE(window->powerMax(), now);
    EXPECT_GT(window->powerMax() - window->powerMin(), 499);

    // The wheel zooms in on the time under the mouse, in both plots.
    const double liveSpan = power.xMax() - power.xMin();
    const QPointF mid = inside(power, 0.5);
    send(power.plot(), QWheelEvent(mid, power.plot()->mapToGlobal(mid), QPoint(), QPoint(0, 240), Qt::NoButton,
                                   Qt::NoModifier, Qt::NoScrollPhase, false));
    ASSERT_TRUE(power.viewHeld());
    EXPECT_TRUE(flow.viewHeld());
    const double lower = power.xMin(), upper = power.xMax();
    EXPECT_LT(upper - lower, liveSpan * 0.9);
    EXPECT_DOUBLE_EQ(flow.xMin(), lower);
    EXPECT_DOUBLE_EQ(flow.xMax(), upper);

    // New points do not take the view away.
    run(5000);
    EXPECT_DOUBLE_EQ(power.xMin(), lower);
    EXPECT_DOUBLE_EQ(power.xMax(), upper);
    EXPECT_LT(power.xMax(), newestS());

    // A drag to the right pans back in time, both plots alike.
    const QPointF from = inside(flow, 0.3), to = inside(flow, 0.6);
    send(flow.plot(), QMouseEvent(QEvent::MouseButtonPress, from, flow.plot()->mapToGlobal(from), Qt::LeftButton,
                                  Qt::LeftButton, Qt::NoModifier));
    send(flow.plot(), QMouseEvent(QEvent::MouseMove, to, flow.plot()->mapToGlobal(to), Qt::NoButton,
                                  Qt::LeftButton, Qt::NoModifier));
    send(flow.plot(), QMouseEvent(QEvent::MouseButtonRelease, to, flow.plot()->mapToGlobal(to), Qt::LeftButton,
                                  Qt::NoButton, Qt::NoModifier));
    const double shift = 0.3 * (upper - lower);
    EXPECT_NEAR(flow.xMin(), lower - shift, 0.02 * shift);
    EXPECT_NEAR(power.xMin(), lower - shift, 0.02 * shift);
    EXPECT_NEAR(power.xMax() - power.xMin(), upper - lower, 1e-6);

    // Under the mouse: the point there, with its clock time and value.
    const double centre = (power.xMin() + power.xMax()) / 2;
    const MeasurePoint* target = store().pGetMeaureValue(0);
    for (int i = 0; i < store().GetCount(); ++i) {
        const MeasurePoint* p = store().pGetMeaureValue(i);
        if (std::fabs(p->timeMs / 1000.0 - centre) < std::fabs(target->timeMs / 1000.0 - centre))
            target = p;
    }
    const QPointF at(power.plot()->xAxis->coordToPixel(target->timeMs / 1000.0),
                     power.plot()->axisRect()->rect().center().y());
    send(power.plot(), QMouseEvent(QEvent::MouseMove, at, power.plot()->mapToGlobal(at), Qt::NoButton,
                                   Qt::NoButton, Qt::NoModifier));
    ASSERT_TRUE(power.readoutShown());
    const QString clockTime = QDateTime::fromMSecsSinceEpoch(target->timeMs).toString("HH:mm:ss");
    EXPECT_EQ(power.readoutText(), clockTime + "  " + QString::number(target->power, 'f', 1) + " W");
    send(power.plot(), QEvent(QEvent::Leave));
    EXPECT_FALSE(power.readoutShown());

    // A double click brings both back to the live view, which follows again.
    send(power.plot(), QMouseEvent(QEvent::MouseButtonDblClick, mid, power.plot()->mapToGlobal(mid),
                                   Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    EXPECT_FALSE(power.viewHeld());
    EXPECT_FALSE(flow.viewHeld());
    run(3000);
    EXPECT_DOUBLE_EQ(power.xMax(), newestS());
    EXPECT_DOUBLE_EQ(flow.xMin(), oldestS());
}

// Zoomed into a long history, the view is drawn from the points in it, each
// one, not from the whole history's columns; points arriving later leave it.
TEST_F(PlotTime, ZoomIntoALongHistoryDrawsEveryPointInView)
{
    start();
    window->resize(1100, 700);
    window->show();
    QCoreApplication::processEvents();
    window->powerGraph()->plot()->replot(QCustomPlot::rpImmediateRefresh);
    ASSERT_GT(window->powerGraph()->plot()->axisRect()->width(), 610);
    window->periodList()->setCurrentIndex(6);  // "24h : 1s"
    window->OnSelchangeScalePeriodeCombo();
    auto add = [&](int i) {
        MeasurePoint p;
        p.power = 1000 + i % 97;
        p.flow = 4.5;
        p.timeMs = kT0 + 1000 * int64_t{i} + (i >= 15000 ? 9000 : 0);  // readings missing for 9 s
        store().AddMesswert(p, 0);
    };
    core->alarms()->removePointListener(window.get());  // the window catches up once
    for (int i = 0; i < 30000; ++i)
        add(i);
    core->alarms()->addPointListener(window.get());
    window->UpdateTimeArea();
    CNTGraph& power = *window->powerGraph();
    ASSERT_GT(window->plotColumnWidth(), 8);
    // As a drag in the lower plot would: ten minutes around the gap.
    const double lower = kT0 / 1000.0 + 14700, upper = lower + 600;
    window->additionalGraph()->plot()->xAxis->setRange(lower, upper);
    ASSERT_TRUE(power.viewHeld());
    auto drawn = [&] {
        std::vector<std::pair<double, double>> out;
        for (const QCPGraphData& d : *power.plot()->graph(0)->data())
            out.emplace_back(d.key, d.value);
        return out;
    };
    const auto view = drawn();
    std::vector<std::pair<double, double>> expected;
    for (int i = 0; i < store().GetCount(); ++i) {
        const MeasurePoint& p = *store().pGetMeaureValue(i);
        const double t = p.timeMs / 1000.0;
        if (t >= lower - 1 && t <= upper + 1) {  // one beyond each edge
            if (!expected.empty() && t - expected.back().first > 2.5)
                expected.emplace_back(expected.back().first, NAN);
            expected.emplace_back(t, p.power);
        }
    }
    ASSERT_EQ(view.size(), expected.size());
    for (size_t i = 0; i < view.size(); ++i) {
        EXPECT_NEAR(view[i].first, expected[i].first, 1e-6);
        if (std::isnan(expected[i].second))
            EXPECT_TRUE(std::isnan(view[i].second));
        else
            EXPECT_EQ(view[i].second, expected[i].second);
    }
    EXPECT_EQ(power.gapCount(), 1);
    for (int i = 30000; i < 30100; ++i)
        add(i);
    const auto later = drawn();
    ASSERT_EQ(later.size(), view.size());
    EXPECT_EQ(later.back().first, view.back().first);
    EXPECT_DOUBLE_EQ(power.xMin(), lower);
}

} // namespace
} // namespace bv::test
