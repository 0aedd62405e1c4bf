#include "app/cli_metrics.h"

#include <CLI/CLI.hpp>

#include <array>
#include <charconv>
#include <initializer_list>
#include <map>
#include <utility>

#include "app/cli.h"
#include "app/cli_report.h"
#include "diagnostics/block_latency.h"
#include "store/drive_changes.h"

namespace palvoro {
using namespace cli;
namespace {

// The attributes fleets alert on, with counts in their raw values.
constexpr int32_t kReallocatedSectors = 5;
constexpr int32_t kPowerOnHours = 9;
constexpr int32_t kPendingSectors = 197;
constexpr int32_t kOfflineUncorrectable = 198;

// The families, in the order they are written. Each is written whole, HELP and TYPE
// first, as the format requires; a family with no sample is left out.
enum Family : size_t {
  kInfo,
  kSnapshotTime,
  kAttributeValue,
  kAttributeWorst,
  kAttributeThreshold,
  kAttributeRaw,
  kSmartPassed,
  kSelfTestPassed,
  kLoggedErrors,
  kReallocated,
  kPending,
  kOfflineUncorrectableSectors,
  kTemperature,
  kPowerOn,
  kPercentageUsed,
  kAvailableSpare,
  kMediaErrors,
  kUnsafeShutdowns,
  kRunTime,
  kRunSuccess,
  kRunBadSectors,
  kScanLatency,
  kFamilyCount,
};

struct FamilyText {
  const char* name;
  const char* type;
  const char* help;
};

constexpr std::array<FamilyText, kFamilyCount> kFamilies = {{
    {"palvoro_drive_info", "gauge", "A drive in the history, by model, serial number, world wide name and bus; always 1."},
    {"palvoro_snapshot_timestamp_seconds", "gauge", "When the drive's SMART state was last read, in seconds since the epoch."},
    {"palvoro_smart_attribute_value", "gauge", "An ATA SMART attribute's normalised value at the last reading."},
    {"palvoro_smart_attribute_worst", "gauge", "The lowest normalised value an ATA SMART attribute has had."},
    {"palvoro_smart_attribute_threshold", "gauge", "The normalised value at or below which the attribute says the drive fails."},
    {"palvoro_smart_attribute_raw", "gauge", "An ATA SMART attribute's raw value at the last reading."},
    {"palvoro_smart_passed", "gauge", "1 when the drive's own verdict at the last reading was a pass, 0 when it failed."},
    {"palvoro_last_self_test_success", "gauge", "1 when the newest self-test in the drive's log passed, 0 when it failed."},
    {"palvoro_drive_logged_errors_total", "counter", "Errors the drive has logged in its life."},
    {"palvoro_ata_reallocated_sectors", "gauge", "Sectors the drive has replaced with spares (attribute 5)."},
    {"palvoro_ata_pending_sectors", "gauge", "Sectors waiting to be replaced after a failed read (attribute 197)."},
    {"palvoro_ata_offline_uncorrectable_sectors", "gauge", "Sectors the drive's own scan could not read (attribute 198)."},
    {"palvoro_drive_temperature_celsius", "gauge", "The drive's temperature at the last reading."},
    {"palvoro_drive_power_on_seconds_total", "counter", "How long the drive has been powered on."},
    {"palvoro_nvme_percentage_used_ratio", "gauge", "The share of the NVMe drive's rated endurance used; may pass 1."},
    {"palvoro_nvme_available_spare_ratio", "gauge", "The share of the NVMe drive's spare capacity still available."},
    {"palvoro_nvme_media_errors_total", "counter", "Unrecovered data integrity errors the NVMe drive has met."},
    {"palvoro_nvme_unsafe_shutdowns_total", "counter", "Times the NVMe drive lost power without being told first."},
    {"palvoro_last_run_timestamp_seconds", "gauge", "When the drive's last run of this kind ended, in seconds since the epoch."},
    {"palvoro_last_run_success", "gauge", "1 when the drive's last run of this kind passed or completed, 0 otherwise."},
    {"palvoro_last_run_bad_sectors", "gauge", "The bad sectors the drive's last run of this kind found."},
    {"palvoro_scan_block_latency_seconds", "histogram", "How long each readable block of the drive's last scan took."},
}};

struct Sample {
  std::string suffix;  // "_bucket", "_sum", "_count" for a histogram's samples
  std::string labels;
  std::string value;
};

using Samples = std::array<std::vector<Sample>, kFamilyCount>;

// A label value in the text format: backslash, double quote and newline escaped. Drives
// report ASCII; anything else is replaced so the output stays valid UTF-8.
std::string labelValue(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\') escaped.append("\\\\");
    else if (c == '"') escaped.append("\\\"");
    else if (c == '\n') escaped.append("\\n");
    else if (c < 0x20 || c > 0x7E) escaped.push_back('?');
    else escaped.push_back(c);
  }
  return escaped;
}

std::string labels(std::initializer_list<std::pair<const char*, std::string>> pairs) {
  std::string text = "{";
  for (const auto& [name, value] : pairs) {
    if (text.size() > 1) text.push_back(',');
    text.append(name).append("=\"").append(labelValue(value)).append("\"");
  }
  return text + "}";
}

std::string number(uint64_t value) { return std::to_string(value); }
std::string number(int64_t value) { return std::to_string(value); }
// The shortest text that reads back as the same double.
std::string number(double value) {
  char text[32];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

void addAtaSnapshot(const std::string& serial, const StoredSnapshot& snapshot, Samples& s) {
  for (const StoredAttribute& a : snapshot.attributes) {
    const std::string l = labels({{"serial", serial}, {"id", std::to_string(a.attrId)}, {"name", a.name}});
    s[kAttributeValue].push_back({"", l, number(int64_t{a.current})});
    s[kAttributeWorst].push_back({"", l, number(int64_t{a.worst})});
    s[kAttributeThreshold].push_back({"", l, number(int64_t{a.threshold})});
    s[kAttributeRaw].push_back({"", l, number(a.raw)});
  }
  const std::string one = labels({{"serial", serial}});
  for (const auto& [attrId, family] : {std::pair{kReallocatedSectors, kReallocated}, std::pair{kPendingSectors, kPending},
                                       std::pair{kOfflineUncorrectable, kOfflineUncorrectableSectors}}) {
    if (const std::optional<uint64_t> count = attributeCount(snapshot, attrId)) {
      s[family].push_back({"", one, number(*count)});
    }
  }
  if (const std::optional<uint64_t> hours = attributeCount(snapshot, kPowerOnHours)) {
    s[kPowerOn].push_back({"", one, number(*hours * 3600)});
  }
}

void addNvmeSnapshot(const std::string& serial, const StoredNvmeHealth& h, Samples& s) {
  const std::string one = labels({{"serial", serial}});
  s[kPowerOn].push_back({"", one, number(h.powerOnHours * 3600)});
  s[kPercentageUsed].push_back({"", one, number(h.percentageUsed / 100.0)});
  s[kAvailableSpare].push_back({"", one, number(h.availableSpare / 100.0)});
  s[kMediaErrors].push_back({"", one, number(h.mediaErrors)});
  s[kUnsafeShutdowns].push_back({"", one, number(h.unsafeShutdowns)});
}

// The last scan's histogram: cumulative buckets, as the format counts them, of the timed
// blocks only (an unreadable block has no time). The engine's buckets hold the blocks
// under each limit, to the microsecond: close enough to the format's "at most".
void addLatency(const std::string& serial, const StoredRun& scan, Samples& s) {
  uint64_t below = 0;
  for (size_t b = 0; b < kUnreadableBucket && b < scan.latencyHistogram.size(); ++b) {
    below += scan.latencyHistogram[b];
    const std::string le = b < kLatencyBucketLimits.size()
                               ? number(static_cast<double>(kLatencyBucketLimits[b]) / 1e6)
                               : std::string("+Inf");
    s[kScanLatency].push_back({"_bucket", labels({{"serial", serial}, {"le", le}}), number(below)});
  }
  const std::string one = labels({{"serial", serial}});
  // A scan kept before the history had its summed time has none: no sum rather than a false 0.
  if (scan.latencySumMs) s[kScanLatency].push_back({"_sum", one, number(*scan.latencySumMs / 1000.0)});
  s[kScanLatency].push_back({"_count", one, number(below)});
}

void addDrive(const DriveMetrics& m, Samples& s) {
  const std::string& serial = m.drive.serial;
  s[kInfo].push_back(
      {"", labels({{"serial", serial}, {"model", m.drive.model}, {"wwn", m.drive.wwn}, {"bus", m.drive.bus}}), "1"});
  if (m.snapshot) {
    if (const std::optional<int64_t> taken = epochSecondsOf(m.snapshot->taken)) {
      s[kSnapshotTime].push_back({"", labels({{"serial", serial}}), number(*taken)});
    }
    const std::string one = labels({{"serial", serial}});
    // A verdict, a self-test and an error count only where the reading had them.
    if (m.snapshot->health == "PASS" || m.snapshot->health == "FAIL") {
      s[kSmartPassed].push_back({"", one, m.snapshot->health == "PASS" ? "1" : "0"});
    }
    if (m.snapshot->lastSelfTest) {
      s[kSelfTestPassed].push_back({"", one, m.snapshot->lastSelfTest->failed ? "0" : "1"});
    }
    if (m.snapshot->errorCount) s[kLoggedErrors].push_back({"", one, number(*m.snapshot->errorCount)});
    if (!m.snapshot->attributes.empty()) addAtaSnapshot(serial, *m.snapshot, s);
    if (const std::optional<int32_t> celsius = snapshotTemperature(*m.snapshot)) {
      s[kTemperature].push_back({"", one, number(int64_t{*celsius})});
    }
    if (m.snapshot->nvme) addNvmeSnapshot(serial, *m.snapshot->nvme, s);
  }
  for (const StoredRun& run : m.lastRuns) {
    const std::string l = labels({{"serial", serial}, {"kind", run.kind}});
    if (const std::optional<int64_t> ended = epochSecondsOf(run.ended)) s[kRunTime].push_back({"", l, number(*ended)});
    const bool success = run.outcome == "PASS" || run.outcome == "COMPLETE";
    s[kRunSuccess].push_back({"", l, success ? "1" : "0"});
    s[kRunBadSectors].push_back({"", l, number(run.badSectors)});
  }
  if (m.lastScan) addLatency(serial, *m.lastScan, s);
}

}  // namespace

std::vector<DriveMetrics> driveMetricsOf(HistoryStore& store) {
  std::vector<DriveMetrics> shown;
  std::map<std::string, size_t> bySerial;
  for (StoredDrive& drive : store.drives()) {
    const auto known = bySerial.find(drive.serial);
    if (known != bySerial.end() && shown[known->second].drive.lastSeen > drive.lastSeen) continue;
    DriveMetrics m;
    std::map<std::string, StoredRun> lastOfKind;
    for (StoredRun& run : store.runsOf(drive.id)) {
      // A histogram the engine wrote: every timed bucket, the open one and the unreadable.
      if (run.latencyHistogram.size() == kLatencyBuckets) m.lastScan = run;
      lastOfKind[run.kind] = std::move(run);
    }
    for (auto& [kind, run] : lastOfKind) m.lastRuns.push_back(std::move(run));
    m.snapshot = store.latestSnapshotOf(drive.id);
    m.drive = std::move(drive);
    if (known != bySerial.end()) {
      shown[known->second] = std::move(m);
    } else {
      bySerial.emplace(m.drive.serial, shown.size());
      shown.push_back(std::move(m));
    }
  }
  return shown;
}

std::string metricsText(const std::vector<DriveMetrics>& drives) {
  Samples samples;
  for (const DriveMetrics& m : drives) addDrive(m, samples);
  std::string text;
  for (size_t f = 0; f < kFamilyCount; ++f) {
    if (samples[f].empty()) continue;
    const FamilyText& family = kFamilies[f];
    text.append("# HELP ").append(family.name).append(" ").append(family.help).append("\n");
    text.append("# TYPE ").append(family.name).append(" ").append(family.type).append("\n");
    for (const Sample& sample : samples[f]) {
      text.append(family.name).append(sample.suffix).append(sample.labels).append(" ").append(sample.value).append("\n");
    }
  }
  return text;
}

std::optional<std::string> metricsTextOf(const std::string& folder, std::string& message) {
  StoreOpen opened = HistoryStore::open(folder);
  message = opened.message;
  if (!opened.store) return std::nullopt;
  return metricsText(driveMetricsOf(*opened.store));
}

MetricsCommand::MetricsCommand(CLI::App& app) {
  m_metrics = app.add_subcommand("metrics", "The latest state of every drive in the history, as Prometheus metrics");
}

bool MetricsCommand::parsed() const { return m_metrics->parsed(); }

int MetricsCommand::run(const CliOptions& options, std::ostream& out, std::ostream& err) const {
  std::string message;
  const std::optional<std::string> text = metricsTextOf(stateDirOf(options), message);
  if (!text) return fail(options, out, err, kCliUsage, message);
  if (!message.empty()) err << "palvoro-cli: " << message << "\n";
  out << *text;
  return kCliOk;
}

std::unique_ptr<MetricsCommand> addMetricsCommand(CLI::App& app) { return std::make_unique<MetricsCommand>(app); }

}  // namespace palvoro
