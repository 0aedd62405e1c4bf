#include "device/drive_requests.h"

#include <array>
#include <cstring>

#include "device/ata_command.h"
#include "device/drive_handle.h"
#include "device/scsi_transport.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "platform/scoped_handle.h"
#include "protocol/byte_order.h"

namespace palvoro {
namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

// USB drives take the block over SAT ATA PASS-THROUGH (16); every other drive over ATA
// pass-through.
[[nodiscard]] bool sendDsmBlock(Platform& platform, Handle handle, const TrimTarget& target, uint8_t opcode,
                                const std::array<uint8_t, kSectorBytes>& block) {
  if (target.usbBridge) {
    uint8_t bytes[kSectorBytes];
    std::memcpy(bytes, block.data(), kSectorBytes);
    return satDataSetManagement(platform, handle, opcode, bytes) == DriveRequestError::None;
  }
  const AtaReply r = sendAtaCommand(platform, handle, dataSetManagementCommand(opcode, target.unit), block.data());
  return r.requestOk && !r.errSet();
}

}  // namespace

std::string smartPathName(int physicalDriveNumber, bool miniportMode) {
  if (miniportMode) return "\\\\.\\Scsi" + std::to_string((physicalDriveNumber >> 1) & 1) + ":";
  return physicalDrivePath(physicalDriveNumber);
}

Handle openSmartPath(Platform& platform, int physicalDriveNumber, bool miniportMode) {
  return platform.createFile(smartPathName(physicalDriveNumber, miniportMode), kReadWrite, kShareAll, OPEN_EXISTING,
                             0);
}

std::optional<DriveInstance> driveInstanceOf(Platform& platform, Handle handle) {
  STORAGE_DEVICE_NUMBER_EX reply{};
  uint32_t returned = 0;
  if (!platform.deviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER_EX, nullptr, 0, &reply, sizeof reply,
                                &returned) ||
      returned < sizeof reply || reply.Size < sizeof reply) {
    return std::nullopt;
  }
  DriveInstance instance;
  instance.number = reply.DeviceNumber;
  std::memcpy(instance.guid.data(), reply.DeviceGuid, instance.guid.size());
  return instance;
}

std::optional<DriveInstance> driveInstanceAt(Platform& platform, int physicalDriveNumber) {
  ScopedHandle drive(platform, platform.createFile(physicalDrivePath(physicalDriveNumber), 0, kShareAll,
                                                   OPEN_EXISTING, 0));
  if (!drive.valid()) return std::nullopt;
  return driveInstanceOf(platform, drive.get());
}

bool deleteDriveLayout(Platform& platform, int physicalDriveNumber) {
  ScopedHandle drive(platform,
                     platform.createFile(physicalDrivePath(physicalDriveNumber), kReadWrite, kShareAll, OPEN_EXISTING,
                                         FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING));
  if (!drive.valid()) return false;
  uint32_t returned = 0;
  return platform.deviceIoControl(drive.get(), IOCTL_DISK_DELETE_DRIVE_LAYOUT, nullptr, 0, nullptr, 0, &returned);
}

bool updateDiskProperties(Platform& platform, Prompter& prompter, int physicalDriveNumber, bool miniportMode) {
  ScopedHandle drive(platform, platform.createFile(smartPathName(physicalDriveNumber, miniportMode), kReadWrite,
                                                   kShareAll, OPEN_EXISTING,
                                                   FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING));
  if (!drive.valid()) {
    prompter.ask("Failed to update disk property!", platform.productTitle(), PromptIcon::None, PromptButtons::Ok,
                 PromptAnswer::Ok, PromptPurpose::information());
    return false;
  }
  std::array<uint8_t, 260> layout{};
  uint32_t returned = 0;
  // The layout is read only to make the disk stack look at the drive; what it says is not used.
  (void)platform.deviceIoControl(drive.get(), IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, layout.data(),
                                 static_cast<uint32_t>(layout.size()), &returned);
  const bool updated =
      platform.deviceIoControl(drive.get(), IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned);
  // Let go of the drive before waiting: the disk stack re-reads it in the background.
  drive.close();
  platform.sleep(1000);
  return updated;
}

int systemDriveNumber(Platform& platform) {
  const std::string windows = platform.windowsDirectory();
  if (windows.size() < 2) return -1;
  ScopedHandle volume(platform,
                      platform.createFile("\\\\.\\" + windows.substr(0, 2), 0, kShareAll, OPEN_EXISTING, 0));
  if (!volume.valid()) return -1;
  STORAGE_DEVICE_NUMBER number{};
  uint32_t returned = 0;
  if (!platform.deviceIoControl(volume.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                                &returned)) {
    return -1;
  }
  return static_cast<int>(number.DeviceNumber);
}

DriveRequestError sctVendorSwitch(Platform& platform, int physicalDriveNumber, bool miniportMode, uint8_t function) {
  ScopedHandle drive(platform, openSmartPath(platform, physicalDriveNumber, miniportMode));
  if (!drive.valid()) return DriveRequestError::NoDrive;
  // SCT command: action code C013h (little-endian 13 C0), then the function byte.
  std::array<uint8_t, kSectorBytes> data{};
  data[0] = 0x13;
  data[1] = 0xC0;
  data[2] = function;
  const AtaReply r = sendAtaCommand(platform, drive.get(), smartWriteLogSctCommand(), data.data());
  return r.requestOk && !r.errSet() ? DriveRequestError::None : DriveRequestError::NoDrive;
}

DriveRequestError trimRange(Platform& platform, const TrimTarget& target, uint64_t start, uint64_t count) {
  ScopedHandle drive(platform, openSmartPath(platform, target.physicalDriveNumber, target.miniportMode));
  if (!drive.valid() || count == 0) return DriveRequestError::NoDrive;
  std::array<uint8_t, kSectorBytes> block{};
  int entries = 0;
  uint64_t lba = start;
  uint64_t left = count;
  while (left > 0) {
    const uint32_t n = left > kTrimEntrySectors ? kTrimEntrySectors : static_cast<uint32_t>(left);
    // Entry: 48-bit starting LBA (bytes 0-5, least significant first), then the
    // 16-bit sector count (bytes 6-7).
    uint8_t* e = block.data() + 8 * entries;
    storeLe48(e, lba);
    storeLe16(e + 6, static_cast<uint16_t>(n));
    lba += n;
    left -= n;
    if (++entries == kTrimEntriesPerBlock) {
      if (!sendDsmBlock(platform, drive.get(), target, kDsmTrim, block)) return DriveRequestError::Trim;
      block.fill(0);
      entries = 0;
    }
  }
  if (entries > 0 && !sendDsmBlock(platform, drive.get(), target, kDsmTrim, block)) return DriveRequestError::Trim;
  return DriveRequestError::None;
}

DriveRequestError trimRangeXl(Platform& platform, const TrimTarget& target, uint64_t start, uint64_t count) {
  ScopedHandle drive(platform, openSmartPath(platform, target.physicalDriveNumber, target.miniportMode));
  if (!drive.valid() || count == 0) return DriveRequestError::NoDrive;
  // One 16-byte entry: 64-bit starting LBA, then the 64-bit sector count, little-endian.
  std::array<uint8_t, kSectorBytes> block{};
  storeLe64(block.data() + 0, start);
  storeLe64(block.data() + 8, count);
  return sendDsmBlock(platform, drive.get(), target, kDsmXl, block) ? DriveRequestError::None : DriveRequestError::Trim;
}

}  // namespace palvoro
