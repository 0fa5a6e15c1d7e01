// What PLCs and lab scripts polling the program cost its heartbeat: 8 Modbus
// TCP clients and 4 SCPI clients, each asking 100 times a second, against
// none.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/BrivaneCore.h"
#include "bench/BenchSupport.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "settings/ProgramSettings.h"
#include "sim/SimWorld.h"

namespace {

using namespace bv;
using Clock = std::chrono::steady_clock;
constexpr auto kPollEvery = std::chrono::milliseconds(10);

void modbusClient(int port, const std::atomic<bool>& quit, std::atomic<long>& answers)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (!ctx || modbus_connect(ctx) != 0) {
        if (ctx)
            modbus_free(ctx);
        return;
    }
    modbus_set_slave(ctx, 1);
    uint16_t registers[17];
    uint8_t bits[8];
    while (!quit) {
        const auto next = Clock::now() + kPollEvery;
        if (modbus_read_input_registers(ctx, 0, 17, registers) == 17 && modbus_read_input_bits(ctx, 0, 8, bits) == 8)
            ++answers;
        std::this_thread::sleep_until(next);
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

void scpiClient(int port, const std::atomic<bool>& quit, std::atomic<long>& answers)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return;
    }
    timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const std::string query = "FETC:ALL?;STAT:QUES:COND?\n";
    char buffer[512];
    while (!quit) {
        const auto next = Clock::now() + kPollEvery;
        if (::send(fd, query.data(), query.size(), MSG_NOSIGNAL) < 0)
            break;
        std::string got;
        while (got.find('\n') == std::string::npos) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<size_t>(n));
        }
        if (got.find('\n') != std::string::npos)
            ++answers;
        std::this_thread::sleep_until(next);
    }
    ::close(fd);
}

// Every heartbeat timed, one each 10 ms of real time so the clients get
// their turns in between; the servers run in both cases, only the clients
// differ.
void BM_HeartbeatWithRemoteClients(benchmark::State& state)
{
    const bool clients = state.range(0) != 0;
    char folder[] = "/tmp/brivane-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no folder");
        return;
    }
    bench::OkPrompt prompt;
    ManualClock clock{1000};
    ProgramSettings settings;
    sim::SimWorld world{clock};
    BrivaneCore core{settings, CorePlatform{clock, prompt, world.serialPorts(), world.usb(), nullptr}};
    core.Startup(folder);
    const int base = 27000 + static_cast<int>(getpid() % 1000) * 2;
    ModbusConfig modbus;
    modbus.enabled = true;
    modbus.port = base;
    ScpiConfig scpi;
    scpi.enabled = true;
    scpi.port = base + 1;
    std::string error;
    if (!core.StartModbus(modbus, error) || !core.StartScpi(scpi, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    core.links()->Initialise();
    for (int t = 0; t < 3000; t += 100) {
        clock.advance(100);
        core.heartbeat();
    }
    core.device()->StartMeasuring(MeasuringMode::Continuous, 1);
    std::atomic<bool> quit{false};
    std::atomic<long> answers{0};
    std::vector<std::thread> threads;
    if (clients) {
        for (int i = 0; i < 8; ++i)
            threads.emplace_back(modbusClient, modbus.port, std::cref(quit), std::ref(answers));
        for (int i = 0; i < 4; ++i)
            threads.emplace_back(scpiClient, scpi.port, std::cref(quit), std::ref(answers));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long answersBefore = answers;
    const auto started = Clock::now();
    for (auto _ : state) {
        clock.advance(100);
        const auto start = Clock::now();
        core.heartbeat();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        std::this_thread::sleep_for(kPollEvery);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    state.counters["answers_per_second"] = static_cast<double>(answers - answersBefore) / seconds;
    quit = true;
    for (std::thread& t : threads)
        t.join();
    core.Shutdown();
    std::system((std::string("rm -rf ") + folder).c_str());
}
BENCHMARK(BM_HeartbeatWithRemoteClients)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"clients"})
    ->Iterations(500)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) { return bv::bench::runBenchmarks(argc, argv); }
