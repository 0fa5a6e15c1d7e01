#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace bv {

// Min/max decimation of a growing series for drawing: the points are grouped
// into columns of a fixed number of consecutive sequence numbers, and each
// column keeps its lowest and highest value with where they occurred, so
// every peak and dip stays visible at any zoom down to one column per pixel.
// Appending touches only the last column; dropping old points rebuilds at
// most the first one.
class MinMaxDecimator {
public:
    struct Column {
        int64_t firstSeq = 0;  // the column holds firstSeq .. firstSeq + width - 1
        int64_t minSeq = 0, maxSeq = 0;
        double min = 0, max = 0;
        int64_t count = 0;  // points seen; after a drop it may count some that went
    };
    struct Point {
        int64_t seq;
        double value;
    };

    explicit MinMaxDecimator(int64_t pointsPerColumn = 1) { reset(pointsPerColumn); }

    // Empties the columns; a width below 1 counts as 1.
    void reset(int64_t pointsPerColumn);
    int64_t width() const { return m_width; }

    // Merges the columns into wider ones of newWidth, a multiple of the
    // present width (false and nothing changed otherwise): exact, and without
    // the points, so a growing history keeps its column count bounded.
    bool coarsen(int64_t newWidth);

    // Sequence numbers must increase; a value that is not a number is left out.
    void append(int64_t seq, double value);
    // Forgets every point before frontSeq. A column cut in two whose extreme
    // went is rebuilt from valueAt over the sequence numbers it keeps; valueAt
    // returns NaN for a number it does not hold or a point that does not count.
    void dropBefore(int64_t frontSeq, const std::function<double(int64_t)>& valueAt);

    const std::deque<Column>& columns() const { return m_columns; }
    // The polyline to draw: each column's extremes in the order they occurred.
    std::vector<Point> polyline() const;

private:
    int64_t columnStart(int64_t seq) const;

    int64_t m_width = 1;
    std::deque<Column> m_columns;
};

} // namespace bv
