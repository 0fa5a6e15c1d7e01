#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "data/CalibrationResult.h"
#include "data/History.h"
#include "support/TempDir.h"

namespace bv {
namespace {

constexpr int64_t kDay = 86400000;
constexpr int64_t kNow = 1'765'000'000'000;

StoredPoint pointAt(int64_t timeMs, double power, int64_t run = 0)
{
    StoredPoint p;
    p.point.timeMs = timeMs;
    p.point.valid = 1;
    p.point.power = power;
    p.point.flow = 4.5;
    p.point.te = 21.25;
    p.point.td = 0.75;
    p.runId = run;
    return p;
}

std::vector<StoredPoint> readAll(const std::string& path, HistoryQuery query = {})
{
    std::vector<StoredPoint> out;
    std::string error;
    EXPECT_TRUE(readHistory(path, query, [&](const StoredPoint& p) { out.push_back(p); }, error)) << error;
    return out;
}

struct Opened {
    explicit Opened(const std::string& path) : store(path, [this] { return now; })
    {
        store.setNoteHandler([this](const std::string& t) { notes.push_back(t); });
    }
    bool open(int days = 30, bool maintenance = false)
    {
        const bool ok = store.open(days, maintenance);
        store.poll();
        return ok;
    }
    int64_t now = kNow;
    HistoryStore store;
    std::vector<std::string> notes;
};

// Every field comes back as it went in, while the writer still has the file
// open; ranges, thinning and retention cut where they should; a reopened
// file goes on with the next run number.
TEST(HistoryStore, KeepsEveryFieldReadsWhileWritingAndExpiresInBatches)
{
    test::TempDir dir;
    const std::string path = dir.file("history.sqlite");
    {
        Opened h(path);
        ASSERT_TRUE(h.open(2));
        EXPECT_TRUE(h.notes.empty());
        HistoryRun run;
        run.startedMs = kNow - 3 * kDay;
        run.model = "EC-Brivane";
        run.address = 113;
        run.intervalMs = 1000;
        run.zeroOffset = 1.5;
        run.averageSeconds = 30;
        const int64_t id = h.store.beginRun(run);
        EXPECT_EQ(id, 1);
        // Old enough to expire: more than one delete batch of them.
        for (int i = 0; i < HistoryStore::kDeleteBatch + 20; ++i)
            h.store.addPoint(pointAt(kNow - 3 * kDay + i * 100, 100, id));
        StoredPoint full = pointAt(kNow - 1000, 1234.5, id);
        full.point.ecValid = 1;
        full.point.ecPower = 999.25;
        full.point.ecCurrent = 2.5;
        full.point.ecVoltage = 399.5;
        full.point.heaterState = 1;
        full.point.heaterValue = 3;
        full.point.thermalization = 7;
        full.shutterState = 1;
        full.alarms = 0b10101;
        h.store.addPoint(full);
        StoredPoint unread = pointAt(kNow - 500, std::nan(""), id);
        unread.point.valid = 0;
        h.store.addPoint(unread);
        for (int i = 0; i < 20; ++i)
            h.store.addPoint(pointAt(kNow + i * 200, 50 + i, 0));
        EXPECT_EQ(h.store.pending(), 0u);

        const auto recent = readAll(path, {kNow - 2000, kNow - 1});
        ASSERT_EQ(recent.size(), 2u);
        const StoredPoint& back = recent[0];
        EXPECT_EQ(back.point.timeMs, full.point.timeMs);
        EXPECT_EQ(back.point.power, 1234.5);
        EXPECT_EQ(back.point.te, 21.25);
        EXPECT_EQ(back.point.ecValid, 1);
        EXPECT_EQ(back.point.ecVoltage, 399.5);
        EXPECT_EQ(back.point.heaterValue, 3);
        EXPECT_EQ(back.point.thermalization, 7);
        EXPECT_EQ(back.shutterState, 1);
        EXPECT_EQ(back.alarms, 0b10101u);
        EXPECT_EQ(back.runId, id);
        EXPECT_TRUE(std::isnan(recent[1].point.power));
        EXPECT_EQ(recent[1].point.valid, 0);

        // 200 ms points read for a 1 s view: one a second.
        const auto thinned = readAll(path, {kNow, INT64_MAX, 1000});
        ASSERT_EQ(thinned.size(), 5u);
        for (size_t i = 2; i < thinned.size(); ++i)
            EXPECT_EQ(thinned[i].point.timeMs - thinned[i - 1].point.timeMs, 1000);

        EXPECT_EQ(h.store.maintain(), HistoryStore::kDeleteBatch + 20);
        EXPECT_EQ(readAll(path).size(), 22u);
        h.store.endRun(id, kNow);
    }
    Opened again(path);
    ASSERT_TRUE(again.open());
    EXPECT_EQ(again.store.beginRun({}), 2);
    EXPECT_TRUE(again.notes.empty());
}

void writeSqlite(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// A file that is not a usable history is never used, never lost and never
// the end of measuring: it is moved aside under a timestamped name, the
// operator is told once, and a new history takes the points.
TEST(HistoryStore, UnusableFilesAreMovedAsideAndASecondWriterIsTurnedAway)
{
    test::TempDir dir;
    const std::string path = dir.file("history.sqlite");
    auto makeValid = [&] {
        std::filesystem::remove(path);
        Opened h(path);
        ASSERT_TRUE(h.open());
        for (int i = 0; i < 3000; ++i)
            h.store.addPoint(pointAt(kNow - 100000 + i, i));
    };
    struct Case {
        const char* name;
        std::function<void()> make;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"garbage", [&] { test::writeFile(path, std::string(5000, '\x5a')); }, "not an SQLite file"},
        {"truncated", [&] {
             makeValid();
             std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
         }, "damaged"},
        {"newer", [&] { makeValid(); writeSqlite(path.c_str(), "PRAGMA user_version=7"); }, "newer version, schema 7"},
        {"foreign", [&] { writeSqlite(path, "CREATE TABLE t(x); INSERT INTO t VALUES(1)"); }, "not a history file"},
    };
    int64_t clock = kNow;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path);
        c.make();
        const std::string before = test::readFile(path);
        Opened h(path);
        h.now = clock += 1000;  // each case its own aside name
        ASSERT_TRUE(h.open());
        ASSERT_EQ(h.notes.size(), 1u);
        EXPECT_NE(h.notes[0].find(c.why), std::string::npos) << h.notes[0];
        const std::string aside = HistoryStore::asideName(path, h.now);
        EXPECT_NE(h.notes[0].find(aside), std::string::npos) << h.notes[0];
        EXPECT_EQ(test::readFile(aside), before);
        h.store.addPoint(pointAt(kNow, 42));
        const auto back = readAll(path);
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0].point.power, 42);
    }

    // A second program finds the file taken: told, no history, no hang; a
    // reader still reads. The first one's upkeep runs beside its writes.
    Opened first(path);
    ASSERT_TRUE(first.open(30, true));
    for (int i = 0; i < 200; ++i)
        first.store.addPoint(pointAt(kNow + 5 + i, 7));
    Opened second(path);
    EXPECT_FALSE(second.open());
    ASSERT_EQ(second.notes.size(), 1u);
    EXPECT_NE(second.notes[0].find("in use by another program"), std::string::npos) << second.notes[0];
    second.store.addPoint(pointAt(kNow + 6, 8));
    EXPECT_EQ(readAll(path).size(), 201u);

    // A folder nobody may write: no history, said once.
    if (geteuid() != 0) {
        test::TempDir locked;
        chmod(locked.path().c_str(), 0500);
        Opened h(locked.file("history.sqlite"));
        EXPECT_FALSE(h.open());
        EXPECT_EQ(h.notes.size(), 1u);
        chmod(locked.path().c_str(), 0700);
    }
}

} // namespace
} // namespace bv
