#pragma once
// The NVMe admin submission queue entry and the admin commands and values the program
// sends (NVM Express Base): the Windows protocol command carries the entry as it stands,
// and the Linux backend reads the same fields into the kernel's admin command.

#include <cstddef>
#include <cstdint>

namespace palvoro {

// An NVMe admin submission queue entry (64 bytes, little-endian dwords).
struct NVME_COMMAND {
  uint8_t Opcode;           // CDW0 bits 7:0
  uint8_t Flags;            // CDW0 bits 15:8 (fused operation, PRP or SGL)
  uint16_t CommandId;       // CDW0 bits 31:16, the driver's
  uint32_t Nsid;            // CDW1
  uint32_t Cdw2;
  uint32_t Cdw3;
  uint64_t MetadataPointer;
  uint64_t Prp1;
  uint64_t Prp2;
  uint32_t Cdw10;
  uint32_t Cdw11;
  uint32_t Cdw12;
  uint32_t Cdw13;
  uint32_t Cdw14;
  uint32_t Cdw15;
};
static_assert(sizeof(NVME_COMMAND) == 64);
static_assert(offsetof(NVME_COMMAND, Nsid) == 4);
static_assert(offsetof(NVME_COMMAND, Prp1) == 24);
static_assert(offsetof(NVME_COMMAND, Cdw10) == 40);
static_assert(offsetof(NVME_COMMAND, Cdw15) == 60);

// Admin opcodes and values the program sends.
inline constexpr uint8_t kNvmeAdminGetLogPage = 0x02;
// Get Log Page CDW10 bit 15, Retain Asynchronous Event.
inline constexpr uint32_t kNvmeGetLogPageRae = 0x8000;
inline constexpr uint8_t kNvmeAdminIdentify = 0x06;
inline constexpr uint8_t kNvmeAdminDeviceSelfTest = 0x14;
inline constexpr uint32_t kNvmeIdentifyCnsNamespace = 0x00;
inline constexpr uint32_t kNvmeIdentifyCnsController = 0x01;
inline constexpr uint32_t kNvmeLogHealth = 0x02;
inline constexpr uint32_t kNvmeLogSelfTest = 0x06;
inline constexpr uint32_t kNvmeNamespaceAll = 0xFFFFFFFF;
// Self-test codes of Device Self-test (CDW10 bits 3:0).
inline constexpr uint32_t kNvmeSelfTestShort = 0x1;
inline constexpr uint32_t kNvmeSelfTestExtended = 0x2;
inline constexpr uint32_t kNvmeSelfTestAbort = 0xF;
// Format NVM (80h) CDW10: LBAF bits 3:0 (its upper two bits in 13:12), MSET bit 4,
// PI bits 7:5, PIL bit 8, Secure Erase Settings bits 11:9.
inline constexpr uint8_t kNvmeAdminFormatNvm = 0x80;
inline constexpr uint32_t kNvmeFormatMset = 0x10;
inline constexpr unsigned kNvmeFormatPiShift = 5;
inline constexpr uint32_t kNvmeFormatPil = 0x100;
inline constexpr unsigned kNvmeFormatSesShift = 9;
inline constexpr unsigned kNvmeFormatLbafHighShift = 12;
inline constexpr uint32_t kNvmeSesUserData = 1;
inline constexpr uint32_t kNvmeSesCrypto = 2;
// Sanitize (84h) CDW10: SANACT bits 2:0, AUSE bit 3, OWPASS bits 7:4, OIPBP bit 8, NDAS
// bit 9; CDW11 the overwrite pattern.
inline constexpr uint8_t kNvmeAdminSanitize = 0x84;
inline constexpr uint32_t kNvmeSanactExitFailure = 1;
inline constexpr uint32_t kNvmeSanactBlock = 2;
inline constexpr uint32_t kNvmeSanactOverwrite = 3;
inline constexpr uint32_t kNvmeSanactCrypto = 4;
inline constexpr unsigned kNvmeSanitizeOwpassShift = 4;
// Sanitize Status log (81h): SPROG bytes 0-1 (of 65536), SSTAT bytes 2-3 (bits 2:0 the
// status), SCDW10 bytes 4-7, then the estimated seconds of overwrite, block erase and
// crypto erase (FFFFFFFFh: none given).
inline constexpr uint32_t kNvmeLogSanitizeStatus = 0x81;
inline constexpr uint32_t kNvmeSanitizeLogBytes = 512;
inline constexpr size_t kNvmeSanitizeSprog = 0;
inline constexpr size_t kNvmeSanitizeSstat = 2;
inline constexpr size_t kNvmeSanitizeScdw10 = 4;
inline constexpr size_t kNvmeSanitizeEstimateOverwrite = 8;
inline constexpr size_t kNvmeSanitizeEstimateBlock = 12;
inline constexpr size_t kNvmeSanitizeEstimateCrypto = 16;
inline constexpr uint32_t kNvmeSanitizeNoEstimate = 0xFFFFFFFF;
enum NvmeSanitizeStatus : uint8_t {
  kNvmeSanitizeNever = 0,
  kNvmeSanitizeCompleted = 1,
  kNvmeSanitizeInProgress = 2,
  kNvmeSanitizeFailed = 3,
  kNvmeSanitizeCompletedNoDeallocate = 4,
};
// Identify Controller: OACS (bytes 256-257, bit 1 Format NVM), SANICAP (328-331: bit 0
// crypto erase, 1 block erase, 2 overwrite), NN (516-519), FNA (524: bit 0 format and bit
// 1 secure erase reach every namespace, bit 2 cryptographic erase).
inline constexpr size_t kNvmeIdOacs = 256;
inline constexpr uint16_t kNvmeOacsFormat = 0x0002;
inline constexpr size_t kNvmeIdSanicap = 328;
inline constexpr uint32_t kNvmeSanicapCrypto = 0x1;
inline constexpr uint32_t kNvmeSanicapBlock = 0x2;
inline constexpr uint32_t kNvmeSanicapOverwrite = 0x4;
inline constexpr size_t kNvmeIdNn = 516;
inline constexpr size_t kNvmeIdFna = 524;
inline constexpr uint8_t kNvmeFnaFormatAll = 0x1;
inline constexpr uint8_t kNvmeFnaEraseAll = 0x2;
inline constexpr uint8_t kNvmeFnaCrypto = 0x4;
// Identify Namespace: FLBAS (byte 26: the format in use in bits 3:0 and 6:5, MSET bit 4),
// DPS (29: PI type bits 2:0, PIL bit 3), DLFEAT (33, bits 2:0: 1 deallocated blocks read
// 00h, 2 FFh).
inline constexpr size_t kNvmeNsFlbas = 26;
inline constexpr uint8_t kNvmeFlbasMset = 0x10;
inline constexpr size_t kNvmeNsDps = 29;
inline constexpr uint8_t kNvmeDpsPil = 0x08;
inline constexpr size_t kNvmeNsDlfeat = 33;
// The namespace's globally unique names: NGUID (bytes 104-119) and EUI-64 (120-127).
inline constexpr size_t kNvmeNsNguid = 104;
inline constexpr size_t kNvmeNsEui64 = 120;
// Completion statuses ((type << 8) | code) that say a command or a field is not there.
inline constexpr uint32_t kNvmeStatusInvalidOpcode = 0x001;
inline constexpr uint32_t kNvmeStatusInvalidField = 0x002;
inline constexpr uint32_t kNvmeStatusInvalidFormat = 0x10A;
inline constexpr uint32_t kNvmeStatusSanitizeInProgress = 0x01D;

// Page sizes: Identify data, the health log, the self-test log.
inline constexpr uint32_t kNvmeIdentifyBytes = 4096;
inline constexpr uint32_t kNvmeHealthLogBytes = 512;
inline constexpr uint32_t kNvmeSelfTestLogBytes = 564;

}  // namespace palvoro
