#pragma once
#include <chrono>
#include <cstdint>

namespace bv {

class AlarmMonitor;
class CPowerMeter;
class ReadingWatchdog;

// What a remote client is told, taken on the heartbeat and handed to a
// server's own thread.
struct ReadingSnapshot {
    bool anyValid = false;  // a valid reading was ever taken
    double power = 0, flow = 0, te = 0, td = 0, ecPower = 0, stdDeviation = 0;
    bool ecValid = false;
    int64_t timeMs = 0;  // wall time of the newest point
    uint32_t seq = 0;
    std::chrono::steady_clock::time_point lastValid{};
    // Over the averaging window, as of the newest valid reading.
    struct Statistics {
        int count = 0;
        double mean = 0, stdDeviation = 0, min = 0, max = 0;
    } stats;
    bool measuring = false, current = false, linkUp = false, noFlow = false, lowFlow = false,
         shutterNotOpen = false, calibrating = false, calibrationFailed = false;
    int32_t shutterState = 4;  // ShutterState
    uint16_t model = 0;        // 0 unknown, 1 plain, 2 EC, 3 Compact
    uint8_t address = 0;       // the meter's bus address
    uint16_t alive = 0;        // seconds since the server started, wrapping
};

// Takes snapshots for one server: remembers when the newest valid reading
// came, so a stale one keeps its age, and works out the statistics once per
// new point only.
class SnapshotTaker {
public:
    SnapshotTaker(CPowerMeter& device, AlarmMonitor& alarms, ReadingWatchdog& watchdog);
    ReadingSnapshot take(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
    void setCalibrationFailed(bool failed) { m_calibrationFailed = failed; }

private:
    CPowerMeter& m_device;
    AlarmMonitor& m_alarms;
    ReadingWatchdog& m_watchdog;
    bool m_calibrationFailed = false;
    int64_t m_lastSeq = -1;
    std::chrono::steady_clock::time_point m_lastValid{};
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    bool m_anyValid = false;
    ReadingSnapshot::Statistics m_stats;
};

} // namespace bv
