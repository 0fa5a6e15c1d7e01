#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "devices/MeterCommands.h"
#include "net/ReadingSnapshot.h"
#include "net/RemoteAccess.h"

namespace bv {

class ProgramSettings;

// The "SCPI" section, and what *IDN? names as the version.
struct ScpiConfig : ServerConfig {
    int idleSeconds = 600;  // a client that sends nothing this long is let go
    std::string version;

    ScpiConfig()
    {
        port = 5025;
        maxClients = 4;
    }
    static ScpiConfig fromSettings(const ProgramSettings& settings);
};

// SCPI over a raw TCP socket on a thread of its own. The heartbeat hands over
// a snapshot and runs the meter commands (only with commands enabled) through
// the command door; a client waits for its command's outcome, the others go
// on being served. Clients beyond the limit are refused, idle ones and those
// that stop reading their answers are let go.
class ScpiServer {
public:
    ScpiServer(ScpiConfig config, CPowerMeter& device, AlarmMonitor& alarms, ReadingWatchdog& watchdog,
               MeterCommands* commands);
    ~ScpiServer();
    ScpiServer(const ScpiServer&) = delete;
    ScpiServer& operator=(const ScpiServer&) = delete;

    // Binds and starts the thread; false with the reason in error.
    bool start(std::string& error);
    void stop();
    // From the heartbeat: the snapshot handed over, waiting commands run.
    void poll();
    const ScpiConfig& config() const { return m_config; }

private:
    void serve();
    void wake();

    ScpiConfig m_config;
    SnapshotTaker m_taker;
    MeterCommands* m_commands;
    AllowList m_allow;

    std::mutex m_mutex;  // m_snapshot, m_requests, m_outcomes
    ReadingSnapshot m_snapshot;
    std::vector<std::pair<uint64_t, MeterCommand>> m_requests;  // by client number
    std::vector<std::pair<uint64_t, CommandOutcome>> m_outcomes;
    std::atomic<bool> m_quit{false};
    int m_listen = -1;
    int m_wake = -1;  // eventfd: outcomes are back
    std::thread m_thread;
};

} // namespace bv
