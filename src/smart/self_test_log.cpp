#include "smart/self_test_log.h"

#include <cstdio>

namespace palvoro {

namespace {

constexpr size_t kDescriptorBytes = 24;
constexpr size_t kIndexOffset = 508;

bool allZero(const uint8_t* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

std::string lowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

}  // namespace

SelfTestLog decodeSelfTestLog(const std::array<uint8_t, 512>& page) {
  SelfTestLog log;
  log.revision = static_cast<uint16_t>(page[0] | (page[1] << 8));
  uint8_t sum = 0;
  for (const uint8_t byte : page) sum = static_cast<uint8_t>(sum + byte);
  log.checksumValid = sum == 0;
  const size_t index = page[kIndexOffset];
  if (index == 0 || index > kSelfTestLogEntries) return log;
  for (size_t back = 0; back < kSelfTestLogEntries; ++back) {
    const size_t slot = (index - 1 + kSelfTestLogEntries - back) % kSelfTestLogEntries;
    const uint8_t* d = page.data() + 2 + slot * kDescriptorBytes;
    if (allZero(d, kDescriptorBytes)) break;
    SelfTestLogEntry entry;
    entry.test = d[0];
    entry.status = static_cast<uint8_t>(d[1] >> 4);
    entry.remainingPercent = static_cast<uint8_t>((d[1] & 0x0F) * 10);
    entry.lifetimeHours = static_cast<uint16_t>(d[2] | (d[3] << 8));
    entry.checkpoint = d[4];
    entry.failingLba = (static_cast<uint32_t>(d[5]) | (static_cast<uint32_t>(d[6]) << 8) |
                        (static_cast<uint32_t>(d[7]) << 16) | (static_cast<uint32_t>(d[8]) << 24)) &
                       0x0FFFFFFF;
    log.entries.push_back(entry);
  }
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
