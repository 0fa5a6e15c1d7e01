#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <random>

#include "data/CBrivaneDoc.h"
#include "data/MinMaxDecimator.h"
#include "data/PointExport.h"
#include "settings/ProgramSettings.h"

namespace bv {
namespace {

// Random walks with spikes and readings missing now and then, appended and
// trimmed from the front as a full store does, the columns widened now and
// then: every column keeps exactly the extremes of the points it holds, no
// column spans missing readings, and the line breaks at every such gap.
TEST(MinMaxDecimator, EveryColumnKeepsItsExtremesAndGapsAgainstBruteForce)
{
    constexpr int64_t kGapMs = 2500;
    struct Held {
        int64_t seq, time;
        double value;
    };
    std::mt19937 rng(7);
    std::normal_distribution<double> step(0, 1);
    std::uniform_int_distribution<int> widthOf(1, 50), spike(0, 99), jitter(-100, 100);
    for (int round = 0; round < 20; ++round) {
        int64_t width = widthOf(rng);
        const size_t limit = 200 + static_cast<size_t>(widthOf(rng)) * 40;
        MinMaxDecimator d(width, kGapMs);
        std::deque<Held> held;
        double v = 0;
        int64_t time = 1'700'000'000'000;
        for (int64_t seq = -37; seq < 5000; ++seq) {
            v += step(rng);
            const double value = spike(rng) == 0 ? v * 50 : spike(rng) == 1 ? std::nan("") : v;
            // Mostly a second apart; a link loss, a stop, once a clock set back.
            const int event = spike(rng);
            time += event == 0 ? 7000 : event == 1 ? 2600 : event == 2 ? 2400 : 1000 + jitter(rng);
            if (seq == 2222)
                time -= 60000;
            held.push_back({seq, time, value});
            d.append(seq, time, value);
            // A history that outgrows the plot's pixels merges its columns.
            if (round % 2 == 0 && (seq == 1500 || seq == 3100)) {
                EXPECT_FALSE(d.coarsen(width));
                if (width > 1) {
                    EXPECT_FALSE(d.coarsen(width * 2 + 1));
                }
                ASSERT_TRUE(d.coarsen(width *= 2));
            }
            if (held.size() > limit) {
                held.pop_front();
                const int64_t front = held.front().seq;
                d.dropBefore(front, [&](int64_t s) {
                    const int64_t i = s - front;
                    if (i < 0 || i >= static_cast<int64_t>(held.size()))
                        return MinMaxDecimator::Sample{0, std::nan("")};
                    const Held& h = held[static_cast<size_t>(i)];
                    return MinMaxDecimator::Sample{h.time, h.value};
                });
            }
        }
        // The reference: group what is held by column and by gap, brute force.
        std::vector<MinMaxDecimator::Column> expected;
        const Held* previous = nullptr;
        for (const Held& h : held) {
            if (std::isnan(h.value))
                continue;
            const int64_t start = h.seq >= 0 ? h.seq / width * width : -((-h.seq + width - 1) / width) * width;
            const bool gap = previous && (h.time - previous->time > kGapMs || h.time < previous->time);
            previous = &h;
            if (expected.empty() || expected.back().firstSeq != start || gap) {
                MinMaxDecimator::Column c;
                c.firstSeq = start;
                c.minSeq = c.maxSeq = h.seq;
                c.minTime = c.maxTime = h.time;
                c.min = c.max = h.value;
                c.gapBefore = gap;
                expected.push_back(c);
            }
            auto& c = expected.back();
            if (h.value < c.min) c.min = h.value, c.minSeq = h.seq, c.minTime = h.time;
            if (h.value > c.max) c.max = h.value, c.maxSeq = h.seq, c.maxTime = h.time;
            c.lastSeq = h.seq, c.lastTime = h.time, c.last = h.value;
        }
        ASSERT_EQ(d.columns().size(), expected.size()) << "width " << width;
        size_t gaps = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            const auto& got = d.columns()[i];
            ASSERT_EQ(got.firstSeq, expected[i].firstSeq);
            EXPECT_EQ(got.gapBefore, expected[i].gapBefore) << "column " << i;
            EXPECT_EQ(got.min, expected[i].min);
            EXPECT_EQ(got.max, expected[i].max);
            EXPECT_EQ(got.minSeq, expected[i].minSeq);
            EXPECT_EQ(got.maxSeq, expected[i].maxSeq);
            EXPECT_EQ(got.minTime, expected[i].minTime);
            EXPECT_EQ(got.maxTime, expected[i].maxTime);
            EXPECT_EQ(got.lastSeq, expected[i].lastSeq);
            EXPECT_EQ(got.last, expected[i].last);
            gaps += expected[i].gapBefore ? 1 : 0;
        }
        ASSERT_GT(gaps, 0u);
        const auto line = d.polyline();
        EXPECT_TRUE(std::is_sorted(line.begin(), line.end(),
                                   [](const auto& a, const auto& b) { return a.seq < b.seq; }));
        EXPECT_EQ(static_cast<size_t>(std::count_if(line.begin(), line.end(),
                                                    [](const auto& p) { return std::isnan(p.value); })),
                  gaps);
    }
}

// The store answers getExtrema from block summaries; over a sliding front,
// a clear and a changed bound it must give what the plain scan gives.
TEST(StoreStatistics, ExtremaOfAWeekLongStoreAgainstAPlainScan)
{
    ProgramSettings settings;
    CBrivaneDoc store(settings);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> value(-100, 100);
    std::uniform_int_distribution<int> coin(0, 3);
    auto plainScan = [&](MeasurePoint& mn, MeasurePoint& mx) {
        mn = mx = *store.pGetMeaureValue(0);
        for (int i = 0; i < store.GetCount(); ++i) {
            const MeasurePoint& p = *store.pGetMeaureValue(i);
            if (p.valid) {
                mn.power = std::min(mn.power, p.power), mx.power = std::max(mx.power, p.power);
                mn.flow = std::min(mn.flow, p.flow), mx.flow = std::max(mx.flow, p.flow);
                mn.te = std::min(mn.te, p.te), mx.te = std::max(mx.te, p.te);
                mn.td = std::min(mn.td, p.td), mx.td = std::max(mx.td, p.td);
            }
            if (p.ecValid)
                mn.ecPower = std::min(mn.ecPower, p.ecPower), mx.ecPower = std::max(mx.ecPower, p.ecPower);
        }
    };
    store.SetMaxCount(2500);
    for (int i = 0; i < 12000; ++i) {
        if (i == 5000)
            store.ClearAllPoints();
        if (i == 8000)
            store.SetMaxCount(700);
        MeasurePoint p;
        p.power = value(rng), p.flow = value(rng), p.te = value(rng), p.td = value(rng), p.ecPower = value(rng);
        p.valid = coin(rng) != 0;
        p.ecValid = coin(rng) == 0;
        store.AddMesswert(p, 1);
        if (i % 97 != 0 && i < 11990)
            continue;
        MeasurePoint mn, mx, refMin, refMax;
        store.getExtrema(mn, mx);
        plainScan(refMin, refMax);
        for (auto f : {&MeasurePoint::power, &MeasurePoint::flow, &MeasurePoint::te, &MeasurePoint::td,
                       &MeasurePoint::ecPower}) {
            ASSERT_EQ(mn.*f, refMin.*f) << "after point " << i;
            ASSERT_EQ(mx.*f, refMax.*f) << "after point " << i;
        }
    }
    EXPECT_EQ(store.GetCount(), 700);
    EXPECT_EQ(store.FirstSeq(), 12000 - 700);
}

double twoPassStdDeviation(const std::vector<double>& xs)
{
    double mean = 0;
    for (double x : xs)
        mean += x;
    mean /= static_cast<double>(xs.size());
    double sq = 0;
    for (double x : xs)
        sq += (x - mean) * (x - mean);
    return std::sqrt(sq / static_cast<double>(xs.size() - 1));
}

// A large mean with small noise is where a sum-of-squares formula breaks down.
TEST(StoreStatistics, StdDeviationAgainstATwoPassReference)
{
    ProgramSettings settings;
    settings.m_iInterval = 1000;
    settings.m_iAveragePeriod = 30;
    CBrivaneDoc store(settings);
    store.SetPeriod(600);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, 0.01);
    std::vector<double> all;
    for (int i = 0; i < 100; ++i) {
        MeasurePoint p;
        p.power = 1.0e6 + noise(rng);
        p.timeMs = 1000 * (i + 1);
        store.AddMesswert(p, 0);
        all.push_back(p.power);
    }
    const std::vector<double> window(all.end() - 30, all.end());
    EXPECT_NEAR(store.dGetStdDeviation(0), twoPassStdDeviation(window), 1e-9);

