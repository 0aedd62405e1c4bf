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

// Positions inside PreviousTaskFile / CurrentTaskFile: TaskFileIndex, the IDE register
// order of protocol/ata_registers.h.


// Reply of IOCTL_STORAGE_GET_DEVICE_NUMBER.
struct STORAGE_DEVICE_NUMBER {
  uint32_t DeviceType;
  uint32_t DeviceNumber;
  uint32_t PartitionNumber;
};
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) == 4);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber) == 8);

// Reply of IOCTL_STORAGE_GET_DEVICE_NUMBER_EX. DeviceGuid tells the device from every
// other: a drive pulled and another put in its place at DeviceNumber gets another one.
struct STORAGE_DEVICE_NUMBER_EX {
  uint32_t Version;  // sizeof(STORAGE_DEVICE_NUMBER_EX)
  uint32_t Size;     // sizeof(STORAGE_DEVICE_NUMBER_EX)
  uint32_t Flags;    // STORAGE_DEVICE_FLAGS_*
  uint32_t DeviceType;
  uint32_t DeviceNumber;
  uint8_t DeviceGuid[16];
  uint32_t PartitionNumber;
};
static_assert(sizeof(STORAGE_DEVICE_NUMBER_EX) == 40);
static_assert(offsetof(STORAGE_DEVICE_NUMBER_EX, DeviceNumber) == 16);
static_assert(offsetof(STORAGE_DEVICE_NUMBER_EX, DeviceGuid) == 20);
static_assert(offsetof(STORAGE_DEVICE_NUMBER_EX, PartitionNumber) == 36);
// The GUID was made up because the device reports no identity of its own, or one that
// another device reports too.
inline constexpr uint32_t STORAGE_DEVICE_FLAGS_RANDOM_DEVICEGUID_REASON_CONFLICT = 0x1;
inline constexpr uint32_t STORAGE_DEVICE_FLAGS_RANDOM_DEVICEGUID_REASON_NOHWID = 0x2;

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
// The adapter bus type of an NVMe controller.
inline constexpr uint8_t kAdapterBusTypeNvme = 0x11;

// ---- NVMe through the storage stack ----
//
// Reads (Identify, Get Log Page) are protocol-specific property queries: the request is
// STORAGE_PROPERTY_QUERY whose AdditionalParameters hold STORAGE_PROTOCOL_SPECIFIC_DATA,
// followed by room for the data; the same buffer comes back as
// STORAGE_PROTOCOL_DATA_DESCRIPTOR with the data at ProtocolDataOffset from the start of
// its ProtocolSpecificData. Commands that are not reads (Device Self-test) go as
// STORAGE_PROTOCOL_COMMAND carrying the 64-byte submission queue entry.

inline constexpr uint32_t StorageAdapterProtocolSpecificProperty = 49;  // the controller
inline constexpr uint32_t StorageDeviceProtocolSpecificProperty = 50;   // the namespace
inline constexpr uint32_t ProtocolTypeNvme = 3;
inline constexpr uint32_t NVMeDataTypeIdentify = 1;
inline constexpr uint32_t NVMeDataTypeLogPage = 2;

struct STORAGE_PROTOCOL_SPECIFIC_DATA {
  uint32_t ProtocolType;                 // ProtocolTypeNvme
  uint32_t DataType;                     // NVMeDataType*
  uint32_t ProtocolDataRequestValue;     // Identify: CNS; log page: log identifier
  uint32_t ProtocolDataRequestSubValue;  // Identify namespace: NSID; log page: offset, low
  uint32_t ProtocolDataOffset;           // from the start of this structure
  uint32_t ProtocolDataLength;           // at least 512
  uint32_t FixedProtocolReturnData;      // completion dword 0 on return
  uint32_t ProtocolDataRequestSubValue2; // log page: offset, high
  uint32_t ProtocolDataRequestSubValue3; // log page: log-specific identifier
  uint32_t ProtocolDataRequestSubValue4; // log page: retain asynchronous event, LSP
};
static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == 40);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, DataType) == 4);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestValue) == 8);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue) == 12);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset) == 16);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength) == 20);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, FixedProtocolReturnData) == 24);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue2) == 28);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue4) == 36);
// ProtocolDataRequestSubValue4 of a log page: bit 0 retains the controller's pending
// asynchronous events (a read without it clears them), bits 4:1 the log-specific field.
inline constexpr uint32_t kLogPageRetainAsyncEvent = 0x1;

