#include "store/history_store.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace palvoro {

namespace {

// The schema, one entry per version: entry i takes a file from user_version i to i + 1.
// A new version is one more entry at the end; a file is never changed by an older program.
constexpr const char* kMigrations[] = {
    // Version 1.
    "CREATE TABLE drives (id INTEGER PRIMARY KEY, model TEXT NOT NULL, serial TEXT NOT NULL, wwn TEXT NOT NULL,"
    " bus TEXT NOT NULL, first_seen TEXT NOT NULL, last_seen TEXT NOT NULL, UNIQUE (model, serial));"
    "CREATE TABLE runs (id INTEGER PRIMARY KEY, drive_id INTEGER NOT NULL REFERENCES drives(id),"
    " started TEXT NOT NULL, ended TEXT NOT NULL, kind TEXT NOT NULL, outcome TEXT NOT NULL,"
    " error_code INTEGER NOT NULL, error_message TEXT NOT NULL, bad_sectors INTEGER NOT NULL,"
    " erase_method TEXT NOT NULL, verification TEXT NOT NULL, latency_p50_ms REAL, latency_p99_ms REAL,"
    " latency_max_ms REAL, host TEXT NOT NULL);"
    "CREATE INDEX runs_by_drive ON runs (drive_id, started);"
    "CREATE TABLE smart_snapshots (id INTEGER PRIMARY KEY, drive_id INTEGER NOT NULL REFERENCES drives(id),"
    " taken TEXT NOT NULL, run_id INTEGER REFERENCES runs(id));"
    "CREATE INDEX snapshots_by_drive ON smart_snapshots (drive_id, taken);"
    "CREATE TABLE smart_attributes (snapshot_id INTEGER NOT NULL REFERENCES smart_snapshots(id),"
    " attr_id INTEGER NOT NULL, name TEXT NOT NULL, current INTEGER NOT NULL, worst INTEGER NOT NULL,"
    " threshold INTEGER NOT NULL, raw INTEGER NOT NULL, PRIMARY KEY (snapshot_id, attr_id));"
    "CREATE TABLE nvme_health (snapshot_id INTEGER PRIMARY KEY REFERENCES smart_snapshots(id),"
    " percentage_used INTEGER NOT NULL, available_spare INTEGER NOT NULL, media_errors INTEGER NOT NULL,"
    " temperature_c INTEGER NOT NULL, power_on_hours INTEGER NOT NULL, unsafe_shutdowns INTEGER NOT NULL);",
    // Version 2: the scan's whole histogram, the drive's verdict and a summary of its logs.
    "ALTER TABLE runs ADD COLUMN latency_histogram TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE smart_snapshots ADD COLUMN health TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE smart_snapshots ADD COLUMN error_count INTEGER;"
    "CREATE TABLE self_tests (snapshot_id INTEGER PRIMARY KEY REFERENCES smart_snapshots(id),"
    " power_on_hours INTEGER NOT NULL, kind TEXT NOT NULL, result TEXT NOT NULL, failed INTEGER NOT NULL);",
    // Version 3: the time of the scan's readable blocks together, the sum a Prometheus
    // histogram carries beside its buckets.
    "ALTER TABLE runs ADD COLUMN latency_sum_ms REAL;",
    // Version 4: when a scheduled check last started a drive's self-test, so that it starts
    // the next one only when that is old enough, whatever the drive's clock says.
    "CREATE TABLE self_test_starts (drive_id INTEGER PRIMARY KEY REFERENCES drives(id), started TEXT NOT NULL);",
};
constexpr int kSchemaVersion = static_cast<int>(std::size(kMigrations));

// Writers from other processes wait this long for their turn before a write fails.
constexpr int kBusyTimeoutMs = 5000;

struct DbClose {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbClose>;

// A prepared statement, bound by position from 1, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return m_rc == SQLITE_OK; }
  Statement& bind(const std::string& text) {
    sqlite3_bind_text(m_stmt, ++m_index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bind(int64_t value) {
    sqlite3_bind_int64(m_stmt, ++m_index, value);
    return *this;
  }
  Statement& bind(const std::optional<double>& value) {
    ++m_index;
    if (value) sqlite3_bind_double(m_stmt, m_index, *value);
    else sqlite3_bind_null(m_stmt, m_index);
    return *this;
  }
  Statement& bind(const std::optional<int64_t>& value) {
    ++m_index;
    if (value) sqlite3_bind_int64(m_stmt, m_index, *value);
    else sqlite3_bind_null(m_stmt, m_index);
    return *this;
  }
  // Ready to run again with new values, bound from 1 anew.
  Statement& reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    m_index = 0;
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int step() { return m_stmt == nullptr ? m_rc : sqlite3_step(m_stmt); }
  bool done() { return ok() && step() == SQLITE_DONE; }

  std::string text(int column) const {
    const unsigned char* value = sqlite3_column_text(m_stmt, column);
    return value == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(value));
  }
  int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
  std::optional<double> real(int column) const {
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(m_stmt, column);
  }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  int m_rc = SQLITE_ERROR;
  int m_index = 0;
};

// A write transaction: BEGIN IMMEDIATE takes the write lock at once, so that two writers
// wait on the busy timeout instead of one of them failing on a lock upgrade. Rolled back
// unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : m_db(db) {
    m_begun = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~Transaction() {
    if (m_begun && !m_committed) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool begun() const { return m_begun; }
  [[nodiscard]] bool commit() {
    m_committed = m_begun && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    return m_committed;
  }

 private:
  sqlite3* m_db;
  bool m_begun = false;
  bool m_committed = false;
};

std::string timeText(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char buffer[32];
  const size_t n = std::strftime(buffer, sizeof buffer, format, &utc);
  return std::string(buffer, n);
}

// What the first look at a file found.
enum class FileState { Usable, Damaged, Newer, Unopened };

// Opens the file and checks that it is a sound database this program can read.
FileState openChecked(const std::string& path, Db& db) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                 nullptr);
  db.reset(raw);
  if (rc != SQLITE_OK) return FileState::Unopened;
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  // A file of garbage opens; its first read says it is no database.
  Statement version(raw, "PRAGMA user_version");
  if (!version.ok() || version.step() != SQLITE_ROW) {
    const int code = sqlite3_errcode(raw) & 0xff;
    return code == SQLITE_NOTADB || code == SQLITE_CORRUPT ? FileState::Damaged : FileState::Unopened;
  }
  if (version.integer(0) > kSchemaVersion) return FileState::Newer;
  Statement check(raw, "PRAGMA quick_check");
  if (!check.ok() || check.step() != SQLITE_ROW || check.text(0) != "ok") return FileState::Damaged;
  return FileState::Usable;
}

