#include <gtest/gtest.h>

#include "settings/ProgramSettings.h"
#include "data/CBrivaneDoc.h"

namespace bv {
namespace {

MeasurePoint point(double power)
{
    MeasurePoint p;
    p.power = power;
    return p;
}

struct Listener : IDocListener {
    int calls = 0;
    int hint = 0;
    CDeviceDoc* doc = nullptr;
    int countSeen = -1;
    void OnDocChanged(int h, CDeviceDoc* d) override
    {
        ++calls;
        hint = h;
        doc = d;
        countSeen = static_cast<CBrivaneDoc*>(d)->GetCount();
    }
};

class StoreTest : public ::testing::Test {
protected:
    ProgramSettings settings;
    CBrivaneDoc doc{settings};
};

TEST_F(StoreTest, KeepsTheNewestUpToTheLimitAndNotifiesEachPoint)
{
    Listener l;
    doc.AddListener(&l);
    doc.SetMaxCount(3);
    for (double p : {1.0, 2.0, 3.0, 4.0})
        doc.AddMesswert(point(p), 0);
    ASSERT_EQ(doc.GetCount(), 3);
    EXPECT_EQ(doc.pGetMeaureValue(0)->power, 2.0);
    EXPECT_EQ(doc.pGetLastMeasureValue()->power, 4.0);
    EXPECT_EQ(doc.pGetMeaureValue(2), doc.pGetLastMeasureValue());
    EXPECT_EQ(doc.pGetMeaureValue(3), nullptr);
    EXPECT_EQ(doc.pGetMeaureValue(-1), nullptr);
    EXPECT_EQ(l.calls, 4);
    EXPECT_EQ(l.hint, 1);
    EXPECT_EQ(l.doc, &doc);
    EXPECT_EQ(l.countSeen, 3);  // the listener sees the store after trimming
    doc.ClearAllPoints();
    EXPECT_EQ(doc.GetCount(), 0);
    EXPECT_EQ(doc.pGetLastMeasureValue(), nullptr);
}

TEST_F(StoreTest, PeriodSetsTheLimitFromTheInterval)
{
    doc.SetPeriod(90);
    EXPECT_EQ(doc.GetMaxCount(), 91);
    settings.m_iInterval = 10000;
    doc.SetPeriod(180000);
    EXPECT_EQ(doc.GetMaxCount(), 18001);
    // An interval of 0 or below from a hand-edited file must not divide by zero.
    settings.m_iInterval = 0;
    doc.SetPeriod(90);
    EXPECT_GT(doc.GetMaxCount(), 1000000);
    settings.m_iInterval = -5;
    doc.SetPeriod(90);
    doc.AddMesswert(point(1), 0);
    EXPECT_EQ(doc.GetCount(), 1);
}

TEST_F(StoreTest, ValidityAndEcValidityOnAdd)
{
    MeasurePoint p = point(10);
    p.heaterState = 1;
    p.heaterValue = 5;  // bit 2 set: EC values don't count
    doc.AddMesswert(p, 0);
    EXPECT_EQ(doc.pGetLastMeasureValue()->valid, 1);
    EXPECT_EQ(doc.pGetLastMeasureValue()->ecValid, 0);
    p.heaterValue = 3;
    doc.AddMesswert(p, 0);
    EXPECT_EQ(doc.pGetLastMeasureValue()->ecValid, 1);
    p.heaterState = 2;
    doc.AddMesswert(p, 0);
    EXPECT_EQ(doc.pGetLastMeasureValue()->ecValid, 0);
    // Calibration end markers are stored as given.
    MeasurePoint marker = point(10);
    marker.heaterState = 0;
    doc.AddMesswert(marker, 1);
    EXPECT_EQ(doc.pGetLastMeasureValue()->valid, 0);
}

TEST_F(StoreTest, AveragesOverTheNewestWindow)
{
    EXPECT_EQ(doc.dGetAverage(0), 0);  // empty store
    doc.SetMaxCount(100);
    settings.m_iAveragePeriod = 10;
    settings.m_iInterval = 1000;
    for (int i = 1; i <= 25; ++i) {
        MeasurePoint p = point(i);
        p.heaterState = 1;
        p.heaterValue = 0;
        p.ecPower = 2 * i;
        doc.AddMesswert(p, i == 20 ? 1 : 0);  // one invalid point inside the window
    }
    // Newest 10 are 16..25 without 20.
    EXPECT_DOUBLE_EQ(doc.dGetAverage(0), (16 + 17 + 18 + 19 + 21 + 22 + 23 + 24 + 25) / 9.0);
    EXPECT_DOUBLE_EQ(doc.dGetAverage(4), 2 * (16 + 17 + 18 + 19 + 21 + 22 + 23 + 24 + 25) / 9.0);
    settings.m_iAveragePeriod = 1000000;  // "Max": all points
    EXPECT_DOUBLE_EQ(doc.dGetAverage(0), (325 - 20) / 24.0);
    // Zero or negative settings from a file never divide by zero or read out of range.
    settings.m_iInterval = 0;
    EXPECT_DOUBLE_EQ(doc.dGetAverage(0), (325 - 20) / 24.0);
    settings.m_iInterval = 1000;
    settings.m_iAveragePeriod = -5;
    EXPECT_EQ(doc.dGetAverage(0), 0);
    // A period below 1 s averages all points.
    doc.SetPeriod(0);
    settings.m_iAveragePeriod = 10;
    EXPECT_DOUBLE_EQ(doc.dGetAverage(0), (325 - 20) / 24.0);
}

TEST_F(StoreTest, AMeasurementAveragesOnlyItsOwnPoints)
{
    doc.SetMaxCount(100);
    doc.SetPeriod(90);
    settings.m_iInterval = 1000;
    settings.m_iAveragePeriod = 1000000;
    for (int i = 1; i <= 12; ++i)
        doc.AddMesswert(point(1000), 0);  // an earlier run (a calibration's heater power, say)
    // The next run: its own 3 s window, then back to the setting.
    doc.BeginAveraging(3);
    EXPECT_EQ(doc.averageOf(0).count, 0);
    EXPECT_EQ(doc.AverageSeconds(), 3);
    for (int i = 1; i <= 5; ++i)
        doc.AddMesswert(point(i), 0);
    const CBrivaneDoc::Average fixed = doc.averageOf(0);
    EXPECT_EQ(fixed.count, 3);
    EXPECT_DOUBLE_EQ(fixed.mean, 4);
    EXPECT_DOUBLE_EQ(fixed.stdDeviation, 1);
    doc.BeginAveraging();
    EXPECT_EQ(doc.AverageSeconds(), 1000000);
    doc.AddMesswert(point(7), 0);
    const CBrivaneDoc::Average one = doc.averageOf(0);
    EXPECT_EQ(one.count, 1);
    EXPECT_DOUBLE_EQ(one.mean, 7);
    // The run's start survives the front dropping past it and a clear.
    doc.SetMaxCount(1);
    doc.AddMesswert(point(9), 0);
    EXPECT_EQ(doc.averageOf(0).count, 1);
    doc.ClearAllPoints();
    doc.AddMesswert(point(2), 0);
    EXPECT_DOUBLE_EQ(doc.averageOf(0).mean, 2);
}

TEST_F(StoreTest, ExtremaSeededByTheOldestPoint)
{
    MeasurePoint minimum, maximum;
    minimum.power = maximum.power = 777;
    doc.getExtrema(minimum, maximum);  // empty: untouched
    EXPECT_EQ(minimum.power, 777);

    MeasurePoint oldest = point(-5);  // not valid, yet it seeds both outputs
    oldest.flow = 9;
    oldest.te = 21;
    doc.AddMesswert(oldest, 1);
    MeasurePoint a = point(10);
    a.flow = 4;
    a.te = 25;
    a.heaterState = 1;
    a.heaterValue = 0;
    a.ecPower = 50;
    doc.AddMesswert(a, 0);
    MeasurePoint b = point(20);
    b.flow = 5;
    b.te = 22;
    doc.AddMesswert(b, 0);
    doc.getExtrema(minimum, maximum);
    EXPECT_EQ(minimum.power, -5);
    EXPECT_EQ(maximum.power, 20);
    EXPECT_EQ(minimum.flow, 4);
    EXPECT_EQ(maximum.flow, 9);
    EXPECT_EQ(maximum.te, 25);
    EXPECT_EQ(minimum.te, 21);
    EXPECT_EQ(maximum.ecPower, 50);
    EXPECT_EQ(minimum.ecPower, 0);  // from the oldest point
}

} // namespace
} // namespace bv
