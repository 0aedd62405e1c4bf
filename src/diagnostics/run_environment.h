#pragma once
// What a test run works with, handed to it by whoever owns the program run: the platform,
// the prompter, the start-up flags, the RAID member select, the selected drive's record
// and table index, the drive it was bound to, and the values the run shares with its
// dialog.

#include <cstdint>

#include "device/drive_requests.h"
#include "diagnostics/run_values.h"
#include "discovery/drive_record.h"
#include "discovery/startup_state.h"
#include "platform/platform.h"
#include "platform/prompter.h"

namespace palvoro {

struct TestRunEnvironment {
  Platform& platform;
  Prompter& prompter;
  const StartupState& startup;     // read as the run goes: a test may change it between steps
  const uint8_t& raidMemberSelect; // device byte of carrier commands (A0h or B0h)
  DriveRecord& drive;              // the selected drive
  int driveIndex;                  // its index in the table; the user sees it plus one
  TestRunValues& values;
  // The drive the user chose and confirmed, as it was then: every open of the run must
  // land on it, or the run goes no further. Null: the run takes whatever drive has the
  // record's number.
  const DriveInstance* boundDrive = nullptr;
};

}  // namespace palvoro