    const PowerStatistics s = powerStatistics(store, 10, 1000);
    EXPECT_EQ(s.count, 90);
    EXPECT_NEAR(s.stdDeviation, twoPassStdDeviation({all.begin() + 10, all.end()}), 1e-9);
    EXPECT_EQ(s.min, *std::min_element(all.begin() + 10, all.end()));
    EXPECT_EQ(s.max, *std::max_element(all.begin() + 10, all.end()));
    EXPECT_EQ(s.firstMs, 11000);
    EXPECT_EQ(s.lastMs, 100000);

    MeasurePoint one;
    store.ClearAllPoints();
    store.AddMesswert(one, 0);
    EXPECT_EQ(store.dGetStdDeviation(0), 0.0);
}

TEST(PointExport, IsoTimesCarryTheZone)
{
    const std::string t = isoTime(1765264852125);
    ASSERT_EQ(t.size(), 29u) << t;
    EXPECT_EQ(t.substr(19, 4), ".125");
    EXPECT_TRUE(t[23] == '+' || t[23] == '-') << t;
}

TEST(PointExport, UnwritableFileKeepsWhatWasThere)
{
    ProgramSettings settings;
    CBrivaneDoc store(settings);
    std::string error;
    EXPECT_FALSE(writeCsv(store, 0, 1, "/nonexistent-dir/out.csv", error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

} // namespace
} // namespace bv
