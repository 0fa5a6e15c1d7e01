#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "data/MeasurePoint.h"

struct sqlite3;
struct sqlite3_stmt;

namespace bv {

struct CalibrationResult;

// One measurement from its start to its stop, with the settings it ran with.
struct HistoryRun {
    int64_t id = 0;
    int64_t startedMs = 0;
    int mode = 0;  // the measuring mode (continuous, single, calibration)
    std::string model;
    int address = 0;
    int intervalMs = 0;
    double zeroOffset = 0;  // W
    int averageSeconds = 0;
};

// A point as the history keeps it.
struct StoredPoint {
    MeasurePoint point;
    int64_t runId = 0;     // 0: taken outside a run (the identification's reading)
    int shutterState = 4;
    uint32_t alarms = 0;   // bit n: the alarm of kind n was active with it
};

// Owns one SQLite connection; closes it when it goes.
class SqliteConnection {
public:
    SqliteConnection() = default;
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // False with the library's text in error.
    bool open(const std::string& path, int flags, std::string& error);
    void close();
    sqlite3* get() const { return m_db; }
    // Runs statements without results; false with the text in error.
    bool exec(const char* sql, std::string& error);
    // The first column of the first row as an integer (fallback when none).
    int64_t integer(const char* sql, int64_t fallback = 0);

private:
    sqlite3* m_db = nullptr;
};

// The measuring history in an SQLite file: every point, the runs and the
// calibration results. One program writes it (it holds the file's lock);
// any number read it at the same time (WAL). Each point is committed when it
// is added, so a program that dies loses none; synchronous=NORMAL leaves
// only an operating-system crash able to take the last moment. Checkpoints
// and the deletion of rows older than the retention run on a thread of
// their own, in small transactions; the heartbeat waits for one at most
// kBusyWaitMs, beyond that a point waits in memory for the next one.
class HistoryStore {
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int32_t kApplicationId = 0x42565348;  // "BVSH"
    // Points held in memory while the file is busy or being retried.
    static constexpr std::size_t kPendingLimit = 100000;
    static constexpr int kDeleteBatch = 200;
    static constexpr int kBusyWaitMs = 5;

    using Clock = std::function<int64_t()>;
    // Texts for the operator, handed over on the caller's thread by poll().
    using NoteHandler = std::function<void(const std::string&)>;

    explicit HistoryStore(std::string path, Clock wallClock = {});
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens the file for writing, making it when there is none. A file that
    // cannot be used (not SQLite, damaged, another program's, a newer
    // schema, read-only) is moved aside under a timestamped name and a new
    // one begins; a file another program writes is left to it. Each such
    // event gives one note. False: no history this time (said in a note).
    // retentionDays 0 keeps everything; maintenance false leaves checkpoints
    // and retention to maintain() (tests, benchmarks).
    bool open(int retentionDays, bool maintenance = true);
    void close();
    bool writing() const { return m_db.get() != nullptr && !m_stopped; }
    const std::string& path() const { return m_path; }

    int64_t beginRun(HistoryRun run);
    void endRun(int64_t runId, int64_t stoppedMs);
    void addPoint(const StoredPoint& point);
    void addCalibration(int64_t runId, const CalibrationResult& result);
    // Points not yet in the file.
    std::size_t pending() const { return m_pending.size(); }

    // One checkpoint and the deletion of expired rows, batch by batch; what
    // the maintenance thread does every so often. Returns the rows deleted.
    long maintain();

    void setNoteHandler(NoteHandler handler) { m_onNote = std::move(handler); }
    // Hands the maintenance thread's notes to the handler.
    void poll();

    // The file's name for something moved aside at wall time ms.
    static std::string asideName(const std::string& path, int64_t ms);

private:
    struct EndRow {
        int64_t runId, stoppedMs;
    };
    struct CalibrationRow {
        int64_t runId, startMs, endMs;
        double calorimeterPower, ecPower, voltage, current;
        long ecPoints;
        double deviationPercent, limitPercent;
        bool passed;
    };
    using Row = std::variant<HistoryRun, EndRow, StoredPoint, CalibrationRow>;

    bool useOrMoveAside();
    bool moveAside(const std::string& why);
    bool makeSchema();
    void queue(Row row);
    void flush();
    bool write(const Row& row);
    void stopWriting(const std::string& why);
    void note(const std::string& text);
    void maintenanceLoop();
    int64_t now() const;

    std::string m_path;
    Clock m_clock;
    int m_retentionDays = 0;
    int m_lockFd = -1;
    SqliteConnection m_db;
    sqlite3_stmt* m_insertPoint = nullptr;
    std::vector<Row> m_pending;
    int64_t m_nextRunId = 1;
    bool m_stopped = false;
    bool m_toldBusy = false;
    bool m_toldOverflow = false;
    NoteHandler m_onNote;

    std::mutex m_mutex;  // guards m_notes and the thread's wake-up
    std::condition_variable m_wake;
    std::vector<std::string> m_notes;
    std::atomic<bool> m_quit{false};
    std::thread m_thread;
};

// Reads stored points, oldest first, without disturbing a program that
// writes the file. thinMs > 0 keeps points about thinMs apart (a view at a
// longer interval than the points were taken at).
struct HistoryQuery {
    int64_t fromMs = INT64_MIN;
    int64_t toMs = INT64_MAX;
    int64_t thinMs = 0;
};
// False with the reason in error (no file, not a history file, unreadable).
bool readHistory(const std::string& path, const HistoryQuery& query,
                 const std::function<void(const StoredPoint&)>& onPoint, std::string& error);

} // namespace bv