// Where the protocol-specific data starts inside the query (FIELD_OFFSET of
// AdditionalParameters), and the reply's header.
inline constexpr uint32_t kPropertyQueryParametersOffset = 8;
struct STORAGE_PROTOCOL_DATA_DESCRIPTOR {
  uint32_t Version;  // sizeof the descriptor
  uint32_t Size;     // sizeof the descriptor
  STORAGE_PROTOCOL_SPECIFIC_DATA ProtocolSpecificData;
};
static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == 48);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) == 8);

// Flags, statuses and fields of STORAGE_PROTOCOL_COMMAND.
inline constexpr uint32_t STORAGE_PROTOCOL_STRUCTURE_VERSION = 1;
inline constexpr uint32_t STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST = 0x80000000;
inline constexpr uint32_t STORAGE_PROTOCOL_COMMAND_LENGTH_NVME = 0x40;
inline constexpr uint32_t STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND = 0x01;
inline constexpr uint32_t STORAGE_PROTOCOL_STATUS_PENDING = 0x0;
inline constexpr uint32_t STORAGE_PROTOCOL_STATUS_SUCCESS = 0x1;
inline constexpr uint32_t STORAGE_PROTOCOL_STATUS_ERROR = 0x2;
inline constexpr uint32_t STORAGE_PROTOCOL_STATUS_INVALID_REQUEST = 0x3;
inline constexpr uint32_t STORAGE_PROTOCOL_STATUS_NO_DEVICE = 0x4;
inline constexpr uint32_t STORAGE_PROTOCOL_STATUS_BUSY = 0x5;
inline constexpr uint32_t STORAGE_PROTOCOL_STATUS_NOT_SUPPORTED = 0xFF;
// The error information log entry the request reserves room for after the command.
inline constexpr uint32_t kNvmeErrorInfoLength = 64;

struct STORAGE_PROTOCOL_COMMAND {
  uint32_t Version;                       // STORAGE_PROTOCOL_STRUCTURE_VERSION
  uint32_t Length;                        // sizeof this structure (84)
  uint32_t ProtocolType;                  // ProtocolTypeNvme
  uint32_t Flags;                         // STORAGE_PROTOCOL_COMMAND_FLAG_*
  uint32_t ReturnStatus;                  // STORAGE_PROTOCOL_STATUS_* on return
  uint32_t ErrorCode;                     // on return: the NVMe status field, (SCT << 8) | SC
  uint32_t CommandLength;                 // STORAGE_PROTOCOL_COMMAND_LENGTH_NVME
  uint32_t ErrorInfoLength;
  uint32_t DataToDeviceTransferLength;
  uint32_t DataFromDeviceTransferLength;
  uint32_t TimeOutValue;                  // seconds
  uint32_t ErrorInfoOffset;               // from the start of this structure
  uint32_t DataToDeviceBufferOffset;
  uint32_t DataFromDeviceBufferOffset;
  uint32_t CommandSpecific;               // STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND
  uint32_t Reserved0;
  uint32_t FixedProtocolReturnData;       // completion dword 0 on return
  uint32_t FixedProtocolReturnData2;
  uint32_t Reserved1[2];
  uint8_t Command[4];                     // ANYSIZE_ARRAY; the 64-byte entry starts here
};
static_assert(sizeof(STORAGE_PROTOCOL_COMMAND) == 84);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, ProtocolType) == 8);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, ReturnStatus) == 16);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, ErrorCode) == 20);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, CommandLength) == 24);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, DataFromDeviceTransferLength) == 36);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, TimeOutValue) == 40);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, ErrorInfoOffset) == 44);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, DataFromDeviceBufferOffset) == 52);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, CommandSpecific) == 56);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, FixedProtocolReturnData) == 64);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, Command) == 80);
// FIELD_OFFSET(STORAGE_PROTOCOL_COMMAND, Command): where the submission entry starts.
inline constexpr uint32_t kProtocolCommandHeaderBytes = 80;

// The submission entry the Command area carries: NVME_COMMAND, protocol/nvme_command.h.

}  // namespace palvoro
