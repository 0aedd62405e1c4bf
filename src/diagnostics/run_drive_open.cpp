#include "diagnostics/run_drive_open.h"

namespace palvoro {

TestVolumeHandles closedVolumeHandles() {
  TestVolumeHandles volumes;
  volumes.fill(INVALID_HANDLE_VALUE);
  return volumes;
}

int openDriveForTest(TestRun& run, DriveHandle& drive, TestVolumeHandles& volumes) {
  const int code = openDriveLocked(drive, run.drive(), volumes);
  if (code == 0) return 0;
  // Too many volumes leaves the drive itself open; the step that asked gives up at once.
  closeDriveForTest(run, drive, volumes);
  run.values().testError = code;
  run.showTestError(code, run.kindPrefix());
  return code;
}

bool openDriveUnbuffered(TestRun& run, DriveHandle& drive) {
  return drive.openShared(physicalDrivePath(run.drive().physicalDriveNumber), GENERIC_READ | GENERIC_WRITE,
                          FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, OPEN_EXISTING);
}

void closeDriveForTest(TestRun& run, DriveHandle& drive, TestVolumeHandles& volumes) {
  drive.close(volumes, run.drive().volumeCount);
}

}  // namespace palvoro
