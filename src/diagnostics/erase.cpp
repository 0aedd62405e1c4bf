#include "diagnostics/erase.h"

#include <cctype>
#include <string>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "diagnostics/sector_loop.h"
#include "diagnostics/test_drive_open.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "platform/scoped_handle.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

constexpr int kTimerMs = 1000;
constexpr int kFullErase = 1;
constexpr uint8_t kSctSwitchOn = 1;
// The second unit is zeroed in small blocks: 32 sectors (16 KiB).
constexpr int kSecondUnitBlock = 32;
// A quick erase zeroes a fifth of the range at each end, at most this much each.
constexpr uint64_t kQuickRegionDivisor = 5;
constexpr uint64_t kQuickRegionLimit = 1'000'000;
// The quick erase of a second unit that lies first pads its region by half a block.
constexpr uint64_t kSecondUnitRegionPad = 16;
// Minutes shown for the second unit: a sanitize, and the full zero pass of a unit that
// lies in front of the first.
constexpr int kSanitizeMinutes = 1;
constexpr int kFrontUnitFullMinutes = 14;

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

uint64_t ceilDiv(uint64_t n, uint64_t d) { return n / d + (n % d != 0 ? 1 : 0); }

std::string estimatedMinutes(int minutes) {
  return "Estimated Time: " + std::to_string(minutes) + " minute(s)";
}

// The zero pass over a second unit that lies behind the first takes about this long,
// by its size (second units of about 16, 24 and 32 GB and above).
int secondUnitMinutes(uint64_t hiddenSectors) {
  if (hiddenSectors > 62'554'463) return 12;
  if (hiddenSectors > 46'915'847) return 9;
  if (hiddenSectors > 31'277'231) return 6;
  return 5;
}

// Ends a failed step whose message was already shown where it failed: the finisher's
// lines without a second box.
void endWithoutMessage(TestRun& run) {
  run.view().setText(kCtlStatus, loadString(kStrTestStoppedWithErrors));
  run.values().testState = kTestStateFail;
  run.relabelClose();
  run.view().setIcon(kCtlActivityIcon, kIconFailure);
}

// The physical drive a volume lies on, or -1 when it lies on none alone (a volume that
// spans drives answers no device number).
int volumeDriveNumber(Platform& platform, char letter) {
  // A handle without access is enough for the query and touches nothing.
  ScopedHandle volume(platform, platform.createFile(std::string("\\\\.\\") + letter + ":", 0, kShareAll,
                                                    OPEN_EXISTING, 0));
  if (!volume.valid()) return -1;
  STORAGE_DEVICE_NUMBER number{};
  uint32_t returned = 0;
  if (!platform.deviceIoControl(volume.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                                &returned) ||
      returned < sizeof number || number.DeviceType != FILE_DEVICE_DISK) {
    return -1;
  }
  return static_cast<int>(number.DeviceNumber);
}

// TRIM of the whole test range around the full erase's zero pass, by the drive's marks:
// DATA SET MANAGEMENT XL for bit 1, plain TRIM for bit 0. The zeros decide the outcome,
// so the result is not looked at.
void trimTestRange(TestRun& run, uint64_t first, uint64_t end) {
  const DriveRecord& record = run.drive();
  Platform& platform = run.context().platform();
  const bool miniport = run.context().startup().miniportMode != 0;
  if ((record.hybridFlags & kHybridLogCapability) != 0) {
    trimRangeXl(platform, record, miniport, record.primaryUnit, first, end - first);
  } else if ((record.hybridFlags & kHybridTrimRotating) != 0) {
    trimRange(platform, record, miniport, record.primaryUnit, first, end - first);
  }
}

