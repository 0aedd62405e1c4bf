#include "diagnostics/erase.h"

#include <cctype>
#include <cstring>
#include <string>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "device/smart_transport.h"
#include "diagnostics/purge_erase.h"
#include "diagnostics/sector_loop.h"
#include "discovery/identify.h"
#include "diagnostics/run_drive_open.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "platform/scoped_handle.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

constexpr uint8_t kAtaIdentifyDevice = 0xEC;
// The second unit is zeroed in small blocks: 32 sectors (16 KiB).
constexpr int kSecondUnitBlock = 32;
// The quick erase of a second unit that lies first pads its region by half a block.
constexpr uint64_t kSecondUnitRegionPad = 16;
// Minutes shown for the second unit: a sanitize, and the full zero pass of a unit that
// lies in front of the first.
constexpr int kSanitizeMinutes = 1;
constexpr int kFrontUnitFullMinutes = 14;

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

uint64_t ceilDiv(uint64_t n, uint64_t d) { return n / d + (n % d != 0 ? 1 : 0); }

// The zero pass over a second unit that lies behind the first takes about this long,
// by its size (second units of about 16, 24 and 32 GB and above).
int secondUnitMinutes(uint64_t hiddenSectors) {
  if (hiddenSectors > 62'554'463) return 12;
  if (hiddenSectors > 46'915'847) return 9;
  if (hiddenSectors > 31'277'231) return 6;
  return 5;
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
  const TrimTarget target = trimTargetOf(run, record.primaryUnit);
  if ((record.hybridFlags & kHybridLogCapability) != 0) {
    (void)trimRangeXl(run.platform(), target, first, end - first);
  } else if ((record.hybridFlags & kHybridTrimRotating) != 0) {
    (void)trimRange(run.platform(), target, first, end - first);
  }
}

// The zeros of the second unit when the drive refuses to sanitize it, in blocks of 32
// sectors. Returns the loop's TestError.
int zeroSecondUnit(TestRun& run) {
  TestRunValues& v = run.values();
  const DriveRecord& record = run.drive();
  const uint64_t h = record.hiddenSectors;
  SectorPlan plan;
  plan.type = kLoopWriteZeros;
  plan.blockSectors = kSecondUnitBlock;
  plan.show = false;
  if (record.secondaryUnit == 2) {
    // The second unit lies behind the first: zeroed whole, block after block, whatever
    // the user chose for the first unit.
    run.showEstimatedMinutes(secondUnitMinutes(h));
    v.regionLength = h;
    plan.first = record.totalSectors;
    plan.end = record.totalSectors + h;
    plan.blocks = ceilDiv(h, kSecondUnitBlock);
  } else if (v.eraseMode.load() == kFullErase) {
    run.showEstimatedMinutes(kFrontUnitFullMinutes);
    plan.end = h;
    plan.blocks = ceilDiv(h, kSecondUnitBlock);
  } else {
    const uint64_t region =
        ceilDiv(quickRegionLength(h, kQuickEraseRegionLimit), kSecondUnitBlock) * kSecondUnitBlock +
        kSecondUnitRegionPad;
    v.regionLength = region;
    // The placement every quick loop shares: a unit shorter than its two regions is
    // zeroed whole.
    plan = twoRegionPlan(kLoopWriteZeros, TestRange{0, h}, region, kSecondUnitBlock);
    plan.show = false;
  }
  return sectorLoop(run, plan);
}

// A fresh IDENTIFY DEVICE of unit 0 through the SMART path; the record's capacity becomes
// what the drive now reports. A failed read leaves the record as it was.
void refreshCapacity(Platform& platform, DriveRecord& record, bool miniportMode) {
  ScopedHandle handle(platform, openSmartPath(platform, record.physicalDriveNumber, miniportMode));
  if (!handle.valid()) return;
  uint8_t buffer[kSmartBufferSize] = {};
  const bool ok = smartIdentify(platform, handle.get(), miniportMode, kAtaIdentifyDevice, 0, buffer);
  handle.close();
  if (!ok) return;
  uint8_t reply[kIdentifyBytes];
  std::memcpy(reply, buffer + kSendCmdOutHeaderSize, kIdentifyBytes);
  DriveRecord fresh{};
  parseIdentifyReply(reply, fresh, false);
  record.totalSectors = fresh.totalSectors;
  record.identifiedSectors = fresh.totalSectors;
}

}  // namespace

