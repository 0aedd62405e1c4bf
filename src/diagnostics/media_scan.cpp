#include "diagnostics/media_scan.h"

#include "diagnostics/random_read.h"
#include "diagnostics/sector_loop.h"
#include "resources/string_table.h"

namespace palvoro {

void mediaScan(TestRun& run, bool quick, const char* quickStatus) {
  TestRunValues& v = run.values();
  const TestRange range = testRange(run.drive());
  run.firstSector = range.first;
  run.endSector = range.end;
  run.currentSector = range.first;
  run.startTime = run.clock().nowSeconds();
  run.schedule().arm(kTimerMediaScan);
  run.showStage(loadString(kStrRunningRandomRead));

  int result = 0;
  if (!quick) {
    result = randomReadTest(run);
    if (result == 0) {
      run.showStage(loadString(kStrRunningExtendedTest));
      result = sectorLoop(run, rangePlan(run, kLoopReadScan, range));
    }
  } else {
    run.showStage(quickStatus != nullptr ? quickStatus : loadString(kStrRunningQuickMediaScan));
    const uint64_t region = quickRegionLength(range.end - range.first, kQuickScanRegionLimit);
    v.regionLength = region;
    result = sectorLoop(run, twoRegionPlan(run, kLoopReadScan, range, region));
  }

  // Stopped by the user (also during the random reads): the timer's stop path closes
  // the dialog.
  if (result == kTestErrorStopped) return;

  if (result != 0) {
    const uint64_t bad = v.badSectorCount.load();
    if (bad >= 1 && bad < kBadSectorSlots) {
      run.events().repairOffered(true);
      run.showStage(loadString(kStrBadSectorsRepairable));
    } else {
      v.testState = kTestStateFail;
      v.testError = kTestErrorTooManyBadSectors;
      run.showTestError(kTestErrorTooManyBadSectors);
      run.showStage(loadString(kStrTestStoppedWithErrors));
    }
    run.events().activity(RunActivity::Failure);
  } else {
    run.showCompleted(kTestStatePass);
  }
  run.relabelClose();
  run.schedule().disarm(kTimerMediaScan);
}

}  // namespace palvoro
