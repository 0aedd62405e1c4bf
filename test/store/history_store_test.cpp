#include "store/history_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace palvoro {
namespace {

namespace fs = std::filesystem;

// A folder of the test's own, gone afterwards.
struct Folder {
  std::string path;
  Folder() {
    std::string name = (fs::temp_directory_path() / "palvoro-store-XXXXXX").string();
    path = mkdtemp(name.data()) != nullptr ? name : std::string();
  }
  ~Folder() {
    chmod(path.c_str(), 0700);
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string file() const { return path + "/" + HistoryStore::kFileName; }
  // The names in the folder that start with `prefix`.
  int countStarting(const std::string& prefix) const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(path)) n += entry.path().filename().string().rfind(prefix, 0) == 0;
    return n;
  }
};

StoredRun runOn(int64_t driveId, int n) {
  StoredRun run;
  run.driveId = driveId;
  run.started = run.ended = utcTimeText();
  run.kind = "quick";
  run.outcome = "PASS";
  run.badSectors = static_cast<uint64_t>(n);
  run.host = "bench";
  return run;
}

TEST(HistoryStore, KeepsDrivesRunsAndSnapshotsAcrossReopening) {
  Folder folder;
  int64_t id = 0;
  {
    StoreOpen opened = HistoryStore::open(folder.path);
    ASSERT_TRUE(opened.store) << opened.message;
    EXPECT_EQ(opened.message, "");
    id = opened.store->driveKey("WDC WD10", "S1", "5000c500a1b2c3d4", "SATA").value();
    StoredRun run = runOn(id, 3);
    run.kind = "extended";
    run.outcome = "FAIL";
    run.latencyP99Ms = 12.5;
    const int64_t runId = opened.store->recordRun(run).value();
    StoredSnapshot snapshot{0, id, utcTimeText(), runId, {{5, "Reallocated Sectors Count", 100, 99, 36, 8}}, {}, "", {}, {}};
    ASSERT_TRUE(opened.store->recordSnapshot(snapshot));
  }
  StoreOpen again = HistoryStore::open(folder.path);
  ASSERT_TRUE(again.store) << again.message;
  EXPECT_EQ(again.store->driveKey("WDC WD10", "S1", "", "").value(), id);  // the same row, its wwn kept
  const std::vector<StoredDrive> drives = again.store->drives();
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].wwn, "5000c500a1b2c3d4");
  EXPECT_EQ(drives[0].runCount, 1);
  ASSERT_TRUE(drives[0].lastRun);
  EXPECT_EQ(drives[0].lastRun->outcome, "FAIL");
  EXPECT_EQ(drives[0].lastRun->badSectors, 3u);
  EXPECT_EQ(drives[0].lastRun->latencyP99Ms, 12.5);
  EXPECT_FALSE(drives[0].lastRun->latencyP50Ms);
  const std::vector<StoredSnapshot> snapshots = again.store->snapshotsOf(id);
  ASSERT_EQ(snapshots.size(), 1u);
  EXPECT_EQ(snapshots[0].runId, drives[0].lastRun->id);
  ASSERT_EQ(snapshots[0].attributes.size(), 1u);
  EXPECT_EQ(snapshots[0].attributes[0].raw, 8u);
}

TEST(HistoryStore, TwoProcessesWritingAtOnceLoseNothing) {
  Folder folder;
  constexpr int kRunsEach = 200;
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    if (child == 0) {
      // Each child opens its own connection, as two programs would.
      StoreOpen opened = HistoryStore::open(folder.path);
      if (!opened.store) _exit(2);
      const std::optional<int64_t> id = opened.store->driveKey("M", "S", "", "");
      if (!id) _exit(3);
      for (int i = 0; i < kRunsEach; ++i) {
        if (!opened.store->recordRun(runOn(*id, i))) _exit(4);
      }
      opened.store.reset();
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  }
  StoreOpen opened = HistoryStore::open(folder.path);
  ASSERT_TRUE(opened.store);
  const std::vector<StoredDrive> drives = opened.store->drives();
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(opened.store->runsOf(drives[0].id).size(), 2u * kRunsEach);
}

// A file that cannot be used is set aside, named for why, and a new store works.
struct SetAsideCase {
  const char* name;
  const char* suffix;
  const char* message;
};

void writeGarbage(const std::string& file) {
  std::ofstream(file, std::ios::binary) << std::string(4096, '\x5a');
}

void writeNewer(const std::string& file) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t (x); PRAGMA user_version = 999", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

TEST(HistoryStore, SetsAsideAFileItCannotUse) {
  const SetAsideCase cases[] = {
      {"garbage", ".corrupt-", "was damaged; it was kept as "},
      {"newer", ".newer-", "was written by a newer PALVORO; it was kept as "},
  };
  for (const SetAsideCase& c : cases) {
    SCOPED_TRACE(c.name);
    Folder folder;
    if (std::string(c.name) == "garbage") writeGarbage(folder.file());
    else writeNewer(folder.file());
    StoreOpen opened = HistoryStore::open(folder.path);
    ASSERT_TRUE(opened.store) << opened.message;
    EXPECT_EQ(opened.error, StoreError::None);
    EXPECT_NE(opened.message.find(c.message), std::string::npos) << opened.message;
    EXPECT_NE(opened.message.find("and a new one started."), std::string::npos);
    EXPECT_EQ(folder.countStarting(std::string(HistoryStore::kFileName) + c.suffix), 1);
    const std::optional<int64_t> id = opened.store->driveKey("M", "S", "", "");
    ASSERT_TRUE(id);
    EXPECT_TRUE(opened.store->recordRun(runOn(*id, 0)));
  }
}

