#pragma once
// How a test step opens the drive under test. From Windows Vista on, raw writes into a
// mounted volume are refused, so the step opens the drive with its volumes locked and
// dismounted; older systems get a plain open with write-through and no buffering.

#include <array>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "diagnostics/device_errors.h"
#include "diagnostics/run.h"

namespace palvoro {

// The volume handles a test step keeps while it holds the drive.
using TestVolumeHandles = std::array<Handle, kTestVolumeSlots>;

// An array with every entry closed, as the locking open expects it.
TestVolumeHandles closedVolumeHandles();

// Whether `drive` is open on the drive the run is bound to (always true for a run bound to
// none). A drive pulled and another, or the same one, plugged in at its number since is
// not the drive the user chose: every open below closes it again and fails as a drive
// that does not open.
bool openOnBoundDrive(TestRun& run, DriveHandle& drive);

// The volume-locking open of the selected drive. Returns 0; 4 when the drive does not
// open, 2 when it has more volumes than `volumes` has room for. On failure TestError is
// set, its message shown with the kind prefix, and nothing is left open.
int openDriveForTest(TestRun& run, DriveHandle& drive, TestVolumeHandles& volumes);

// Opens the selected drive read/write with write-through and no buffering, the open used
// when the volumes need no lock. Shows nothing; false when the drive does not open.
bool openDriveUnbuffered(TestRun& run, DriveHandle& drive);

// The open a step uses on this system: the volume-locking open from Vista on, the
// unbuffered one before. Returns 0; the locking open's code (its message shown) or 4
// (nothing shown, TestError left alone) when the drive does not open.
int openDriveForStep(TestRun& run, DriveHandle& drive, TestVolumeHandles& volumes);

// Where the selected drive's TRIM goes, on `unit`.
TrimTarget trimTargetOf(TestRun& run, uint8_t unit);

// Closes the drive and every volume handle the locking open kept.
void closeDriveForTest(TestRun& run, DriveHandle& drive, TestVolumeHandles& volumes);

}  // namespace palvoro
