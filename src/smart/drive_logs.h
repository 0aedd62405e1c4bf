#pragma once
// The drive's own logs, read through whichever carrier reaches the drive (the SMART driver
// with ATA pass-through, a bridge's SAT or vendor block, the NVMe driver's log pages),
// decoded, and what they suggest in words. A log the drive or its bridge does not hand
// over is simply absent: the others are still read.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "discovery/drive_record.h"
#include "platform/platform.h"
#include "smart/device_statistics.h"
#include "smart/error_log.h"
#include "smart/nvme_logs.h"
#include "smart/sct_temperature.h"
#include "smart/self_test_log.h"

namespace palvoro {

// The newest entries of the comprehensive error log that are read and shown.
inline constexpr size_t kComprehensiveErrorEntries = 8;
// The most NVMe error information entries asked for.
inline constexpr uint32_t kNvmeErrorEntriesWanted = 16;

struct DriveLogs {
  bool opened = false;  // the drive's command path opened at all
  bool nvme = false;

  std::optional<SelfTestLog> selfTests;  // the extended self-test log where the drive has it, else the SMART one
  std::optional<AtaErrorLog> summaryErrors;
  std::optional<AtaErrorLog> comprehensiveErrors;
  std::optional<std::vector<DeviceStatistic>> statistics;
  std::optional<SctStatus> sctStatus;
  std::optional<SctTemperatureHistory> temperatureHistory;

  std::optional<std::vector<NvmeErrorEntry>> nvmeErrors;
  std::optional<NvmeSelfTestLog> nvmeSelfTests;

  // The drive's power-on hours now: device statistics, else SMART attribute 9, else the
  // NVMe health log.
  std::optional<uint64_t> powerOnHours;
  // The logs asked for that did not arrive, by their shown names, in the order asked.
  std::vector<std::string> notRead;

  [[nodiscard]] bool anyRead() const;
};

// Reads every log the drive's kind has. ATA drives on the SMART driver path take unit
// `primaryUnit`; USB and FireWire drives their carrier with `raidMemberSelect` as device;
// NVMe drives the controller's log pages. Other drives have no logs to read: opened stays
// false.
DriveLogs readDriveLogs(Platform& platform, const DriveRecord& drive, bool miniportMode, uint8_t raidMemberSelect);

// Whether a drive's logs can be asked for at all: an ATA drive on the SMART driver path,
// a drive behind a bridge that carries ATA commands, an NVMe drive.
[[nodiscard]] bool driveLogsReachable(const DriveRecord& drive);

// Every hint the logs give, self-tests first, then errors, statistics and temperature.
std::vector<std::string> driveLogHints(const DriveLogs& logs);

// Shown names of the logs.
inline constexpr const char* kSelfTestLogName = "Self-test log";
inline constexpr const char* kSummaryErrorLogName = "Summary error log";
inline constexpr const char* kComprehensiveErrorLogName = "Comprehensive error log";
inline constexpr const char* kDeviceStatisticsName = "Device statistics";
inline constexpr const char* kSctStatusName = "SCT status";
inline constexpr const char* kTemperatureHistoryName = "Temperature history";
inline constexpr const char* kNvmeErrorLogName = "Error information log";

}  // namespace palvoro
