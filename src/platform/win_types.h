#pragma once
// Values of the Windows calls the system is written against. The platform seam keeps
// their names and numbers so that request records and error codes stay byte-exact
// whichever backend answers them.

#include <cstdint>

namespace palvoro {

// An operating-system handle; INVALID_HANDLE_VALUE (-1) means "not open".
using Handle = std::intptr_t;
inline constexpr Handle INVALID_HANDLE_VALUE = -1;

// Access rights for createFile.
inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;

// Share modes.
inline constexpr uint32_t FILE_SHARE_READ = 0x1;
inline constexpr uint32_t FILE_SHARE_WRITE = 0x2;

// Creation dispositions.
inline constexpr uint32_t CREATE_NEW = 1;
inline constexpr uint32_t CREATE_ALWAYS = 2;
inline constexpr uint32_t OPEN_EXISTING = 3;
inline constexpr uint32_t OPEN_ALWAYS = 4;
inline constexpr uint32_t TRUNCATE_EXISTING = 5;

// Flags.
inline constexpr uint32_t FILE_FLAG_WRITE_THROUGH = 0x80000000u;
inline constexpr uint32_t FILE_FLAG_NO_BUFFERING = 0x20000000u;

// setFilePointer move methods and its failure value.
inline constexpr uint32_t FILE_BEGIN = 0;
inline constexpr uint32_t FILE_CURRENT = 1;
inline constexpr uint32_t FILE_END = 2;
inline constexpr uint32_t INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// Last-error values the backends report, each with the meaning Windows gives it.
inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_INVALID_FUNCTION = 1;     // request not supported by this device
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;       // no device or file of that name
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;       // folder of a file path missing
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;        // rights or access mode insufficient
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;       // handle not open
inline constexpr uint32_t ERROR_NOT_READY = 21;           // device not ready
inline constexpr uint32_t ERROR_CRC = 23;                 // data error: a sector could not be read
inline constexpr uint32_t ERROR_SECTOR_NOT_FOUND = 27;    // position beyond the end of the media
inline constexpr uint32_t ERROR_WRITE_FAULT = 29;         // a sector could not be written
inline constexpr uint32_t ERROR_GEN_FAILURE = 31;         // device attached but not functioning
inline constexpr uint32_t ERROR_SHARING_VIOLATION = 32;   // opened by another handle incompatibly
inline constexpr uint32_t ERROR_NOT_SUPPORTED = 50;       // request not supported
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;   // malformed request record or argument
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;  // output buffer too small
inline constexpr uint32_t ERROR_NEGATIVE_SEEK = 131;      // position before the beginning
inline constexpr uint32_t ERROR_IO_DEVICE = 1117;         // the device failed the transfer
inline constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;  // device removed

// Drive types of driveType().
inline constexpr uint32_t DRIVE_UNKNOWN = 0;
inline constexpr uint32_t DRIVE_NO_ROOT_DIR = 1;
inline constexpr uint32_t DRIVE_REMOVABLE = 2;
inline constexpr uint32_t DRIVE_FIXED = 3;
inline constexpr uint32_t DRIVE_REMOTE = 4;
inline constexpr uint32_t DRIVE_CDROM = 5;
inline constexpr uint32_t DRIVE_RAMDISK = 6;

}  // namespace palvoro

namespace palvoro {

// Device interface classes the system enumerates.
inline constexpr const char* GUID_DEVINTERFACE_DISK = "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}";
// The RAID enclosure driver's status interface.
inline constexpr const char* GUID_RAID_STATUS_INTERFACE = "{57EDCD85-0281-4893-A224-6719F892B1A4}";

}  // namespace palvoro
