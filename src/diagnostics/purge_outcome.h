#pragma once
// What an erase learned beyond its state and error: the method, what the drive reported,
// the hidden areas and what became of them, and the check read back after a drive's own
// erase. Written by the run's worker only, read once the run has ended.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/purge.h"

namespace palvoro {

// The sample read before and after a drive's own erase. A block passes when it no longer
// holds what it held before, and, where the method says what an erased block reads as,
// when it reads as that. A block that was blank before says nothing about the erase unless
// the erased value is known.
struct PurgeSampleCheck {
  bool ran = false;
  uint32_t samples = 0;             // blocks read back
  uint64_t sectorsRead = 0;
  uint32_t unchanged = 0;           // still what they held before, and that was not blank
  uint32_t notErasedValue = 0;      // differ from the value the method leaves
  uint32_t unreadable = 0;          // did not read after the erase
  uint32_t blankBefore = 0;         // held one byte repeated before: no evidence either way
  std::optional<uint8_t> expectedValue;
  std::vector<uint64_t> failedSectors;  // the first few that failed
  [[nodiscard]] uint64_t sectorsFailed() const { return uint64_t{unchanged} + notErasedValue + unreadable; }
  // Something was proven and nothing failed.
  [[nodiscard]] bool passed() const {
    return ran && sectorsFailed() == 0 && (expectedValue.has_value() || blankBefore < samples);
  }
};

struct HiddenAreaHandling {
  std::optional<HiddenAreas> found;  // none: the drive has no such commands, or was not asked
  bool lifted = false;               // the HPA was lifted for the run
  bool restored = false;             // ... and put back afterwards
  std::string sentence;              // what happened to them, for the page and the certificate
};

struct PurgeOutcome {
  PurgeMethod method = PurgeMethod::Overwrite;
  std::optional<PurgeReport> report;  // the drive's own erase, when one was run
  PurgeSampleCheck check;
  HiddenAreaHandling hidden;
  int64_t startedSeconds = 0;         // on the run's clock (seconds since 1970 on a real one)
  int64_t endedSeconds = 0;
};

}  // namespace palvoro
