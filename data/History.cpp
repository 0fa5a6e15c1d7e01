#include "data/History.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "data/CalibrationResult.h"
#include "platform/Logging.h"
#include "res/StringTable.h"

namespace bv {

namespace {
constexpr const char* kTag = "History";
log::Logger& logger()
{
    static log::Logger l{"History"};
    return l;
}

// Version 1. Times are ms since 1970 UTC; a point's run is null when it was
// taken outside a measurement.
constexpr const char* kSchema = R"(
CREATE TABLE runs(
  id INTEGER PRIMARY KEY,
  started_ms INTEGER NOT NULL,
  stopped_ms INTEGER,
  mode INTEGER NOT NULL,
  model TEXT NOT NULL,
  address INTEGER NOT NULL,
  interval_ms INTEGER NOT NULL,
  zero_offset REAL NOT NULL,
  average_s INTEGER NOT NULL);
CREATE TABLE points(
  time_ms INTEGER NOT NULL,
  run_id INTEGER REFERENCES runs(id),
  valid INTEGER NOT NULL,
  power REAL, flow REAL, te REAL, td REAL,
  ec_valid INTEGER NOT NULL,
  ec_power REAL, ec_current REAL, ec_voltage REAL,
  heater_state INTEGER, heater_value INTEGER, thermalization INTEGER,
  shutter INTEGER NOT NULL,
  alarms INTEGER NOT NULL);
CREATE INDEX points_by_time ON points(time_ms);
CREATE TABLE calibrations(
  id INTEGER PRIMARY KEY,
  run_id INTEGER REFERENCES runs(id),
  start_ms INTEGER NOT NULL,
  end_ms INTEGER NOT NULL,
  calorimeter_power REAL, ec_power REAL, voltage REAL, current REAL,
  ec_points INTEGER NOT NULL,
  deviation_percent REAL, limit_percent REAL,
  passed INTEGER NOT NULL);
CREATE INDEX calibrations_by_time ON calibrations(end_ms);
)";

constexpr const char* kPointColumns =
    "time_ms, run_id, valid, power, flow, te, td, ec_valid, ec_power, ec_current, ec_voltage, heater_state, "
    "heater_value, thermalization, shutter, alarms";

const std::string& S(unsigned id) { return strings::text(id); }

int64_t systemMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Finalizes on every way out.
class Statement {
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_s, nullptr) != SQLITE_OK)
            m_s = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_s); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return m_s; }
    explicit operator bool() const { return m_s != nullptr; }

private:
    sqlite3_stmt* m_s = nullptr;
};

void bindPoint(sqlite3_stmt* s, const StoredPoint& sp)
{
    const MeasurePoint& p = sp.point;
    sqlite3_reset(s);
    sqlite3_bind_int64(s, 1, p.timeMs);
    if (sp.runId > 0)
        sqlite3_bind_int64(s, 2, sp.runId);
    else
        sqlite3_bind_null(s, 2);
    sqlite3_bind_int(s, 3, p.valid);
    sqlite3_bind_double(s, 4, p.power);
    sqlite3_bind_double(s, 5, p.flow);
    sqlite3_bind_double(s, 6, p.te);
    sqlite3_bind_double(s, 7, p.td);
    sqlite3_bind_int(s, 8, p.ecValid);
    sqlite3_bind_double(s, 9, p.ecPower);
    sqlite3_bind_double(s, 10, p.ecCurrent);
    sqlite3_bind_double(s, 11, p.ecVoltage);
    sqlite3_bind_int(s, 12, p.heaterState);
    sqlite3_bind_int(s, 13, p.heaterValue);
    sqlite3_bind_int(s, 14, p.thermalization);
    sqlite3_bind_int(s, 15, sp.shutterState);
    sqlite3_bind_int64(s, 16, sp.alarms);
}

// A column that SQLite stored as NULL (a NaN reading) reads back as NaN.
double real(sqlite3_stmt* s, int column)
{
    return sqlite3_column_type(s, column) == SQLITE_NULL ? std::nan("") : sqlite3_column_double(s, column);
}

StoredPoint readPoint(sqlite3_stmt* s)
{
    StoredPoint sp;
    MeasurePoint& p = sp.point;
    p.timeMs = sqlite3_column_int64(s, 0);
    sp.runId = sqlite3_column_int64(s, 1);
    p.valid = static_cast<uint8_t>(sqlite3_column_int(s, 2));
    p.power = real(s, 3);
    p.flow = real(s, 4);
    p.te = real(s, 5);
    p.td = real(s, 6);
    p.ecValid = static_cast<uint8_t>(sqlite3_column_int(s, 7));
    p.ecPower = real(s, 8);
    p.ecCurrent = real(s, 9);
    p.ecVoltage = real(s, 10);
    p.heaterState = sqlite3_column_int(s, 11);
    p.heaterValue = sqlite3_column_int(s, 12);
    p.thermalization = sqlite3_column_int(s, 13);
    sp.shutterState = sqlite3_column_int(s, 14);
    sp.alarms = static_cast<uint32_t>(sqlite3_column_int64(s, 15));
    return sp;
}

