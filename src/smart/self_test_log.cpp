#include "smart/self_test_log.h"

#include <algorithm>
#include <cstdio>

#include "protocol/byte_order.h"
#include "smart/log_ring.h"

namespace palvoro {

namespace {

// The SMART log (06h).
constexpr size_t kDescriptorBytes = 24;
constexpr size_t kFirstDescriptor = 2;
constexpr size_t kIndexOffset = 508;
constexpr uint64_t kNoLba28 = 0x0FFFFFFF;
// The extended log (07h).
constexpr size_t kExtIndexOffset = 2;
constexpr size_t kExtFirstDescriptor = 4;
constexpr size_t kExtDescriptorBytes = 26;
static_assert(kExtFirstDescriptor + kExtSelfTestDescriptorsPerPage * kExtDescriptorBytes <= 511);
// Within a descriptor of either log.
constexpr size_t kDTest = 0;
constexpr size_t kDStatus = 1;
constexpr size_t kDHours = 2;
constexpr size_t kDCheckpoint = 4;
constexpr size_t kDFailingLba = 5;  // 06h: 4 bytes, of which 28 bits; 07h: 6 bytes

constexpr LogRing kRing{kFirstDescriptor, kDescriptorBytes, kSelfTestLogEntries};
constexpr LogRing kExtRing{kExtFirstDescriptor, kExtDescriptorBytes, kExtSelfTestDescriptorsPerPage};

// A descriptor's common fields, its failing sector in `lbaBytes` bytes masked to `lbaMask`,
// all ones of which name no sector.
SelfTestLogEntry entryOf(const uint8_t* d, size_t lbaBytes, uint64_t lbaMask) {
  SelfTestLogEntry entry;
  entry.test = d[kDTest];
  entry.status = static_cast<uint8_t>(d[kDStatus] >> 4);
  entry.remainingPercent = static_cast<uint8_t>((d[kDStatus] & 0x0F) * 10);
  entry.lifetimeHours = static_cast<uint16_t>(loadLe(d + kDHours, 2));
  entry.checkpoint = d[kDCheckpoint];
  const uint64_t lba = loadLe(d + kDFailingLba, lbaBytes) & lbaMask;
  entry.failingLba = lba == lbaMask ? kNoFailingLba : lba;
  return entry;
}

std::string lowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

}  // namespace

SelfTestLog decodeSelfTestLog(const std::array<uint8_t, 512>& page) {
  SelfTestLog log;
  log.revision = static_cast<uint16_t>(loadLe(page.data(), 2));
  log.checksumValid = checksumZero(page);
  walkLogRing(kRing, page, 1, page[kIndexOffset], kSelfTestLogEntries, nullptr, log.checksumValid,
              [&log](const uint8_t* d, size_t) { log.entries.push_back(entryOf(d, 4, kNoLba28)); });
  return log;
}

std::optional<SelfTestLog> decodeExtSelfTestLog(const std::function<bool(uint16_t, std::array<uint8_t, 512>&)>& readPage,
                                                uint16_t pageCount) {
  if (pageCount == 0) return std::nullopt;  // the directory lists no such log
  LogPage first{};
  if (!readPage(0, first)) return std::nullopt;
  SelfTestLog log;
  log.extended = true;
  log.revision = first[0];
  log.checksumValid = checksumZero(first);
  walkLogRing(kExtRing, first, pageCount, loadLe(first.data() + kExtIndexOffset, 2), kSelfTestLogEntries, readPage,
              log.checksumValid,
              [&log](const uint8_t* d, size_t) { log.entries.push_back(entryOf(d, 6, kNoFailingLba)); });
  return log;
}

std::string selfTestName(uint8_t test) {
  switch (test) {
    case 0x00: return "Offline data collection";
    case 0x01: return "Short offline";
    case 0x02: return "Extended offline";
    case 0x03: return "Conveyance offline";
    case 0x04: return "Selective offline";
    case 0x81: return "Short captive";
    case 0x82: return "Extended captive";
    case 0x83: return "Conveyance captive";
    case 0x84: return "Selective captive";
    default: break;
  }
  char text[24];
  std::snprintf(text, sizeof text, "Vendor (%02Xh)", test);
  return text;
}

std::string selfTestStatusText(uint8_t status) {
  switch (status) {
    case 0: return "Completed without error";
    case 1: return "Aborted by host";
    case 2: return "Interrupted by host reset";
    case 3: return "Fatal or unknown error";
    case 4: return "Completed: unknown failure";
    case 5: return "Completed: electrical failure";
    case 6: return "Completed: servo/seek failure";
    case 7: return "Completed: read failure";
    case 8: return "Completed: handling damage";
    case 15: return "In progress";
    default: return "Reserved (" + std::to_string(status) + ")";
  }
}

std::vector<std::string> selfTestHints(const SelfTestLog& log) {
  static constexpr const char* kFound[] = {"a fatal error", "an unknown failure", "an electrical failure",
                                           "a servo or seek failure", "a read failure", "handling damage"};
  for (const SelfTestLogEntry& entry : log.entries) {
    if (entry.status < 3 || entry.status > 8) continue;
    std::string hint = "The drive's own last failed self-test (" + lowerFirst(selfTestName(entry.test)) + ", at " +
                       std::to_string(entry.lifetimeHours) + " power-on hours) found " + kFound[entry.status - 3];
    if (entry.hasFailingLba()) hint += " at sector " + std::to_string(entry.failingLba);
    return {hint + "."};
  }
  return {};
}

}  // namespace palvoro
