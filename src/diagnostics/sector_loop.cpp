#include "diagnostics/sector_loop.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "diagnostics/bad_sector_recorder.h"
#include "diagnostics/random_read.h"
#include "diagnostics/test_drive_open.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

// The "Current Sector" line is refreshed this often: every block would flood the dialog.
constexpr uint64_t kLineRefreshSectors = 4096;
// 256 sectors of up to 4096 bytes.
constexpr size_t kTransferBytes = size_t{1} << 20;
// Unbuffered transfers want a buffer aligned to the sector; a page covers every size.
constexpr std::align_val_t kTransferAlignment{4096};

struct AlignedDelete {
  void operator()(uint8_t* p) const { ::operator delete[](p, kTransferAlignment); }
};
using TransferBuffer = std::unique_ptr<uint8_t[], AlignedDelete>;

// One buffer for the whole loop: no block allocates.
TransferBuffer allocateTransferBuffer(size_t bytes) {
  return TransferBuffer(new (kTransferAlignment, std::nothrow) uint8_t[bytes]);
}

// The dialog's sectors per block, within what the transfer buffer was made for.
uint64_t blockSectors(const TestRun& run) {
  if (run.sectorsPerBlock < 1 || run.sectorsPerBlock > kSectorsPerBlock) return kSectorsPerBlock;
  return static_cast<uint64_t>(run.sectorsPerBlock);
}

std::string zeroRemainingTime() {
  char line[64];
  std::snprintf(line, sizeof line, loadString(kStrEstimatedTimeRemaining), 0, 0, 0);
  return line;
}

// "%I64u of %I64u (%5.2f%%)": the current sector against the range's last one. `line`
// keeps its capacity from one refresh to the next.
void formatCurrentSector(std::string& line, uint64_t current, uint64_t end) {
  const uint64_t last = end - 1;
  const double percent = last == 0 ? 100.0 : static_cast<double>(current) * 100.0 / static_cast<double>(last);
  char text[80];
  const int n = std::snprintf(text, sizeof text, "%" PRIu64 " of %" PRIu64 " (%5.2f%%)", current, last, percent);
  line.assign(text, n > 0 ? static_cast<size_t>(n) : 0);
}

// A block the drive would not write or trim: the user decides whether the erase goes on.
// Only an explicit Yes does (the box defaults to No).
bool continueAfterEraseError(TestRun& run, uint64_t start, uint64_t count) {
  char text[96];
  std::snprintf(text, sizeof text, "Sector #%" PRIu64 "-%" PRIu64 "::Erase error!", start, start + count - 1);
  run.values().setLastErrorMessage(text);
  const PromptAnswer answer = run.context().prompter().ask(std::string(text) + " Continue?", "ERASE",
                                                           PromptIcon::Warning, PromptButtons::YesNo, PromptAnswer::No);
  run.values().testError = kTestErrorWrite;
  return answer == PromptAnswer::Yes;
}

}  // namespace

TestRange testRange(const DriveRecord& record) {
  TestRange range;
  range.first = record.primaryUnit == 2 ? record.hiddenSectors : 0;
  range.end = range.first + record.totalSectors;
  return range;
}

int testRangeError(const DriveRecord& record) {
  if (!usableSectorSize(record.sectorSize)) return kTestErrorSectorSize;
  const uint64_t first = record.primaryUnit == 2 ? record.hiddenSectors : 0;
  const uint64_t total = record.totalSectors;
  if (total == 0 || total > UINT64_MAX - first) return kTestErrorDriveSize;
  // The erase of a second unit that lies behind the first runs to totalSectors + hidden.
  if (record.hiddenSectors > UINT64_MAX - total) return kTestErrorDriveSize;
  const uint64_t end = std::max(first + total, total + record.hiddenSectors);
  // Byte offsets are signed 64-bit on the wire.
  if (end > static_cast<uint64_t>(INT64_MAX) / static_cast<uint64_t>(record.sectorSize)) return kTestErrorDriveSize;
  return 0;
}

bool refuseUntestableDrive(TestRun& run) {
  const int code = testRangeError(run.drive());
  if (code == 0) return false;
  run.values().testError = code;
  run.finishWithFailure();
  return true;
}

uint64_t blocksFor(uint64_t sectors) {
  return sectors / kSectorsPerBlock + (sectors % kSectorsPerBlock != 0 ? 1 : 0);
}

