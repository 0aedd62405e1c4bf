#include "smart/nvme_logs.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "protocol/byte_order.h"

namespace palvoro {

namespace {

// Self-test log: current operation (bits 3:0) at 0, completion (bits 6:0) at 1, then 20
// result structures of 28 bytes from byte 4, newest first.
constexpr size_t kSelfTestFirstEntry = 4;
constexpr size_t kSelfTestEntryBytes = 28;
constexpr size_t kSelfTestEntries = 20;
constexpr uint8_t kResultUnused = 0x0F;

constexpr uint16_t kStatusTypeMedia = 2;

uint16_t statusType(uint16_t status) { return static_cast<uint16_t>((status >> 8) & 0x7); }

struct StatusName {
  uint16_t typeAndCode;  // (type << 8) | code
  const char* name;
};

// The status codes a controller is likely to log; the rest are shown by number.
constexpr StatusName kStatusNames[] = {
    {0x000, "Successful Completion"},
    {0x001, "Invalid Command Opcode"},
    {0x002, "Invalid Field in Command"},
    {0x003, "Command ID Conflict"},
    {0x004, "Data Transfer Error"},
    {0x005, "Commands Aborted due to Power Loss Notification"},
    {0x006, "Internal Error"},
    {0x007, "Command Abort Requested"},
    {0x008, "Command Aborted due to SQ Deletion"},
    {0x009, "Command Aborted due to Failed Fused Command"},
    {0x00A, "Command Aborted due to Missing Fused Command"},
    {0x00B, "Invalid Namespace or Format"},
    {0x00C, "Command Sequence Error"},
    {0x00D, "Invalid SGL Segment Descriptor"},
    {0x013, "PRP Offset Invalid"},
    {0x015, "Operation Denied"},
    {0x01C, "Sanitize Failed"},
    {0x01D, "Sanitize In Progress"},
    {0x020, "Namespace is Write Protected"},
    {0x021, "Command Interrupted"},
    {0x022, "Transient Transport Error"},
    {0x080, "LBA Out of Range"},
    {0x081, "Capacity Exceeded"},
    {0x082, "Namespace Not Ready"},
    {0x083, "Reservation Conflict"},
    {0x084, "Format In Progress"},
    {0x100, "Completion Queue Invalid"},
    {0x101, "Invalid Queue Identifier"},
    {0x102, "Invalid Queue Size"},
    {0x103, "Abort Command Limit Exceeded"},
    {0x105, "Asynchronous Event Request Limit Exceeded"},
    {0x106, "Invalid Firmware Slot"},
    {0x107, "Invalid Firmware Image"},
    {0x108, "Invalid Interrupt Vector"},
    {0x109, "Invalid Log Page"},
    {0x10A, "Invalid Format"},
    {0x10B, "Firmware Activation Requires Conventional Reset"},
    {0x10C, "Invalid Queue Deletion"},
    {0x10D, "Feature Identifier Not Saveable"},
    {0x10E, "Feature Not Changeable"},
    {0x10F, "Feature Not Namespace Specific"},
    {0x110, "Firmware Activation Requires NVM Subsystem Reset"},
    {0x111, "Firmware Activation Requires Controller Level Reset"},
    {0x113, "Firmware Activation Prohibited"},
    {0x11D, "Device Self-test In Progress"},
    {0x180, "Conflicting Attributes"},
    {0x181, "Invalid Protection Information"},
    {0x182, "Attempted Write to Read Only Range"},
    {0x280, "Write Fault"},
    {0x281, "Unrecovered Read Error"},
    {0x282, "End-to-end Guard Check Error"},
    {0x283, "End-to-end Application Tag Check Error"},
    {0x284, "End-to-end Reference Tag Check Error"},
    {0x285, "Compare Failure"},
    {0x286, "Access Denied"},
    {0x287, "Deallocated or Unwritten Logical Block"},
    {0x300, "Internal Path Error"},
    {0x360, "Controller Pathing Error"},
    {0x370, "Host Pathing Error"},
    {0x371, "Command Aborted By Host"},
};

std::string lowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

// "failed in segment 3 at LBA 4096" for a failed self-test's result.
std::string failureWords(const NvmeSelfTestEntry& entry) {
  std::string words;
  switch (entry.result) {
    case 5: words = "stopped on a fatal or unknown error"; break;
    case 6: words = "failed in a segment it did not name"; break;
    default: words = "failed in segment " + std::to_string(entry.segment); break;
  }
  if (entry.failingLba) words += " at LBA " + std::to_string(*entry.failingLba);
  return words;
}

[[nodiscard]] bool failed(const NvmeSelfTestEntry& entry) { return entry.result >= 5 && entry.result <= 7; }

}  // namespace

std::vector<NvmeErrorEntry> decodeNvmeErrorLog(std::span<const uint8_t> bytes) {
  std::vector<NvmeErrorEntry> entries;
  for (size_t at = 0; at + kNvmeErrorEntryBytes <= bytes.size(); at += kNvmeErrorEntryBytes) {
    const uint8_t* e = bytes.data() + at;
    NvmeErrorEntry entry;
    entry.errorCount = loadLe(e, 8);
    if (entry.errorCount == 0) continue;
    entry.submissionQueue = static_cast<uint16_t>(loadLe(e + 8, 2));
    entry.commandId = static_cast<uint16_t>(loadLe(e + 10, 2));
    entry.status = static_cast<uint16_t>(loadLe(e + 12, 2) >> 1);  // bit 0 is the phase tag
    entry.parameterErrorLocation = static_cast<uint16_t>(loadLe(e + 14, 2));
    entry.lba = loadLe(e + 16, 8);
    entry.nsid = static_cast<uint32_t>(loadLe(e + 24, 4));
    entry.vendorSpecific = e[28];
    entry.transportType = e[29];
    entry.commandSpecific = loadLe(e + 32, 8);
    entries.push_back(entry);
  }
  return entries;
}

std::string nvmeStatusText(uint16_t status) {
  const uint16_t type = statusType(status);
  const uint16_t code = status & 0xFF;
  char number[16];
  std::snprintf(number, sizeof number, "%X/%02Xh", type, code);
  const uint16_t key = static_cast<uint16_t>((type << 8) | code);
  for (const StatusName& known : kStatusNames) {
    if (known.typeAndCode == key) return std::string(known.name) + " (" + number + ")";
  }
  return std::string("Status ") + number;
}

// Result structure: bits 7:4 of byte 0 the test's code, 3:0 its result; segment at 1; valid
// bits at 2 (0 namespace, 1 failing LBA, 2 status type, 3 status code); power-on hours 4..11;
// namespace 12..15; failing LBA 16..23; status type 24 (bits 2:0); status code 25.
std::optional<NvmeSelfTestLog> decodeNvmeSelfTestLog(std::span<const uint8_t> bytes) {
  if (bytes.size() < kNvmeSelfTestLogBytes) return std::nullopt;
  NvmeSelfTestLog log;
  log.currentOperation = bytes[0] & 0x0F;
  log.currentCompletion = bytes[1] & 0x7F;
  for (size_t i = 0; i < kSelfTestEntries; ++i) {
    const uint8_t* r = bytes.data() + kSelfTestFirstEntry + i * kSelfTestEntryBytes;
    NvmeSelfTestEntry entry;
    entry.result = r[0] & 0x0F;
    entry.code = static_cast<uint8_t>(r[0] >> 4);
    // Unused entries say so with result Fh; code 0 names no test, so a slot never written
    // (all zero) is no "completed without error" either.
    if (entry.result == kResultUnused || entry.code == 0) continue;
    entry.segment = r[1];
    entry.powerOnHours = loadLe(r + 4, 8);
    const uint8_t valid = r[2];
    if (valid & 0x01) entry.nsid = static_cast<uint32_t>(loadLe(r + 12, 4));
    if (valid & 0x02) entry.failingLba = loadLe(r + 16, 8);
    if (valid & 0x0C) {
      const uint16_t type = (valid & 0x04) ? (r[24] & 0x07) : 0;
      const uint16_t code = (valid & 0x08) ? r[25] : 0;
      entry.status = static_cast<uint16_t>((type << 8) | code);
    }
    log.entries.push_back(entry);
  }
  return log;
}

std::string nvmeSelfTestCodeText(uint8_t code) {
  switch (code) {
    case 0x1: return "Short";
    case 0x2: return "Extended";
    case 0xE: return "Vendor specific";
    default: return "Reserved (" + std::to_string(code) + ")";
  }
}

const char* nvmeSelfTestResultName(int result) {
  static constexpr const char* kResults[] = {
      "Completed without error",
      "Aborted by a Device Self-test command",
      "Aborted by a Controller Level Reset",
      "Aborted due to a removal of a namespace",
      "Aborted due to the processing of a Format NVM command",
      "Fatal or unknown test error",
      "Completed with a failed segment of unknown number",
      "Completed with one or more failed segments",
      "Aborted for unknown reason",
      "Aborted due to a sanitize operation",
  };
  return result >= 0 && result < static_cast<int>(std::size(kResults)) ? kResults[result] : nullptr;
}

std::string nvmeSelfTestResultText(uint8_t result) {
  if (const char* name = nvmeSelfTestResultName(result)) return name;
  if (result == kResultUnused) return "Entry not used";
  return "Reserved (" + std::to_string(result) + ")";
}

std::string nvmeSelfTestResultText(uint8_t result, uint8_t segment) {
  if (result == 7 && segment != 0) return "Failed segment " + std::to_string(segment);
  return nvmeSelfTestResultText(result);
}

std::vector<std::string> nvmeLogHints(const std::vector<NvmeErrorEntry>& errors,
                                      const std::optional<NvmeSelfTestLog>& selfTest,
                                      std::optional<uint64_t> powerOnHours) {
  std::vector<std::string> hints;
  if (!errors.empty()) {
    // The highest count is the newest, whatever order the controller keeps its ring in.
    const NvmeErrorEntry& newest = *std::max_element(
        errors.begin(), errors.end(), [](const NvmeErrorEntry& a, const NvmeErrorEntry& b) {
          return a.errorCount < b.errorCount;
        });
    const bool one = newest.errorCount == 1;
    std::string hint = "The controller has counted " + std::to_string(newest.errorCount) +
                       (one ? " error in its life; it was " : " errors in its life; the newest was ") +
                       nvmeStatusText(newest.status);
    if (statusType(newest.status) == kStatusTypeMedia) hint += " at LBA " + std::to_string(newest.lba);
    hints.push_back(hint + ".");
    const auto media = static_cast<size_t>(std::count_if(errors.begin(), errors.end(), [](const NvmeErrorEntry& e) {
      return statusType(e.status) == kStatusTypeMedia;
    }));
    if (media == 0) {
      hints.push_back("None of the logged errors is a media error.");
    } else {
      hints.push_back(std::to_string(media) + " of the " + std::to_string(errors.size()) +
                      " logged errors " + (media == 1 ? "is a media error" : "are media errors") +
                      ", where the drive could not read or write its data.");
    }
  }
  if (selfTest) {
    const auto last = std::find_if(selfTest->entries.begin(), selfTest->entries.end(), failed);
    if (last != selfTest->entries.end()) {
      std::string when = "at " + std::to_string(last->powerOnHours) + " power-on hours";
      if (powerOnHours && *powerOnHours >= last->powerOnHours) {
        const uint64_t ago = *powerOnHours - last->powerOnHours;
        when += ", " + std::to_string(ago) + (ago == 1 ? " hour ago" : " hours ago");
      }
      hints.push_back("The drive's own last failed self-test (" + lowerFirst(nvmeSelfTestCodeText(last->code)) +
                      ", " + when + ") " + failureWords(*last) + ".");
    }
    if (selfTest->currentOperation != 0) {
      hints.push_back("The drive's " + lowerFirst(nvmeSelfTestCodeText(selfTest->currentOperation)) +
                      " self-test is running, " + std::to_string(selfTest->currentCompletion) + "% done.");
    }
  }
  return hints;
}

}  // namespace palvoro