// Moves the file and its WAL companions out of the way; the new name, or "" when it could
// not be moved.
std::string setAside(const std::string& path, const char* why) {
  const std::string aside = path + "." + why + "-" + timeText("%Y%m%dT%H%M%SZ");
  if (std::rename(path.c_str(), aside.c_str()) != 0) return {};
  for (const char* companion : {"-wal", "-shm"}) {
    const std::string from = path + companion;
    if (access(from.c_str(), F_OK) == 0) (void)std::rename(from.c_str(), (aside + companion).c_str());
  }
  return aside;
}

// Brings the tables up to date, under the write lock so that two programs opening a new
// file at once do not both make them.
// Switches the file to WAL. The switch takes the file alone, and SQLite answers a busy
// file at once here rather than through the busy timeout: two programs opening a new
// file together would have one of them give up. It waits its turn as a write does.
bool walMode(sqlite3* db) {
  constexpr int kStepMs = 10;
  for (int waited = 0;; waited += kStepMs) {
    const int rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return true;
    if ((rc & 0xff) != SQLITE_BUSY || waited >= kBusyTimeoutMs) return false;
    sqlite3_sleep(kStepMs);
  }
}

bool migrate(sqlite3* db) {
  if (!walMode(db) || sqlite3_exec(db, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return false;
  }
  Transaction transaction(db);
  if (!transaction.begun()) return false;
  int from = 0;
  {
    // Read again under the lock: another program may have brought the file up meanwhile.
    Statement version(db, "PRAGMA user_version");
    if (!version.ok() || version.step() != SQLITE_ROW) return false;
    from = static_cast<int>(version.integer(0));
  }
  for (int v = from; v < kSchemaVersion; ++v) {
    if (sqlite3_exec(db, kMigrations[v], nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  }
  const std::string setVersion = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
  if (sqlite3_exec(db, setVersion.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  return transaction.commit();
}

constexpr const char* kRunColumns =
    "id, drive_id, started, ended, kind, outcome, error_code, error_message, bad_sectors, erase_method,"
    " verification, latency_p50_ms, latency_p99_ms, latency_max_ms, host, latency_histogram,"
    " latency_sum_ms";

std::string countsText(const std::vector<uint64_t>& counts) {
  std::string text;
  for (const uint64_t n : counts) {
    if (!text.empty()) text += ',';
    text += std::to_string(n);
  }
  return text;
}

// Counts as countsText wrote them; a damaged list reads as none rather than as wrong counts.
std::vector<uint64_t> countsOf(const std::string& text) {
  std::vector<uint64_t> counts;
  size_t at = 0;
  while (at < text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string field = text.substr(at, comma - at);
    if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos || field.size() > 19) return {};
    counts.push_back(std::stoull(field));
    at = comma + 1;
  }
  return counts;
}

StoredRun runOf(const Statement& row) {
  StoredRun run;
  run.id = row.integer(0);
  run.driveId = row.integer(1);
  run.started = row.text(2);
  run.ended = row.text(3);
  run.kind = row.text(4);
  run.outcome = row.text(5);
  run.errorCode = static_cast<int32_t>(row.integer(6));
  run.errorMessage = row.text(7);
  run.badSectors = static_cast<uint64_t>(row.integer(8));
  run.eraseMethod = row.text(9);
  run.verification = row.text(10);
  run.latencyP50Ms = row.real(11);
  run.latencyP99Ms = row.real(12);
  run.latencyMaxMs = row.real(13);
  run.host = row.text(14);
  run.latencyHistogram = countsOf(row.text(15));
  run.latencySumMs = row.real(16);
  return run;
}

}  // namespace

std::string utcTimeText() { return timeText("%Y-%m-%dT%H:%M:%SZ"); }

std::optional<int64_t> epochSecondsOf(const std::string& utcTime) {
  std::tm utc{};
  char zone = 0;
  if (std::sscanf(utcTime.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
                  &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &zone) != 7 ||
      zone != 'Z') {
    return std::nullopt;
  }
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  return static_cast<int64_t>(timegm(&utc));
}

StoreOpen HistoryStore::open(const std::string& folder) {
  StoreOpen result;
  if (folder.empty()) {
    result.error = StoreError::FolderUnusable;
    result.message = "no folder for the history";
    return result;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || access(folder.c_str(), W_OK | X_OK) != 0) {
    result.error = StoreError::FolderUnusable;
    result.message = "The history folder " + folder + " cannot be made or written; the run is not kept in the history.";
    return result;
  }
  const std::string path = (std::filesystem::path(folder) / kFileName).string();
  Db db;
  FileState state = openChecked(path, db);
  if (state == FileState::Damaged || state == FileState::Newer) {
    db.reset();
    const std::string aside = setAside(path, state == FileState::Damaged ? "corrupt" : "newer");
    result.message = aside.empty() ? "The history file " + path + " cannot be read and cannot be moved aside."
                     : state == FileState::Damaged
                         ? "The history file " + path + " was damaged; it was kept as " + aside + " and a new one started."
                         : "The history file " + path + " was written by a newer PALVORO; it was kept as " + aside +
                               " and a new one started.";
    state = aside.empty() ? FileState::Unopened : openChecked(path, db);
  }
  if (state != FileState::Usable) {
    result.error = StoreError::OpenFailed;
    if (result.message.empty()) result.message = "The history file " + path + " cannot be opened.";
    return result;
  }
  if (!migrate(db.get())) {
    result.error = StoreError::SchemaFailed;
    result.message = "The history file " + path + " cannot be set up: " + sqlite3_errmsg(db.get());
    return result;
  }
  result.store.reset(new HistoryStore(db.release()));
  return result;
}

HistoryStore::~HistoryStore() { sqlite3_close_v2(m_db); }

std::string HistoryStore::lastError() {
  std::lock_guard lock(m_mutex);
  return sqlite3_errmsg(m_db);
}

std::optional<int64_t> HistoryStore::driveKey(const std::string& model, const std::string& serial,
                                              const std::string& wwn, const std::string& bus) {
  std::lock_guard lock(m_mutex);
  Transaction transaction(m_db);
  const std::string now = utcTimeText();
  // An empty world wide name or bus never overwrites a known one: not every path reads it.
  Statement upsert(m_db,
                   "INSERT INTO drives (model, serial, wwn, bus, first_seen, last_seen) VALUES (?, ?, ?, ?, ?, ?)"
                   " ON CONFLICT (model, serial) DO UPDATE SET last_seen = excluded.last_seen,"
                   " wwn = CASE excluded.wwn WHEN '' THEN wwn ELSE excluded.wwn END,"
                   " bus = CASE excluded.bus WHEN '' THEN bus ELSE excluded.bus END");
  upsert.bind(model).bind(serial).bind(wwn).bind(bus).bind(now).bind(now);
  if (!transaction.begun() || !upsert.done()) return std::nullopt;
  int64_t driveId = 0;
  {
    Statement id(m_db, "SELECT id FROM drives WHERE model = ? AND serial = ?");
    id.bind(model).bind(serial);
    if (!id.ok() || id.step() != SQLITE_ROW) return std::nullopt;
    driveId = id.integer(0);
  }
  if (!transaction.commit()) return std::nullopt;
  return driveId;
}

std::optional<int64_t> HistoryStore::recordRun(const StoredRun& run) {
  std::lock_guard lock(m_mutex);
  Transaction transaction(m_db);
  Statement insert(m_db,
                   "INSERT INTO runs (drive_id, started, ended, kind, outcome, error_code, error_message, bad_sectors,"
                   " erase_method, verification, latency_p50_ms, latency_p99_ms, latency_max_ms, host,"
                   " latency_histogram, latency_sum_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.bind(run.driveId).bind(run.started).bind(run.ended).bind(run.kind).bind(run.outcome);
  insert.bind(int64_t{run.errorCode}).bind(run.errorMessage).bind(static_cast<int64_t>(run.badSectors));
  insert.bind(run.eraseMethod).bind(run.verification).bind(run.latencyP50Ms).bind(run.latencyP99Ms);
  insert.bind(run.latencyMaxMs).bind(run.host).bind(countsText(run.latencyHistogram)).bind(run.latencySumMs);
  if (!transaction.begun() || !insert.done()) return std::nullopt;
  const int64_t id = sqlite3_last_insert_rowid(m_db);
  if (!transaction.commit()) return std::nullopt;
  return id;
}

std::optional<int64_t> HistoryStore::recordSnapshot(const StoredSnapshot& snapshot) {
  std::lock_guard lock(m_mutex);
  Transaction transaction(m_db);
  Statement insert(m_db,
                   "INSERT INTO smart_snapshots (drive_id, taken, run_id, health, error_count) VALUES (?, ?, ?, ?, ?)");
  insert.bind(snapshot.driveId).bind(snapshot.taken).bind(snapshot.runId).bind(snapshot.health);
  insert.bind(snapshot.errorCount ? std::optional<int64_t>(static_cast<int64_t>(*snapshot.errorCount)) : std::nullopt);
  if (!transaction.begun() || !insert.done()) return std::nullopt;
  const int64_t id = sqlite3_last_insert_rowid(m_db);
  for (const StoredAttribute& a : snapshot.attributes) {
    Statement attribute(m_db,
                        "INSERT INTO smart_attributes (snapshot_id, attr_id, name, current, worst, threshold, raw)"
                        " VALUES (?, ?, ?, ?, ?, ?, ?)");
    attribute.bind(id).bind(int64_t{a.attrId}).bind(a.name).bind(int64_t{a.current}).bind(int64_t{a.worst});
    attribute.bind(int64_t{a.threshold}).bind(static_cast<int64_t>(a.raw));
    if (!attribute.done()) return std::nullopt;
  }
  if (snapshot.nvme) {
    const StoredNvmeHealth& h = *snapshot.nvme;
    Statement health(m_db,
                     "INSERT INTO nvme_health (snapshot_id, percentage_used, available_spare, media_errors,"
                     " temperature_c, power_on_hours, unsafe_shutdowns) VALUES (?, ?, ?, ?, ?, ?, ?)");
    health.bind(id).bind(int64_t{h.percentageUsed}).bind(int64_t{h.availableSpare});
    health.bind(static_cast<int64_t>(h.mediaErrors)).bind(int64_t{h.temperatureC});
    health.bind(static_cast<int64_t>(h.powerOnHours)).bind(static_cast<int64_t>(h.unsafeShutdowns));
    if (!health.done()) return std::nullopt;
  }
  if (snapshot.lastSelfTest) {
    const StoredSelfTest& t = *snapshot.lastSelfTest;
    Statement test(m_db,
                   "INSERT INTO self_tests (snapshot_id, power_on_hours, kind, result, failed) VALUES (?, ?, ?, ?, ?)");
    test.bind(id).bind(static_cast<int64_t>(t.powerOnHours)).bind(t.kind).bind(t.result).bind(int64_t{t.failed});
    if (!test.done()) return std::nullopt;
  }
  if (!transaction.commit()) return std::nullopt;
  return id;
}

bool HistoryStore::recordSelfTestStart(int64_t driveId, const std::string& when) {
  std::lock_guard lock(m_mutex);
  Transaction transaction(m_db);
  Statement upsert(m_db,
                   "INSERT INTO self_test_starts (drive_id, started) VALUES (?, ?)"
                   " ON CONFLICT (drive_id) DO UPDATE SET started = excluded.started");
  upsert.bind(driveId).bind(when);
  return transaction.begun() && upsert.done() && transaction.commit();
}

std::optional<std::string> HistoryStore::lastSelfTestStart(int64_t driveId) {
  std::lock_guard lock(m_mutex);
  Statement select(m_db, "SELECT started FROM self_test_starts WHERE drive_id = ?");
  select.bind(driveId);
  if (!select.ok() || select.step() != SQLITE_ROW) return std::nullopt;
  return select.text(0);
}

std::vector<StoredRun> HistoryStore::runsOf(int64_t driveId) {
  std::lock_guard lock(m_mutex);
  std::vector<StoredRun> runs;
  Statement select(m_db, (std::string("SELECT ") + kRunColumns +
                          " FROM runs WHERE drive_id = ? ORDER BY started, id").c_str());
  select.bind(driveId);
  while (select.ok() && select.step() == SQLITE_ROW) runs.push_back(runOf(select));
  return runs;
}

std::vector<StoredDrive> HistoryStore::drives() {
  std::vector<StoredDrive> drives;
  {
    std::lock_guard lock(m_mutex);
    Statement select(m_db,
                     "SELECT id, model, serial, wwn, bus, first_seen, last_seen,"
                     " (SELECT COUNT(*) FROM runs WHERE drive_id = drives.id) FROM drives ORDER BY id");
    while (select.ok() && select.step() == SQLITE_ROW) {
      drives.push_back({select.integer(0), select.text(1), select.text(2), select.text(3), select.text(4),
                        select.text(5), select.text(6), select.integer(7), std::nullopt});
    }
  }
  for (StoredDrive& drive : drives) {
    std::lock_guard lock(m_mutex);
    Statement last(m_db, (std::string("SELECT ") + kRunColumns +
                          " FROM runs WHERE drive_id = ? ORDER BY started DESC, id DESC LIMIT 1").c_str());
    last.bind(drive.id);
    if (last.ok() && last.step() == SQLITE_ROW) drive.lastRun = runOf(last);
  }
  return drives;
}

std::optional<StoredDrive> HistoryStore::findDrive(const std::string& model, const std::string& serial) {
  std::lock_guard lock(m_mutex);
  std::optional<StoredDrive> drive;
  {
    Statement select(m_db,
                     "SELECT id, model, serial, wwn, bus, first_seen, last_seen,"
                     " (SELECT COUNT(*) FROM runs WHERE drive_id = drives.id) FROM drives"
                     " WHERE model = ? AND serial = ?");
    select.bind(model).bind(serial);
    if (!select.ok() || select.step() != SQLITE_ROW) return std::nullopt;
    drive = StoredDrive{select.integer(0), select.text(1), select.text(2), select.text(3), select.text(4),
                        select.text(5), select.text(6), select.integer(7), std::nullopt};
  }
  Statement last(m_db, (std::string("SELECT ") + kRunColumns +
                        " FROM runs WHERE drive_id = ? ORDER BY started DESC, id DESC LIMIT 1").c_str());
  last.bind(drive->id);
  if (last.ok() && last.step() == SQLITE_ROW) drive->lastRun = runOf(last);
  return drive;
}

std::vector<StoredSnapshot> HistoryStore::snapshotsOf(int64_t driveId) { return readSnapshots(driveId, false); }

std::optional<StoredSnapshot> HistoryStore::latestSnapshotOf(int64_t driveId) {
  std::vector<StoredSnapshot> newest = readSnapshots(driveId, true);
  if (newest.empty()) return std::nullopt;
  return std::move(newest.front());
}

std::vector<StoredSnapshot> HistoryStore::readSnapshots(int64_t driveId, bool newestOnly) {
  std::lock_guard lock(m_mutex);
  std::vector<StoredSnapshot> snapshots;
  Statement select(m_db, newestOnly ? "SELECT id, taken, run_id, health, error_count FROM smart_snapshots"
                                      " WHERE drive_id = ? ORDER BY taken DESC, id DESC LIMIT 1"
                                    : "SELECT id, taken, run_id, health, error_count FROM smart_snapshots"
                                      " WHERE drive_id = ? ORDER BY taken, id");
  select.bind(driveId);
  while (select.ok() && select.step() == SQLITE_ROW) {
    StoredSnapshot s;
    s.id = select.integer(0);
    s.driveId = driveId;
    s.taken = select.text(1);
    if (select.real(2)) s.runId = select.integer(2);
    s.health = select.text(3);
    if (select.real(4)) s.errorCount = static_cast<uint64_t>(select.integer(4));
    snapshots.push_back(std::move(s));
  }
  // Each prepared once for all the readings: a drive watched daily for years has thousands.
  Statement attributes(m_db,
                       "SELECT attr_id, name, current, worst, threshold, raw FROM smart_attributes"
                       " WHERE snapshot_id = ? ORDER BY attr_id");
  Statement health(m_db,
                   "SELECT percentage_used, available_spare, media_errors, temperature_c, power_on_hours,"
                   " unsafe_shutdowns FROM nvme_health WHERE snapshot_id = ?");
  Statement test(m_db, "SELECT power_on_hours, kind, result, failed FROM self_tests WHERE snapshot_id = ?");
  for (StoredSnapshot& s : snapshots) {
    attributes.reset().bind(s.id);
    while (attributes.ok() && attributes.step() == SQLITE_ROW) {
      s.attributes.push_back({static_cast<int32_t>(attributes.integer(0)), attributes.text(1),
                              static_cast<int32_t>(attributes.integer(2)), static_cast<int32_t>(attributes.integer(3)),
                              static_cast<int32_t>(attributes.integer(4)), static_cast<uint64_t>(attributes.integer(5))});
    }
    health.reset().bind(s.id);
    if (health.ok() && health.step() == SQLITE_ROW) {
      s.nvme = StoredNvmeHealth{static_cast<int32_t>(health.integer(0)), static_cast<int32_t>(health.integer(1)),
                                static_cast<uint64_t>(health.integer(2)), static_cast<int32_t>(health.integer(3)),
                                static_cast<uint64_t>(health.integer(4)), static_cast<uint64_t>(health.integer(5))};
    }
    test.reset().bind(s.id);
    if (test.ok() && test.step() == SQLITE_ROW) {
      s.lastSelfTest = StoredSelfTest{static_cast<uint64_t>(test.integer(0)), test.text(1), test.text(2),
                                      test.integer(3) != 0};
    }
  }
  return snapshots;
}

}  // namespace palvoro
