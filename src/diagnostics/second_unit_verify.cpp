#include "diagnostics/second_unit_verify.h"

#include <string>

#include "device/drive_handle.h"
#include "diagnostics/run_drive_open.h"

namespace palvoro {
namespace {

// READ VERIFY SECTORS EXT chunk: well inside the 16-bit count, and short enough for the
// bar to move on the slowest second unit.
constexpr uint32_t kVerifyChunk = 60'000;
// The quick form of a second unit that lies first on the drive (unit 0) checks its start
// and its end only.
constexpr uint64_t kQuickHeadSectors = 1'000'000;
constexpr uint64_t kQuickTailSectors = 1'000'016;

// Estimated minutes and the chunks per percent of the bar, by the second unit's size.
struct VerifyEstimate {
  int minutes;
  int divisor;
};

VerifyEstimate estimateFor(const DriveRecord& record) {
  const uint64_t h = record.hiddenSectors;
  if (record.secondaryUnit == 0) return {1, 5};
  // Second units of the maker's dual-unit drives: about 16, 24 and 32 GB and above.
  if (h > 62'554'463) return {8, 20};
  if (h > 46'915'847) return {6, 15};
  if (h > 31'277'231) return {4, 10};
  return {1, 5};
}

struct VerifyPass {
  uint64_t first;
  uint64_t count;
};

}  // namespace

int secondUnitVerify(TestRun& run, bool quick) {
  TestRunValues& v = run.values();
  const DriveRecord& record = run.drive();
  run.beginTimedStep();
  DriveHandle drive(run.platform());
  TestVolumeHandles volumes = closedVolumeHandles();
  if (openDriveForStep(run, drive, volumes) != 0) {
    v.testError = kTestErrorNoDrive;
    run.finishWithFailure();
    return kTestErrorNoDrive;
  }

  run.schedule().arm(kTimerSecondUnitVerify);
  const VerifyEstimate estimate = estimateFor(record);
  run.showEstimatedMinutes(estimate.minutes);

  const uint8_t unit = record.secondaryUnit;
  const auto fail = [&](int code) {
    closeDriveForTest(run, drive, volumes);
    run.schedule().disarm(kTimerSecondUnitVerify);
    v.testError = code;
    run.finishWithFailure();
    return code;
  };
  if (drive.smartEnable(unit) != AtaStatus::Success) return fail(kTestErrorSmartEnable);
  if (drive.smartReturnStatus(unit) != AtaStatus::Success) return fail(kTestErrorSmartStatus);

  const uint64_t h = record.hiddenSectors;
  VerifyPass passes[2] = {{0, h}, {0, 0}};
  int passCount = 1;
  if (quick && unit == 0) {
    // A unit smaller than the two ends together is read from 0 to its end, never outside.
    passes[0] = {0, h < kQuickHeadSectors ? h : kQuickHeadSectors};
    passes[1] = {h > kQuickTailSectors ? h - kQuickTailSectors : 0, h < kQuickTailSectors ? h : kQuickTailSectors};
    passCount = 2;
  }

  // The chunk cut at the end of a pass stays cut for the passes after it.
  uint32_t chunk = kVerifyChunk;
  int chunks = 0;
  for (int p = 0; p < passCount && !run.stopped(); ++p) {
    uint64_t lba = passes[p].first;
    uint64_t left = passes[p].count;
    while (left > 0 && !run.stopped()) {
      if (chunk > left) chunk = static_cast<uint32_t>(left);
      if (drive.readVerifyExt(unit, lba, chunk) != AtaStatus::Success) {
        v.testError = kTestErrorReadVerify;
        run.finishWithFailure();
        break;
      }
      ++chunks;
      run.setProgress(chunks / estimate.divisor);
      lba += chunk;
      left -= chunk;
    }
    if (v.testError.load() != kTestErrorNone) break;
  }

  closeDriveForTest(run, drive, volumes);
  run.schedule().disarm(kTimerSecondUnitVerify);
  // The timer's stop path has closed the dialog (or will at its next tick).
  if (v.testError.load() == kTestErrorNone && run.stopped()) v.testError = kTestErrorStopped;
  return v.testError.load();
}

}  // namespace palvoro
