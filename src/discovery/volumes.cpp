#include "discovery/volumes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"

namespace palvoro {
namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;

// A: and B: belong to floppy drives and are never looked at.
constexpr char kFirstLetter = 'C';
constexpr char kLastLetter = 'Z';

// Where the classic MBR keeps what the check looks at.
constexpr size_t kMbrBytes = 512;
constexpr size_t kBootSignatureAt = 510;   // 55h AAh
constexpr size_t kFirstEntryAt = 446;      // partition entry 1: boot indicator, then CHS start

std::string rootOf(char letter) { return std::string(1, letter) + ":\\"; }

// The device number of the volume behind `letter`, or -1.
int64_t volumeDeviceNumber(Platform& platform, char letter) {
  DriveHandle volume(platform);
  if (!volume.openShared(std::string("\\\\.\\") + letter + ":", kReadWrite, 0, OPEN_EXISTING)) return -1;
  STORAGE_DEVICE_NUMBER number{};
  uint32_t returned = 0;
  if (!platform.deviceIoControl(volume.handle(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                sizeof number, &returned)) {
    return -1;
  }
  return number.DeviceNumber;
}

// Bytes read as sector 0: one whole sector, since a drive with 4096-byte sectors refuses a
// 512-byte read and its partition table would otherwise go unseen before an erase. A size
// that is not a power of two from 512 falls back to 512.
uint32_t sectorReadSize(int32_t sectorSize) {
  return usableSectorSize(sectorSize) ? static_cast<uint32_t>(sectorSize) : kMbrBytes;
}

}  // namespace

void mapVolumes(Platform& platform, DriveTable& table) {
  for (DriveRecord& record : table.records) {
    record.volumeCount = 0;
    std::memset(record.volumeLetters, 0, sizeof record.volumeLetters);
  }

  const uint32_t present = platform.logicalDrives();
  for (char letter = kFirstLetter; letter <= kLastLetter; ++letter) {
    if ((present & (1u << (letter - 'A'))) == 0) continue;
    const uint32_t type = platform.driveType(rootOf(letter));
    if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) continue;
    const int64_t deviceNumber = volumeDeviceNumber(platform, letter);
    if (deviceNumber < 0) continue;
    for (DriveRecord& record : table.records) {
      if (record.physicalDriveNumber != deviceNumber) continue;
      // C..Z are 24 letters, so this never fills; the check keeps the terminator safe
      // whatever count a record was left with.
      if (record.volumeCount >= 0 && record.volumeCount < kMaxVolumeLetters) {
        record.volumeLetters[record.volumeCount] = letter;
        ++record.volumeCount;
      }
      break;
    }
  }
}

int partitionCheck(Platform& platform, const DriveRecord& record) {
  if (systemDriveNumber(platform) == record.physicalDriveNumber) return kSystemDrive;

  const uint32_t size = sectorReadSize(record.sectorSize);
  std::vector<uint8_t> sector(size, 0);
  DriveHandle drive(platform);
  uint32_t got = 0;
  if (!drive.openShared(physicalDrivePath(record.physicalDriveNumber), GENERIC_READ, 0, OPEN_EXISTING) ||
      !drive.read(sector.data(), size, &got) || got < kMbrBytes) {
    // An unreadable sector 0 counts as a blank one.
    std::fill(sector.begin(), sector.end(), 0);
  }

  if (sector[kBootSignatureAt] == 0x55 && sector[kBootSignatureAt + 1] == 0xAA) return kPartitionsMayExist;
  // Without the signature, a first entry starting at cylinder 0, head 1, sector 1 (the
  // classic first partition) still says the drive was partitioned.
  const uint8_t* entry = sector.data() + kFirstEntryAt;
  if ((entry[0] == 0x00 || entry[0] == 0x80) && entry[1] == 1 && entry[2] == 1 && entry[3] == 0) {
    return kPartitionsMayExist;
  }
  return kNoPartitions;
}

std::vector<VolumeRow> volumeRows(Platform& platform, const DriveRecord& record) {
  std::vector<VolumeRow> rows;
  int count = record.volumeCount;
  if (count < 0) count = 0;
  if (count > kMaxVolumeLetters) count = kMaxVolumeLetters;
  for (int i = 0; i < count; ++i) {
    const char letter = record.volumeLetters[i];
    if (letter == '\0') break;
    const std::string root = rootOf(letter);
    std::string label;
    std::string fileSystem;
    if (!platform.volumeInformation(root, &label, &fileSystem)) continue;
    VolumeRow row;
    row.text = label + " (" + platform.volumeName(letter).name + ")";
    uint64_t total = 0;
    uint64_t free = 0;
    if (platform.diskSpace(root, &total, &free)) {
      // The property page alone shows binary gigabytes, under the same unit name.
      char text[64];
      std::snprintf(text, sizeof text, "%0.2f GB", static_cast<double>(total) / 1073741824.0);
      row.capacity = text;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace palvoro