bool isOurs(SqliteConnection& db, std::string& why)
{
    const int64_t id = db.integer("PRAGMA application_id", -1);
    const int64_t version = db.integer("PRAGMA user_version", -1);
    if (id == HistoryStore::kApplicationId && version >= 1 && version <= HistoryStore::kSchemaVersion)
        return true;
    if (id == HistoryStore::kApplicationId && version > HistoryStore::kSchemaVersion)
        why = strings::fill(S(strings::kHistoryNewer), {std::to_string(version)});
    else
        why = S(strings::kHistoryForeign);
    return false;
}
} // namespace

SqliteConnection::~SqliteConnection() { close(); }

bool SqliteConnection::open(const std::string& path, int flags, std::string& error)
{
    close();
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        error = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    return true;
}

void SqliteConnection::close()
{
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool SqliteConnection::exec(const char* sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = message ? message : sqlite3_errmsg(m_db);
    sqlite3_free(message);
    return false;
}

int64_t SqliteConnection::integer(const char* sql, int64_t fallback)
{
    Statement s(m_db, sql);
    if (s && sqlite3_step(s.get()) == SQLITE_ROW && sqlite3_column_type(s.get(), 0) != SQLITE_NULL)
        return sqlite3_column_int64(s.get(), 0);
    return fallback;
}

HistoryStore::HistoryStore(std::string path, Clock wallClock)
    : m_path(std::move(path)), m_clock(wallClock ? std::move(wallClock) : Clock(systemMs))
{
}

HistoryStore::~HistoryStore() { close(); }

int64_t HistoryStore::now() const { return m_clock(); }

std::string HistoryStore::asideName(const std::string& path, int64_t ms)
{
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return path + "." + stamp + ".unusable";
}

bool HistoryStore::open(int retentionDays, bool maintenance)
{
    close();
    m_retentionDays = retentionDays;
    m_stopped = false;
    // The lock says who writes: SQLite's own locks would let a second
    // program write between our transactions.
    const std::string lockPath = m_path + ".lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        note(strings::fill(S(strings::kHistoryUnavailable), {m_path, strings::osErrorText(errno)}));
        return false;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        note(strings::fill(S(strings::kHistoryInUse), {m_path}));
        return false;
    }
    if (!useOrMoveAside()) {
        close();
        return false;
    }
    // A retention batch holds the file a few milliseconds: worth waiting for
    // rather than keeping the point in memory, where a crash would take it.
    sqlite3_busy_timeout(m_db.get(), kBusyWaitMs);
    Statement next(m_db.get(), "SELECT coalesce(max(id), 0) + 1 FROM runs");
    if (next && sqlite3_step(next.get()) == SQLITE_ROW)
        m_nextRunId = sqlite3_column_int64(next.get(), 0);
    const std::string insert = std::string("INSERT INTO points(") + kPointColumns +
                               ") VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
    if (sqlite3_prepare_v2(m_db.get(), insert.c_str(), -1, &m_insertPoint, nullptr) != SQLITE_OK) {
        note(strings::fill(S(strings::kHistoryUnavailable), {m_path, sqlite3_errmsg(m_db.get())}));
        close();
        return false;
    }
    BV_LOG_INFO(logger(), kTag, "History " << m_path << " open, next run " << m_nextRunId);
    if (maintenance) {
        m_quit = false;
        m_thread = std::thread([this] { maintenanceLoop(); });
    }
    return true;
}

