#include "diagnostics/repair.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "device/drive_handle.h"
#include "diagnostics/bad_sector_recorder.h"
#include "diagnostics/run_drive_open.h"
#include "diagnostics/run_messages.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

constexpr const char* kRepairingText = "Repairing bad sectors...";
constexpr const char* kRepairedText = "Bad sectors were repaired successfully.";
constexpr const char* kContactSupport = "Please contact VH technical support for help";

// What the repair loop ended with: whether every entry it was given was rewritten and
// reads back, and whether the user stopped it.
struct RepairOutcome {
  bool allReadBack = false;
  bool stopped = false;
};

// Rewrites each recorded sector with one whole sector of zeros (a drive with 4096-byte
// sectors takes nothing smaller) and reads it back without recording. Every entry's
// read-back counts: a sector that still fails is not repaired because a later one is.
RepairOutcome repairLoop(TestRun& run, DriveHandle& drive) {
  run.repairInProgress = true;
  run.stopRepair = false;
  const auto sectorSize = static_cast<uint32_t>(run.drive().sectorSize);
  const std::vector<uint8_t> zeros(sectorSize, 0);

  // The read-back may count a failure in BadSectorCount; the progress keeps the count the
  // scan left so that it ends at 100.
  const uint64_t total = run.values().badSectorCount.load();
  const uint64_t entries = std::min<uint64_t>(total, kBadSectorSlots);
  RepairOutcome outcome;
  uint64_t repaired = 0;
  for (uint64_t k = 0; k < entries; ++k) {
    run.setProgress(static_cast<int>((k + 1) * 100 / total));
    const uint64_t sector = run.badSectors[k].sector;
    // A write at an unknown position could land anywhere: no seek, no write.
    const bool written = drive.seekTo(sector * sectorSize) && drive.write(zeros.data(), sectorSize);
    if (written && recordBadSectors(run, drive, sector, 1, false) != 0) ++repaired;
    if (run.stopRepair.load()) {
      outcome.stopped = true;
      break;
    }
  }
  outcome.allReadBack = entries > 0 && repaired == entries;
  run.repairInProgress = false;
  return outcome;
}

// Ends the repair as failed: the reason, the support line, the error's box and the
// failure icon.
void failRepair(TestRun& run, int reasonString, int error) {
  run.showStage(loadString(reasonString), std::string(kContactSupport));
  run.values().testError = error;
  run.values().testState = kTestStateFail;
  run.showTestError(error);
  run.events().activity(RunActivity::Failure);
}

}  // namespace

bool repairButton(TestRun& run) {
  const PromptPurpose overwrites = PromptPurpose::destroysDataOn(run.drive().physicalDriveNumber);
  const PromptAnswer answer = run.prompter().ask(loadString(kStrRepairDataLossWarning), kRepairBoxCaption,
                                                           PromptIcon::Warning, PromptButtons::OkCancel,
                                                           PromptAnswer::Cancel, overwrites);
  if (answer != PromptAnswer::Ok) return false;
  run.events().repairOffered(false);
  repairRun(run);
  return true;
}

void repairRun(TestRun& run) {
  TestRunValues& v = run.values();
  run.events().repairStarted();
  run.setProgress(0);

  if (v.badSectorCount.load() > kBadSectorSlots) {
    failRepair(run, kStrTooManyBadSectors, kTestErrorTooManyBadSectors);
    return;
  }

  run.events().activity(RunActivity::Running);
  run.showStage(kRepairingText);

  DriveHandle drive(run.platform());
  RepairOutcome outcome;
  // A drive that no longer opens repairs nothing: the outcome is that of a sector that
  // still cannot be read. Nor is anything written with a sector size no scan could use.
  if (usableSectorSize(run.drive().sectorSize) && openDriveUnbuffered(run, drive)) {
    outcome = repairLoop(run, drive);
    // A sector read back from the drive's cache proves nothing until the cache is stored.
    if (outcome.allReadBack && !drive.flush()) outcome.allReadBack = false;
  }
  drive.close();

  if (!outcome.allReadBack && outcome.stopped) {
    // The user stopped it: sectors are left unrepaired, so the run cannot pass, and the
    // dialog is closing, so no box.
    v.testState = kTestStateFail;
    return;
  }
  if (!outcome.allReadBack) {
    failRepair(run, kStrUnableToRepair, kTestErrorRepairFailed);
    return;
  }
  run.showStage(kRepairedText);
  if (v.testState.load() != kTestStateAbort) v.testState = kTestStatePass;
  v.testError = kTestErrorNone;
  run.events().activity(RunActivity::Success);
}

}  // namespace palvoro
