#pragma once
#include <atomic>
#include <iosfwd>
#include <string>

#include "cli/CliOptions.h"

namespace bv::cli {

// Set by SIGINT/SIGTERM: measuring stops cleanly after the current cycle.
extern std::atomic<bool> g_stopRequested;

// Runs one headless session. Returns the exit status: 0 success, 1 link or
// device failure, 2 usage error.
int run(const Options& options, const std::string& executableDir, std::ostream& out, std::ostream& err);

} // namespace bv::cli
