#include "store/drive_changes.h"

#include <algorithm>
#include <cstdio>

namespace palvoro {
namespace {

// The attributes whose counts only ever rise on a drive that is losing sectors.
struct CountedAttribute {
  int32_t id;
  ChangeKind kind;
  const char* key;
  const char* name;
};
constexpr CountedAttribute kCountedAttributes[] = {
    {5, ChangeKind::Reallocated, "reallocated_sectors", "Reallocated sectors"},
    {197, ChangeKind::Pending, "pending_sectors", "Current pending sectors"},
    {198, ChangeKind::Uncorrectable, "offline_uncorrectable_sectors", "Offline uncorrectable sectors"},
    {187, ChangeKind::Uncorrectable, "reported_uncorrectable_errors", "Reported uncorrectable errors"},
};

// Histogram buckets of 150 ms or more: what the scan's own hints call slow.
constexpr size_t kFirstSlowBucket = 4;
// A 99th percentile is told when it grew by half and by this much at least: the store
// keeps bucket limits, and one bucket up on a fast drive is no news.
constexpr double kP99RiseMs = 10.0;

// "2026-12-09T14:02:11Z" as "2026-12-09 14:02 UTC".
std::string whenText(const std::string& iso) {
  if (iso.size() < 16) return iso;
  return iso.substr(0, 10) + " " + iso.substr(11, 5) + " UTC";
}

std::string number(double value) {
  char text[32];
  if (value == static_cast<double>(static_cast<int64_t>(value))) {
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(text, sizeof text, "%.1f", value);
  }
  return text;
}

DriveChange rose(ChangeKind kind, const std::string& key, const std::string& name, double from, double to,
                 const std::string& since, const std::string& unit = {}) {
  return {kind, ChangeSeverity::Warning, key, from, to,
          name + " rose from " + number(from) + unit + " to " + number(to) + unit + " since " + whenText(since) + "."};
}

std::optional<uint64_t> slowBlocks(const StoredRun& run) {
  if (run.latencyHistogram.size() <= kFirstSlowBucket + 1) return std::nullopt;
  return run.latencyHistogram[kFirstSlowBucket] + run.latencyHistogram[kFirstSlowBucket + 1];
}

void attributeChanges(const StoredSnapshot& before, const StoredSnapshot& now, std::vector<DriveChange>& out) {
  for (const CountedAttribute& a : kCountedAttributes) {
    const std::optional<uint64_t> was = attributeCount(before, a.id);
    const std::optional<uint64_t> is = attributeCount(now, a.id);
    if (was && is && *is > *was) {
      out.push_back(rose(a.kind, a.key, a.name, static_cast<double>(*was), static_cast<double>(*is), before.taken));
    }
  }
}

void nvmeChanges(const StoredSnapshot& before, const StoredSnapshot& now, std::vector<DriveChange>& out) {
  if (!before.nvme || !now.nvme) return;
  const StoredNvmeHealth& was = *before.nvme;
  const StoredNvmeHealth& is = *now.nvme;
  if (is.percentageUsed > was.percentageUsed) {
    out.push_back(rose(ChangeKind::PercentageUsed, "percentage_used", "Wear (percentage used)", was.percentageUsed,
                       is.percentageUsed, before.taken, "%"));
  }
  if (is.availableSpare < was.availableSpare) {
    out.push_back({ChangeKind::AvailableSpare, ChangeSeverity::Warning, "available_spare",
                   static_cast<double>(was.availableSpare), static_cast<double>(is.availableSpare),
                   "Available spare fell from " + number(was.availableSpare) + "% to " + number(is.availableSpare) +
                       "% since " + whenText(before.taken) + "."});
  }
  if (is.mediaErrors > was.mediaErrors) {
    out.push_back(rose(ChangeKind::MediaErrors, "media_errors", "Media and data integrity errors",
                       static_cast<double>(was.mediaErrors), static_cast<double>(is.mediaErrors), before.taken));
  }
}

void logChanges(const StoredSnapshot& before, const StoredSnapshot& now, std::vector<DriveChange>& out) {
  if (before.health != "FAIL" && now.health == "FAIL") {
    out.push_back({ChangeKind::HealthFailed, ChangeSeverity::Critical, "health_failed", 0, 0,
                   "The drive's own health verdict turned to FAIL since " + whenText(before.taken) +
                       ": back up its data."});
  }
  if (now.lastSelfTest && now.lastSelfTest->failed && now.lastSelfTest != before.lastSelfTest) {
    const StoredSelfTest& t = *now.lastSelfTest;
    out.push_back({ChangeKind::SelfTestFailed, ChangeSeverity::Critical, "self_test_failed", 0,
                   static_cast<double>(t.powerOnHours),
                   "A new " + t.kind + " self-test failed (" + t.result + ") at power-on hour " +
                       std::to_string(t.powerOnHours) + "."});
  }
  if (before.errorCount && now.errorCount && *now.errorCount > *before.errorCount) {
    const uint64_t added = *now.errorCount - *before.errorCount;
    out.push_back({ChangeKind::ErrorLog, ChangeSeverity::Warning, "error_log_entries",
                   static_cast<double>(*before.errorCount), static_cast<double>(*now.errorCount),
                   "The drive logged " + std::to_string(added) + (added == 1 ? " new error" : " new errors") +
                       " since " + whenText(before.taken) + " (" + std::to_string(*now.errorCount) +
                       " in its life)."});
  }
}

void scanChanges(const StoredRun& before, const StoredRun& run, std::vector<DriveChange>& out) {
  const std::optional<uint64_t> wasSlow = slowBlocks(before);
  const std::optional<uint64_t> isSlow = slowBlocks(run);
  if (wasSlow && isSlow && *isSlow > *wasSlow) {
    out.push_back(rose(ChangeKind::SlowBlocks, "slow_blocks", "Blocks that took 150 ms or more",
                       static_cast<double>(*wasSlow), static_cast<double>(*isSlow), before.started));
  }
  if (before.latencyP99Ms && run.latencyP99Ms && *run.latencyP99Ms >= *before.latencyP99Ms * 1.5 &&
      *run.latencyP99Ms - *before.latencyP99Ms >= kP99RiseMs) {
    out.push_back(rose(ChangeKind::LatencyP99, "latency_p99", "The scan's 99th-percentile block time",
                       *before.latencyP99Ms, *run.latencyP99Ms, before.started, " ms"));
  }
}

}  // namespace

std::optional<uint64_t> attributeCount(const StoredSnapshot& snapshot, int32_t attrId) {
  for (const StoredAttribute& a : snapshot.attributes) {
    if (a.attrId == attrId) return a.raw & 0xFFFFFFFFull;
  }
  return std::nullopt;
}

std::optional<int32_t> snapshotTemperature(const StoredSnapshot& snapshot) {
  if (snapshot.nvme) return snapshot.nvme->temperatureC;
  for (const int32_t id : {194, 190}) {
    for (const StoredAttribute& a : snapshot.attributes) {
      if (a.attrId == id) return static_cast<int32_t>(a.raw & 0xFF);
    }
  }
  return std::nullopt;
}

DrivePast drivePastOf(std::span<const StoredSnapshot> snapshots, std::span<const StoredRun> runs,
                      const std::string& scanKind) {
  DrivePast past;
  if (!snapshots.empty()) past.lastSnapshot = snapshots.back();
  for (const StoredSnapshot& s : snapshots) {
    const std::optional<int32_t> t = snapshotTemperature(s);
    if (t && (!past.hottestC || *t > *past.hottestC)) past.hottestC = t;
  }
  if (!scanKind.empty()) {
    for (auto r = runs.rbegin(); r != runs.rend(); ++r) {
      if (r->kind == scanKind && !r->latencyHistogram.empty()) {
        past.lastScan = *r;
        break;
      }
    }
  }
  return past;
}

std::vector<DriveChange> whatChanged(const DrivePast& past, const StoredSnapshot* now, const StoredRun* run) {
  std::vector<DriveChange> changes;
  if (now != nullptr && past.lastSnapshot) {
    const StoredSnapshot& before = *past.lastSnapshot;
    logChanges(before, *now, changes);
    attributeChanges(before, *now, changes);
    nvmeChanges(before, *now, changes);
    const std::optional<int32_t> t = snapshotTemperature(*now);
    if (t && past.hottestC && *t > *past.hottestC) {
      changes.push_back({ChangeKind::TemperatureRecord, ChangeSeverity::Warning, "temperature_record",
                         static_cast<double>(*past.hottestC), static_cast<double>(*t),
                         "The drive reached " + std::to_string(*t) + " °C, the highest of its history (" +
                             std::to_string(*past.hottestC) + " °C before)."});
    }
  }
  if (run != nullptr && past.lastScan) scanChanges(*past.lastScan, *run, changes);
  std::stable_sort(changes.begin(), changes.end(), [](const DriveChange& a, const DriveChange& b) {
    return a.severity == ChangeSeverity::Critical && b.severity != ChangeSeverity::Critical;
  });
  return changes;
}

std::vector<TimedChange> changeHistory(const std::vector<StoredSnapshot>& snapshots,
                                       const std::vector<StoredRun>& runs) {
  std::vector<TimedChange> history;
  for (size_t i = 1; i < snapshots.size(); ++i) {
    const StoredSnapshot& now = snapshots[i];
    const auto own = std::find_if(runs.begin(), runs.end(),
                                  [&now](const StoredRun& r) { return now.runId && r.id == *now.runId; });
    // The runs before the reading's own, oldest first as the store keeps them: those it is
    // set against. Views of the records, not copies: a history holds thousands.
    const auto before = own != runs.end() ? own
                                          : std::partition_point(runs.begin(), runs.end(), [&now](const StoredRun& r) {
                                              return r.started < now.taken;
                                            });
    const DrivePast past = drivePastOf(std::span(snapshots.data(), i), std::span(runs.data(), before - runs.begin()),
                                       own != runs.end() ? own->kind : std::string());
    for (DriveChange& change : whatChanged(past, &now, own != runs.end() ? &*own : nullptr)) {
      history.push_back({now.taken, std::move(change)});
    }
  }
  return history;
}

const char* changeSeverityKey(ChangeSeverity severity) {
  return severity == ChangeSeverity::Critical ? "critical" : "warning";
}

}  // namespace palvoro
