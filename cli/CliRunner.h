#pragma once
#include <atomic>
#include <iosfwd>
#include <string>

#include "cli/CliOptions.h"

namespace bv {
struct ProgramPaths;
}

namespace bv::cli {

// Set by SIGINT/SIGTERM: measuring stops cleanly after the current cycle.
extern std::atomic<bool> g_stopRequested;

// Runs one headless session. Returns the exit status: 0 success, 1 link or
// device failure, 2 usage error. The ini file and the bus log go where paths says.
int run(const Options& options, const ProgramPaths& paths, std::ostream& out, std::ostream& err);

} // namespace bv::cli
