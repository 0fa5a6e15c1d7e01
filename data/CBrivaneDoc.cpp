#include "data/CBrivaneDoc.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

#include "settings/ProgramSettings.h"
#include "control/Messages.h"

namespace bv {

namespace {
constexpr const char* kTag = "BV_Dev";

// Points per seconds of history. An interval of 0 or below in the settings
// file would divide by zero: it counts as unbounded here.
double pointsPer(double seconds, int intervalMs)
{
    if (intervalMs <= 0)
        return HUGE_VAL;
    return seconds / (intervalMs * 0.001);
}
} // namespace

CBrivaneDoc::CBrivaneDoc(ProgramSettings& settings)
    : m_settings(settings),
      m_wallClock([] {
          using namespace std::chrono;
          return static_cast<int64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
      })
{
    ClearAllPoints();
}

CBrivaneDoc::~CBrivaneDoc() { ClearAllPoints(); }

void CBrivaneDoc::AddMesswert(const MeasurePoint& point, int flag)
{
    try {
        MeasurePoint copy = point;
        if (copy.timeMs == 0 && m_wallClock)
            copy.timeMs = m_wallClock();
        if (flag == 0) {
            copy.valid = 1;
            if (copy.heaterState == 1 && (copy.heaterValue & 4) == 0)
                copy.ecValid = 1;
        }
        append(copy);
        while (static_cast<long>(m_points.size()) > std::max(m_iMaxAnzahl, 0)) {
            BV_LOG_DEBUG(m_log, kTag, "AddMesswert getCount > m_iMaxAnzahl" << m_points.size() << "  "
                                                                            << m_iMaxAnzahl << " removing points");
            m_points.pop_front();
            ++m_firstSeq;
            if (m_firstSeq % kBlockSize == 0 || m_points.empty())
                m_blocks.pop_front();
        }
    } catch (const std::exception& e) {
        BV_LOG_ERROR(m_log, kTag, "AddMesswert " << e.what());
        return;
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "AddMesswert unknown error");
        return;
    }
    NotifyAll(kDocNewPoint);
}

void CBrivaneDoc::append(const MeasurePoint& point)
{
    const int64_t seq = m_firstSeq + static_cast<int64_t>(m_points.size());
    if (seq % kBlockSize == 0 || m_blocks.empty())
        m_blocks.emplace_back();
    m_points.push_back(point);
    m_blocks.back().add(point);
}

void CBrivaneDoc::ClearAllPoints()
{
    try {
        BV_LOG_DEBUG(m_log, kTag, "Removing all measuring points");
        m_firstSeq += static_cast<int64_t>(m_points.size());
        m_points.clear();
        m_blocks.clear();
        m_liveFromSeq = m_firstSeq;
        ++m_clears;
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "ClearAllPoints unknown error");
    }
}

void CBrivaneDoc::SetPeriod(int seconds)
{
    m_iPeriod = seconds;
    const double n = pointsPer(seconds, m_settings.m_iInterval);
    m_iMaxAnzahl = n >= 2147483646.0 ? 2147483647 : static_cast<int>(n) + 1;
}

const MeasurePoint* CBrivaneDoc::pGetLastMeasureValue() const
{
    try {
        return m_points.empty() ? nullptr : &m_points.back();
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "pGetLastMeasureValue unknown error");
        return nullptr;
    }
}

const MeasurePoint* CBrivaneDoc::pGetMeaureValue(int index) const
{
    if (index < 0 || index >= GetCount())
        return nullptr;
    return &m_points[static_cast<size_t>(index)];
}

void CBrivaneDoc::getExtrema(MeasurePoint& minimum, MeasurePoint& maximum) const
{
    try {
        const size_t from = static_cast<size_t>(EarlierCount());
        if (from >= m_points.size())
            return;
        minimum = maximum = m_points[from];
        // The block the front (or the first point of this session) has cut
        // into point by point, then the others whole: they hold every point
        // from their start on.
        const int64_t fromSeq = m_firstSeq + static_cast<int64_t>(from);
        Block first;
        const int64_t firstEnd = (fromSeq / kBlockSize + 1) * kBlockSize;
        const size_t direct = std::min(m_points.size(), from + static_cast<size_t>(firstEnd - fromSeq));
        for (size_t i = from; i < direct; ++i)
            first.add(m_points[i]);
        auto take = [&](const Block& b) {
            minimum.power = std::min(minimum.power, b.minPower);
            maximum.power = std::max(maximum.power, b.maxPower);
            minimum.flow = std::min(minimum.flow, b.minFlow);
            maximum.flow = std::max(maximum.flow, b.maxFlow);
            minimum.te = std::min(minimum.te, b.minTe);
            maximum.te = std::max(maximum.te, b.maxTe);
            minimum.td = std::min(minimum.td, b.minTd);
            maximum.td = std::max(maximum.td, b.maxTd);
            minimum.ecPower = std::min(minimum.ecPower, b.minEc);
            maximum.ecPower = std::max(maximum.ecPower, b.maxEc);
        };
        take(first);
        for (size_t b = static_cast<size_t>(fromSeq / kBlockSize - m_firstSeq / kBlockSize) + 1; b < m_blocks.size(); ++b)
            take(m_blocks[b]);
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "getExtrema unknown error");
    }
}

int CBrivaneDoc::EarlierCount() const
{
    if (m_liveFromSeq <= m_firstSeq)
        return 0;
    return static_cast<int>(std::min<int64_t>(m_liveFromSeq - m_firstSeq, GetCount()));
}

