#pragma once
// Drive-level requests that open, use and close a handle of their own: the partition
// table, disk properties, volume dismounts, the system drive's number, the maker's SCT
// switch and TRIM.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/device_status.h"
#include "platform/platform.h"
#include "platform/prompter.h"

namespace palvoro {

// The name the SMART path opens: "\\.\PhysicalDriveN", or for a user without
// administrator rights the SCSI port "\\.\ScsiM:" with M = (N >> 1) AND 1.
std::string smartPathName(int physicalDriveNumber, bool miniportMode);
// Opens the SMART path as its commands do (read and write, share read and write, open
// existing, no flags). INVALID_HANDLE_VALUE on failure.
[[nodiscard]] Handle openSmartPath(Platform& platform, int physicalDriveNumber, bool miniportMode);

// What tells a drive from every other at its number, as IOCTL_STORAGE_GET_DEVICE_NUMBER_EX
// reports it: the number and the device's GUID. A drive pulled and another put in at the
// number (or the same one plugged in again, where the system cannot vouch for its
// identity) has another GUID, so a question answered for one drive is never taken as
// answered for the drive that came after it.
struct DriveInstance {
  uint32_t number = 0;
  std::array<uint8_t, 16> guid{};
  bool operator==(const DriveInstance&) const = default;
};
// The instance of the drive `handle` is open on; nothing when the system cannot tell.
[[nodiscard]] std::optional<DriveInstance> driveInstanceOf(Platform& platform, Handle handle);
// The instance of the drive now at `physicalDriveNumber`, through a handle of its own that
// asks for no access (no rights needed); nothing when no drive is there.
[[nodiscard]] std::optional<DriveInstance> driveInstanceAt(Platform& platform, int physicalDriveNumber);

// Removes the drive's partition table (IOCTL_DISK_DELETE_DRIVE_LAYOUT). True on success.
[[nodiscard]] bool deleteDriveLayout(Platform& platform, int physicalDriveNumber);
// Makes the system re-read the drive after its layout changed. Returns whether
// IOCTL_DISK_UPDATE_PROPERTIES succeeded; false also after telling the user
// "Failed to update disk property!" when the drive does not open.
[[nodiscard]] bool updateDiskProperties(Platform& platform, Prompter& prompter, int physicalDriveNumber,
                                        bool miniportMode);
// Device number of the drive holding the Windows directory, or -1.
[[nodiscard]] int systemDriveNumber(Platform& platform);

// The maker's SCT command (action C013h) that switches what a dual-unit drive reports:
// function 1 on, 0 off. NoDrive when the drive does not open, the request fails or the
// drive answers ERR.
inline constexpr uint8_t kSctSwitchOn = 1;
inline constexpr uint8_t kSctSwitchOff = 0;
[[nodiscard]] DriveRequestError sctVendorSwitch(Platform& platform, int physicalDriveNumber, bool miniportMode,
                                                uint8_t function);

// Where a DATA SET MANAGEMENT command goes: the drive, how its SMART path is reached,
// the unit, and whether it sits behind a USB bridge (the command then travels in SAT ATA
// PASS-THROUGH (16) instead of ATA pass-through).
struct TrimTarget {
  int physicalDriveNumber = 0;
  bool miniportMode = false;
  uint8_t unit = 0;
  bool usbBridge = false;
};

// TRIM (DATA SET MANAGEMENT 06h) of `count` sectors from `start`, cut into entries of
// 61440 sectors, 64 entries a block. NoDrive when the drive does not open or there is
// nothing to trim; Trim at the first block the drive refuses.
[[nodiscard]] DriveRequestError trimRange(Platform& platform, const TrimTarget& target, uint64_t start, uint64_t count);
// The same with DATA SET MANAGEMENT XL (07h): one block holding one 16-byte entry.
[[nodiscard]] DriveRequestError trimRangeXl(Platform& platform, const TrimTarget& target, uint64_t start,
                                            uint64_t count);

inline constexpr uint32_t kTrimEntrySectors = 61440;  // F000h: the largest multiple of 4 KiB in 16 bits
inline constexpr int kTrimEntriesPerBlock = 64;       // 8-byte entries in one 512-byte block

}  // namespace palvoro
