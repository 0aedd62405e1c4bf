#pragma once
// The drive's own record of its last self-tests: the SMART self-test log (log address
// 06h, one 512-byte page), decoded, and what it suggests in words.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace palvoro {

inline constexpr uint8_t kSelfTestLogAddress = 0x06;
inline constexpr size_t kSelfTestLogEntries = 21;

struct SelfTestLogEntry {
  uint8_t test = 0;              // the LBA low the test was started with: 1 short, 2 extended, ...
  uint8_t status = 0;            // execution status, the upper half of its byte (0 passed, 15 running)
  uint8_t remainingPercent = 0;  // the lower half of that byte, in tens of percent
  uint16_t lifetimeHours = 0;    // power-on hours when it ended
  uint8_t checkpoint = 0;
  uint32_t failingLba = 0;       // the first failing sector (28 bits); meaningful for status 3..8
  bool hasFailingLba() const { return status >= 3 && status <= 8 && failingLba != 0x0FFFFFFF; }
};

struct SelfTestLog {
  uint16_t revision = 0;
  bool checksumValid = false;
  std::vector<SelfTestLogEntry> entries;  // newest first
};

// Decodes a self-test log page. Descriptors are read newest first from the index at byte
// 508, going back around the ring of 21; an index of 0 means none was written, and an
// index beyond 21 or an all-zero descriptor ends the list (a drive that never wrote it).
SelfTestLog decodeSelfTestLog(const std::array<uint8_t, 512>& page);

// "Short offline", "Extended offline", ... as the log names a test; "Vendor (NNh)" for the
// vendor's own numbers.
std::string selfTestName(uint8_t test);
// "Completed without error", "Aborted by host", ... for an execution status.
std::string selfTestStatusText(uint8_t status);

// What the log suggests beside the verdict, newest first: the last test that failed, with
// its sector when the drive named one.
std::vector<std::string> selfTestHints(const SelfTestLog& log);

}  // namespace palvoro
