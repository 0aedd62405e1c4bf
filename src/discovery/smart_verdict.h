#pragma once
// The one rule for a drive's SMART verdict (`smartHealthy`), from the drive's own answer to
// SMART RETURN STATUS and from its attributes judged against their thresholds. Detection,
// the RAID enclosure's status read and the SMART window all decide by it, so the list, the
// property page, the command line and the window cannot disagree, and a drive that says it
// is failing is never shown as passing.

#include <cstdint>

#include "device/device_status.h"

namespace palvoro {

// SMART RETURN STATUS as a drive answered it (DriveRecord::smartStatus and
// memberBSmartStatus). A zeroed record holds kSmartStatusNone.
enum SmartStatus : uint8_t {
  kSmartStatusNone = 0,      // not asked, or no verdict in the answer
  kSmartStatusHealthy = 1,   // 4Fh/C2h: no threshold exceeded
  kSmartStatusExceeded = 2,  // F4h/2Ch: the drive says a threshold is exceeded
};

// The status a drive record keeps for the device layer's answer: the one place the two
// numberings meet (the answer's 0 is the record's 2).
[[nodiscard]] SmartStatus smartStatusOf(SmartReturnStatus answer);

// The status of a drive whose units answered `a` and `b`: exceeded when either unit says
// so, healthy only when both do.
SmartStatus combinedSmartStatus(SmartStatus a, SmartStatus b);

// What the attributes showed.
enum class AttributeVerdict {
  NotJudged,  // not read, or not readable
  Passed,     // no pre-failure attribute has reached its threshold
  Failed,     // one has
};

// 1 (passing) or 0 (failing). A drive that reports a threshold exceeded fails whatever
// its attributes show, and a failed attribute fails any drive: the attributes may add a
// failure but never take one away. Without a status from the drive, only attributes that
// were judged and passed make it pass.
int32_t smartHealthyOf(SmartStatus status, AttributeVerdict attributes);

}  // namespace palvoro
