#pragma once
// The drive's own record of its last self-tests: the SMART self-test log (log address
// 06h, one 512-byte page, 28-bit failing sectors) or the extended self-test log (07h,
// read with READ LOG EXT, pages of 19 descriptors, 48-bit failing sectors), decoded into
// one form, and what it suggests in words.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace palvoro {

inline constexpr uint8_t kSelfTestLogAddress = 0x06;
inline constexpr uint8_t kExtSelfTestLogAddress = 0x07;
// The entries kept of either log: all of the SMART log's ring, the newest of the extended one.
inline constexpr size_t kSelfTestLogEntries = 21;
inline constexpr size_t kExtSelfTestDescriptorsPerPage = 19;
// The failing sector of an entry whose drive named none (all ones in either log's field).
inline constexpr uint64_t kNoFailingLba = 0xFFFFFFFFFFFFull;

struct SelfTestLogEntry {
  uint8_t test = 0;              // the LBA low the test was started with: 1 short, 2 extended, ...
  uint8_t status = 0;            // execution status, the upper half of its byte (0 passed, 15 running)
  uint8_t remainingPercent = 0;  // the lower half of that byte, in tens of percent
  uint16_t lifetimeHours = 0;    // power-on hours when it ended
  uint8_t checkpoint = 0;
  // The first failing sector (28 bits from log 06h, 48 from 07h), kNoFailingLba when the
  // drive named none; meaningful for status 3..8.
  uint64_t failingLba = 0;
  bool hasFailingLba() const { return status >= 3 && status <= 8 && failingLba != kNoFailingLba; }
};

struct SelfTestLog {
  bool extended = false;        // from log 07h
  uint16_t revision = 0;
  bool checksumValid = false;   // every page used had a zero checksum
  std::vector<SelfTestLogEntry> entries;  // newest first
};

// Decodes a SMART self-test log page (06h). Descriptors are read newest first from the
// index at byte 508, going back around the ring of 21; an index of 0 means none was
// written, and an index beyond 21 or an all-zero descriptor ends the list (a drive that
// never wrote it).
SelfTestLog decodeSelfTestLog(const std::array<uint8_t, 512>& page);

// The extended self-test log (07h): revision byte 0, the 1-based index of the newest
// descriptor over the whole log at 2..3 (0: none), 19 descriptors of 26 bytes per page from
// byte 4 (the failing sector in 5..10), checksum 511. `readPage(n, out)` hands page n
// (false: not read); `pageCount` from the log directory (the ring holds 19*pageCount).
// The newest kSelfTestLogEntries are walked back around the ring; an index beyond the ring
// yields none, and an all-zero descriptor or a page that cannot be read ends the walk.
// nullopt when the directory lists no pages or page 0 cannot be read.
[[nodiscard]] std::optional<SelfTestLog> decodeExtSelfTestLog(
    const std::function<bool(uint16_t, std::array<uint8_t, 512>&)>& readPage, uint16_t pageCount);

// "Short offline", "Extended offline", ... as the log names a test; "Vendor (NNh)" for the
// vendor's own numbers.
std::string selfTestName(uint8_t test);
// "Completed without error", "Aborted by host", ... for an execution status.
std::string selfTestStatusText(uint8_t status);

// What the log suggests beside the verdict, newest first: the last test that failed, with
// its sector when the drive named one.
std::vector<std::string> selfTestHints(const SelfTestLog& log);

}  // namespace palvoro