// Opens the file as it is, or moves it aside and makes a new one, once.
bool HistoryStore::useOrMoveAside()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string error;
        if (!m_db.open(m_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, error)) {
            if (attempt == 0 && ::access(m_path.c_str(), F_OK) == 0 && moveAside(S(strings::kHistoryNotSqlite)))
                continue;
            note(strings::fill(S(strings::kHistoryUnavailable), {m_path, error}));
            return false;
        }
        std::string why;
        const int64_t tables = m_db.integer("SELECT count(*) FROM sqlite_master", -1);
        if (tables < 0) {
            const int rc = sqlite3_errcode(m_db.get());
            why = (rc & 0xff) == SQLITE_NOTADB ? S(strings::kHistoryNotSqlite) : S(strings::kHistoryDamaged);
        } else if (sqlite3_db_readonly(m_db.get(), "main") == 1) {
            why = S(strings::kHistoryReadOnly);
        } else if (tables > 0 && !isOurs(m_db, why)) {
            // why says whose it is
        } else if (tables > 0) {
            // Reads every page once: a truncated file shows here, not in a week.
            Statement check(m_db.get(), "PRAGMA quick_check(1)");
            if (!check || sqlite3_step(check.get()) != SQLITE_ROW ||
                std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0)), "ok") != 0)
                why = S(strings::kHistoryDamaged);
        }
        if (why.empty()) {
            std::string e;
            // WAL: readers never block the writer nor see half a point.
            bool wal = false;
            {
                Statement mode(m_db.get(), "PRAGMA journal_mode=WAL");
                wal = mode && sqlite3_step(mode.get()) == SQLITE_ROW &&
                      std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0)), "wal") == 0;
            }
            if (!wal || !m_db.exec("PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=0", e) ||
                (tables == 0 && !makeSchema())) {
                const int rc = sqlite3_errcode(m_db.get()) & 0xff;
                why = rc == SQLITE_READONLY ? S(strings::kHistoryReadOnly)
                      : rc == SQLITE_FULL   ? S(strings::kHistoryDiskFull)
                                            : S(strings::kHistoryDamaged);
                if (rc == SQLITE_FULL || rc == SQLITE_IOERR || rc == SQLITE_CANTOPEN) {
                    note(strings::fill(S(strings::kHistoryUnavailable), {m_path, why}));
                    return false;
                }
            } else {
                return true;
            }
        }
        if (attempt == 1 || !moveAside(why))
            return false;
    }
    return false;
}

bool HistoryStore::makeSchema()
{
    std::string error;
    const std::string sql = std::string("BEGIN;") + kSchema + "PRAGMA application_id=" +
                            std::to_string(kApplicationId) + "; PRAGMA user_version=" +
                            std::to_string(kSchemaVersion) + "; COMMIT;";
    if (m_db.exec(sql.c_str(), error))
        return true;
    BV_LOG_ERROR(logger(), kTag, "History schema " << error);
    m_db.exec("ROLLBACK", error);
    return false;
}

bool HistoryStore::moveAside(const std::string& why)
{
    m_db.close();
    const std::string aside = asideName(m_path, now());
    if (::rename(m_path.c_str(), aside.c_str()) != 0) {
        note(strings::fill(S(strings::kHistoryUnavailable), {m_path, why + ", " + strings::osErrorText(errno)}));
        return false;
    }
    // A journal left beside it belongs to it, not to the new file.
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string from = m_path + suffix;
        if (::access(from.c_str(), F_OK) == 0 && ::rename(from.c_str(), (aside + suffix).c_str()) != 0)
            ::unlink(from.c_str());
    }
    note(strings::fill(S(strings::kHistoryMovedAside), {m_path, why, aside}));
    return true;
}

void HistoryStore::close()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    if (m_db.get()) {
        flush();
        sqlite3_finalize(m_insertPoint);
        m_insertPoint = nullptr;
        std::string error;
        // Folds the journal in, so the file alone is the history.
        m_db.exec("PRAGMA wal_checkpoint(TRUNCATE)", error);
        m_db.close();
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
    m_pending.clear();
}

int64_t HistoryStore::beginRun(HistoryRun run)
{
    if (!writing())
        return 0;
    run.id = m_nextRunId++;
    queue(std::move(run));
    return m_nextRunId - 1;
}

void HistoryStore::endRun(int64_t runId, int64_t stoppedMs)
{
    if (writing() && runId > 0)
        queue(EndRow{runId, stoppedMs});
}

void HistoryStore::addPoint(const StoredPoint& point)
{
    if (writing())
        queue(point);
}

void HistoryStore::addCalibration(int64_t runId, const CalibrationResult& r)
{
    if (writing())
        queue(CalibrationRow{runId, r.startMs, r.endMs, r.calorimeterPower, r.ecPower, r.voltage, r.current,
                             r.ecPoints, r.deviationPercent, r.limitPercent, r.passed});
}

void HistoryStore::queue(Row row)
{
    if (m_pending.size() >= kPendingLimit) {
        // Only a file busy for a day gets here; the oldest wait longest.
        m_pending.erase(m_pending.begin());
        if (!m_toldOverflow)
            BV_LOG_ERROR(logger(), kTag, "History: points waiting beyond " << kPendingLimit << ", oldest dropped");
        m_toldOverflow = true;
    }
    m_pending.push_back(std::move(row));
    flush();
}

