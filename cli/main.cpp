#include <csignal>
#include <filesystem>
#include <iostream>

#include "cli/CliOptions.h"
#include "cli/CliRunner.h"
#include "platform/Logging.h"

namespace {
void onSignal(int) { bv::cli::g_stopRequested = true; }
} // namespace

int main(int argc, char** argv)
{
    auto parsed = bv::cli::parse(argc, argv);
    if (!parsed.error.empty()) {
        std::cerr << "brivane-cli: " << parsed.error << "\n\n" << bv::cli::usage();
        return 2;
    }
    bv::log::configure("log4j.properties");
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    // A closed terminal or Ctrl-\ must end a run as cleanly as Ctrl-C: heater
    // off, settings written back, bus log closed.
    std::signal(SIGHUP, onSignal);
    std::signal(SIGQUIT, onSignal);
    // A closed reader shows as EPIPE on the next reading and ends the run cleanly.
    std::signal(SIGPIPE, SIG_IGN);
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string dir = ec ? std::string(".") : exe.parent_path().string();
    return bv::cli::run(parsed.options, dir, std::cout, std::cerr);
}
