#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/Device.h"
#include "devices/Alarms.h"

namespace bv {

class CPowerMeter;
class IClock;

class IReadingWatchListener {
public:
    virtual ~IReadingWatchListener() = default;
    // No valid reading for too long; lastWallMs: wall time of the last one (0: none yet).
    virtual void OnReadingsStale(int64_t lastWallMs) = 0;
    virtual void OnReadingsResumed() = 0;
};

// While measuring, a dead link must never pass for a live one: when no valid
// answer has become a point for max(3 intervals, 5 s) the readings are stale
// until the next valid point, and the alarm monitor holds "no reading".
// Checked from the heartbeat.
class ReadingWatchdog final : public IPointListener, public IDeviceListener {
public:
    static constexpr uint32_t kMinimumMs = 5000;

    ReadingWatchdog(CPowerMeter& device, AlarmMonitor& alarms, IClock& clock);
    ~ReadingWatchdog() override;
    ReadingWatchdog(const ReadingWatchdog&) = delete;
    ReadingWatchdog& operator=(const ReadingWatchdog&) = delete;

    void addListener(IReadingWatchListener* listener);
    void removeListener(IReadingWatchListener* listener);

    void check();
    // While a lost link is being brought back, the measurement it ended still
    // counts as running: the readings are stale at once, and the watch goes on
    // from the last valid point instead of ending quietly with the program.
    // Off again, it follows the measuring program.
    void holdThroughLinkLoss(bool on);
    bool held() const { return m_held; }
    bool stale() const { return m_stale; }
    bool watching() const { return m_watching; }
    // Milliseconds since the last valid point (or since measuring started).
    uint32_t silentMs() const;
    int64_t lastWallMs() const { return m_lastWallMs; }
    // Wall time since which nothing came: the last valid point, or the start
    // of measuring when there was none.
    int64_t sinceWallMs() const { return m_lastWallMs > 0 ? m_lastWallMs : m_startWallMs; }
    uint32_t limitMs() const;

    void OnNewPoint(const DecidedPoint& point) override;
    void OnDeviceChanged(int code, long parameter) override;

private:
    // The watch follows the device's own account of what runs.
    void follow();
    void setStale(bool stale);

    CPowerMeter& m_device;
    AlarmMonitor& m_alarms;
    IClock& m_clock;
    std::vector<IReadingWatchListener*> m_listeners;
    uint32_t m_lastTick = 0;
    int64_t m_lastWallMs = 0;
    int64_t m_startWallMs = 0;
    bool m_watching = false;
    bool m_stale = false;
    bool m_held = false;
};

// HH:MM:SS of a wall time in ms, local time; "--:--:--" for none.
std::string localClockText(int64_t wallMs);

// "No reading from the meter since HH:MM:SS" (local time), from the string table.
std::string noReadingText(int64_t sinceWallMs);

} // namespace bv