// Everything waiting in one transaction; a busy file keeps it for next time.
void HistoryStore::flush()
{
    if (m_pending.empty() || m_stopped || !m_db.get())
        return;
    const int begin = sqlite3_exec(m_db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if ((begin & 0xff) == SQLITE_BUSY || (begin & 0xff) == SQLITE_LOCKED) {
        if (!m_toldBusy)
            BV_LOG_INFO(logger(), kTag, "History busy, " << m_pending.size() << " rows wait");
        m_toldBusy = true;
        return;
    }
    if (begin != SQLITE_OK) {
        stopWriting(sqlite3_errmsg(m_db.get()));
        return;
    }
    for (const Row& row : m_pending) {
        if (!write(row)) {
            const int rc = sqlite3_extended_errcode(m_db.get());
            const std::string text = (rc & 0xff) == SQLITE_FULL ? S(strings::kHistoryDiskFull) : sqlite3_errmsg(m_db.get());
            sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            stopWriting(text);
            return;
        }
    }
    const int commit = sqlite3_exec(m_db.get(), "COMMIT", nullptr, nullptr, nullptr);
    if ((commit & 0xff) == SQLITE_BUSY) {
        sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        return;  // the rows wait for the next point
    }
    if (commit != SQLITE_OK) {
        const std::string text = (commit & 0xff) == SQLITE_FULL ? S(strings::kHistoryDiskFull) : sqlite3_errmsg(m_db.get());
        sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        stopWriting(text);
        return;
    }
    m_pending.clear();
    m_toldBusy = false;
}

bool HistoryStore::write(const Row& row)
{
    sqlite3* db = m_db.get();
    if (const auto* p = std::get_if<StoredPoint>(&row)) {
        bindPoint(m_insertPoint, *p);
        return sqlite3_step(m_insertPoint) == SQLITE_DONE;
    }
    if (const auto* r = std::get_if<HistoryRun>(&row)) {
        Statement s(db, "INSERT INTO runs(id, started_ms, mode, model, address, interval_ms, zero_offset, average_s) "
                        "VALUES(?,?,?,?,?,?,?,?)");
        if (!s)
            return false;
        sqlite3_bind_int64(s.get(), 1, r->id);
        sqlite3_bind_int64(s.get(), 2, r->startedMs);
        sqlite3_bind_int(s.get(), 3, r->mode);
        sqlite3_bind_text(s.get(), 4, r->model.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(s.get(), 5, r->address);
        sqlite3_bind_int(s.get(), 6, r->intervalMs);
        sqlite3_bind_double(s.get(), 7, r->zeroOffset);
        sqlite3_bind_int(s.get(), 8, r->averageSeconds);
        return sqlite3_step(s.get()) == SQLITE_DONE;
    }
    if (const auto* e = std::get_if<EndRow>(&row)) {
        Statement s(db, "UPDATE runs SET stopped_ms = ? WHERE id = ?");
        if (!s)
            return false;
        sqlite3_bind_int64(s.get(), 1, e->stoppedMs);
        sqlite3_bind_int64(s.get(), 2, e->runId);
        return sqlite3_step(s.get()) == SQLITE_DONE;
    }
    const auto& c = std::get<CalibrationRow>(row);
    Statement s(db, "INSERT INTO calibrations(run_id, start_ms, end_ms, calorimeter_power, ec_power, voltage, current, "
                    "ec_points, deviation_percent, limit_percent, passed) VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    if (!s)
        return false;
    if (c.runId > 0)
        sqlite3_bind_int64(s.get(), 1, c.runId);
    sqlite3_bind_int64(s.get(), 2, c.startMs);
    sqlite3_bind_int64(s.get(), 3, c.endMs);
    sqlite3_bind_double(s.get(), 4, c.calorimeterPower);
    sqlite3_bind_double(s.get(), 5, c.ecPower);
    sqlite3_bind_double(s.get(), 6, c.voltage);
    sqlite3_bind_double(s.get(), 7, c.current);
    sqlite3_bind_int64(s.get(), 8, c.ecPoints);
    sqlite3_bind_double(s.get(), 9, c.deviationPercent);
    sqlite3_bind_double(s.get(), 10, c.limitPercent);
    sqlite3_bind_int(s.get(), 11, c.passed ? 1 : 0);
    return sqlite3_step(s.get()) == SQLITE_DONE;
}

void HistoryStore::stopWriting(const std::string& why)
{
    BV_LOG_ERROR(logger(), kTag, "History " << m_path << ": " << why << "; " << m_pending.size()
                                            << " rows not written, history writes stopped");
    m_stopped = true;
    m_pending.clear();
    note(strings::fill(S(strings::kHistoryStopped), {why}));
}

void HistoryStore::note(const std::string& text)
{
    BV_LOG_INFO(logger(), kTag, text);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notes.push_back(text);
}

void HistoryStore::poll()
{
    std::vector<std::string> notes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        notes.swap(m_notes);
    }
    for (const std::string& text : notes)
        if (m_onNote)
            m_onNote(text);
}

long HistoryStore::maintain()
{
    // A connection of its own: the heartbeat's is never used off its thread.
    SqliteConnection db;
    std::string error;
    if (!db.open(m_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, error))
        return 0;
    sqlite3_busy_timeout(db.get(), 200);
    db.exec("PRAGMA wal_checkpoint(PASSIVE)", error);
    long deleted = 0;
    if (m_retentionDays <= 0)
        return 0;
    const int64_t before = now() - static_cast<int64_t>(m_retentionDays) * 86400000;
    // Looked for first: a DELETE that finds nothing still takes the write lock.
    const std::string expired = "SELECT count(*) FROM (SELECT 1 FROM points WHERE time_ms < " + std::to_string(before) +
                                " LIMIT 1)";
    if (db.integer(expired.c_str()) == 0)
        return 0;
    const std::string batch = "DELETE FROM points WHERE rowid IN (SELECT rowid FROM points WHERE time_ms < " +
                              std::to_string(before) + " ORDER BY time_ms LIMIT " + std::to_string(kDeleteBatch) + ")";
    while (!m_quit) {
        if (!db.exec(batch.c_str(), error))
            break;
        const int n = sqlite3_changes(db.get());
        deleted += n;
        if (n < kDeleteBatch)
            break;
        // Gives the heartbeat's writes the file between batches.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (deleted == 0)
        return 0;
    // A run's points are all older than its stop; a run a crash left open
    // keeps its row (it is small, and its points may not all have gone).
    const std::string rest = "DELETE FROM calibrations WHERE end_ms < " + std::to_string(before) +
                             "; DELETE FROM runs WHERE stopped_ms < " + std::to_string(before) +
                             " AND id NOT IN (SELECT run_id FROM calibrations WHERE run_id IS NOT NULL)";
    db.exec(rest.c_str(), error);
    BV_LOG_INFO(logger(), kTag, "History: " << deleted << " points older than " << m_retentionDays << " days deleted");
    db.exec("PRAGMA wal_checkpoint(PASSIVE)", error);
    return deleted;
}

void HistoryStore::maintenanceLoop()
{
    constexpr auto kEvery = std::chrono::seconds(10);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        lock.unlock();
        maintain();
        lock.lock();
        m_wake.wait_for(lock, kEvery, [this] { return m_quit.load(); });
    }
}

bool readHistory(const std::string& path, const HistoryQuery& query,
                 const std::function<void(const StoredPoint&)>& onPoint, std::string& error)
{
    if (::access(path.c_str(), F_OK) != 0) {
        error = "no history at " + path + ": " + std::strerror(errno);
        return false;
    }
    SqliteConnection db;
    if (!db.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, error))
        return false;
    sqlite3_busy_timeout(db.get(), 2000);
    std::string why;
    if (db.integer("SELECT count(*) FROM sqlite_master", -1) < 0) {
        error = path + ": " + sqlite3_errmsg(db.get());
        return false;
    }
    if (!isOurs(db, why)) {
        error = path + ": " + why;
        return false;
    }
    const std::string sql = std::string("SELECT ") + kPointColumns +
                            " FROM points WHERE time_ms >= ? AND time_ms <= ? ORDER BY time_ms, rowid";
    Statement s(db.get(), sql.c_str());
    if (!s) {
        error = path + ": " + sqlite3_errmsg(db.get());
        return false;
    }
    sqlite3_bind_int64(s.get(), 1, query.fromMs);
    sqlite3_bind_int64(s.get(), 2, query.toMs);
    // On a grid of thinMs from the first point: a point the meter's own
    // timing brought a little early still counts for its slot.
    int64_t next = 0;
    bool kept = false;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        if (query.thinMs > 0) {
            const int64_t t = sqlite3_column_int64(s.get(), 0);
            if (kept && t < next - query.thinMs / 4)
                continue;
            next = kept && t - next < query.thinMs ? next + query.thinMs : t + query.thinMs;
            kept = true;
        }
        onPoint(readPoint(s.get()));
    }
    if (rc != SQLITE_DONE) {
        error = path + ": " + sqlite3_errmsg(db.get());
        return false;
    }
    return true;
}

} // namespace bv
