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
        m_points.push_back(copy);
        while (static_cast<long>(m_points.size()) > std::max(m_iMaxAnzahl, 0)) {
            BV_LOG_DEBUG(m_log, kTag, "AddMesswert getCount > m_iMaxAnzahl" << m_points.size() << "  "
                                                                            << m_iMaxAnzahl << " removing points");
            m_points.pop_front();
        }
    } catch (const std::exception& e) {
        BV_LOG_ERROR(m_log, kTag, "AddMesswert " << e.what());
        return;
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "AddMesswert unknown error");
        return;
    }
    NotifyAll(kNotifyShutterEnded);  // hint 1: a new point
}

void CBrivaneDoc::ClearAllPoints()
{
    try {
        BV_LOG_DEBUG(m_log, kTag, "Removing all measuring points");
        m_points.clear();
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
        if (m_points.empty())
            return;
        minimum = maximum = m_points.front();
        for (const MeasurePoint& p : m_points) {
            if (p.valid) {
                minimum.power = std::min(minimum.power, p.power);
                maximum.power = std::max(maximum.power, p.power);
                minimum.flow = std::min(minimum.flow, p.flow);
                maximum.flow = std::max(maximum.flow, p.flow);
                minimum.te = std::min(minimum.te, p.te);
                maximum.te = std::max(maximum.te, p.te);
                minimum.td = std::min(minimum.td, p.td);
                maximum.td = std::max(maximum.td, p.td);
            }
            if (p.ecValid) {
                minimum.ecPower = std::min(minimum.ecPower, p.ecPower);
                maximum.ecPower = std::max(maximum.ecPower, p.ecPower);
            }
        }
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "getExtrema unknown error");
    }
}

size_t CBrivaneDoc::averageWindowStart() const
{
    const size_t count = m_points.size();
    if (m_iPeriod < 1)
        return 0;
    const double window = pointsPer(m_settings.m_iAveragePeriod, m_settings.m_iInterval);
    // A window of 0 or below (a non-positive "Average period") averages nothing.
    if (!(window >= 1.0))
        return count;
    if (window < static_cast<double>(count))
        return count - static_cast<size_t>(window);
    return 0;
}

double CBrivaneDoc::dGetAverage(int kind) const
{
    try {
        const size_t count = m_points.size();
        double sum = 0, ecSum = 0;
        int used = 0, ecUsed = 0;
        for (size_t i = averageWindowStart(); i < count; ++i) {
            const MeasurePoint& p = m_points[i];
            if (p.valid) {
                sum += p.power;
                ++used;
            }
            if (p.ecValid) {
                ecSum += p.ecPower;
                ++ecUsed;
            }
        }
        if (kind == 4)
            return ecSum / (ecUsed ? ecUsed : 1);
        return sum / (used ? used : 1);
    } catch (const std::exception& e) {
        BV_LOG_ERROR(m_log, kTag, "Error dGetAverage " << e.what());
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "dGetAverage unknown error");
    }
    return 0;
}

double CBrivaneDoc::dGetStdDeviation(int kind) const
{
    try {
        // Welford's update: one pass, without the cancellation of sum-of-squares.
        const bool ec = kind == 4;
        double mean = 0, m2 = 0;
        long n = 0;
        for (size_t i = averageWindowStart(); i < m_points.size(); ++i) {
            const MeasurePoint& p = m_points[i];
            if (!(ec ? p.ecValid : p.valid))
                continue;
            const double x = ec ? p.ecPower : p.power;
            ++n;
            const double delta = x - mean;
            mean += delta / static_cast<double>(n);
            m2 += delta * (x - mean);
        }
        return n > 1 ? std::sqrt(m2 / static_cast<double>(n - 1)) : 0.0;
    } catch (...) {
        BV_LOG_ERROR(m_log, kTag, "dGetStdDeviation unknown error");
    }
    return 0;
}

} // namespace bv
