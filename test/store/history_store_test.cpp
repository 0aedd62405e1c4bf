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
    StoredSnapshot snapshot{0, id, utcTimeText(), runId, {{5, "Reallocated Sectors Count", 100, 99, 36, 8}}, {}};
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
  if (geteuid() == 0) GTEST_SKIP() << "root writes into a read-only folder";
  Folder folder;
  ASSERT_EQ(chmod(folder.path.c_str(), 0500), 0);
  for (const std::string& where : {folder.path, folder.path + "/below"}) {
    StoreOpen opened = HistoryStore::open(where);
    EXPECT_FALSE(opened.store);
    EXPECT_EQ(opened.error, StoreError::FolderUnusable);
    EXPECT_NE(opened.message.find("cannot be made or written"), std::string::npos);
  }
}

}  // namespace
}  // namespace palvoro
