// Speed of the operator window's drawing: the two time plots, the time area
// brought up to the store, and a whole heartbeat that brings a new point,
// each at 18001 points (50 h at 10 s) and at 604,801 (7 days at 1 s), under
// the offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <random>

#include "app/BrivaneCore.h"
#include "settings/ProgramSettings.h"
#include "bench/BenchSupport.h"
#include "control/Scheduler.h"
#include "data/MinMaxDecimator.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "platform/Logging.h"
#include "sim/SimWorld.h"
#include "tests/support/TempDir.h"
#include "ui/CBrivaneMain.h"
#include "ui/CNTGraph.h"

namespace bv::bench {
namespace {

constexpr int kPoints = 18001;
constexpr int kFiftyHours = 5;  // "50h : 10s": 18001 points
constexpr int kWeekPoints = 604801;
constexpr int kWeek = 7;  // "7d : 1s": 604,801 points

void processEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// Both graphs as the window draws them: the min/max columns of the history
// at the plot's width handed to the graphs and replotted.
void replotBothGraphs(benchmark::State& state, int count)
{
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* power = new CNTGraph(&host);
    auto* additional = new CNTGraph(&host);
    layout->addWidget(power);
    layout->addWidget(additional);
    // The window's pens: the power line in red, the flow line in blue.
    power->SetElementLineColor(0x000000FF);
    additional->SetElementLineColor(0x00FF0000);
    host.resize(1100, 620);
    host.show();
    processEvents();
    const int64_t pixels = power->plot()->axisRect()->width();
    int64_t width = 1;
    while ((count + width - 1) / width > pixels)
        width *= 2;
    // A point a second, on the clock-time axis.
    constexpr int64_t kStartMs = 1'780'000'000'000;
    MinMaxDecimator p(width, 2500), f(width, 2500);
    std::mt19937 random(4);
    std::normal_distribution<double> noise(0, 1);
    for (int i = 0; i < count; ++i) {
        p.append(i, kStartMs + 1000 * int64_t{i}, 1500 + 5 * std::sin(i / 300.0) + noise(random));
        f.append(i, kStartMs + 1000 * int64_t{i}, 4.5 + 0.01 * noise(random));
    }
    const double start = kStartMs * 0.001;
    for (auto _ : state) {
        for (CNTGraph* g : {power, additional}) {
            g->ClearGraph();
            for (const MinMaxDecimator::Point& q : (g == power ? p : f).polyline())
                g->PlotXY(static_cast<double>(q.timeMs) * 0.001, q.value, 0);
            g->SetRange(start, start + count, g == power ? 1450 : 4.4, g == power ? 1550 : 4.6);
            g->plot()->replot(QCustomPlot::rpImmediateRefresh);
        }
    }
    state.counters["columns"] = double(p.columns().size());
}
void BM_ReplotBothGraphs18001(benchmark::State& state) { replotBothGraphs(state, kPoints); }
void BM_ReplotBothGraphs604800(benchmark::State& state) { replotBothGraphs(state, 604800); }
BENCHMARK(BM_ReplotBothGraphs18001)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplotBothGraphs604800)->Unit(benchmark::kMillisecond);

// The window over the simulated EC meter on the manual clock, USB link, a
// long period chosen and the store filled to its limit.
struct WindowAt {
    WindowAt(int periodIndex, int count) : points(count)
    {
        std::ofstream(dir.file("BrivaneSoftware.ini")) << "[Version]\nno=15\n[Comm]\nData_Transfer_Mode=2\n";
        world = std::make_unique<sim::SimWorld>(clock, sim::SimWorldConfig{});
        core = std::make_unique<BrivaneCore>(
            settings, CorePlatform{clock, prompt, world->serialPorts(), world->usb(), nullptr});
        core->Startup(dir.path());
        CBrivaneMain::Options options;
        options.heartbeatTimer = false;
        window = std::make_unique<CBrivaneMain>(*core, prompt, world->serialPorts(), options);
        window->setProfileEnabled(false);
        window->OnInitDialog();
        window->show();
        run(5000);
        window->periodList()->setCurrentIndex(periodIndex);
        window->OnSelchangeScalePeriodeCombo();

        CBrivaneDoc& store = core->device()->Store();
        core->alarms()->removePointListener(window.get());
        MeasurePoint point;
        std::mt19937 random(5);
        std::normal_distribution<double> noise(0, 1);
        // Stamped an interval apart up to now, as a full store would be.
        const int64_t interval = settings.m_iInterval;
        int64_t time = QDateTime::currentMSecsSinceEpoch() - interval * points;
        while (store.GetCount() < points) {
            point.timeMs = time += interval;
            point.power = 1500 + noise(random);
            point.flow = 4.5 + 0.01 * noise(random);
            point.te = 21 + 0.01 * noise(random);
            point.td = 4.7 + 0.01 * noise(random);
            store.AddMesswert(point, 0);
        }
        core->alarms()->addPointListener(window.get());
        window->UpdateTimeArea();
        processEvents();
    }