// The zeros of the second unit when the drive refuses to sanitize it. Returns the loop's
// TestError.
int zeroSecondUnit(TestRun& run) {
  TestRunValues& v = run.values();
  const DriveRecord& record = run.drive();
  const uint64_t h = record.hiddenSectors;
  run.sectorsPerBlock = kSecondUnitBlock;
  int result = 0;
  if (record.secondaryUnit == 2) {
    // The second unit lies behind the first: zeroed whole, block after block, whatever
    // the user chose for the first unit.
    run.view().setText(kCtlEstimate, estimatedMinutes(secondUnitMinutes(h)));
    v.regionLength = h;
    const int32_t mode = v.eraseMode.load();
    v.eraseMode = kFullErase;
    result = sectorLoop(run, kLoopWriteZeros, record.totalSectors, 0, ceilDiv(h, kSecondUnitBlock),
                        record.totalSectors + h, false);
    v.eraseMode = mode;
  } else if (v.eraseMode.load() == kFullErase) {
    run.view().setText(kCtlEstimate, estimatedMinutes(kFrontUnitFullMinutes));
    result = sectorLoop(run, kLoopWriteZeros, 0, 0, ceilDiv(h, kSecondUnitBlock), h, false);
  } else {
    uint64_t region = h / kQuickRegionDivisor;
    if (region > kQuickRegionLimit) region = kQuickRegionLimit;
    region = ceilDiv(region, kSecondUnitBlock) * kSecondUnitBlock + kSecondUnitRegionPad;
    v.regionLength = region;
    // A unit shorter than its padded region has no second region: the first one runs
    // to its end.
    const uint64_t secondStart = h > region ? h - region : 0;
    result = sectorLoop(run, kLoopWriteZeros, 0, secondStart, ceilDiv(2 * region, kSecondUnitBlock), h, false);
  }
  run.sectorsPerBlock = kSectorsPerBlock;
  return result;
}

}  // namespace

void dismountVolumesBeforeErase(Platform& platform, const DriveRecord& record) {
  const uint32_t present = platform.logicalDrives();
  const std::string windows = platform.windowsDirectory();
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if ((present & (1u << (letter - 'A'))) == 0) continue;
    if (platform.driveType(std::string(1, letter) + ":\\") != DRIVE_FIXED) continue;
    if (windows.size() >= 2 && windows[1] == ':' &&
        std::toupper(static_cast<unsigned char>(windows[0])) == letter) {
      continue;
    }
    if (volumeDriveNumber(platform, letter) != record.physicalDriveNumber) continue;
    ScopedHandle volume(platform, platform.createFile(std::string("\\\\.\\") + letter + ":", kReadWrite, kShareAll,
                                                      OPEN_EXISTING, 0));
    if (!volume.valid()) continue;
    uint32_t returned = 0;
    platform.deviceIoControl(volume.get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned);
  }
}

int deleteDriveLayoutStep(TestRun& run) {
  TestRunValues& v = run.values();
  Platform& platform = run.context().platform();
  DriveHandle drive(platform);
  if (!openDriveUnbuffered(run, drive)) {
    v.testError = kTestErrorNoDrive;
    run.showTestError(kTestErrorNoDrive);
    return kTestErrorNoDrive;
  }
  uint32_t returned = 0;
  const bool deleted =
      platform.deviceIoControl(drive.handle(), IOCTL_DISK_DELETE_DRIVE_LAYOUT, nullptr, 0, nullptr, 0, &returned);
  drive.close();
  if (!deleted && run.context().startup().osIsVistaOrLater != 0) {
    v.testError = kTestErrorDeletePartitions;
    run.showTestError(kTestErrorDeletePartitions);
    return kTestErrorDeletePartitions;
  }
  return 0;
}

int secondUnitErase(TestRun& run) {
  TestRunValues& v = run.values();
  ProgressView& view = run.view();
  const DriveRecord& record = run.drive();
  v.testError = kTestErrorNone;
  run.startTime = run.clock().nowSeconds();

  DriveHandle drive(run.context().platform());
  TestVolumeHandles volumes = closedVolumeHandles();
  if (run.context().startup().osIsVistaOrLater != 0) {
    const int code = openDriveForTest(run, drive, volumes);
    if (code != 0) {
      // The open showed its message; the run still has to end, or Cancel would wait for
      // a step that never runs.
      endWithoutMessage(run);
      return code;
    }
  } else if (!openDriveUnbuffered(run, drive)) {
    v.testError = kTestErrorNoDrive;
    run.finishWithFailure();
    return kTestErrorNoDrive;
  }

  view.startTimer(kTimerSecondUnitErase, kTimerMs);
  view.setText(kCtlEstimate, estimatedMinutes(kSanitizeMinutes));
  if (drive.sanitizeBlockErase(record.secondaryUnit) != 0) v.testError = zeroSecondUnit(run);
  closeDriveForTest(run, drive, volumes);

  // Stopped: the timer's stop path closes the dialog.
  if (v.testError.load() == kTestErrorStopped) return kTestErrorStopped;
  view.killTimer(kTimerSecondUnitErase);
  if (v.testError.load() != kTestErrorNone) {
    v.testError = kTestErrorErase;
    run.finishWithFailure();
  }
  return v.testError.load();
}

