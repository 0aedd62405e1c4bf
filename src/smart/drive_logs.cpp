#include "smart/drive_logs.h"

#include <algorithm>
#include <cstring>

#include "device/drive_requests.h"
#include "device/nvme_transport.h"
#include "platform/records.h"
#include "platform/scoped_handle.h"
#include "protocol/ata_commands.h"
#include "protocol/byte_order.h"
#include "protocol/nvme_command.h"
#include "smart/ata_log_path.h"
#include "smart/nvme_health.h"
#include "smart/smart_pages.h"

namespace palvoro {
namespace {

constexpr uint8_t kLogDirectory = 0x00;
constexpr uint8_t kPowerOnHoursAttribute = 9;
constexpr size_t kMaxStatisticsPages = 8;
constexpr size_t kElpeByte = 262;  // Identify Controller: error log page entries, zero-based

// The raw value of attribute 9 in a SMART data page. Drives keep the hours in the low
// four bytes; some put minutes or milliseconds above them.
[[nodiscard]] std::optional<uint64_t> attributeHours(const LogPage& page) {
  const SmartPage data(page.data(), page.size());
  for (int i = 0; i < kSmartEntryCount; ++i) {
    const SmartAttribute attribute = smartAttribute(data, i);
    if (attribute.id == kPowerOnHoursAttribute) return attribute.raw & 0xFFFFFFFFu;
  }
  return std::nullopt;
}

void readAtaLogs(AtaLogPath& path, DriveLogs& logs) {
  LogPage page{};
  // The general purpose log directory says which extended logs the drive keeps and how
  // many pages each has; a path that cannot carry READ LOG EXT reads none of them.
  uint16_t selfTestPages = 0;
  uint16_t errorPages = 0;
  if (path.extLog(kLogDirectory, 0, page)) {
    selfTestPages = loadLe16(page.data() + 2 * kExtSelfTestLogAddress);
    errorPages = loadLe16(page.data() + 2 * kExtComprehensiveErrorLogAddress);
  }

  // The extended self-test log names failing sectors past the SMART log's 28 bits; the
  // SMART log serves the drives and paths without it.
  if (selfTestPages > 0) {
    logs.selfTests = decodeExtSelfTestLog(
        [&path](uint16_t number, LogPage& out) { return path.extLog(kExtSelfTestLogAddress, number, out); },
        selfTestPages);
  }
  if (!logs.selfTests && path.smartLog(kSelfTestLogAddress, page)) logs.selfTests = decodeSelfTestLog(page);
  if (!logs.selfTests) logs.notRead.push_back(kSelfTestLogName);
  if (path.smartLog(kSummaryErrorLogAddress, page)) {
    logs.summaryErrors = decodeSummaryErrorLog(page);
  } else {
    logs.notRead.push_back(kSummaryErrorLogName);
  }

  if (errorPages > 0) {
    logs.comprehensiveErrors = decodeExtComprehensiveErrorLog(
        [&path](uint16_t number, LogPage& out) { return path.extLog(kExtComprehensiveErrorLogAddress, number, out); },
        errorPages, kComprehensiveErrorEntries);
  }
  if (!logs.comprehensiveErrors) logs.notRead.push_back(kComprehensiveErrorLogName);

  if (path.extLog(kDeviceStatisticsLogAddress, 0, page)) {
    std::vector<DeviceStatistic> statistics;
    size_t pagesRead = 0;
    for (const uint8_t number : deviceStatisticsPageList(page)) {
      if (number == 0 || pagesRead == kMaxStatisticsPages) continue;
      LogPage statisticsPage{};
      if (!path.extLog(kDeviceStatisticsLogAddress, number, statisticsPage)) continue;
      ++pagesRead;
      const std::vector<DeviceStatistic> found = decodeDeviceStatisticsPage(statisticsPage);
      statistics.insert(statistics.end(), found.begin(), found.end());
    }
    logs.statistics = std::move(statistics);
  } else {
    logs.notRead.push_back(kDeviceStatisticsName);
  }

  if (path.smartLog(kSctCommandLog, page)) logs.sctStatus = decodeSctStatus(page);
  if (!logs.sctStatus) {
    logs.notRead.push_back(kSctStatusName);
  } else {
    // The history is asked for with an SCT command and handed over in the data log.
    if (path.sctCommand(sctTemperatureHistoryRequest()) && path.smartLog(kSctDataLogAddress, page)) {
      logs.temperatureHistory = decodeSctTemperatureHistory(page);
    }
  }
  if (!logs.temperatureHistory) logs.notRead.push_back(kTemperatureHistoryName);

  if (logs.statistics) {
    if (const std::optional<uint32_t> hours = powerOnHoursOf(*logs.statistics)) logs.powerOnHours = *hours;
  }
  if (!logs.powerOnHours && path.smartData(page)) logs.powerOnHours = attributeHours(page);
}

void readNvmeLogs(Platform& platform, Handle handle, DriveLogs& logs) {
  std::vector<uint8_t> identify(4096, 0);
  uint32_t entries = kNvmeErrorEntriesWanted;
  if (nvmeIdentifyController(platform, handle, identify.data())) {
    entries = std::min<uint32_t>(entries, static_cast<uint32_t>(identify[kElpeByte]) + 1);
  }
  // The driver takes no log shorter than 512 bytes; entries beyond what the controller
  // keeps come back empty and are left out.
  std::vector<uint8_t> errors(std::max<size_t>(entries * kNvmeErrorEntryBytes, 512), 0);
  if (nvmeGetLogPage(platform, handle, kNvmeErrorInformationLogId, static_cast<uint32_t>(errors.size()),
                     errors.data())) {
    logs.nvmeErrors = decodeNvmeErrorLog(errors);
  } else {
    logs.notRead.push_back(kNvmeErrorLogName);
  }
  std::vector<uint8_t> selfTests(kNvmeSelfTestLogBytes, 0);
  if (nvmeGetLogPage(platform, handle, kNvmeSelfTestLogId, kNvmeSelfTestLogBytes, selfTests.data())) {
    logs.nvmeSelfTests = decodeNvmeSelfTestLog(selfTests);
  }
  if (!logs.nvmeSelfTests) logs.notRead.push_back(kSelfTestLogName);
  if (const std::optional<NvmeHealth> health = readNvmeHealth(platform, handle)) {
    if (health->powerOnHours.fits64()) logs.powerOnHours = health->powerOnHours.low;
  }
}

}  // namespace

bool driveLogsReachable(const DriveRecord& drive) {
  return drive.driveClass == kDriveClassAta || drive.driveClass == kDriveClassNvme || usesAtaCarrier(drive);
}

bool DriveLogs::anyRead() const {
  return selfTests || summaryErrors || comprehensiveErrors || statistics || sctStatus || temperatureHistory ||
         nvmeErrors || nvmeSelfTests;
}

DriveLogs readDriveLogs(Platform& platform, const DriveRecord& drive, bool miniportMode, uint8_t raidMemberSelect) {
  DriveLogs logs;
  if (drive.driveClass == kDriveClassNvme) {
    logs.nvme = true;
    ScopedHandle handle(platform, openNvmeDrive(platform, drive.physicalDriveNumber));
    if (!handle.valid()) return logs;
    logs.opened = true;
    readNvmeLogs(platform, handle.get(), logs);
    return logs;
  }
  if (!driveLogsReachable(drive)) return logs;
  ScopedHandle handle(platform, openSmartPath(platform, drive.physicalDriveNumber, miniportMode));
  if (!handle.valid()) return logs;
  logs.opened = true;
  readAtaLogs(*ataLogPathOf(platform, handle.get(), drive, miniportMode, raidMemberSelect), logs);
  return logs;
}

std::vector<std::string> driveLogHints(const DriveLogs& logs) {
  std::vector<std::string> hints;
  const auto add = [&hints](const std::vector<std::string>& more) { hints.insert(hints.end(), more.begin(), more.end()); };
  if (logs.selfTests) add(selfTestHints(*logs.selfTests));
  const std::optional<uint32_t> hours =
      logs.powerOnHours ? std::optional<uint32_t>(static_cast<uint32_t>(*logs.powerOnHours)) : std::nullopt;
  // The comprehensive log keeps more and wider entries; the summary is its first page's
  // worth for drives without it.
  if (logs.comprehensiveErrors) {
    add(errorLogHints(*logs.comprehensiveErrors, hours));
  } else if (logs.summaryErrors) {
    add(errorLogHints(*logs.summaryErrors, hours));
  }
  if (logs.statistics) add(deviceStatisticsHints(*logs.statistics));
  if (logs.sctStatus || logs.temperatureHistory) add(temperatureHints(logs.sctStatus, logs.temperatureHistory));
  if (logs.nvme && (logs.nvmeErrors || logs.nvmeSelfTests)) {
    add(nvmeLogHints(logs.nvmeErrors ? *logs.nvmeErrors : std::vector<NvmeErrorEntry>{}, logs.nvmeSelfTests,
                     logs.powerOnHours));
  }
  return hints;
}

}  // namespace palvoro
