// Speed of the receive paths, the scheduler and the measurement store.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <memory>

#include <random>

#include "settings/ProgramSettings.h"
#include "bench/BenchSupport.h"
#include "tests/support/FakeLink.h"
#include "control/Scheduler.h"
#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "link/CSerial.h"
#include "link/FrameCheck.h"
#include "link/ZelmorUSB.h"
#include "platform/Clock.h"
#include "platform/Logging.h"

namespace bv::bench {
namespace {

const uint8_t* text(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

void BM_FrameCheck(benchmark::State& state)
{
    std::vector<uint8_t> bytes(64 * 1024);
    std::mt19937 random(1);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    for (auto _ : state)
        benchmark::DoNotOptimize(FrameCheck::update(FrameCheck::start, bytes.data(), bytes.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_FrameCheck);

// Bus traffic as the serial link sees it: answers, the echo of our own polls,
// and now and then noise, a frame with a broken check or a frame cut short.
std::vector<uint8_t> serialTraffic()
{
    std::vector<uint8_t> out;
    std::mt19937 random(2);
    const std::string poll = "ql";
    while (out.size() < 256 * 1024) {
        auto echo = buildSerialFrame(113, 64, text(poll), poll.size());
        auto answer = buildSerialFrame(64, 113, text(measuringAnswer()), measuringAnswer().size());
        out.insert(out.end(), echo.begin(), echo.end());
        switch (random() % 8) {
        case 0:
            for (int i = 0; i < 20; ++i)
                out.push_back(static_cast<uint8_t>(random()));
            break;
        case 1:
            answer[20] ^= 0x10;  // the check fails
            break;
        case 2:
            answer.resize(40);  // the rest never comes
            break;
        default:
            break;
        }
        out.insert(out.end(), answer.begin(), answer.end());
    }
    return out;
}

void BM_SerialExtractFrames(benchmark::State& state)
{
    static const std::vector<uint8_t> traffic = serialTraffic();
    ManualClock clock;
    OkPrompt prompt;
    ProgramSettings settings;
    ReplayPorts ports(traffic);
    CSerial serial(ports, clock, prompt, settings);
    serial.bInitSerial("COM1");
    constexpr size_t kChunk = 2048;
    int64_t frames = 0;
    for (auto _ : state) {
        ports.last->arrive(kChunk);
        serial.ReadAvailable();
        while (serial.ExtractFrames() > 0) {
            auto& list = serial.receivedFrames();
            frames += static_cast<int64_t>(list.size());
            list.clear();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kChunk));
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SerialExtractFrames);

// USB messages as a direct adapter sends them: answers with trailers, now and
// then a relayed bus frame.
std::vector<uint8_t> usbTraffic()
{
    std::vector<uint8_t> out;
    for (int i = 0; out.size() < 256 * 1024; ++i) {
        auto m = (i % 10 == 9)
                     ? buildUsbRelay(64, 113, text(measuringAnswer()), measuringAnswer().size())
                     : buildUsbTextWithTrailer(text(measuringAnswer()), measuringAnswer().size());
        out.insert(out.end(), m.begin(), m.end());
    }
    return out;
}

void BM_UsbGetFrame(benchmark::State& state)
{
    static const std::vector<uint8_t> traffic = usbTraffic();
    ReplayD2xx d2xx(traffic);
    ZelmorUSBCRC link(d2xx);
    link.SetDescription("Zelmor USB", 2);
    link.Open();
    // One read takes at most 256 bytes; more waiting is left for the next tick.
    constexpr size_t kChunk = ZelmorUSB::kReadChunk;
    int64_t frames = 0;
    for (auto _ : state) {
        d2xx.arrive(kChunk);
        link.ReadUSBDriverBuffer();
        frames += link.GetFrame();
        while (auto record = link.takeFrame())
            benchmark::DoNotOptimize(record->length());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kChunk));
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_UsbGetFrame);

// The power meter's four programs (identification, shutter, measuring and the
// ready check) each waiting on the scheduler; an answer that none of them
// takes, and a time message, are offered.
struct FourPrograms {
    FourPrograms()
    {
        link.keepSent = false;
        meter.Init(64, 113, "Brivane", &link);
        meter.m_iShutterState = kShutterOpen;
        meter.StartIdentification();
        scheduler.Dispatch(BusMessage::Time());
        meter.OpenShutter();
        meter.StartMeasuring(MeasuringMode::Continuous, 1);
        meter.StartReadyCheck();
        scheduler.Dispatch(BusMessage::Time());
        fillRecord(answer, 64, 113, kBusFrame, text(measuringAnswer()), measuringAnswer().size());
    }
    int waiting() const
    {
        int n = 0;
        for (int id = 1; id < 8; ++id)
            n += scheduler.GroupCount(id) > 0 ? 1 : 0;
        return n;
    }
    ManualClock clock{1000};
    CScheduler scheduler{clock};
    OkPrompt prompt;
    ProgramSettings settings;
    test::FakeLink link;
    CPowerMeter meter{scheduler, prompt, settings};
    FRAME answer;
};

void BM_DispatchFrame(benchmark::State& state)
{
    FourPrograms p;
    if (p.waiting() != 4)
        state.SkipWithError("the four programs are not all waiting");
    for (auto _ : state)
        p.scheduler.Dispatch(BusMessage(p.answer));
    state.counters["waiting"] = p.waiting();
}
BENCHMARK(BM_DispatchFrame);

void BM_DispatchTime(benchmark::State& state)
{
    FourPrograms p;
    if (p.waiting() != 4)
        state.SkipWithError("the four programs are not all waiting");
    for (auto _ : state)
        p.scheduler.Dispatch(BusMessage::Time());
    state.counters["waiting"] = p.waiting();
}
BENCHMARK(BM_DispatchTime);

constexpr int kStored = 18001;
constexpr int kWeekAtOneSecond = 604801;  // "7d : 1s"
constexpr int kMonthAtTenSeconds = 259201;  // "30d : 10s"

struct FullStore {
    explicit FullStore(int count = kStored)
    {
        settings.m_iInterval = 1000;
        settings.m_iAveragePeriod = count;  // the average runs over every point
        store.SetPeriod(count - 1);
        std::mt19937 random(3);
        std::normal_distribution<double> noise(0, 1);
        for (int i = 0; i < count; ++i) {
            point.power = 1500 + noise(random);
            point.flow = 4.5 + 0.01 * noise(random);
            point.te = 21 + 0.01 * noise(random);
            point.td = 4.7 + 0.01 * noise(random);
            point.heaterState = 1;
            point.heaterValue = 0;
            point.ecPower = 1000 + noise(random);
            store.AddMesswert(point, 0);
        }
    }
    ProgramSettings settings;
    CBrivaneDoc store{settings};
    MeasurePoint point;
};

void BM_AddMesswert18001(benchmark::State& state)
{
    FullStore s;
    for (auto _ : state)
        s.store.AddMesswert(s.point, 0);
    if (s.store.GetCount() != kStored)
        state.SkipWithError("the store is not at its limit");
}
BENCHMARK(BM_AddMesswert18001);

void BM_dGetAverage18001(benchmark::State& state)
{
    FullStore s;
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store.dGetAverage(0));
}
BENCHMARK(BM_dGetAverage18001);

void BM_getExtrema18001(benchmark::State& state)
{
    FullStore s;
    MeasurePoint minimum, maximum;
    for (auto _ : state) {
        s.store.getExtrema(minimum, maximum);
        benchmark::DoNotOptimize(minimum);
        benchmark::DoNotOptimize(maximum);
    }
}
BENCHMARK(BM_getExtrema18001);

void BM_getExtrema604801(benchmark::State& state)
{
    FullStore s(kWeekAtOneSecond);
    MeasurePoint minimum, maximum;
    for (auto _ : state) {
        s.store.AddMesswert(s.point, 0);  // the front moves as in a full store
        s.store.getExtrema(minimum, maximum);
        benchmark::DoNotOptimize(minimum);
        benchmark::DoNotOptimize(maximum);
    }
    if (s.store.GetCount() != kWeekAtOneSecond)
        state.SkipWithError("the store is not at its limit");
}
BENCHMARK(BM_getExtrema604801)->Unit(benchmark::kMicrosecond);

// Heap taken by a full store of the longest periods, in MB (the figure is a
// counter; the time is that of filling it).
void storeMemory(benchmark::State& state, int count)
{
    double megabytes = 0;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        auto s = std::make_unique<FullStore>(count);
        const size_t after = mallinfo2().uordblks;
        megabytes = static_cast<double>(after - before) / 1e6;
        if (s->store.GetCount() != count)
            state.SkipWithError("the store is not at its limit");
    }
    state.counters["MB"] = megabytes;
    state.counters["bytes_per_point"] = megabytes * 1e6 / count;
}
void BM_StoreMemory7Days(benchmark::State& state) { storeMemory(state, kWeekAtOneSecond); }
void BM_StoreMemory30Days(benchmark::State& state) { storeMemory(state, kMonthAtTenSeconds); }
BENCHMARK(BM_StoreMemory7Days)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreMemory30Days)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace bv::bench

int main(int argc, char** argv) { return bv::bench::runBenchmarks(argc, argv); }
