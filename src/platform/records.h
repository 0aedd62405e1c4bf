#pragma once
// Request records carried by the platform seam, laid out exactly as 32-bit Windows lays
// them out (ULONG_PTR is 4 bytes there). Both backends and the command layer agree on
// these bytes; the static_asserts pin every offset the system fills.

#include <cstddef>
#include <cstdint>

namespace palvoro {

// AtaFlags of ATA_PASS_THROUGH_EX.
inline constexpr uint16_t ATA_FLAGS_DRDY_REQUIRED = 0x01;
inline constexpr uint16_t ATA_FLAGS_DATA_IN = 0x02;
inline constexpr uint16_t ATA_FLAGS_DATA_OUT = 0x04;
inline constexpr uint16_t ATA_FLAGS_48BIT_COMMAND = 0x08;
inline constexpr uint16_t ATA_FLAGS_USE_DMA = 0x10;
inline constexpr uint16_t ATA_FLAGS_NO_MULTIPLE = 0x20;

// Header of IOCTL_ATA_PASS_THROUGH; the data area follows at DataBufferOffset.
struct ATA_PASS_THROUGH_EX {
  uint16_t Length;
  uint16_t AtaFlags;
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t ReservedAsUchar;
  uint32_t DataTransferLength;
  uint32_t TimeOutValue;
  uint32_t ReservedAsUlong;
  uint32_t DataBufferOffset;  // ULONG_PTR in the 32-bit layout
  uint8_t PreviousTaskFile[8];
  uint8_t CurrentTaskFile[8];
};
static_assert(sizeof(ATA_PASS_THROUGH_EX) == 40);
static_assert(offsetof(ATA_PASS_THROUGH_EX, AtaFlags) == 2);
static_assert(offsetof(ATA_PASS_THROUGH_EX, PathId) == 4);
static_assert(offsetof(ATA_PASS_THROUGH_EX, DataTransferLength) == 8);
static_assert(offsetof(ATA_PASS_THROUGH_EX, TimeOutValue) == 12);
static_assert(offsetof(ATA_PASS_THROUGH_EX, DataBufferOffset) == 20);
static_assert(offsetof(ATA_PASS_THROUGH_EX, PreviousTaskFile) == 24);
static_assert(offsetof(ATA_PASS_THROUGH_EX, CurrentTaskFile) == 32);

// Positions inside PreviousTaskFile / CurrentTaskFile (the IDE register order).
enum TaskFileIndex : int {
  kTaskFeatures = 0,  // error register on return
  kTaskCount = 1,
  kTaskLbaLow = 2,
  kTaskLbaMid = 3,
  kTaskLbaHigh = 4,
  kTaskDevice = 5,
  kTaskCommand = 6,  // status register on return
  kTaskReserved = 7,
};

// Reply of IOCTL_STORAGE_GET_DEVICE_NUMBER.
struct STORAGE_DEVICE_NUMBER {
  uint32_t DeviceType;
  uint32_t DeviceNumber;
  uint32_t PartitionNumber;
};
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) == 4);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber) == 8);

// One entry of the reply of IOCTL_DISK_GET_DRIVE_LAYOUT (LARGE_INTEGERs align it to 8).
struct PARTITION_INFORMATION {
  int64_t StartingOffset;
  int64_t PartitionLength;
  uint32_t HiddenSectors;
  uint32_t PartitionNumber;
  uint8_t PartitionType;
  uint8_t BootIndicator;
  uint8_t RecognizedPartition;
  uint8_t RewritePartition;
};
static_assert(sizeof(PARTITION_INFORMATION) == 32);
static_assert(offsetof(PARTITION_INFORMATION, HiddenSectors) == 16);
static_assert(offsetof(PARTITION_INFORMATION, PartitionType) == 24);

// Reply of IOCTL_DISK_GET_DRIVE_LAYOUT: a header followed by PartitionCount entries.
struct DRIVE_LAYOUT_INFORMATION_HEADER {
  uint32_t PartitionCount;
  uint32_t Signature;
};
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_HEADER) == 8);
inline constexpr uint32_t kDriveLayoutEntryOffset = 8;

}  // namespace palvoro