    void run(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += 100) {
            clock.advance(100);
            window->OnTimerWeiter();
        }
        processEvents();
    }

    // The adapter holds an answer that the next heartbeat will take.
    bool answerWaiting()
    {
        uint32_t rx = 0, tx = 0, events = 0;
        sim::SimUsbAdapter* usb = world->usbAdapter();
        return usb->getStatus(usb, rx, tx, events) == kD2xxOk && rx > 0;
    }

    int points;
    ManualClock clock{1000};
    test::TempDir dir;
    OkPrompt prompt;
    ProgramSettings settings;
    std::unique_ptr<sim::SimWorld> world;
    std::unique_ptr<BrivaneCore> core;
    std::unique_ptr<CBrivaneMain> window;
};

void updateTimeArea(benchmark::State& state, int periodIndex, int points)
{
    WindowAt w(periodIndex, points);
    if (w.core->device()->Store().GetCount() != points)
        state.SkipWithError("the store is not at its limit");
    for (auto _ : state) {
        w.window->UpdateTimeArea();
        processEvents();  // the queued replots: the plots are drawn here
    }
}
void BM_UpdateTimeArea18001(benchmark::State& state) { updateTimeArea(state, kFiftyHours, kPoints); }
void BM_UpdateTimeArea604801(benchmark::State& state) { updateTimeArea(state, kWeek, kWeekPoints); }
BENCHMARK(BM_UpdateTimeArea18001)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateTimeArea604801)->Unit(benchmark::kMillisecond);

void heartbeatNewPoint(benchmark::State& state, int periodIndex, int stored)
{
    WindowAt w(periodIndex, stored);
    CPowerMeter& device = *w.core->device();
    device.StartMeasuring(MeasuringMode::Continuous, 1);
    w.run(500);
    long points = 0, missed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Heartbeats as usual until the next one has an answer to take.
        w.clock.advance(100);
        for (int i = 0; i < 300 && !w.answerWaiting(); ++i) {
            w.window->OnTimerWeiter();
            processEvents();
            w.clock.advance(100);
        }
        const MeasurePoint* before = device.Store().pGetLastMeasureValue();
        const MeasurePoint copy = before ? *before : MeasurePoint{};
        state.ResumeTiming();
        w.window->OnTimerWeiter();
        processEvents();
        w.window->repaint();
        state.PauseTiming();
        const MeasurePoint* after = device.Store().pGetLastMeasureValue();
        if (after && (after->power != copy.power || after->td != copy.td))
            ++points;
        else
            ++missed;
        state.ResumeTiming();
    }
    state.counters["points"] = double(points);
    if (missed > 0)
        state.SkipWithError("a timed heartbeat brought no new point");
    if (device.Store().GetCount() != stored)
        state.SkipWithError("the store is not at its limit");
}
void BM_HeartbeatNewPoint18001(benchmark::State& state) { heartbeatNewPoint(state, kFiftyHours, kPoints); }
void BM_HeartbeatNewPoint604801(benchmark::State& state) { heartbeatNewPoint(state, kWeek, kWeekPoints); }
BENCHMARK(BM_HeartbeatNewPoint18001)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeartbeatNewPoint604801)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace bv::bench

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    return bv::bench::runBenchmarks(argc, argv);
}
