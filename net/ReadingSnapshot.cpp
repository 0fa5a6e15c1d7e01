#include "net/ReadingSnapshot.h"

#include <cmath>

#include "data/CBrivaneDoc.h"
#include "devices/Alarms.h"
#include "devices/PowerMeter.h"
#include "devices/ReadingWatchdog.h"

namespace bv {

SnapshotTaker::SnapshotTaker(CPowerMeter& device, AlarmMonitor& alarms, ReadingWatchdog& watchdog)
    : m_device(device), m_alarms(alarms), m_watchdog(watchdog)
{
}

ReadingSnapshot SnapshotTaker::take(std::chrono::steady_clock::time_point now)
{
    const CBrivaneDoc& store = m_device.Store();
    ReadingSnapshot s;
    const MeasurePoint* newest = store.GetCount() > store.EarlierCount() ? store.pGetLastMeasureValue() : nullptr;
    if (newest && newest->valid && store.NewestSeq() != m_lastSeq) {
        m_lastSeq = store.NewestSeq();
        m_lastValid = now;
        m_anyValid = true;
        // Once per new point: the window is walked, the heartbeats between are not.
        const CBrivaneDoc::Average a = store.averageOf(0);
        m_stats = {a.count, a.mean, a.stdDeviation, a.min, a.max};
    }
    if (newest) {
        s.power = newest->power;
        s.flow = newest->flow;
        s.te = newest->te;
        s.td = newest->td;
        s.ecValid = newest->ecValid != 0;
        s.ecPower = s.ecValid ? newest->ecPower : std::nan("");
        s.timeMs = newest->timeMs;
        s.seq = static_cast<uint32_t>(store.NewestSeq());
    }
    s.stats = m_stats;
    s.stdDeviation = m_stats.stdDeviation;
    s.anyValid = m_anyValid;
    s.lastValid = m_lastValid;
    s.calibrating = m_device.CalibrationRunning();
    s.measuring = m_device.MeasuringActive() || s.calibrating;
    s.current = m_watchdog.watching() && !m_watchdog.stale() && m_anyValid && newest && newest->valid;
    const ILink* link = m_device.Link();
    s.linkUp = link && link->isOpen() && !link->lost();
    s.noFlow = m_alarms.active(AlarmKind::NoFlow);
    s.lowFlow = m_alarms.active(AlarmKind::LowFlow);
    s.shutterState = m_device.m_iShutterState;
    s.shutterNotOpen = m_device.m_iShutterState != 0;
    s.calibrationFailed = m_calibrationFailed;
    s.model = m_device.Presence() == MeterPresence::Found ? static_cast<uint16_t>(m_device.Model().kind) + 1 : 0;
    s.address = m_device.m_byDevice;
    s.alive = static_cast<uint16_t>(std::chrono::duration_cast<std::chrono::seconds>(now - m_started).count());
    return s;
}

} // namespace bv
