#pragma once
// Device control codes, built the way the Windows headers build them so that each
// value can be checked against its definition.

#include <cstdint>

namespace palvoro {

constexpr uint32_t CTL_CODE(uint32_t deviceType, uint32_t function, uint32_t method, uint32_t access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

inline constexpr uint32_t METHOD_BUFFERED = 0;
inline constexpr uint32_t FILE_ANY_ACCESS = 0;
inline constexpr uint32_t FILE_READ_ACCESS = 1;
inline constexpr uint32_t FILE_WRITE_ACCESS = 2;

inline constexpr uint32_t IOCTL_SCSI_BASE = 0x04;
inline constexpr uint32_t IOCTL_DISK_BASE = 0x07;
inline constexpr uint32_t FILE_DEVICE_FILE_SYSTEM = 0x09;
inline constexpr uint32_t IOCTL_STORAGE_BASE = 0x2D;
inline constexpr uint32_t FILE_DEVICE_DISK = 0x07;

inline constexpr uint32_t IOCTL_SCSI_PASS_THROUGH =
    CTL_CODE(IOCTL_SCSI_BASE, 0x0401, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
inline constexpr uint32_t IOCTL_SCSI_MINIPORT =
    CTL_CODE(IOCTL_SCSI_BASE, 0x0402, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
inline constexpr uint32_t IOCTL_ATA_PASS_THROUGH =
    CTL_CODE(IOCTL_SCSI_BASE, 0x040B, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

inline constexpr uint32_t SMART_GET_VERSION =
    CTL_CODE(IOCTL_DISK_BASE, 0x0020, METHOD_BUFFERED, FILE_READ_ACCESS);
inline constexpr uint32_t SMART_SEND_DRIVE_COMMAND =
    CTL_CODE(IOCTL_DISK_BASE, 0x0021, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
inline constexpr uint32_t SMART_RCV_DRIVE_DATA =
    CTL_CODE(IOCTL_DISK_BASE, 0x0022, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

inline constexpr uint32_t IOCTL_DISK_GET_DRIVE_LAYOUT =
    CTL_CODE(IOCTL_DISK_BASE, 0x0003, METHOD_BUFFERED, FILE_READ_ACCESS);
inline constexpr uint32_t IOCTL_DISK_DELETE_DRIVE_LAYOUT =
    CTL_CODE(IOCTL_DISK_BASE, 0x0040, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
inline constexpr uint32_t IOCTL_DISK_UPDATE_PROPERTIES =
    CTL_CODE(IOCTL_DISK_BASE, 0x0050, METHOD_BUFFERED, FILE_ANY_ACCESS);

inline constexpr uint32_t IOCTL_STORAGE_GET_DEVICE_NUMBER =
    CTL_CODE(IOCTL_STORAGE_BASE, 0x0420, METHOD_BUFFERED, FILE_ANY_ACCESS);
// The device number with the GUID that tells this device from any other at the number.
inline constexpr uint32_t IOCTL_STORAGE_GET_DEVICE_NUMBER_EX =
    CTL_CODE(IOCTL_STORAGE_BASE, 0x0421, METHOD_BUFFERED, FILE_ANY_ACCESS);
inline constexpr uint32_t IOCTL_STORAGE_QUERY_PROPERTY =
    CTL_CODE(IOCTL_STORAGE_BASE, 0x0500, METHOD_BUFFERED, FILE_ANY_ACCESS);
inline constexpr uint32_t IOCTL_STORAGE_PROTOCOL_COMMAND =
    CTL_CODE(IOCTL_STORAGE_BASE, 0x04F0, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

inline constexpr uint32_t FSCTL_LOCK_VOLUME =
    CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 6, METHOD_BUFFERED, FILE_ANY_ACCESS);
inline constexpr uint32_t FSCTL_DISMOUNT_VOLUME =
    CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 8, METHOD_BUFFERED, FILE_ANY_ACCESS);

// The published values, so that a slip in CTL_CODE cannot go unnoticed.
static_assert(IOCTL_SCSI_PASS_THROUGH == 0x0004D004);
static_assert(IOCTL_SCSI_MINIPORT == 0x0004D008);
static_assert(IOCTL_ATA_PASS_THROUGH == 0x0004D02C);
static_assert(SMART_GET_VERSION == 0x00074080);
static_assert(SMART_SEND_DRIVE_COMMAND == 0x0007C084);
static_assert(SMART_RCV_DRIVE_DATA == 0x0007C088);
static_assert(IOCTL_DISK_GET_DRIVE_LAYOUT == 0x0007400C);
static_assert(IOCTL_DISK_DELETE_DRIVE_LAYOUT == 0x0007C100);
static_assert(IOCTL_DISK_UPDATE_PROPERTIES == 0x00070140);
static_assert(IOCTL_STORAGE_GET_DEVICE_NUMBER == 0x002D1080);
static_assert(IOCTL_STORAGE_GET_DEVICE_NUMBER_EX == 0x002D1084);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == 0x002D1400);
static_assert(IOCTL_STORAGE_PROTOCOL_COMMAND == 0x002DD3C0);
static_assert(FSCTL_LOCK_VOLUME == 0x00090018);
static_assert(FSCTL_DISMOUNT_VOLUME == 0x00090020);

}  // namespace palvoro