TEST(HistoryStore, AFolderThatCannotBeWrittenIsANamedError) {
  Folder folder;
  const std::string file = folder.path + "/file";
  std::ofstream(file) << "not a folder";
  std::vector<std::string> places = {file, file + "/below"};  // what even root cannot write through
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(folder.path.c_str(), 0500), 0);
    places.insert(places.end(), {folder.path, folder.path + "/below"});
  }
  for (const std::string& where : places) {
    SCOPED_TRACE(where);
    StoreOpen opened = HistoryStore::open(where);
    EXPECT_FALSE(opened.store);
    EXPECT_EQ(opened.error, StoreError::FolderUnusable);
    EXPECT_NE(opened.message.find("cannot be made or written"), std::string::npos);
  }
}

// A file of the first version, as the first program left it: brought up to date with its
// runs kept, and what the new columns hold read as unknown.
TEST(HistoryStore, BringsAFirstVersionFileUpToDate) {
  Folder folder;
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(folder.file().c_str(), &db), SQLITE_OK);
    const char* v1 =
        "CREATE TABLE drives (id INTEGER PRIMARY KEY, model TEXT NOT NULL, serial TEXT NOT NULL, wwn TEXT NOT NULL,"
        " bus TEXT NOT NULL, first_seen TEXT NOT NULL, last_seen TEXT NOT NULL, UNIQUE (model, serial));"
        "CREATE TABLE runs (id INTEGER PRIMARY KEY, drive_id INTEGER NOT NULL REFERENCES drives(id),"
        " started TEXT NOT NULL, ended TEXT NOT NULL, kind TEXT NOT NULL, outcome TEXT NOT NULL,"
        " error_code INTEGER NOT NULL, error_message TEXT NOT NULL, bad_sectors INTEGER NOT NULL,"
        " erase_method TEXT NOT NULL, verification TEXT NOT NULL, latency_p50_ms REAL, latency_p99_ms REAL,"
        " latency_max_ms REAL, host TEXT NOT NULL);"
        "CREATE TABLE smart_snapshots (id INTEGER PRIMARY KEY, drive_id INTEGER NOT NULL REFERENCES drives(id),"
        " taken TEXT NOT NULL, run_id INTEGER REFERENCES runs(id));"
        "CREATE TABLE smart_attributes (snapshot_id INTEGER NOT NULL REFERENCES smart_snapshots(id),"
        " attr_id INTEGER NOT NULL, name TEXT NOT NULL, current INTEGER NOT NULL, worst INTEGER NOT NULL,"
        " threshold INTEGER NOT NULL, raw INTEGER NOT NULL, PRIMARY KEY (snapshot_id, attr_id));"
        "CREATE TABLE nvme_health (snapshot_id INTEGER PRIMARY KEY REFERENCES smart_snapshots(id),"
        " percentage_used INTEGER NOT NULL, available_spare INTEGER NOT NULL, media_errors INTEGER NOT NULL,"
        " temperature_c INTEGER NOT NULL, power_on_hours INTEGER NOT NULL, unsafe_shutdowns INTEGER NOT NULL);"
        "INSERT INTO drives VALUES (1, 'M', 'S', '', 'SATA', '2026-01-01T00:00:00Z', '2026-01-01T00:00:00Z');"
        "INSERT INTO runs VALUES (1, 1, '2026-01-01T00:00:00Z', '2026-01-01T00:10:00Z', 'extended', 'PASS', 0, '',"
        " 0, '', '', 1.5, 20.0, 80.0, 'old');"
        "INSERT INTO smart_snapshots VALUES (1, 1, '2026-01-01T00:10:00Z', 1);"
        "PRAGMA user_version = 1;";
    ASSERT_EQ(sqlite3_exec(db, v1, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  StoreOpen opened = HistoryStore::open(folder.path);
  ASSERT_TRUE(opened.store) << opened.message;
  EXPECT_EQ(opened.message, "");
  HistoryStore& store = *opened.store;
  std::vector<StoredRun> runs = store.runsOf(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].host, "old");
  EXPECT_TRUE(runs[0].latencyHistogram.empty());
  std::vector<StoredSnapshot> snapshots = store.snapshotsOf(1);
  ASSERT_EQ(snapshots.size(), 1u);
  EXPECT_EQ(snapshots[0].health, "");
  EXPECT_FALSE(snapshots[0].errorCount);
  EXPECT_FALSE(snapshots[0].lastSelfTest);

  StoredRun run = runOn(1, 0);
  run.latencyHistogram = {90, 5, 3, 1, 1, 0, 2};
  ASSERT_TRUE(store.recordRun(run));
  const StoredSelfTest test{812, "Short", "Completed: read failure", true};
  ASSERT_TRUE(store.recordSnapshot({0, 1, utcTimeText(), std::nullopt, {}, std::nullopt, "FAIL", 7, test}));
  EXPECT_EQ(store.runsOf(1).back().latencyHistogram, run.latencyHistogram);
  snapshots = store.snapshotsOf(1);
  EXPECT_EQ(snapshots.back().health, "FAIL");
  EXPECT_EQ(snapshots.back().errorCount, 7u);
  EXPECT_EQ(snapshots.back().lastSelfTest, test);
}

}  // namespace
}  // namespace palvoro
