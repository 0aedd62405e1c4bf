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

// ---- SMART driver interface (SMART_RCV_DRIVE_DATA, SMART_SEND_DRIVE_COMMAND) ----

// The IDE registers of a SMART driver request.
struct IDEREGS {
  uint8_t bFeaturesReg;
  uint8_t bSectorCountReg;
  uint8_t bSectorNumberReg;  // LBA low
  uint8_t bCylLowReg;        // LBA mid
  uint8_t bCylHighReg;       // LBA high
  uint8_t bDriveHeadReg;     // device
  uint8_t bCommandReg;
  uint8_t bReserved;
};
static_assert(sizeof(IDEREGS) == 8);

#pragma pack(push, 1)
// Input of the SMART driver requests; the system passes its first 32 bytes (bBuffer is
// the variable part).
struct SENDCMDINPARAMS {
  uint32_t cBufferSize;
  IDEREGS irDriveRegs;
  uint8_t bDriveNumber;
  uint8_t bReserved[3];
  uint32_t dwReserved[4];
  uint8_t bBuffer[1];
};
#pragma pack(pop)
static_assert(sizeof(SENDCMDINPARAMS) == 33);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) == 4);
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == 12);
static_assert(offsetof(SENDCMDINPARAMS, bBuffer) == 32);
inline constexpr uint32_t kSendCmdInSize = 32;

struct DRIVERSTATUS {
  uint8_t bDriverError;
  uint8_t bIDEError;
  uint8_t bReserved[2];
  uint32_t dwReserved[2];
};
static_assert(sizeof(DRIVERSTATUS) == 12);

#pragma pack(push, 1)
// Output of the SMART driver requests: a 16-byte header, then the data (or the returned
// IDEREGS of SMART RETURN STATUS).
struct SENDCMDOUTPARAMS {
  uint32_t cBufferSize;
  DRIVERSTATUS DriverStatus;
  uint8_t bBuffer[1];
};
#pragma pack(pop)
static_assert(sizeof(SENDCMDOUTPARAMS) == 17);
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == 16);
inline constexpr uint32_t kSendCmdOutHeaderSize = 16;

// Reply of SMART_GET_VERSION.
struct GETVERSIONINPARAMS {
  uint8_t bVersion;
  uint8_t bRevision;
  uint8_t bReserved;
  uint8_t bIDEDeviceMap;
  uint32_t fCapabilities;
  uint32_t dwReserved[4];
};
static_assert(sizeof(GETVERSIONINPARAMS) == 24);
static_assert(offsetof(GETVERSIONINPARAMS, bIDEDeviceMap) == 3);

// ---- SCSI miniport requests (IOCTL_SCSI_MINIPORT) ----

// Header of a miniport request; the request's own data follows it.
struct SRB_IO_CONTROL {
  uint32_t HeaderLength;
  uint8_t Signature[8];
  uint32_t Timeout;
  uint32_t ControlCode;
  uint32_t ReturnCode;
  uint32_t Length;
};
static_assert(sizeof(SRB_IO_CONTROL) == 28);
static_assert(offsetof(SRB_IO_CONTROL, Signature) == 4);
static_assert(offsetof(SRB_IO_CONTROL, Timeout) == 12);
static_assert(offsetof(SRB_IO_CONTROL, ControlCode) == 16);
static_assert(offsetof(SRB_IO_CONTROL, ReturnCode) == 20);
static_assert(offsetof(SRB_IO_CONTROL, Length) == 24);

// Control codes of the disk miniport's SMART interface ("SCSIDISK").
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_SMART_VERSION = 0x1B0500;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_IDENTIFY = 0x1B0501;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_READ_SMART_ATTRIBS = 0x1B0502;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_READ_SMART_THRESHOLDS = 0x1B0503;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_ENABLE_SMART = 0x1B0504;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_DISABLE_SMART = 0x1B0505;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_RETURN_STATUS = 0x1B0506;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_ENABLE_DISABLE_AUTOSAVE = 0x1B0507;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_SAVE_ATTRIBUTE_VALUES = 0x1B0508;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_EXECUTE_OFFLINE_DIAGS = 0x1B0509;

// ---- SCSI pass-through (IOCTL_SCSI_PASS_THROUGH) ----

inline constexpr uint8_t SCSI_IOCTL_DATA_OUT = 0;
inline constexpr uint8_t SCSI_IOCTL_DATA_IN = 1;
inline constexpr uint8_t SCSI_IOCTL_DATA_UNSPECIFIED = 2;

struct SCSI_PASS_THROUGH {
  uint16_t Length;
  uint8_t ScsiStatus;
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t CdbLength;
  uint8_t SenseInfoLength;
  uint8_t DataIn;
  uint32_t DataTransferLength;
  uint32_t TimeOutValue;
  uint32_t DataBufferOffset;  // ULONG_PTR in the 32-bit layout
  uint32_t SenseInfoOffset;
  uint8_t Cdb[16];
};
static_assert(sizeof(SCSI_PASS_THROUGH) == 44);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == 2);
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == 6);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == 7);
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == 28);

// Control codes of the USB bridge driver: its capabilities (512 bytes out; bit 18 of the
// 32-bit word at byte 16 means it carries the vendor ATA command block) and the two
// signature bytes of that block.
inline constexpr uint32_t IOCTL_BRIDGE_CAPABILITIES = 0x221400;
inline constexpr uint32_t IOCTL_BRIDGE_ATACB_SIGNATURE = 0x221404;

// ---- Storage property query (IOCTL_STORAGE_QUERY_PROPERTY) ----

struct STORAGE_PROPERTY_QUERY {
  uint32_t PropertyId;   // 0 device, 1 adapter
  uint32_t QueryType;    // 0 standard
  uint8_t AdditionalParameters[4];
};
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
inline constexpr uint32_t StorageAdapterProperty = 1;
inline constexpr uint32_t PropertyStandardQuery = 0;
// The bus type byte of the STORAGE_ADAPTER_DESCRIPTOR reply.
inline constexpr uint32_t kAdapterDescriptorBusTypeOffset = 24;

}  // namespace palvoro