int sectorLoop(TestRun& run, int type, uint64_t first, uint64_t secondStart, uint64_t blocks, uint64_t end,
               bool show) {
  TestRunValues& v = run.values();
  ProgressView& view = run.view();
  AppContext& context = run.context();
  const DriveRecord& record = run.drive();
  const bool transfers = type == kLoopReadScan || type == kLoopWriteZeros || type == kLoopRandomRead;
  const bool trims = type == kLoopTrim || type == kLoopTrimXl;
  const uint64_t block = blockSectors(run);

  v.testError = kTestErrorNone;
  // The steps refuse such a drive before they start; this loop never moves bytes on one.
  if (!usableSectorSize(record.sectorSize) || first >= end) {
    const int code = usableSectorSize(record.sectorSize) ? kTestErrorDriveSize : kTestErrorSectorSize;
    v.testError = code;
    run.showTestError(code, run.kindPrefix());
    return code;
  }
  const auto sectorSize = static_cast<uint32_t>(record.sectorSize);

  run.currentSector = first;
  run.firstSector = first;
  run.endSector = end;
  v.lastShownSector = 0;

  if (show && v.stopRequest.load() == 0) {
    view.setText(kCtlEstimate, zeroRemainingTime());
    view.setText(kCtlElapsed, "Elapsed Time:");
    view.showControl(kCtlCurrentSectorLabel, true);
  }
  v.badSectorCount = 0;
  run.badSectors.fill(BadSector{});

  TransferBuffer buffer;
  const size_t blockBytes = static_cast<size_t>(block) * sectorSize;
  if (transfers) {
    buffer = allocateTransferBuffer(blockBytes > kTransferBytes ? blockBytes : kTransferBytes);
    if (!buffer) {
      v.testError = kTestErrorUnknown5;
      run.showTestError(kTestErrorUnknown5, run.kindPrefix());
      return kTestErrorUnknown5;
    }
    if (type == kLoopWriteZeros) std::memset(buffer.get(), 0, blockBytes);
  }

  DriveHandle drive(context.platform());
  TestVolumeHandles volumes = closedVolumeHandles();
  if (context.startup().osIsVistaOrLater == 0) {
    if (!openDriveUnbuffered(run, drive)) {
      v.testError = kTestErrorNoDrive;
      run.showTestError(kTestErrorNoDrive, run.kindPrefix());
      return kTestErrorNoDrive;
    }
  } else if (transfers) {
    const int code = openDriveForTest(run, drive, volumes);
    if (code != 0) return code;
  }
  // TRIM commands open the drive themselves.

  // Reserved once so that refreshing the line never allocates inside the loop.
  std::string line;
  line.reserve(80);
  const bool quickPlacement = (type == kLoopWriteZeros && v.eraseMode.load() == 0) ||
                              (type == kLoopReadScan && v.testKind.load() == kTestKindQuick);
  const uint64_t regionEnd = first + v.regionLength.load();
  const uint64_t lastBlock = type == kLoopRandomRead && blocks > kRandomReadBlocks ? kRandomReadBlocks : blocks;
  int shownProgress = -1;

  for (uint64_t i = 0; i < lastBlock; ++i) {
    if (v.stopRequest.load() != 0 || v.badSectorCount.load() >= kBadSectorSlots) break;

    uint64_t start = first + i * block;
    if (type == kLoopRandomRead) {
      start = randomBlockStart(first, blocks, end, block);
    } else if (trims) {
      start = first;
    } else if (quickPlacement && run.currentSector.load() > regionEnd) {
      // The second region is counted from the middle block, whichever block the first
      // region ended with.
      start = secondStart + (i - blocks / 2) * block;
    }
    if (start >= end) break;
    const uint64_t count = end - start < block ? end - start : block;

    if (trims) {
      const bool miniport = context.startup().miniportMode != 0;
      const int result = type == kLoopTrim
                             ? trimRange(context.platform(), record, miniport, record.primaryUnit, start, end - start)
                             : trimRangeXl(context.platform(), record, miniport, record.primaryUnit, start, end - start);
      if (result != 0 && !continueAfterEraseError(run, start, count)) break;
    } else {
      const int progress = static_cast<int>((i + 1) * 100 / blocks + 1);
      if (progress != shownProgress) {
        run.setProgress(progress);
        shownProgress = progress;
      }
      if (!drive.seekTo(start * sectorSize)) {
        v.testError = kTestErrorSeek;
        run.showTestError(kTestErrorSeek, run.kindPrefix());
        break;
      }
      const auto bytes = static_cast<uint32_t>(count * sectorSize);
      if (type == kLoopWriteZeros) {
        if (!drive.write(buffer.get(), bytes) && !continueAfterEraseError(run, start, count)) break;
      } else {
        uint32_t got = 0;
        if (!drive.read(buffer.get(), bytes, &got) || got != bytes) {
          v.testError = kTestErrorRead;
          recordBadSectors(run, drive, start, count, true);
        }
      }
    }

    const uint64_t current = start + count - 1;
    run.currentSector = current;
    if (current >= v.lastShownSector.load() + kLineRefreshSectors && v.stopRequest.load() == 0) {
      formatCurrentSector(line, current, end);
      view.setText(kCtlCurrentSector, line);
      v.lastShownSector = current;
    }
    if (trims) break;
  }

  closeDriveForTest(run, drive, volumes);

  if (v.stopRequest.load() == 0) {
    formatCurrentSector(line, run.currentSector.load(), end);
    view.setText(kCtlCurrentSector, line);
    view.setText(kCtlEstimate, zeroRemainingTime());
  } else {
    if (v.badSectorCount.load() == 0) v.testError = kTestErrorStopped;
    v.testState = kTestStateAbort;
  }
  return v.testError.load();
}

}  // namespace palvoro
