// The 100 ms heartbeat of a measuring simulated EC meter, without the plant
// link, with it and no broker listening, and with a mosquitto on loopback.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/BrivaneCore.h"
#include "bench/BenchSupport.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "platform/Logging.h"
#include "settings/ProgramSettings.h"
#include "sim/SimWorld.h"

namespace {

using namespace bv;

// A started core on the simulated installation, in a folder of its own.
struct BenchCore {
    BenchCore() { core.Startup(dir); }
    ~BenchCore()
    {
        core.Shutdown();
        std::system((std::string("rm -rf ") + dir).c_str());
    }
    bench::OkPrompt prompt;
    ManualClock clock{1000};
    ProgramSettings settings;
    char dir[32] = "/tmp/brivane-bench-XXXXXX";
    const bool made = mkdtemp(dir) != nullptr;
    sim::SimWorld world{clock};
    BrivaneCore core{settings, CorePlatform{clock, prompt, world.serialPorts(), world.usb(), nullptr}};
};

void BM_HeartbeatPublishing(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));  // 0 off, 1 broker down, 2 broker up
    const int port = 18830 + static_cast<int>(getpid() % 1000);
    pid_t broker = -1;
    if (mode == 2) {
        broker = fork();
        if (broker == 0) {
            const std::string p = std::to_string(port);
            execl("/usr/sbin/mosquitto", "mosquitto", "-p", p.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    BenchCore bench;
    ManualClock& clock = bench.clock;
    BrivaneCore& core = bench.core;
    if (mode > 0) {
        MqttConfig config;
        config.enabled = true;
        config.host = "127.0.0.1";
        config.port = port;
        config.station = "bench";
        core.StartPlantLink(config);
    }
    core.links()->Initialise();
    auto run = [&](int ms) {
        for (int t = 0; t < ms; t += 100) {
            clock.advance(100);
            core.heartbeat();
        }
    };
    run(3000);
    core.device()->StartMeasuring(MeasuringMode::Continuous, 1);
    run(2000);
    for (auto _ : state) {
        clock.advance(100);
        core.heartbeat();
    }
    if (broker > 0) {
        kill(broker, SIGTERM);
        waitpid(broker, nullptr, 0);
    }
}
BENCHMARK(BM_HeartbeatPublishing)->Arg(0)->Arg(1)->Arg(2)->ArgNames({"mqtt"})->Unit(benchmark::kMicrosecond);

// A backlog of 10,000 readings, kept while the broker was down, going out
// once a mosquitto on loopback is there: the heartbeat hands messages over
// ten times a second, as in the program.
void BM_MqttBacklogDrain(benchmark::State& state)
{
    constexpr int kBacklog = 10000;
    const int port = 19830 + static_cast<int>(getpid() % 1000);
    BenchCore bench;
    ManualClock& clock = bench.clock;
    BrivaneCore& core = bench.core;
    MqttConfig config;
    config.enabled = true;
    config.host = "127.0.0.1";
    config.port = port;
    config.station = "drain";
    config.queueLimit = kBacklog + 1000;
    core.StartPlantLink(config);
    core.links()->Initialise();
    auto beat = [&] {
        clock.advance(100);
        core.heartbeat();
    };
    for (int t = 0; t < 3000; t += 100)
        beat();
    core.device()->StartMeasuring(MeasuringMode::Continuous, 1);
    while (core.plantLink()->queued() < static_cast<std::size_t>(kBacklog))
        beat();
    const pid_t broker = fork();
    if (broker == 0) {
        const std::string p = std::to_string(port);
        execl("/usr/sbin/mosquitto", "mosquitto", "-p", p.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    double messagesPerSecond = 0;
    double longestBeat = 0;
    for (auto _ : state) {
        const auto from = std::chrono::steady_clock::now();
        const auto limit = from + std::chrono::seconds(120);
        // Readings keep coming, one a second: drained is what is left of one second's worth.
        while (core.plantLink()->queued() > 10 && std::chrono::steady_clock::now() < limit) {
            const auto at = std::chrono::steady_clock::now();
            beat();
            longestBeat = std::max(longestBeat, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - at).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
        state.SetIterationTime(seconds);
        messagesPerSecond = kBacklog / seconds;
        if (core.plantLink()->queued() > 10)
            state.SkipWithError("the backlog did not drain within 120 s");
    }
    state.counters["messages_per_second"] = messagesPerSecond;
    state.counters["longest_beat_ms"] = longestBeat;
    kill(broker, SIGTERM);
    waitpid(broker, nullptr, 0);
}
BENCHMARK(BM_MqttBacklogDrain)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) { return bv::bench::runBenchmarks(argc, argv); }
