#include <csignal>
#include <iostream>

#include "cli/CliOptions.h"
#include "cli/CliRunner.h"
#include "platform/Logging.h"
#include "platform/ProgramPaths.h"
#include "res/Version.h"

namespace {
void onSignal(int) { bv::cli::g_stopRequested = true; }

// Without SA_RESTART: a call that blocks (an open, a read) returns with EINTR
// instead of carrying on as if no stop had been asked for.
void onStop(int signal)
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signal, &action, nullptr);
}
} // namespace

int main(int argc, char** argv)
{
    auto parsed = bv::cli::parse(argc, argv);
    if (!parsed.error.empty()) {
        std::cerr << "brivane-cli: " << parsed.error << "\n\n" << bv::cli::usage();
        return 2;
    }
    if (parsed.options.version) {
        std::cout << bv::versionText("brivane-cli") << "\n";
        return 0;
    }
    const bv::ProgramPaths paths = bv::ProgramPaths::resolve(
        bv::executableDirectory(), parsed.options.settingsDir, bv::PathEnvironment::fromProcess());
    // Settings and logs are never written into a folder another user controls.
    if (const auto refused = paths.unsafeFolders(); !refused.empty()) {
        for (const std::string& problem : refused)
            std::cerr << "brivane-cli: " << problem << "\n";
        return 1;
    }
    const auto problems = paths.createFolders();
    bv::log::configure(paths.logConfig.empty() ? bv::ProgramPaths::kLogConfig : paths.logConfig,
                       paths.diagnosticDir);
    for (const std::string& problem : problems)
        std::cerr << "brivane-cli: " << problem << "\n";
    onStop(SIGINT);
    onStop(SIGTERM);
    // A closed terminal or Ctrl-\ must end a run as cleanly as Ctrl-C: heater
    // off, settings written back, bus log closed.
    onStop(SIGHUP);
    onStop(SIGQUIT);
    // A closed reader shows as EPIPE on the next reading and ends the run cleanly.
    std::signal(SIGPIPE, SIG_IGN);
    return bv::cli::run(parsed.options, paths, std::cout, std::cerr);
}
