#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

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
    // Mean, sample standard deviation, extremes and the number of values
    // they cover.
    struct Average {
        double mean = 0;
        double stdDeviation = 0;
        int count = 0;
        double min = 0, max = 0;
    };
    Average averageOf(int kind) const;

    // A new measurement: the averaging window starts at the next point, so
    // an earlier run's points never mix in. fixedSeconds > 0 gives the run a
    // window of its own (a calibration); 0 follows the "Average period".
    void BeginAveraging(int fixedSeconds = 0);
    // The window's length in force, in seconds.
    int AverageSeconds() const;
    bool AverageFixed() const { return m_iFixedAverage > 0; }

    // Running numbers of the points: the oldest held has FirstSeq(), the one
    // at index i FirstSeq() + i. They go on across drops and clears, so a
    // reader can follow the store incrementally; ClearCount() tells it when
    // everything went.
    int64_t FirstSeq() const { return m_firstSeq; }
    int64_t NewestSeq() const { return m_firstSeq + GetCount() - 1; }
    int64_t ClearCount() const { return m_clears; }
    // First index of the averaging window of dGetAverage.
    int GetAverageWindowStart() const { return static_cast<int>(averageWindowStart()); }

    // Points read back from the history, oldest first and all older than
    // the store's oldest, put in front of it without a notification per
    // point; the ones before index firstOfRun belong to earlier runs. The
    // newest that fit the bound are kept. Renumbers the store as a clear
    // does, so that incremental readers start over. Returns the points taken.
    int LoadEarlier(const std::vector<MeasurePoint>& points, size_t firstOfRun);
    // Points at the front that belong to earlier runs: never in the extremes
    // or averages, drawn as history.
    int EarlierCount() const;

    // Wall time stamped on every point added without one (ms since 1970 UTC).
    void SetWallClock(std::function<int64_t()> clock) { m_wallClock = std::move(clock); }
    // That clock's time now (0 without one).
    int64_t WallMs() const { return m_wallClock ? m_wallClock() : 0; }

private:
    // At the back, with its block; no bound, no notification.
    void append(const MeasurePoint& point);
    // First index of the averaging window.
    size_t averageWindowStart() const;

    // Extremes of the counting points of one run of kBlockSize running
    // numbers, so that getExtrema over weeks of points reads the blocks and
    // scans at most the one the front has cut into.
    static constexpr int64_t kBlockSize = 1024;
    struct Block {
        Block();
        void add(const MeasurePoint& p);
        double minPower, maxPower, minFlow, maxFlow, minTe, maxTe, minTd, maxTd, minEc, maxEc;
    };

    ProgramSettings& m_settings;
    std::function<int64_t()> m_wallClock;
    std::deque<MeasurePoint> m_points;  // oldest first; drops from the front stay O(1)
    std::deque<Block> m_blocks;         // from the block of the oldest point on
    int64_t m_firstSeq = 0;
    int64_t m_clears = 0;
    int64_t m_averageFromSeq = 0;  // running number of the run's first point
    int64_t m_liveFromSeq = 0;     // running number of the first point not of an earlier run
    int m_iFixedAverage = 0;
    int m_iMaxAnzahl = 91;
    int m_iPeriod = 90;
    log::Logger m_log{"CBrivaneApp.CBrivaneDoc"};
};

} // namespace bv
