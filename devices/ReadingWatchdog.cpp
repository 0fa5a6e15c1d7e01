#include "devices/ReadingWatchdog.h"

#include <algorithm>
#include <ctime>

#include "control/Messages.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "platform/Logging.h"
#include "res/StringTable.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger instance("CPowerMeter");
    return instance;
}

} // namespace

ReadingWatchdog::ReadingWatchdog(CPowerMeter& device, AlarmMonitor& alarms, IClock& clock)
    : m_device(device), m_alarms(alarms), m_clock(clock)
{
    m_alarms.addPointListener(this);
    m_device.AddListener(this);
}

ReadingWatchdog::~ReadingWatchdog()
{
    m_device.RemoveListener(this);
    m_alarms.removePointListener(this);
}

void ReadingWatchdog::addListener(IReadingWatchListener* listener)
{
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void ReadingWatchdog::removeListener(IReadingWatchListener* listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

uint32_t ReadingWatchdog::limitMs() const
{
    const int32_t interval = m_device.m_iCycleInterval;
    const uint32_t three = interval > 0 ? 3u * static_cast<uint32_t>(interval) : 0u;
    return std::max(kMinimumMs, three);
}

uint32_t ReadingWatchdog::silentMs() const { return m_clock.now() - m_lastTick; }

void ReadingWatchdog::check()
{
    follow();
    if (m_watching && !m_stale && silentMs() > limitMs())
        setStale(true);
}

void ReadingWatchdog::follow()
{
    // Continuous measuring and the calibration are watched; a single reading is not.
    if (m_device.Measuring()) {
        if (!m_watching) {
            m_lastTick = m_clock.now();
            m_startWallMs = static_cast<int64_t>(m_device.WallTime()) * 1000;
        }
        m_watching = true;
    } else if (!m_held) {
        // Stale only has a meaning while measuring: the state goes quietly,
        // and so does the alarm.
        m_watching = false;
        m_stale = false;
        m_alarms.raise(AlarmKind::NoReading, false, {});
    }
}

void ReadingWatchdog::OnNewPoint(const DecidedPoint& decided)
{
    // Only a valid point taken from an answer counts as a sign of life.
    if (!decided.point.valid)
        return;
    m_lastTick = m_clock.now();
    m_lastWallMs = decided.point.timeMs;
    if (m_stale)
        setStale(false);
}

void ReadingWatchdog::OnDeviceChanged(int code, long)
{
    if (code == kNotifyMeasuringStarted || code == kNotifyMeasuringEnded)
        follow();
}

void ReadingWatchdog::holdThroughLinkLoss(bool on)
{
    m_held = on;
    if (on) {
        m_watching = true;
        // The link is gone: the value shown is dead now, not in 5 s.
        if (!m_stale)
            setStale(true);
        return;
    }
    follow();
}

void ReadingWatchdog::setStale(bool stale)
{
    m_stale = stale;
    if (stale)
        BV_LOG_WARN(logger(), "BV_Dev", "no valid reading for " << silentMs() << " ms");
    else
        BV_LOG_INFO(logger(), "BV_Dev", "readings resumed");
    m_alarms.raise(AlarmKind::NoReading, stale, stale ? noReadingText(sinceWallMs()) : std::string(),
                   stale ? sinceWallMs() : 0);
    const auto listeners = m_listeners;
    for (IReadingWatchListener* l : listeners) {
        if (stale)
            l->OnReadingsStale(m_lastWallMs);
        else
            l->OnReadingsResumed();
    }
}

std::string localClockText(int64_t wallMs)
{
    char clock[16] = "--:--:--";
    const std::time_t t = static_cast<std::time_t>(wallMs / 1000);
    std::tm local{};
    if (wallMs > 0 && localtime_r(&t, &local))
        std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    return clock;
}

std::string noReadingText(int64_t sinceWallMs)
{
    return strings::fill(strings::text(61304), {localClockText(sinceWallMs)});
}

} // namespace bv
