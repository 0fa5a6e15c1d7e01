// The window after a restart: the points of the earlier run come back from
// the history, marked, with a gap up to the new ones, and never count in
// this run's extremes or averages.
#include <QComboBox>
#include <algorithm>
#include <chrono>

#include "app/HistoryRecorder.h"
#include "data/CBrivaneDoc.h"
#include "ui/CNTGraph.h"
#include "ui/ExportCommands.h"
#include "ui/StatusList.h"
#include "ui/WindowFixture.h"

namespace bv::test {
namespace {

// Near the real time: the history's retention goes by the system clock.
const int64_t kT0 = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch()).count() / 1000 * 1000;

class HistoryWindow : public WindowFixture {
protected:
    HistoryWindow()
    {
        beforeWindow = [this] {
            store().SetWallClock([this] { return kT0 + clock.now(); });
            ASSERT_TRUE(core->StartHistory(dir.file("history.sqlite")));
            world->meter().setLaserPower(laserW);
        };
    }
    void measure(uint32_t ms)
    {
        run(4000);
        window->OnStartstop();
        run(ms);
        ASSERT_TRUE(device().m_Measuring.IsRunning());
    }
    double maxPower(int from, int to)
    {
        double m = -1;
        for (int i = from; i < to; ++i)
            if (store().pGetMeaureValue(i)->valid)
                m = std::max(m, store().pGetMeaureValue(i)->power);
        return m;
    }
    bool statusSays(const std::string& text)
    {
        const StatusList& list = *window->statusList();
        for (int i = 0; i < list.lineCount(); ++i)
            if (list.lineText(i).contains(QString::fromStdString(text)))
                return true;
        return false;
    }
    double laserW = 2500;
};

TEST_F(HistoryWindow, RestartShowsTheEarlierRunMarkedWithAGapAndAPeriodChangeReadsItAgain)
{
    // What a crash or a foreign program left: moved aside, said, measured on.
    writeFile(dir.file("history.sqlite"), std::string(3000, '\x01'));
    start();
    EXPECT_TRUE(statusSays("moved aside as " + dir.file("history.sqlite.")));
    measure(20000);
    window->OnStartstop();
    run(1000);
    const int before = store().GetCount();
    ASSERT_GT(before, 15);
    const int64_t firstTime = store().pGetMeaureValue(0)->timeMs;
    const int64_t lastTime = store().pGetLastMeasureValue()->timeMs;
    window.reset();
    core.reset();

    clock.advance(30000);
    laserW = 1000;
    start();
    EXPECT_EQ(store().GetCount(), before);
    EXPECT_EQ(store().EarlierCount(), before);
    EXPECT_TRUE(statusSays("Points read back from the history: " + std::to_string(before)));
    CNTGraph& power = *window->powerGraph();
    ASSERT_TRUE(power.historySpanShown());
    EXPECT_DOUBLE_EQ(power.historySpanFrom(), firstTime * 0.001);
    EXPECT_DOUBLE_EQ(power.historySpanTo(), lastTime * 0.001);

    measure(15000);
    const int earlier = store().EarlierCount();
    EXPECT_EQ(earlier, before);
    EXPECT_GE(power.gapCount(), 1);
    // The earlier run read higher: none of it in this run's figures.
    const double earlierMax = maxPower(0, earlier), liveMax = maxPower(earlier, store().GetCount());
    ASSERT_GT(earlierMax, liveMax + 500);
    MeasurePoint lowest, highest;
    store().getExtrema(lowest, highest);
    EXPECT_EQ(highest.power, liveMax);
    EXPECT_LT(store().dGetAverage(0), liveMax + 1);

    // Another period, another interval: the store is read again from the
    // file, the earlier run as history, this run's points as this run's.
    window->periodList()->setCurrentIndex(1);  // 10 min : 2 s
    window->OnSelchangeScalePeriodeCombo();
    window->UpdateTimeArea();
    const int reread = store().EarlierCount();
    EXPECT_GT(reread, before / 2 - 3);
    EXPECT_LT(reread, before / 2 + 3);
    EXPECT_GT(store().GetCount(), reread + 5);
    EXPECT_LT(maxPower(reread, store().GetCount()), earlierMax - 500);
    EXPECT_LT(store().dGetAverage(0), liveMax + 1);
    EXPECT_TRUE(power.historySpanShown());

    // Any stored range goes out as CSV, beyond what the store holds.
    ASSERT_TRUE(window->exports()->exportHistoryCsv(QString::fromStdString(dir.file("earlier.csv")), firstTime,
                                                    lastTime));
    const std::string csv = readFile(dir.file("earlier.csv"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), before + 1);  // the header and every point
}

} // namespace
} // namespace bv::test
