#include "discovery/detection.h"

#include <cstring>
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
    if (platform.deviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned) &&
        number.DeviceNumber < static_cast<uint32_t>(kProbeLimit)) {
      table.virtualDisk[number.DeviceNumber] = 1;
    }
    platform.closeHandle(h);
  }
}

namespace {
bool alreadyListed(const DriveTable& table, int slots, const DriveRecord& record) {
  for (int i = 0; i < slots; ++i) {
    const DriveRecord& other = table.records[i];
    if (std::strcmp(other.model, record.model) == 0 && std::strcmp(other.serialNumber, record.serialNumber) == 0) {
      return true;
    }
  }
  return false;
}
}  // namespace

std::string detectionDeviceName(int driveNumber, bool miniportMode) {
  return smartPathName(driveNumber, miniportMode);
}

int detectDrives(const ProbeEnvironment& env, DriveTable& table) {
  clearDriveTable(table);
  markVirtualDisks(env.platform, table);
  int slot = 0;
  int lastAccepted = 0;
  for (int n = 0; n < kProbeLimit && slot < kMaxDrives; ++n) {
    if (table.virtualDisk[n] == 1) continue;
    const Handle h = env.platform.createFile(detectionDeviceName(n, env.miniportMode), GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (h == INVALID_HANDLE_VALUE) continue;
    // A rejected or skipped drive must leave no trace, so the probe fills a scratch
    // record that is copied into the table only when the drive is accepted.
    DriveRecord record{};
    const ProbeOutcome outcome = probeDrive(env, h, n, record);
    env.platform.closeHandle(h);
    lastAccepted = outcome == ProbeOutcome::Accepted ? 1 : 0;
    if (lastAccepted == 1 && env.miniportMode && alreadyListed(table, slot, record)) {
      // Through the miniport two drive numbers open the same SCSI port and reach the same
      // target; the drive is listed once.
      continue;
    }
    if (lastAccepted == 1) {
      record.physicalDriveNumber = n;
      table.records[slot++] = record;
    }
  }
  table.driveCount = slot;
  // Every run reads the enclosures' status, whichever drive number happened to be
  // probed last: otherwise an enclosure listed before an ordinary drive would show no
  // state and claim its driver is missing.
  scanRaidInterfaces(env.platform, table);
  return lastAccepted;
}

}  // namespace palvoro
