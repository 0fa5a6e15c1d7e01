// brivane-sim: a simulated RS-485 adapter with a power meter behind it, on a
// pseudo-terminal. Prints the terminal's path; a program opens it as its
// serial port. Runs until SIGINT or SIGTERM.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "res/Version.h"
#include "sim/MeterModels.h"
#include "sim/SimBus.h"
#include "sim/SimMeter.h"
#include "sim/SimPlc.h"
#include "sim/SimSerialPty.h"

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) { g_stop = true; }

void usage(FILE* out)
{
    std::fprintf(out,
                 "usage: brivane-sim [--address N] [--model plain|ec|compact] [--seed N] [--plc N]\n"
                 "                   [--link PATH]\n"
                 "  --address N   bus address of the meter (1..255, default 113)\n"
                 "  --model M     meter model (default plain)\n"
                 "  --seed N      seed of the simulation's random numbers (default 1)\n"
                 "  --plc N       also put a PLC interface at bus address N\n"
                 "  --link PATH   keep a symbolic link PATH to the terminal (a stale one is\n"
                 "                replaced, the link is removed at the end): a restarted\n"
                 "                simulator keeps the port name\n"
                 "  --version     the version, then exit\n");
}

std::optional<unsigned long> number(const char* text, unsigned long min, unsigned long max)
{
    if (!text || !*text)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || value < min || value > max)
        return std::nullopt;
    return value;
}

// Points path at target through a new link renamed over it, so a program
// opening path never finds it missing or half made. Refuses anything at path
// that is not a symbolic link: that is somebody's file.
bool placeLink(const std::string& path, const std::string& target, std::string* error)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *error = path + " exists and is not a symbolic link";
        return false;
    }
    const std::string temporary = path + ".new." + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        *error = "cannot make the link " + path + ": " + std::strerror(errno);
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot make the link " + path + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Only our own link goes: a simulator started since may have taken the name.
void removeLink(const std::string& path, const std::string& target)
{
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == target)
        unlink(path.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    using namespace bv::sim;
    SimMeterConfig config;
    std::optional<uint8_t> plcAddress;
    std::string linkPath;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s\n", bv::versionText("brivane-sim").c_str());
            return 0;
        }
        if (arg == "--address") {
            auto n = number(value, 1, 255);
            if (!n) {
                std::fprintf(stderr, "brivane-sim: --address needs a number from 1 to 255\n");
                return 2;
            }
            config.address = static_cast<uint8_t>(*n);
        } else if (arg == "--model") {
            auto model = value ? meterModelFromKey(value) : std::nullopt;
            if (!model) {
                std::fprintf(stderr, "brivane-sim: --model must be plain, ec or compact\n");
                return 2;
            }
            config.model = *model;
        } else if (arg == "--seed") {
            auto n = number(value, 0, 0xFFFFFFFFul);
            if (!n) {
                std::fprintf(stderr, "brivane-sim: --seed needs a number\n");
                return 2;
            }
            config.seed = static_cast<uint32_t>(*n);
        } else if (arg == "--plc") {
            auto n = number(value, 1, 255);
            if (!n) {
                std::fprintf(stderr, "brivane-sim: --plc needs a number from 1 to 255\n");
                return 2;
            }
            plcAddress = static_cast<uint8_t>(*n);
        } else if (arg == "--link") {
            if (!value || !*value) {
                std::fprintf(stderr, "brivane-sim: --link needs a path\n");
                return 2;
            }
            linkPath = value;
        } else {
            std::fprintf(stderr, "brivane-sim: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
        ++i;
    }
    if (plcAddress && *plcAddress == config.address) {
        std::fprintf(stderr, "brivane-sim: the PLC and the meter need different addresses\n");
        return 2;
    }

    bv::SystemClock clock;
    SimBus bus(clock, config.seed);
    SimMeter meter(config);
    bus.attach(meter);
    std::unique_ptr<SimPlc> plc;
    if (plcAddress) {
        plc = std::make_unique<SimPlc>(*plcAddress, PlcWiring{}, &meter);
        bus.attach(*plc);
    }

    SimPtyAdapter adapter(bus);
    std::string error;
    if (!adapter.open(&error)) {
        std::fprintf(stderr, "brivane-sim: %s\n", error.c_str());
        return 1;
    }

    if (!linkPath.empty() && !placeLink(linkPath, adapter.slavePath(), &error)) {
        std::fprintf(stderr, "brivane-sim: %s\n", error.c_str());
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", adapter.slavePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "brivane-sim: %s meter at bus address %u%s\n",
                 std::string(meter.model().key).c_str(), unsigned(config.address),
                 plc ? (", PLC at " + std::to_string(*plcAddress)).c_str() : "");

    adapter.run(g_stop);
    if (!linkPath.empty())
        removeLink(linkPath, adapter.slavePath());
    return 0;
}
