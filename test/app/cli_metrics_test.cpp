// `palvoro-cli metrics` over a real history file: one ATA drive with a hostile model string,
// runs of two kinds and a scan's histogram, and one NVMe drive, against text written out
// by hand. promtool checks the format itself in scripts/test.sh.

#include "app/cli_metrics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace palvoro {
namespace {

StoredRun runOf(int64_t driveId, const char* kind, const char* ended, const char* outcome, uint64_t bad) {
  StoredRun run;
  run.driveId = driveId;
  run.started = run.ended = ended;
  run.kind = kind;
  run.outcome = outcome;
  run.badSectors = bad;
  return run;
}

StoredSnapshot snapshotOf(int64_t driveId, const char* taken, const char* health, const StoredSelfTest& selfTest) {
  StoredSnapshot snapshot;
  snapshot.driveId = driveId;
  snapshot.taken = taken;
  snapshot.health = health;
  snapshot.lastSelfTest = selfTest;
  return snapshot;
}

TEST(Metrics, AtaAndNvmeDrivesAsPrometheusText) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("palvoro-metrics-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  {
    StoreOpen opened = HistoryStore::open(dir.string());
    ASSERT_TRUE(opened.store) << opened.message;
    HistoryStore& store = *opened.store;
    const int64_t ata = store.driveKey("Evil \"Disk\" \\ 1\n\xC3", "S1", "5000c500a1b2c3d4", "SATA").value();
    StoredRun scan = runOf(ata, "extended", "2026-12-09T14:02:00Z", "FAIL", 2);
    scan.latencyHistogram = {90, 5, 3, 1, 0, 1, 4};  // the last, unreadable blocks, has no time
    scan.latencySumMs = 1234.5;
    ASSERT_TRUE(store.recordRun(scan));
    ASSERT_TRUE(store.recordRun(runOf(ata, "quick", "2026-12-10T05:00:00Z", "PASS", 0)));
    // 194 keeps its minimum and maximum above the low byte; 197 a vendor's high word.
    StoredSnapshot reading = snapshotOf(ata, "2026-12-10T05:01:00Z", "FAIL", {14000, "Short", "read failure", true});
    reading.attributes = {{5, "Reallocated Sector Count", 100, 100, 36, 3},
                          {194, "Temperature", 66, 50, 0, 0x0032001E0028},
                          {197, "Current Pending Sector Count", 30, 30, 40, (1ull << 32) | 9}};
    reading.errorCount = 3;
    ASSERT_TRUE(store.recordSnapshot(reading));
    const int64_t nvme = store.driveKey("Sabik NV2", "N1", "", "NVMe").value();
    ASSERT_TRUE(store.recordRun(runOf(nvme, "erase", "2026-12-10T04:00:00Z", "COMPLETE", 0)));
    reading = snapshotOf(nvme, "2026-12-10T05:02:00Z", "PASS", {1100, "Short", "passed", false});
    reading.nvme = StoredNvmeHealth{3, 100, 0, 41, 1200, 7};
    ASSERT_TRUE(store.recordSnapshot(reading));
  }
  std::string message;
  const std::optional<std::string> text = metricsTextOf(dir.string(), message);
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(text) << message;
  EXPECT_EQ(*text, R"(# HELP palvoro_drive_info A drive in the history, by model, serial number, world wide name and bus; always 1.
# TYPE palvoro_drive_info gauge
palvoro_drive_info{serial="S1",model="Evil \"Disk\" \\ 1\n?",wwn="5000c500a1b2c3d4",bus="SATA"} 1
palvoro_drive_info{serial="N1",model="Sabik NV2",wwn="",bus="NVMe"} 1
# HELP palvoro_snapshot_timestamp_seconds When the drive's SMART state was last read, in seconds since the epoch.
# TYPE palvoro_snapshot_timestamp_seconds gauge
palvoro_snapshot_timestamp_seconds{serial="S1"} 1796878860
palvoro_snapshot_timestamp_seconds{serial="N1"} 1796878920
# HELP palvoro_smart_attribute_value An ATA SMART attribute's normalised value at the last reading.
# TYPE palvoro_smart_attribute_value gauge
palvoro_smart_attribute_value{serial="S1",id="5",name="Reallocated Sector Count"} 100
palvoro_smart_attribute_value{serial="S1",id="194",name="Temperature"} 66
palvoro_smart_attribute_value{serial="S1",id="197",name="Current Pending Sector Count"} 30
# HELP palvoro_smart_attribute_worst The lowest normalised value an ATA SMART attribute has had.
# TYPE palvoro_smart_attribute_worst gauge
palvoro_smart_attribute_worst{serial="S1",id="5",name="Reallocated Sector Count"} 100
palvoro_smart_attribute_worst{serial="S1",id="194",name="Temperature"} 50
palvoro_smart_attribute_worst{serial="S1",id="197",name="Current Pending Sector Count"} 30
# HELP palvoro_smart_attribute_threshold The normalised value at or below which the attribute says the drive fails.
# TYPE palvoro_smart_attribute_threshold gauge
palvoro_smart_attribute_threshold{serial="S1",id="5",name="Reallocated Sector Count"} 36
palvoro_smart_attribute_threshold{serial="S1",id="194",name="Temperature"} 0
palvoro_smart_attribute_threshold{serial="S1",id="197",name="Current Pending Sector Count"} 40
# HELP palvoro_smart_attribute_raw An ATA SMART attribute's raw value at the last reading.
# TYPE palvoro_smart_attribute_raw gauge
palvoro_smart_attribute_raw{serial="S1",id="5",name="Reallocated Sector Count"} 3
palvoro_smart_attribute_raw{serial="S1",id="194",name="Temperature"} 214750330920
palvoro_smart_attribute_raw{serial="S1",id="197",name="Current Pending Sector Count"} 4294967305
# HELP palvoro_smart_passed 1 when the drive's own verdict at the last reading was a pass, 0 when it failed.
# TYPE palvoro_smart_passed gauge
palvoro_smart_passed{serial="S1"} 0
palvoro_smart_passed{serial="N1"} 1
# HELP palvoro_last_self_test_success 1 when the newest self-test in the drive's log passed, 0 when it failed.
# TYPE palvoro_last_self_test_success gauge
palvoro_last_self_test_success{serial="S1"} 0
palvoro_last_self_test_success{serial="N1"} 1
# HELP palvoro_drive_logged_errors_total Errors the drive has logged in its life.
# TYPE palvoro_drive_logged_errors_total counter
palvoro_drive_logged_errors_total{serial="S1"} 3
# HELP palvoro_ata_reallocated_sectors Sectors the drive has replaced with spares (attribute 5).
# TYPE palvoro_ata_reallocated_sectors gauge
palvoro_ata_reallocated_sectors{serial="S1"} 3
# HELP palvoro_ata_pending_sectors Sectors waiting to be replaced after a failed read (attribute 197).
# TYPE palvoro_ata_pending_sectors gauge
palvoro_ata_pending_sectors{serial="S1"} 9
# HELP palvoro_drive_temperature_celsius The drive's temperature at the last reading.
# TYPE palvoro_drive_temperature_celsius gauge
palvoro_drive_temperature_celsius{serial="S1"} 40
palvoro_drive_temperature_celsius{serial="N1"} 41
# HELP palvoro_drive_power_on_seconds_total How long the drive has been powered on.
# TYPE palvoro_drive_power_on_seconds_total counter
palvoro_drive_power_on_seconds_total{serial="N1"} 4320000
# HELP palvoro_nvme_percentage_used_ratio The share of the NVMe drive's rated endurance used; may pass 1.
# TYPE palvoro_nvme_percentage_used_ratio gauge
palvoro_nvme_percentage_used_ratio{serial="N1"} 0.03
# HELP palvoro_nvme_available_spare_ratio The share of the NVMe drive's spare capacity still available.
# TYPE palvoro_nvme_available_spare_ratio gauge
palvoro_nvme_available_spare_ratio{serial="N1"} 1
# HELP palvoro_nvme_media_errors_total Unrecovered data integrity errors the NVMe drive has met.
# TYPE palvoro_nvme_media_errors_total counter
palvoro_nvme_media_errors_total{serial="N1"} 0
# HELP palvoro_nvme_unsafe_shutdowns_total Times the NVMe drive lost power without being told first.
# TYPE palvoro_nvme_unsafe_shutdowns_total counter
palvoro_nvme_unsafe_shutdowns_total{serial="N1"} 7
# HELP palvoro_last_run_timestamp_seconds When the drive's last run of this kind ended, in seconds since the epoch.
# TYPE palvoro_last_run_timestamp_seconds gauge
palvoro_last_run_timestamp_seconds{serial="S1",kind="extended"} 1796824920
palvoro_last_run_timestamp_seconds{serial="S1",kind="quick"} 1796878800
palvoro_last_run_timestamp_seconds{serial="N1",kind="erase"} 1796875200
# HELP palvoro_last_run_success 1 when the drive's last run of this kind passed or completed, 0 otherwise.
# TYPE palvoro_last_run_success gauge
palvoro_last_run_success{serial="S1",kind="extended"} 0
palvoro_last_run_success{serial="S1",kind="quick"} 1
palvoro_last_run_success{serial="N1",kind="erase"} 1
# HELP palvoro_last_run_bad_sectors The bad sectors the drive's last run of this kind found.
# TYPE palvoro_last_run_bad_sectors gauge
palvoro_last_run_bad_sectors{serial="S1",kind="extended"} 2
palvoro_last_run_bad_sectors{serial="S1",kind="quick"} 0
palvoro_last_run_bad_sectors{serial="N1",kind="erase"} 0
# HELP palvoro_scan_block_latency_seconds How long each readable block of the drive's last scan took.
# TYPE palvoro_scan_block_latency_seconds histogram
palvoro_scan_block_latency_seconds_bucket{serial="S1",le="0.005"} 90
palvoro_scan_block_latency_seconds_bucket{serial="S1",le="0.02"} 95
palvoro_scan_block_latency_seconds_bucket{serial="S1",le="0.05"} 98
palvoro_scan_block_latency_seconds_bucket{serial="S1",le="0.15"} 99
palvoro_scan_block_latency_seconds_bucket{serial="S1",le="0.5"} 99
palvoro_scan_block_latency_seconds_bucket{serial="S1",le="+Inf"} 100
palvoro_scan_block_latency_seconds_sum{serial="S1"} 1.2345
palvoro_scan_block_latency_seconds_count{serial="S1"} 100
)");
}

}  // namespace
}  // namespace palvoro
