#pragma once
// Two logs of an NVMe controller beside its health log: the Error Information log (log
// identifier 01h, 64-byte entries) and the Device Self-test log (06h, 564 bytes), decoded,
// their status codes named, and what they suggest in words. Pure decoding: the caller reads
// the pages.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/records.h"
#include "protocol/nvme_command.h"

namespace palvoro {

inline constexpr uint8_t kNvmeErrorInformationLogId = 0x01;  // 64-byte entries
inline constexpr uint8_t kNvmeSelfTestLogId = 0x06;          // 564 bytes
inline constexpr size_t kNvmeErrorEntryBytes = 64;

struct NvmeErrorEntry {
  uint64_t errorCount = 0;  // 0: the entry is empty
  uint16_t submissionQueue = 0, commandId = 0;
  uint16_t status = 0;      // the status field (bits 15:1 of bytes 12..13, phase tag dropped)
  uint16_t parameterErrorLocation = 0;
  uint64_t lba = 0;
  uint32_t nsid = 0;
  uint8_t vendorSpecific = 0;
  uint8_t transportType = 0;
  uint64_t commandSpecific = 0;
  bool operator==(const NvmeErrorEntry&) const = default;
};

// Entries with a non-zero error count, in the order they come (newest first as controllers
// keep them). A trailing part shorter than an entry is ignored.
std::vector<NvmeErrorEntry> decodeNvmeErrorLog(std::span<const uint8_t> bytes);

// "Unrecovered Read Error (2/81h)", "Invalid Field in Command (0/02h)", ... for a status field
// (its type in bits 10:8, its code in 7:0; the retry, more and do-not-retry bits are ignored);
// "Status 2/81h" for codes without a name.
std::string nvmeStatusText(uint16_t status);

struct NvmeSelfTestEntry {
  uint8_t code = 0;                    // 1 short, 2 extended, Eh vendor
  uint8_t result = 0;                  // 0..9 (Fh unused entries are left out)
  uint8_t segment = 0;
  uint64_t powerOnHours = 0;
  std::optional<uint32_t> nsid;        // valid when bit 0 of byte 2 is set
  std::optional<uint64_t> failingLba;  // valid when bit 1 is set
  // (type << 8) | code when bit 2 (type) or bit 3 (code) is set, the other half zero.
  std::optional<uint16_t> status;
  bool operator==(const NvmeSelfTestEntry&) const = default;
};

struct NvmeSelfTestLog {
  uint8_t currentOperation = 0, currentCompletion = 0;  // code of the test running (0 none), percent done
  // Newest first, up to 20 of 28 bytes from byte 4; result Fh (unused) or code 0 (no test) left out.
  std::vector<NvmeSelfTestEntry> entries;
};

[[nodiscard]] std::optional<NvmeSelfTestLog> decodeNvmeSelfTestLog(
    std::span<const uint8_t> bytes);  // nullopt below 564 bytes

// "Short", "Extended", "Vendor specific", "Reserved (N)" for a self-test code.
std::string nvmeSelfTestCodeText(uint8_t code);
// "Completed without error", "Aborted by a Device Self-test command", ..., "Completed with one
// or more failed segments" (7), "Entry not used" (Fh), "Reserved (N)".
std::string nvmeSelfTestResultText(uint8_t result);
// The words of results 0..9, the ones the NVMe command set names; null for any other.
const char* nvmeSelfTestResultName(int result);
// The same, but "Failed segment N" for result 7 when the entry names its segment.
std::string nvmeSelfTestResultText(uint8_t result, uint8_t segment);

// What the logs suggest: the errors the controller has counted and the newest, whether any
// logged error is a media error, the last failed self-test (with how long ago, when
// `powerOnHours` is known), a self-test running now.
std::vector<std::string> nvmeLogHints(const std::vector<NvmeErrorEntry>& errors,
                                      const std::optional<NvmeSelfTestLog>& selfTest,
                                      std::optional<uint64_t> powerOnHours);

}  // namespace palvoro
