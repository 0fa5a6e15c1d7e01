#include "data/MinMaxDecimator.h"

#include <cmath>

namespace bv {

void MinMaxDecimator::reset(int64_t pointsPerColumn)
{
    m_width = pointsPerColumn < 1 ? 1 : pointsPerColumn;
    m_columns.clear();
}

int64_t MinMaxDecimator::columnStart(int64_t seq) const
{
    // Floor division, so that negative numbers group like the others.
    int64_t q = seq / m_width;
    if (seq % m_width != 0 && seq < 0)
        --q;
    return q * m_width;
}

void MinMaxDecimator::append(int64_t seq, double value)
{
    if (std::isnan(value))
        return;
    const int64_t start = columnStart(seq);
    if (m_columns.empty() || m_columns.back().firstSeq != start) {
        Column c;
        c.firstSeq = start;
        c.minSeq = c.maxSeq = seq;
        c.min = c.max = value;
        c.count = 1;
        m_columns.push_back(c);
        return;
    }
    Column& c = m_columns.back();
    if (value < c.min) {
        c.min = value;
        c.minSeq = seq;
    }
    if (value > c.max) {
        c.max = value;
        c.maxSeq = seq;
    }
    ++c.count;
}

bool MinMaxDecimator::coarsen(int64_t newWidth)
{
    if (newWidth <= m_width || newWidth % m_width != 0)
        return false;
    m_width = newWidth;
    std::deque<Column> merged;
    for (const Column& c : m_columns) {
        const int64_t start = columnStart(c.firstSeq);
        if (merged.empty() || merged.back().firstSeq != start) {
            merged.push_back(c);
            merged.back().firstSeq = start;
            continue;
        }
        // Strict comparisons: of equal extremes the earlier stays, as in append.
        Column& m = merged.back();
        if (c.min < m.min) {
            m.min = c.min;
            m.minSeq = c.minSeq;
        }
        if (c.max > m.max) {
            m.max = c.max;
            m.maxSeq = c.maxSeq;
        }
        m.count += c.count;
    }
    m_columns.swap(merged);
    return true;
}

void MinMaxDecimator::dropBefore(int64_t frontSeq, const std::function<double(int64_t)>& valueAt)
{
    while (!m_columns.empty() && m_columns.front().firstSeq + m_width <= frontSeq)
        m_columns.pop_front();
    if (m_columns.empty() || m_columns.front().firstSeq >= frontSeq)
        return;
    Column& c = m_columns.front();
    // Extremes that survive stay exact whatever else went.
    if (c.minSeq >= frontSeq && c.maxSeq >= frontSeq)
        return;
    Column rebuilt;
    rebuilt.firstSeq = c.firstSeq;
    for (int64_t s = frontSeq; s < c.firstSeq + m_width; ++s) {
        const double v = valueAt(s);
        if (std::isnan(v))
            continue;
        if (rebuilt.count == 0 || v < rebuilt.min) {
            rebuilt.min = v;
            rebuilt.minSeq = s;
        }
        if (rebuilt.count == 0 || v > rebuilt.max) {
            rebuilt.max = v;
            rebuilt.maxSeq = s;
        }
        ++rebuilt.count;
    }
    if (rebuilt.count == 0)
        m_columns.pop_front();
    else
        c = rebuilt;
}

std::vector<MinMaxDecimator::Point> MinMaxDecimator::polyline() const
{
    std::vector<Point> out;
    out.reserve(m_columns.size() * 2);
    for (const Column& c : m_columns) {
        if (c.minSeq == c.maxSeq) {
            out.push_back({c.minSeq, c.min});
        } else if (c.minSeq < c.maxSeq) {
            out.push_back({c.minSeq, c.min});
            out.push_back({c.maxSeq, c.max});
        } else {
            out.push_back({c.maxSeq, c.max});
            out.push_back({c.minSeq, c.min});
        }
    }
    return out;
}

} // namespace bv
