#include "diagnostics/cable_test.h"

#include "device/drive_handle.h"
#include "diagnostics/run_drive_open.h"
#include "diagnostics/run_messages.h"

namespace palvoro {

int cableTest(TestRun& run) {
  DriveHandle drive(run.platform());
  TestVolumeHandles volumes = closedVolumeHandles();
  if (openDriveForStep(run, drive, volumes) != 0) {
    run.values().testError = kTestErrorNoDrive;
    run.showTestError(kTestErrorNoDrive, kCableTestPrefix);
    return 0;
  }
  closeDriveForTest(run, drive, volumes);
  return 1;
}

}  // namespace palvoro
