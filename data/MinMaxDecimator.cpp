#include "data/MinMaxDecimator.h"

#include <cmath>

namespace bv {

void MinMaxDecimator::reset(int64_t pointsPerColumn, int64_t gapMs)
{
    m_width = pointsPerColumn < 1 ? 1 : pointsPerColumn;
    m_gapMs = gapMs;
    m_columns.clear();
    m_hasLast = false;
}

int64_t MinMaxDecimator::columnStart(int64_t seq) const
{
    // Floor division, so that negative numbers group like the others.
    int64_t q = seq / m_width;
    if (seq % m_width != 0 && seq < 0)
        --q;
    return q * m_width;
}

bool MinMaxDecimator::gapTo(int64_t timeMs) const
{
    return m_hasLast && m_gapMs > 0 && (timeMs - m_lastTime > m_gapMs || timeMs < m_lastTime);
}

void MinMaxDecimator::append(int64_t seq, int64_t timeMs, double value)
{
    if (std::isnan(value))
        return;
    const bool gap = gapTo(timeMs);
    m_hasLast = true;
    m_lastTime = timeMs;
    const int64_t start = columnStart(seq);
    if (m_columns.empty() || m_columns.back().firstSeq != start || gap) {
        Column c;
        c.firstSeq = start;
        c.minSeq = c.maxSeq = c.lastSeq = seq;
        c.minTime = c.maxTime = c.lastTime = timeMs;
        c.min = c.max = c.last = value;
        c.count = 1;
        c.gapBefore = gap && !m_columns.empty();
        m_columns.push_back(c);
        return;
    }
    Column& c = m_columns.back();
    if (value < c.min) {
        c.min = value;
        c.minSeq = seq;
        c.minTime = timeMs;
    }
    if (value > c.max) {
        c.max = value;
        c.maxSeq = seq;
        c.maxTime = timeMs;
    }
    c.lastSeq = seq;
    c.lastTime = timeMs;
    c.last = value;
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
        if (merged.empty() || merged.back().firstSeq != start || c.gapBefore) {
            merged.push_back(c);
            merged.back().firstSeq = start;
            continue;
        }
        // Strict comparisons: of equal extremes the earlier stays, as in append.
        Column& m = merged.back();
        if (c.min < m.min) {
            m.min = c.min;
            m.minSeq = c.minSeq;
            m.minTime = c.minTime;
        }
        if (c.max > m.max) {
            m.max = c.max;
            m.maxSeq = c.maxSeq;
            m.maxTime = c.maxTime;
        }
        m.lastSeq = c.lastSeq;
        m.lastTime = c.lastTime;
        m.last = c.last;
        m.count += c.count;
    }
    m_columns.swap(merged);
    return true;
}

void MinMaxDecimator::dropBefore(int64_t frontSeq, const std::function<Sample(int64_t)>& at)
{
    while (!m_columns.empty() && m_columns.front().lastSeq < frontSeq)
        m_columns.pop_front();
    if (m_columns.empty())
        return;
    Column& c = m_columns.front();
    // Nothing held lies before the first column any more.
    c.gapBefore = false;
    // Extremes that survive stay exact whatever else went.
    if (c.minSeq >= frontSeq && c.maxSeq >= frontSeq)
        return;
    Column rebuilt;
    rebuilt.firstSeq = c.firstSeq;
    for (int64_t s = frontSeq; s <= c.lastSeq; ++s) {
        const Sample p = at(s);
        if (std::isnan(p.value))
            continue;
        if (rebuilt.count == 0 || p.value < rebuilt.min) {
            rebuilt.min = p.value;
            rebuilt.minSeq = s;
            rebuilt.minTime = p.timeMs;
        }
        if (rebuilt.count == 0 || p.value > rebuilt.max) {
            rebuilt.max = p.value;
            rebuilt.maxSeq = s;
            rebuilt.maxTime = p.timeMs;
        }
        rebuilt.lastSeq = s;
        rebuilt.lastTime = p.timeMs;
        rebuilt.last = p.value;
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
        if (c.gapBefore && !out.empty())
            out.push_back({out.back().seq, out.back().timeMs, std::nan("")});
        if (c.minSeq == c.maxSeq) {
            out.push_back({c.minSeq, c.minTime, c.min});
        } else if (c.minSeq < c.maxSeq) {
            out.push_back({c.minSeq, c.minTime, c.min});
            out.push_back({c.maxSeq, c.maxTime, c.max});
        } else {
            out.push_back({c.maxSeq, c.maxTime, c.max});
            out.push_back({c.minSeq, c.minTime, c.min});
        }
    }
    return out;
}

} // namespace bv