ErasePass erasePass(const DriveRecord& record, int32_t eraseMode) {
  ErasePass pass;
  pass.range = testRange(record);
  if (eraseMode == kFullErase) {
    pass.kind = ErasePass::Kind::Zeros;
  } else if (record.hybridFlags != 0) {
    // The marked drives are erased by their own TRIM over the whole range.
    pass.kind = (record.hybridFlags & kHybridLogCapability) != 0 ? ErasePass::Kind::TrimXl : ErasePass::Kind::Trim;
  } else {
    pass.kind = ErasePass::Kind::ZerosTwoRegions;
    pass.regionLength = quickRegionLength(pass.range.end - pass.range.first, kQuickEraseRegionLimit);
  }
  return pass;
}

std::vector<SectorSpan> erasedSpans(const DriveRecord& record, int32_t eraseMode, uint64_t blockSectors) {
  const ErasePass pass = erasePass(record, eraseMode);
  const TestRange& range = pass.range;
  if (range.first >= range.end) return {};
  if (pass.kind != ErasePass::Kind::ZerosTwoRegions) return {{range.first, range.end}};
  return planSpans(twoRegionPlan(kLoopWriteZeros, range, pass.regionLength, blockSectors));
}

bool prepareSecondUnitErase(Platform& platform, DriveRecord& record, bool miniportMode) {
  if (sctVendorSwitch(platform, record.physicalDriveNumber, miniportMode, kSctSwitchOn) != DriveRequestError::None) {
    return false;
  }
  // Switching back only makes the units report their own sizes again; the capacity read
  // next shows whatever the drive now reports.
  (void)sctVendorSwitch(platform, record.physicalDriveNumber, miniportMode, kSctSwitchOff);
  refreshCapacity(platform, record, miniportMode);
  return true;
}

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
    // Best effort: the step's outcome is whether the layout itself can be deleted.
    (void)platform.deviceIoControl(volume.get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned);
  }
}

int deleteDriveLayoutStep(TestRun& run) {
  TestRunValues& v = run.values();
  Platform& platform = run.platform();
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
  if (!deleted && run.startup().osIsVistaOrLater != 0) {
    v.testError = kTestErrorDeletePartitions;
    run.showTestError(kTestErrorDeletePartitions);
    return kTestErrorDeletePartitions;
  }
  return 0;
}

int secondUnitErase(TestRun& run) {
  TestRunValues& v = run.values();
  const DriveRecord& record = run.drive();
  run.beginTimedStep();
  DriveHandle drive(run.platform());
  TestVolumeHandles volumes = closedVolumeHandles();
  if (const int code = openDriveForStep(run, drive, volumes); code != 0) {
    if (run.startup().osIsVistaOrLater != 0) {
      // The open showed its message; the run still has to end, or Cancel would wait for
      // a step that never runs.
      run.endFailed();
      return code;
    }
    v.testError = kTestErrorNoDrive;
    run.finishWithFailure();
    return kTestErrorNoDrive;
  }

  run.schedule().arm(kTimerSecondUnitErase);
  run.showEstimatedMinutes(kSanitizeMinutes);
  if (drive.sanitizeBlockErase(record.secondaryUnit) != AtaStatus::Success) v.testError = zeroSecondUnit(run);
  closeDriveForTest(run, drive, volumes);

  // Stopped: the timer's stop path closes the dialog.
  if (v.testError.load() == kTestErrorStopped) return kTestErrorStopped;
  run.schedule().disarm(kTimerSecondUnitErase);
  if (v.testError.load() != kTestErrorNone) {
    v.testError = kTestErrorErase;
    run.finishWithFailure();
  }
  return v.testError.load();
}

