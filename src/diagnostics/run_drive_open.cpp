#include "diagnostics/run_drive_open.h"

#include <cstring>
#include <string_view>

namespace palvoro {

TestVolumeHandles closedVolumeHandles() {
  TestVolumeHandles volumes;
  volumes.fill(INVALID_HANDLE_VALUE);
  return volumes;
}

bool openOnBoundDrive(TestRun& run, DriveHandle& drive) {
  const DriveInstance* bound = run.boundDrive();
  return bound == nullptr || driveInstanceOf(run.platform(), drive.handle()) == *bound;
}

int openDriveForTest(TestRun& run, DriveHandle& drive, TestVolumeHandles& volumes) {
  const DriveRecord& record = run.drive();
  const LockedDrive target{record.physicalDriveNumber, record.volumeCount,
                           std::string_view(record.volumeLetters, strnlen(record.volumeLetters,
                                                                          sizeof record.volumeLetters))};
  int code = testErrorOf(openDriveLocked(drive, target, volumes));
  if (code == kTestErrorNone && openOnBoundDrive(run, drive)) return kTestErrorNone;
  // Another drive now at the number is not the drive the user chose.
  if (code == kTestErrorNone) code = kTestErrorNoDrive;
  // Too many volumes leaves the drive itself open; the step that asked gives up at once.
  closeDriveForTest(run, drive, volumes);
  run.values().testError = code;
  run.showTestError(code, run.kindPrefix());
  return code;
}

bool openDriveUnbuffered(TestRun& run, DriveHandle& drive) {
  if (!drive.openShared(physicalDrivePath(run.drive().physicalDriveNumber), GENERIC_READ | GENERIC_WRITE,
                        FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, OPEN_EXISTING)) {
    return false;
  }
  if (openOnBoundDrive(run, drive)) return true;
  drive.close();
  return false;
}

int openDriveForStep(TestRun& run, DriveHandle& drive, TestVolumeHandles& volumes) {
  if (run.startup().osIsVistaOrLater != 0) return openDriveForTest(run, drive, volumes);
  return openDriveUnbuffered(run, drive) ? 0 : kTestErrorNoDrive;
}

TrimTarget trimTargetOf(TestRun& run, uint8_t unit) {
  const DriveRecord& record = run.drive();
  return TrimTarget{record.physicalDriveNumber, run.startup().miniportMode != 0, unit, record.busType == kBusUsb};
}

void closeDriveForTest(TestRun& run, DriveHandle& drive, TestVolumeHandles& volumes) {
  drive.close(volumes, run.drive().volumeCount);
}

}  // namespace palvoro
