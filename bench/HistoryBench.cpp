// The history: what writing each point costs the heartbeat, reading a week
// back at start, and the size of a week's file.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/BrivaneCore.h"
#include "bench/BenchSupport.h"
#include "data/CBrivaneDoc.h"
#include "data/History.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "platform/Logging.h"
#include "settings/ProgramSettings.h"
#include "sim/SimWorld.h"

namespace {

using namespace bv;
using Clock = std::chrono::steady_clock;

constexpr int kWeek = 7 * 86400;

struct TempFolder {
    TempFolder() { made = mkdtemp(path) != nullptr; }
    ~TempFolder() { std::system((std::string("rm -rf ") + path).c_str()); }
    std::string file(const char* name) const { return std::string(path) + "/" + name; }
    char path[32] = "/tmp/brivane-bench-XXXXXX";
    bool made = false;
};

// Only the beats that bring a point are timed: the history writes there.
void BM_HeartbeatWithPoint(benchmark::State& state)
{
    const bool history = state.range(0) != 0;
    TempFolder dir;
    bench::OkPrompt prompt;
    ManualClock clock{1000};
    ProgramSettings settings;
    sim::SimWorld world{clock};
    BrivaneCore core{settings, CorePlatform{clock, prompt, world.serialPorts(), world.usb(), nullptr}};
    core.Startup(dir.path);
    if (history && !core.StartHistory(dir.file("history.sqlite")))
        state.SkipWithError("no history");
    core.links()->Initialise();
    CBrivaneDoc& store = core.device()->Store();
    for (int t = 0; t < 3000; t += 100) {
        clock.advance(100);
        core.heartbeat();
    }
    core.device()->StartMeasuring(MeasuringMode::Continuous, 1);
    for (auto _ : state) {
        const int64_t before = store.NewestSeq();
        for (;;) {
            clock.advance(100);
            const auto start = Clock::now();
            core.heartbeat();
            const auto took = Clock::now() - start;
            if (store.NewestSeq() != before) {
                state.SetIterationTime(std::chrono::duration<double>(took).count());
                break;
            }
        }
    }
    core.Shutdown();
}
BENCHMARK(BM_HeartbeatWithPoint)->Arg(0)->Arg(1)->ArgNames({"history"})->UseManualTime()->Unit(benchmark::kMicrosecond);

// A week at 1 s in a file, written once for the benchmarks below.
const std::string& weekFile()
{
    static TempFolder dir;
    static std::string path = dir.file("history.sqlite");
    static bool written = [] {
        HistoryStore store(path);
        if (!store.open(0, false))
            return false;
        const int64_t start = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch()).count() - kWeek * 1000LL;
        const int64_t run = store.beginRun({});
        for (int i = 0; i < kWeek; ++i) {
            StoredPoint p;
            p.point.timeMs = start + i * 1000LL;
            p.point.valid = 1;
            p.point.power = 1500 + (i % 100) * 0.37;
            p.point.flow = 4.5 + (i % 7) * 0.01;
            p.point.te = 21 + (i % 13) * 0.01;
            p.point.td = 4.7 + (i % 11) * 0.01;
            p.runId = run;
            store.addPoint(p);
        }
        return true;
    }();
    (void)written;
    return path;
}

// What the window does at start with "7d : 1s": the week read into the store.
void BM_LoadWeekAtOneSecond(benchmark::State& state)
{
    const std::string& path = weekFile();
    ProgramSettings settings;
    settings.m_iInterval = 1000;
    struct stat st {};
    stat(path.c_str(), &st);
    size_t loaded = 0;
    for (auto _ : state) {
        CBrivaneDoc doc(settings);
        doc.SetPeriod(kWeek);
        std::vector<MeasurePoint> points;
        points.reserve(kWeek);
        std::string error;
        if (!readHistory(path, {INT64_MIN, INT64_MAX, 1000}, [&](const StoredPoint& p) { points.push_back(p.point); },
                         error))
            state.SkipWithError(error.c_str());
        loaded = static_cast<size_t>(doc.LoadEarlier(points, points.size()));
    }
    state.counters["points"] = static_cast<double>(loaded);
    state.counters["MB"] = static_cast<double>(st.st_size) / 1e6;
}
BENCHMARK(BM_LoadWeekAtOneSecond)->Unit(benchmark::kMillisecond)->Iterations(3);

// The file's part of it: the rows read, nothing kept.
void BM_ReadWeekRows(benchmark::State& state)
{
    const std::string& path = weekFile();
    for (auto _ : state) {
        long n = 0;
        std::string error;
        readHistory(path, {INT64_MIN, INT64_MAX, 1000}, [&](const StoredPoint&) { ++n; }, error);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_ReadWeekRows)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) { return bv::bench::runBenchmarks(argc, argv); }
