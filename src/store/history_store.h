#pragma once
// Every drive's history: the runs it had and the SMART readings taken of it, kept in one
// SQLite file (history.sqlite) in the program's state folder. The windows, the command
// line and a scheduled check may write at once: the file is in WAL mode and each writer
// waits its turn (busy timeout) rather than failing. Nothing here is allowed to cost a run
// its result: a store that cannot open says why, and the caller carries on without it.
//
// Plain records in, plain records out: no SQLite type is seen outside history_store.cpp.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace palvoro {

// Why a store did not open or a write did not take.
enum class StoreError {
  None = 0,            // it worked
  FolderUnusable = 1,  // the folder cannot be made, or is not writable
  OpenFailed = 2,      // SQLite could not open or create the file
  SchemaFailed = 3,    // the tables could not be made or brought up to date
  WriteFailed = 4,     // a write was refused (disk full, read-only, locked past the timeout)
};

// One of the runs of a drive. Times are ISO 8601 UTC ("2026-12-10T05:33:04Z").
struct StoredRun {
  int64_t id = 0;  // given by recordRun
  int64_t driveId = 0;
  std::string started;
  std::string ended;
  std::string kind;     // "quick", "extended" or "erase"
  std::string outcome;  // as the result page words it: PASS, FAIL, ABORT, COMPLETE
  int32_t errorCode = 0;
  std::string errorMessage;
  uint64_t badSectors = 0;
  std::string eraseMethod;   // an erase's method as its page names it; "" otherwise
  std::string verification;  // an erase's read-back as its page words it; "" when none
  // The scan's block times in milliseconds, where a scan ran.
  std::optional<double> latencyP50Ms;
  std::optional<double> latencyP99Ms;
  std::optional<double> latencyMaxMs;
  // The scan's block-time histogram: one count per bucket of kLatencyBucketLimits, then the
  // blocks of 500 ms or more, then the unreadable ones; empty where no scan ran.
  std::vector<uint64_t> latencyHistogram;
  std::string host;
  // The time of the scan's readable blocks together; none where no scan ran or the run was
  // kept before the history had it.
  std::optional<double> latencySumMs;
};

// An ATA SMART attribute as read.
struct StoredAttribute {
  int32_t attrId = 0;
  std::string name;
  int32_t current = 0;
  int32_t worst = 0;
  int32_t threshold = 0;
  uint64_t raw = 0;
};

// An NVMe drive's health log, the fields worth following over time.
struct StoredNvmeHealth {
  int32_t percentageUsed = 0;
  int32_t availableSpare = 0;
  uint64_t mediaErrors = 0;
  int32_t temperatureC = 0;
  uint64_t powerOnHours = 0;
  uint64_t unsafeShutdowns = 0;
};

// The newest self-test the drive's own log holds.
struct StoredSelfTest {
  uint64_t powerOnHours = 0;  // when it ended, by the drive's clock
  std::string kind;           // "Short", "Extended", ...
  std::string result;         // as the drive's log words it
  bool failed = false;
  bool operator==(const StoredSelfTest&) const = default;
};

// A reading of a drive's SMART state, after a run or on its own.
struct StoredSnapshot {
  int64_t id = 0;  // given by recordSnapshot
  int64_t driveId = 0;
  std::string taken;
  std::optional<int64_t> runId;
  std::vector<StoredAttribute> attributes;
  std::optional<StoredNvmeHealth> nvme;
  std::string health;                  // the drive's own verdict: "PASS", "FAIL", "" when not judged
  std::optional<uint64_t> errorCount;  // errors the drive has logged in its life, where its log says
  std::optional<StoredSelfTest> lastSelfTest;
};

// A drive ever seen, with how many runs it had and its last.
struct StoredDrive {
  int64_t id = 0;
  std::string model;
  std::string serial;
  std::string wwn;
  std::string bus;
  std::string firstSeen;
  std::string lastSeen;
  int64_t runCount = 0;
  std::optional<StoredRun> lastRun;
};

// The current time as ISO 8601 UTC, as the store writes its times.
std::string utcTimeText();
// Seconds since the epoch of a time as utcTimeText writes it; none when it is not one.
std::optional<int64_t> epochSecondsOf(const std::string& utcTime);

class HistoryStore;

// What opening a store came to: the store, or why not. `message` is for the user: the
// failure, or (with a store) that a damaged or newer file was set aside.
struct StoreOpen {
  std::unique_ptr<HistoryStore> store;
  StoreError error = StoreError::None;
  std::string message;
};

class HistoryStore {
 public:
  static constexpr const char* kFileName = "history.sqlite";

  // Opens or makes `folder`/history.sqlite, bringing its tables up to date; no folder at
  // all ("") is FolderUnusable. A file that is
  // not a database, fails its check, or was written by a newer program is renamed aside
  // (history.sqlite.corrupt-<time> or .newer-<time>, its -wal and -shm with it) and a new
  // one started.
  [[nodiscard]] static StoreOpen open(const std::string& folder);
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // The drive's row, made on first sight (unique on model and serial); its last-seen time,
  // world wide name and bus brought up to date. Its id, or none when the write failed.
  [[nodiscard]] std::optional<int64_t> driveKey(const std::string& model, const std::string& serial,
                                                const std::string& wwn, const std::string& bus = {});
  // The run's id, or none when the write failed.
  [[nodiscard]] std::optional<int64_t> recordRun(const StoredRun& run);
  [[nodiscard]] std::optional<int64_t> recordSnapshot(const StoredSnapshot& snapshot);

  // When a scheduled check last started the drive's self-test (ISO 8601 UTC), kept one per
  // drive; false when the write failed.
  [[nodiscard]] bool recordSelfTestStart(int64_t driveId, const std::string& when);
  std::optional<std::string> lastSelfTestStart(int64_t driveId);

  // Every drive ever seen, by first sight.
  std::vector<StoredDrive> drives();
  // The drive kept under this model and serial (as driveKey keys it), with its last run;
  // none when it was never seen. Writes nothing.
  std::optional<StoredDrive> findDrive(const std::string& model, const std::string& serial);
  // A drive's runs and snapshots, oldest first.
  std::vector<StoredRun> runsOf(int64_t driveId);
  std::vector<StoredSnapshot> snapshotsOf(int64_t driveId);
  // A drive's newest reading alone: what the metrics show of it.
  std::optional<StoredSnapshot> latestSnapshotOf(int64_t driveId);

  // The last failure's text from SQLite, for a message.
  std::string lastError();

 private:
  explicit HistoryStore(sqlite3* db) : m_db(db) {}
  std::vector<StoredSnapshot> readSnapshots(int64_t driveId, bool newestOnly);

  sqlite3* m_db;
  // One connection shared by the runs of a bench: a transaction must not take in another
  // thread's statements.
  std::mutex m_mutex;
};

}  // namespace palvoro
