#pragma once
// What worsened on a drive since it was last seen: its new reading and run set beside the
// ones the history kept, each change in words a user acts on. A reading that stayed the
// same, or got better, says nothing: the point is what to look at now.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "store/history_store.h"

namespace palvoro {

enum class ChangeKind {
  Reallocated,     // attribute 5 rose
  Pending,         // attribute 197 rose
  Uncorrectable,   // attribute 198 or 187 rose
  TemperatureRecord,
  PercentageUsed,  // NVMe wear
  AvailableSpare,  // NVMe spare fell
  MediaErrors,     // NVMe media and data integrity errors rose
  ErrorLog,        // the drive logged new errors
  SelfTestFailed,  // the drive's newest self-test, new since, failed
  HealthFailed,    // the drive's own verdict turned to FAIL
  SlowBlocks,      // the scan met more blocks of 150 ms or more
  LatencyP99,      // the scan's 99th percentile rose markedly
};

// How loud a change is told: the journal's priority, a notification's urgency.
enum class ChangeSeverity { Warning = 4, Critical = 2 };

struct DriveChange {
  ChangeKind kind = ChangeKind::Reallocated;
  ChangeSeverity severity = ChangeSeverity::Warning;
  std::string key;   // for scripts: "pending_sectors", "self_test_failed", ...
  double from = 0;   // the value before and now, where the change is a number
  double to = 0;
  std::string text;  // "Current pending sectors rose from 5 to 9 since 2026-12-09 14:02 UTC."
};

// What the history holds of a drive's past that a new reading is set against.
struct DrivePast {
  std::optional<StoredSnapshot> lastSnapshot;
  std::optional<StoredRun> lastScan;     // the newest run of the new run's kind that kept its block times
  std::optional<int32_t> hottestC;       // the highest temperature any earlier reading had
};

// The past as the store's records (oldest first, as the store hands them) tell it. Scans are
// set only against scans of the same kind (`scanKind`, "" for none): a quick scan reads a
// sliver of what an extended one does.
DrivePast drivePastOf(std::span<const StoredSnapshot> snapshots, std::span<const StoredRun> runs,
                      const std::string& scanKind);

// The changes from `past` to the new reading `now` and run `run` (either may be absent: a
// watch has no run, an erase no reading), most serious first. Nothing when the drive has
// no past to be set against.
std::vector<DriveChange> whatChanged(const DrivePast& past, const StoredSnapshot* now, const StoredRun* run);

// A change with the time of the reading or run that showed it.
struct TimedChange {
  std::string when;
  DriveChange change;
};

// Every change a drive's history shows, reading by reading (each set against what came
// before it), oldest first: what `history` tells of a drive.
std::vector<TimedChange> changeHistory(const std::vector<StoredSnapshot>& snapshots,
                                       const std::vector<StoredRun>& runs);

// "warning" or "critical", as scripts read it.
const char* changeSeverityKey(ChangeSeverity severity);

// A reading's temperature in degrees Celsius: the NVMe log's, else attribute 194's (or
// 190's) raw low byte; none when the drive did not say.
std::optional<int32_t> snapshotTemperature(const StoredSnapshot& snapshot);
// The count in an ATA attribute's raw value: its low four bytes, where drives keep the
// count (some use the upper bytes for other figures); none without the attribute.
std::optional<uint64_t> attributeCount(const StoredSnapshot& snapshot, int32_t attrId);

}  // namespace palvoro
