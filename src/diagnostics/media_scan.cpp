#include "diagnostics/media_scan.h"

#include "diagnostics/random_read.h"
#include "diagnostics/sector_loop.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

constexpr int kTimerMs = 1000;
// The quick scan reads a fifth of the drive at each end, at most this much each.
constexpr uint64_t kQuickRegionDivisor = 5;
constexpr uint64_t kQuickRegionLimit = 2'000'000;

}  // namespace

void mediaScan(TestRun& run, bool quick) {
  TestRunValues& v = run.values();
  ProgressView& view = run.view();
  const TestRange range = testRange(run.drive());
  uint64_t blocks = blocksFor(range.end - range.first);
  run.firstSector = range.first;
  run.endSector = range.end;
  run.currentSector = range.first;
  run.startTime = run.clock().nowSeconds();
  view.startTimer(kTimerMediaScan, kTimerMs);
  view.setText(kCtlStatus, loadString(kStrRunningRandomRead));

  int result = 0;
  if (!quick) {
    result = randomReadTest(run);
    if (result == 0) {
      view.setText(kCtlStatus, loadString(kStrRunningExtendedTest));
      result = sectorLoop(run, kLoopReadScan, range.first, 0, blocks, range.end, true);
    }
  } else {
    view.setText(kCtlStatus, loadString(kStrRunningQuickMediaScan));
    uint64_t region = (range.end - range.first) / kQuickRegionDivisor;
    if (region > kQuickRegionLimit) region = kQuickRegionLimit;
    // A range of fewer than five sectors would have empty regions and pass unread.
    if (region == 0) region = 1;
    v.regionLength = region;
    blocks = blocksFor(2 * region);
    result = sectorLoop(run, kLoopReadScan, range.first, range.end - region, blocks, range.end, true);
  }

  // Stopped by the user (also during the random reads): the timer's stop path closes
  // the dialog.
  if (result == kTestErrorStopped) return;

  if (result != 0) {
    const uint64_t bad = v.badSectorCount.load();
    if (bad >= 1 && bad < kBadSectorSlots) {
      view.showControl(kCtlRepair, true);
      view.setText(kCtlStatus, loadString(kStrBadSectorsRepairable));
    } else {
      v.testState = kTestStateFail;
      v.testError = kTestErrorTooManyBadSectors;
      run.showTestError(kTestErrorTooManyBadSectors);
      view.setText(kCtlStatus, loadString(kStrTestStoppedWithErrors));
    }
    view.setIcon(kCtlActivityIcon, kIconFailure);
  } else {
    view.setText(kCtlStatus, loadString(kStrTestCompleted));
    v.testState = kTestStatePass;
    run.setProgress(100);
    view.setIcon(kCtlActivityIcon, kIconSuccess);
  }
  run.relabelClose();
  view.killTimer(kTimerMediaScan);
}

}  // namespace palvoro