void writeZerosErase(TestRun& run) {
  TestRunValues& v = run.values();
  ProgressView& view = run.view();
  AppContext& context = run.context();
  const DriveRecord& record = run.drive();
  const TestRange range = testRange(record);
  uint64_t blocks = blocksFor(range.end - range.first);
  run.firstSector = range.first;
  run.endSector = range.end;
  run.currentSector = range.first;
  run.startTime = run.clock().nowSeconds();
  view.startTimer(kTimerErase, kTimerMs);

  int result = 0;
  if (v.eraseMode.load() == kFullErase) {
    view.setText(kCtlStatus, loadString(kStrRunningFullErase));
    result = deleteDriveLayoutStep(run);
    if (result == 0) {
      trimTestRange(run, range.first, range.end);
      result = sectorLoop(run, kLoopWriteZeros, range.first, 0, blocks, range.end, true);
      // Also after a stop: the first TRIM has already released the whole range, and the
      // drive must not be left with its mapping half rewritten by the zero pass.
      trimTestRange(run, range.first, range.end);
    }
  } else {
    int type = kLoopWriteZeros;
    if (record.hybridFlags != 0) {
      type = (record.hybridFlags & kHybridLogCapability) != 0 ? kLoopTrimXl : kLoopTrim;
      v.regionLength = range.end;
    } else {
      uint64_t region = (range.end - range.first) / kQuickRegionDivisor;
      if (region > kQuickRegionLimit) region = kQuickRegionLimit;
      // A range of fewer than five sectors would have empty regions and be left unwritten.
      if (region == 0) region = 1;
      v.regionLength = region;
      blocks = blocksFor(2 * region);
    }
    view.setText(kCtlStatus, loadString(kStrRunningQuickErase));
    if (type == kLoopWriteZeros) result = deleteDriveLayoutStep(run);
    if (result == 0) {
      result = sectorLoop(run, type, range.first, range.end - v.regionLength.load(), blocks, range.end, true);
    }
  }

  // Stopped: the timer's stop path closes the dialog.
  if (result == kTestErrorStopped) return;

  if (result != 0) {
    // The failure was told where it happened (the Continue question, the open, the seek,
    // the layout deletion).
    view.setText(kCtlStatus, loadString(kStrTestStoppedWithErrors));
    v.testState = kTestStateFail;
    view.setIcon(kCtlActivityIcon, kIconFailure);
  } else {
    if (record.hiddenSectors != 0) {
      // The second unit is switched back on and its blocks released; neither decides the
      // outcome.
      Platform& platform = context.platform();
      const bool miniport = context.startup().miniportMode != 0;
      sctVendorSwitch(platform, record.physicalDriveNumber, miniport, kSctSwitchOn);
      trimRange(platform, record, miniport, record.secondaryUnit, 0, record.hiddenSectors);
    }
    view.setText(kCtlStatus, loadString(kStrTestCompleted));
    v.testState = kTestStateComplete;
    run.setProgress(100);
    view.setIcon(kCtlActivityIcon, kIconSuccess);
  }

  run.relabelClose();
  view.killTimer(kTimerErase);
  if (record.hiddenSectors != 0) view.killTimer(kTimerSecondUnitErase);
  // The system reads the emptied drive again; always "\\.\PhysicalDriveN", as the erase
  // itself needs administrator rights.
  updateDiskProperties(context.platform(), context.prompter(), record.physicalDriveNumber, false);
}

void eraseBranch(TestRun& run) {
  TestRunValues& v = run.values();
  if (run.drive().hiddenSectors != 0) {
    v.testError = deleteDriveLayoutStep(run);
    if (v.testError.load() != kTestErrorNone) {
      endWithoutMessage(run);
      return;
    }
    if (secondUnitErase(run) != kTestErrorNone) return;
  }
  writeZerosErase(run);
}

}  // namespace palvoro
