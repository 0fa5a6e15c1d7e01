#pragma once
#include <cstdint>
#include <deque>
#include <functional>

#include "control/DeviceDoc.h"
#include "data/MeasurePoint.h"
#include "platform/Logging.h"

namespace bv {

class ProgramSettings;

// The bounded, time-ordered list of the power meter's measuring points.
class CBrivaneDoc : public CDeviceDoc {
public:
    explicit CBrivaneDoc(ProgramSettings& settings);
    ~CBrivaneDoc() override;

    // flag 0: an ordinary point (made valid here); flag 1: a calibration end
    // marker, stored as given.
    void AddMesswert(const MeasurePoint& point, int flag);
    void ClearAllPoints();
    void SetPeriod(int seconds);
    int GetPeriod() const { return m_iPeriod; }
    void SetMaxCount(int count) { m_iMaxAnzahl = count; }
    int GetMaxCount() const { return m_iMaxAnzahl; }
    int GetCount() const { return static_cast<int>(m_points.size()); }

    // Null when there is no such point. Valid until the store next changes.
    const MeasurePoint* pGetLastMeasureValue() const;
    const MeasurePoint* pGetMeaureValue(int index) const;
    void getExtrema(MeasurePoint& minimum, MeasurePoint& maximum) const;
    // kind 4: average EC power; any other kind: average power.
    double dGetAverage(int kind) const;
    // Sample standard deviation over the same window as dGetAverage (0 for
    // fewer than two values).
    double dGetStdDeviation(int kind) const;

    // Wall time stamped on every point added without one (ms since 1970 UTC).
    void SetWallClock(std::function<int64_t()> clock) { m_wallClock = std::move(clock); }

private:
    // First index of the averaging window.
    size_t averageWindowStart() const;

    ProgramSettings& m_settings;
    std::function<int64_t()> m_wallClock;
    std::deque<MeasurePoint> m_points;  // oldest first; drops from the front stay O(1)
    int m_iMaxAnzahl = 91;
    int m_iPeriod = 90;
    log::Logger m_log{"CBrivaneApp.CBrivaneDoc"};
};

} // namespace bv
