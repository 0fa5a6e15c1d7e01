#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace bv {

// Min/max decimation of a growing series for drawing: the points are grouped
// into columns of a fixed number of consecutive sequence numbers, and each
// column keeps its lowest and highest value with where and when they
// occurred, so every peak and dip stays visible at any zoom down to one
// column per pixel. Where two neighbouring points lie further apart in time
// than the gap limit, readings are missing: a column never spans such a
// gap, and the polyline breaks there. Appending touches only the last
// column; dropping old points rebuilds at most the first one.
class MinMaxDecimator {
public:
    struct Column {
        int64_t firstSeq = 0;  // of the run firstSeq .. firstSeq + width - 1 that holds it
        int64_t minSeq = 0, maxSeq = 0;
        double min = 0, max = 0;
        int64_t minTime = 0, maxTime = 0;  // ms
        int64_t lastSeq = 0, lastTime = 0;  // its newest point
        double last = 0;
        int64_t count = 0;  // points seen; after a drop it may count some that went
        bool gapBefore = false;  // readings are missing between it and the column before
    };
    struct Point {
        int64_t seq;
        int64_t timeMs;
        double value;  // NaN: the line breaks here
    };
    struct Sample {
        int64_t timeMs;
        double value;
    };

    explicit MinMaxDecimator(int64_t pointsPerColumn = 1, int64_t gapMs = 0) { reset(pointsPerColumn, gapMs); }

    // Empties the columns; a width below 1 counts as 1, a gap limit of 0 or
    // below means no gaps.
    void reset(int64_t pointsPerColumn, int64_t gapMs = 0);
    int64_t width() const { return m_width; }
    int64_t gapMs() const { return m_gapMs; }

    // Merges the columns into wider ones of newWidth, a multiple of the
    // present width (false and nothing changed otherwise): exact, and without
    // the points, so a growing history keeps its column count bounded.
    bool coarsen(int64_t newWidth);

    // Sequence numbers must increase; a value that is not a number is left
    // out. A time that goes back counts as a gap too.
    void append(int64_t seq, int64_t timeMs, double value);
    // Forgets every point before frontSeq. A column cut in two whose extreme
    // went is rebuilt from at() over the sequence numbers it keeps; at()
    // gives a NaN value for a number it does not hold or a point that does
    // not count.
    void dropBefore(int64_t frontSeq, const std::function<Sample(int64_t)>& at);

    const std::deque<Column>& columns() const { return m_columns; }
    // The polyline to draw: each column's extremes in the order they
    // occurred, a NaN point before each column after a gap.
    std::vector<Point> polyline() const;

private:
    int64_t columnStart(int64_t seq) const;
    bool gapTo(int64_t timeMs) const;

    int64_t m_width = 1;
    int64_t m_gapMs = 0;
    std::deque<Column> m_columns;
    bool m_hasLast = false;  // of the last point appended, gone or not
    int64_t m_lastTime = 0;
};

} // namespace bv