int CBrivaneDoc::LoadEarlier(const std::vector<MeasurePoint>& points, size_t firstOfRun)
{
    try {
        const size_t room = static_cast<size_t>(std::max<int64_t>(0, static_cast<int64_t>(m_iMaxAnzahl) - GetCount()));
        const size_t take = std::min(room, points.size());
        const size_t skip = points.size() - take;
        if (take == 0)
            return 0;
        const int64_t oldFirst = m_firstSeq;
        const int earlier = EarlierCount();
        const int64_t averageOffset = std::max<int64_t>(0, m_averageFromSeq - oldFirst);
        std::deque<MeasurePoint> held;
        held.swap(m_points);
        ClearAllPoints();
        const int64_t newFirst = m_firstSeq;
        for (size_t i = skip; i < points.size(); ++i)
            append(points[i]);
        for (const MeasurePoint& p : held)
            append(p);
        const int64_t loadedOfRun = firstOfRun >= points.size() ? 0 : static_cast<int64_t>(points.size() - std::max(firstOfRun, skip));
        const int64_t loadedEarlier = static_cast<int64_t>(take) - loadedOfRun;
        // Only the held points were live when nothing of this run came back;
        // earlier-run points already held stay earlier.
        m_liveFromSeq = newFirst + loadedEarlier + (loadedOfRun > 0 ? 0 : earlier);
        // A run whose start had left the store averages its loaded points too.
        m_averageFromSeq = loadedOfRun > 0 && averageOffset == 0 ? m_liveFromSeq
                                                                 : newFirst + static_cast<int64_t>(take) + averageOffset;
        m_averageFromSeq = std::max(m_averageFromSeq, m_liveFromSeq);
        return static_cast<int>(take);
    } catch (const std::exception& e) {
        BV_LOG_ERROR(m_log, kTag, "LoadEarlier " << e.what());
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "LoadEarlier unknown error");
    }
    return 0;
}

// Empty extremes that std::min and std::max pass over, as they pass over a
// value that is not a number.
CBrivaneDoc::Block::Block()
    : minPower(HUGE_VAL), maxPower(-HUGE_VAL), minFlow(HUGE_VAL), maxFlow(-HUGE_VAL), minTe(HUGE_VAL),
      maxTe(-HUGE_VAL), minTd(HUGE_VAL), maxTd(-HUGE_VAL), minEc(HUGE_VAL), maxEc(-HUGE_VAL)
{
}

void CBrivaneDoc::Block::add(const MeasurePoint& p)
{
    if (p.valid) {
        minPower = std::min(minPower, p.power);
        maxPower = std::max(maxPower, p.power);
        minFlow = std::min(minFlow, p.flow);
        maxFlow = std::max(maxFlow, p.flow);
        minTe = std::min(minTe, p.te);
        maxTe = std::max(maxTe, p.te);
        minTd = std::min(minTd, p.td);
        maxTd = std::max(maxTd, p.td);
    }
    if (p.ecValid) {
        minEc = std::min(minEc, p.ecPower);
        maxEc = std::max(maxEc, p.ecPower);
    }
}

void CBrivaneDoc::BeginAveraging(int fixedSeconds)
{
    m_averageFromSeq = m_firstSeq + static_cast<int64_t>(m_points.size());
    m_iFixedAverage = std::max(fixedSeconds, 0);
}

int CBrivaneDoc::AverageSeconds() const
{
    return m_iFixedAverage > 0 ? m_iFixedAverage : m_settings.m_iAveragePeriod;
}

size_t CBrivaneDoc::averageWindowStart() const
{
    const size_t count = m_points.size();
    const size_t runStart = std::max(
        static_cast<size_t>(EarlierCount()),
        m_averageFromSeq <= m_firstSeq ? 0 : std::min(count, static_cast<size_t>(m_averageFromSeq - m_firstSeq)));
    if (m_iPeriod < 1)
        return runStart;
    const double window = pointsPer(AverageSeconds(), m_settings.m_iInterval);
    // A window of 0 or below (a non-positive "Average period") averages nothing.
    if (!(window >= 1.0))
        return count;
    if (window < static_cast<double>(count))
        return std::max(runStart, count - static_cast<size_t>(window));
    return runStart;
}

CBrivaneDoc::Average CBrivaneDoc::averageOf(int kind) const
{
    Average a;
    try {
        // Welford's update: one pass, without the cancellation of sum-of-squares.
        const bool ec = kind == 4;
        double m2 = 0, mean = 0, sum = 0;
        for (size_t i = averageWindowStart(); i < m_points.size(); ++i) {
            const MeasurePoint& p = m_points[i];
            if (!(ec ? p.ecValid : p.valid))
                continue;
            const double x = ec ? p.ecPower : p.power;
            a.min = a.count ? std::min(a.min, x) : x;
            a.max = a.count ? std::max(a.max, x) : x;
            ++a.count;
            sum += x;
            const double delta = x - mean;
            mean += delta / static_cast<double>(a.count);
            m2 += delta * (x - mean);
        }
        a.mean = a.count ? sum / a.count : 0.0;
        a.stdDeviation = a.count > 1 ? std::sqrt(m2 / static_cast<double>(a.count - 1)) : 0.0;
    } catch (const std::exception& e) {
        BV_LOG_ERROR(m_log, kTag, "Error dGetAverage " << e.what());
        return {};
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "dGetAverage unknown error");
        return {};
    }
    return a;
}

double CBrivaneDoc::dGetAverage(int kind) const { return averageOf(kind).mean; }

double CBrivaneDoc::dGetStdDeviation(int kind) const { return averageOf(kind).stdDeviation; }

} // namespace bv