void writeZerosErase(TestRun& run) {
  TestRunValues& v = run.values();
  const DriveRecord& record = run.drive();
  const ErasePass pass = erasePass(record, v.eraseMode.load());
  const TestRange& range = pass.range;
  run.firstSector = range.first;
  run.endSector = range.end;
  run.currentSector = range.first;
  run.startTime = run.clock().nowSeconds();
  run.schedule().arm(kTimerErase);

  int result = 0;
  switch (pass.kind) {
    case ErasePass::Kind::Zeros:
      run.showStage(loadString(kStrRunningFullErase));
      result = deleteDriveLayoutStep(run);
      if (result == 0) {
        trimTestRange(run, range.first, range.end);
        result = sectorLoop(run, rangePlan(run, kLoopWriteZeros, range));
        // Also after a stop: the first TRIM has already released the whole range, and the
        // drive must not be left with its mapping half rewritten by the zero pass.
        trimTestRange(run, range.first, range.end);
      }
      break;
    case ErasePass::Kind::Trim:
    case ErasePass::Kind::TrimXl:
      run.showStage(loadString(kStrRunningQuickErase));
      v.regionLength = range.end;
      result = trimLoop(run, pass.kind == ErasePass::Kind::TrimXl ? kLoopTrimXl : kLoopTrim, range.first, range.end,
                        true);
      break;
    case ErasePass::Kind::ZerosTwoRegions:
      v.regionLength = pass.regionLength;
      run.showStage(loadString(kStrRunningQuickErase));
      result = deleteDriveLayoutStep(run);
      if (result == 0) result = sectorLoop(run, twoRegionPlan(run, kLoopWriteZeros, range, pass.regionLength));
      break;
  }

  // Stopped: the timer's stop path closes the dialog.
  if (result == kTestErrorStopped) return;

  if (result != 0) {
    // The failure was told where it happened (the Continue question, the open, the seek,
    // the layout deletion).
    run.showStage(loadString(kStrTestStoppedWithErrors));
    v.testState = kTestStateFail;
    run.events().activity(RunActivity::Failure);
  } else {
    if (record.hiddenSectors != 0) {
      // The second unit is switched back on and its blocks released; neither decides the
      // outcome.
      Platform& platform = run.platform();
      const bool miniport = run.startup().miniportMode != 0;
      (void)sctVendorSwitch(platform, record.physicalDriveNumber, miniport, kSctSwitchOn);
      (void)trimRange(platform, trimTargetOf(run, record.secondaryUnit), 0, record.hiddenSectors);
    }
    run.showCompleted(kTestStateComplete);
  }

  run.relabelClose();
  run.schedule().disarm(kTimerErase);
  if (record.hiddenSectors != 0) run.schedule().disarm(kTimerSecondUnitErase);
  // The system reads the emptied drive again; always "\\.\PhysicalDriveN", as the erase
  // itself needs administrator rights. The erase is done either way, and a drive that does
  // not open has already been reported to the user by the request itself.
  (void)updateDiskProperties(run.platform(), run.prompter(), record.physicalDriveNumber, false);
}

void eraseBranch(TestRun& run) {
  TestRunValues& v = run.values();
  v.purge.method = v.eraseMethod.load();
  v.purge.startedSeconds = run.clock().nowSeconds();
  if (v.purge.method != PurgeMethod::Overwrite) {
    purgeErase(run);
    v.purge.endedSeconds = run.clock().nowSeconds();
    return;
  }
  beforeOverwrite(run);
  eraseByOverwrite(run);
  afterOverwrite(run);
  v.purge.endedSeconds = run.clock().nowSeconds();
}

void eraseByOverwrite(TestRun& run) {
  TestRunValues& v = run.values();
  if (run.drive().hiddenSectors != 0) {
    v.testError = deleteDriveLayoutStep(run);
    if (v.testError.load() != kTestErrorNone) {
      run.endFailed();
      return;
    }
    if (secondUnitErase(run) != kTestErrorNone) return;
  }
  writeZerosErase(run);
}

}  // namespace palvoro
