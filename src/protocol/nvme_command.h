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
// Page sizes: Identify data, the health log, the self-test log.
inline constexpr uint32_t kNvmeIdentifyBytes = 4096;
inline constexpr uint32_t kNvmeHealthLogBytes = 512;
inline constexpr uint32_t kNvmeSelfTestLogBytes = 564;

}  // namespace palvoro
