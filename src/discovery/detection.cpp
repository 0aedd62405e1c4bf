#include "discovery/detection.h"

#include <cstring>
#include <limits>
#include <string>

#include "device/drive_requests.h"
#include "discovery/raid_status.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"

namespace palvoro {

int checkAdministrator(Platform& platform) { return platform.userIsAdministrator() ? 1 : 0; }

void markVirtualDisks(Platform& platform, DriveTable& table) {
  for (const std::string& path : platform.deviceInterfaces(GUID_DEVINTERFACE_DISK)) {
    if (path.find("acronisvbus") == std::string::npos) continue;
    const Handle h = platform.createFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         OPEN_EXISTING, 0);
    if (h == INVALID_HANDLE_VALUE) continue;
    STORAGE_DEVICE_NUMBER number{};
    uint32_t returned = 0;
    // A number no drive can carry (beyond int) marks nothing.
    if (platform.deviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned) &&
        number.DeviceNumber <= static_cast<uint32_t>(std::numeric_limits<int>::max())) {
      table.virtualDisks.insert(static_cast<int>(number.DeviceNumber));
    }
    platform.closeHandle(h);
  }
}

namespace {
[[nodiscard]] bool alreadyListed(const DriveTable& table, const DriveRecord& record) {
  for (const DriveRecord& other : table.records) {
    if (std::strcmp(other.model, record.model) == 0 && std::strcmp(other.serialNumber, record.serialNumber) == 0) {
      return true;
    }
  }
  return false;
}

// Probes drive number `n` into `record`; nothing when it does not open. A rejected or
// skipped drive must leave no trace, so the caller hands a scratch record and keeps it
// only when the drive is accepted.
std::optional<ProbeOutcome> probeNumber(const ProbeEnvironment& env, int n, DriveRecord& record) {
  const Handle h = env.platform.createFile(smartPathName(n, env.miniportMode), GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  const ProbeOutcome outcome = probeDrive(env, h, n, record);
  env.platform.closeHandle(h);
  if (outcome == ProbeOutcome::Accepted) record.physicalDriveNumber = n;
  return outcome;
}
}  // namespace

std::string detectionDeviceName(int driveNumber, bool miniportMode) {
  return smartPathName(driveNumber, miniportMode);
}

int detectDrives(const ProbeEnvironment& env, DriveTable& table) {
  clearDriveTable(table);
  markVirtualDisks(env.platform, table);
  int lastAccepted = 0;
  for (const int n : env.platform.physicalDriveNumbers()) {
    if (table.virtualDisks.count(n) != 0) continue;
    DriveRecord record{};
    const std::optional<ProbeOutcome> outcome = probeNumber(env, n, record);
    if (!outcome) continue;
    lastAccepted = *outcome == ProbeOutcome::Accepted ? 1 : 0;
    // Through the miniport two drive numbers open the same SCSI port and reach the same
    // target; the drive is listed once.
    if (lastAccepted == 1 && !(env.miniportMode && alreadyListed(table, record))) table.records.push_back(record);
  }
  // Every run reads the enclosures' status, whichever drive number happened to be
  // probed last: otherwise an enclosure listed before an ordinary drive would show no
  // state and claim its driver is missing.
  scanRaidInterfaces(env.platform, table);
  return lastAccepted;
}

std::optional<DriveRecord> detectDrive(const ProbeEnvironment& env, int driveNumber) {
  DriveRecord record{};
  const std::optional<ProbeOutcome> outcome = probeNumber(env, driveNumber, record);
  if (outcome != ProbeOutcome::Accepted) return std::nullopt;
  return record;
}

}  // namespace palvoro
