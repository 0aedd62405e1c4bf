#pragma once
// Starting a drive's short self-test and leaving it to run: a scheduled check starts one on
// each drive whose last is too old and reads its result from the drive's own log at the
// next check, rather than holding the drive for the minutes it takes.

#include "discovery/drive_record.h"
#include "service/session.h"

namespace palvoro {

// How a start ended.
enum class SelfTestStart {
  Started = 0,     // the drive took the command and is testing itself
  NotOffered = 1,  // no self-test on this kind of drive or path (SCSI, RAID, no SMART)
  NoDrive = 2,     // the drive did not open
  Refused = 3,     // the drive refused the command (no self-test offered, or one is running)
};

// The short self-test: SMART EXECUTE OFF-LINE IMMEDIATE for an ATA drive (also behind a USB
// or FireWire bridge), Device Self-test for an NVMe namespace.
[[nodiscard]] SelfTestStart startShortSelfTest(Session& session, const DriveRecord& drive);

// "started", "not offered", "drive not opened", "refused", for reports.
const char* selfTestStartText(SelfTestStart start);

}  // namespace palvoro
