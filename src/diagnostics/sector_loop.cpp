#include "diagnostics/sector_loop.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "device/drive_handle.h"
#include "diagnostics/block_pipeline.h"
#include "device/drive_requests.h"
#include "diagnostics/bad_sector_recorder.h"
#include "diagnostics/random_read.h"
#include "diagnostics/run_drive_open.h"
#include "diagnostics/run_messages.h"
#include "diagnostics/temperature_guard.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

// The "Current Sector" line is refreshed this often: every block would flood the dialog.
constexpr uint64_t kLineRefreshSectors = 4096;
// How a walk reached the device, for the report.
std::string transferEngineText(const std::string& engine, const PipelineShape& shape, uint64_t blockBytes) {
  const uint64_t requestKiB = shape.requestBlocks * blockBytes / 1024;
  return engine + ", " + std::to_string(requestKiB) + " KiB x " + std::to_string(shape.depth) + " in flight";
}

// Sectors per block within what the transfer buffer was made for.
uint64_t usableBlock(uint64_t blockSectors) {
  return blockSectors < 1 || blockSectors > kSectorsPerBlock ? kSectorsPerBlock : blockSectors;
}
uint64_t blockSectors(const SectorPlan& plan) { return usableBlock(plan.blockSectors); }

uint64_t ceilDiv(uint64_t n, uint64_t d) { return n / d + (n % d != 0 ? 1 : 0); }

// The blocks of a two-region plan that belong to its first region: the region rounded up
// to whole blocks. Every block after them belongs to the second.
uint64_t firstRegionBlocks(const SectorPlan& plan, uint64_t block) { return ceilDiv(plan.regionLength, block); }

// Where a loop stands: its sector against the range's last one (the range ends before `end`).
void showSector(TestRun& run, uint64_t current, uint64_t end, bool atEnd) {
  RunProgress position;
  position.sector = SectorPosition{current, end - 1};
  // The loop's end shows no time left, whatever the last tick estimated.
  if (atEnd) position.remainingSeconds = 0;
  run.events().progress(position);
}

// A block the drive would not write or trim: the user decides whether the erase goes on.
// Only an explicit Yes does (the box defaults to No).
bool continueAfterEraseError(TestRun& run, uint64_t start, uint64_t count) {
  char text[96];
  std::snprintf(text, sizeof text, "Sector #%" PRIu64 "-%" PRIu64 "::Erase error!", start, start + count - 1);
  run.values().setLastErrorMessage(text);
  run.tellWriteRefusal();
  const PromptPurpose erases = PromptPurpose::destroysDataOn(run.drive().physicalDriveNumber);
  const PromptAnswer answer = run.prompter().ask(std::string(text) + " Continue?", kEraseBoxCaption,
                                                 PromptIcon::Warning, PromptButtons::YesNo, PromptAnswer::No, erases);
  run.values().testError = kTestErrorWrite;
  return answer == PromptAnswer::Yes;
}


// What both loops do first: TestError 0, the range the timer reads, the time lines and
// the label, an empty bad-sector list. Returns 0, or the code of a range no loop may work
// on (its message shown): the steps refuse such a drive before they start, and this loop
// never moves bytes on one.
int beginLoop(TestRun& run, uint64_t first, uint64_t end, bool show) {
  TestRunValues& v = run.values();
  v.testError = kTestErrorNone;
  const int32_t sectorSize = run.drive().sectorSize;
  if (!usableSectorSize(sectorSize) || first >= end) {
    const int code = usableSectorSize(sectorSize) ? kTestErrorDriveSize : kTestErrorSectorSize;
    v.testError = code;
    run.showTestError(code, run.kindPrefix());
    return code;
  }
  run.currentSector = first;
  run.firstSector = first;
  run.endSector = end;
  v.lastShownSector = 0;
  if (show && v.stopRequest.load() == 0) {
    run.events().scanStarted();
  }
  v.badSectorCount = 0;
  run.badSectors.fill(BadSector{});
  return 0;
}

// Opens the drive as the loop needs it: before Vista every loop opens it unbuffered; from
// Vista on the transfers open it with its volumes locked, and TRIM opens nothing here
// (its commands open their own handle). Returns 0 or the code whose message was shown.
int openForLoop(TestRun& run, DriveHandle& drive, TestVolumeHandles& volumes, bool transfers) {
  if (run.startup().osIsVistaOrLater == 0) {
    if (openDriveUnbuffered(run, drive)) return 0;
    run.values().testError = kTestErrorNoDrive;
    run.showTestError(kTestErrorNoDrive, run.kindPrefix());
    return kTestErrorNoDrive;
  }
  return transfers ? openDriveForTest(run, drive, volumes) : 0;
}

// The block's last sector becomes the current one; the line follows every 4096 sectors.
void advanceTo(TestRun& run, uint64_t current, uint64_t end) {
  TestRunValues& v = run.values();
  run.currentSector = current;
  if (current >= v.lastShownSector.load() + kLineRefreshSectors && v.stopRequest.load() == 0) {
    showSector(run, current, end, false);
    v.lastShownSector = current;
  }
}

// What both loops do last: the final line and a zero estimate, or a stop's outcome.
int endLoop(TestRun& run, uint64_t end) {
  TestRunValues& v = run.values();
  if (v.stopRequest.load() == 0) {
    showSector(run, run.currentSector.load(), end, true);
  } else {
    if (v.badSectorCount.load() == 0) v.testError = kTestErrorStopped;
    v.testState = kTestStateAbort;
  }
  return v.testError.load();
}

// What the walk's temperature guard does on the run: its pause and resume on the status
// line, the running text put back once the walk goes on, and the loop's own Cancel.
TemperatureGuardHooks walkGuardHooks(TestRun& run, BlockPipeline& pipeline, std::string& runningLine) {
  return {[&pipeline] { pipeline.settle(); },
          [&run, &runningLine](const std::string& text) {
            runningLine = run.stageLine();
            run.showStage(text);
          },
          [&run, &runningLine](const std::string& text) {
            run.showStage(text);
            run.showStage(runningLine);
          },
          [&run] { return run.values().stopRequest.load() != 0; },
          [&run](int celsius) {
            RunProgress reading;
            reading.temperatureCelsius = celsius;
            run.events().progress(reading);
          }};
}

// Where block i of the plan begins.
uint64_t blockStart(const SectorPlan& plan, uint64_t i, uint64_t block, RandomDraws& draws) {
  switch (plan.placement) {
    case BlockPlacement::Random:
      return randomBlockStart(draws, plan.first, plan.blocks, plan.end, block);
    case BlockPlacement::TwoRegions:
      // Deciding by the sector reached instead of by the block count gave a region of a
      // whole number of blocks (or one sector short of one) an extra block and left the
      // second region's first block untouched: an erase that said COMPLETE over 256
      // sectors of old data.
      if (const uint64_t front = firstRegionBlocks(plan, block); i >= front) {
        return plan.secondStart + (i - front) * block;
      }
      break;
    case BlockPlacement::Linear:
      break;
  }
  return plan.first + i * block;
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

uint64_t quickRegionLength(uint64_t rangeSectors, uint64_t limit) {
  const uint64_t region = std::min(rangeSectors / 5, limit);
  return region == 0 && rangeSectors > 0 ? 1 : region;
}

namespace {

SectorPlan linearPlan(int type, const TestRange& range, uint64_t blockSectors) {
  SectorPlan plan;
  plan.type = type;
  plan.first = range.first;
  plan.end = range.end;
  plan.blockSectors = usableBlock(blockSectors);
  plan.blocks = range.end > range.first ? ceilDiv(range.end - range.first, plan.blockSectors) : 0;
  return plan;
}

}  // namespace

SectorPlan rangePlan(const TestRun& run, int type, const TestRange& range) {
  return linearPlan(type, range, static_cast<uint64_t>(run.sectorsPerBlock));
}

SectorPlan twoRegionPlan(int type, const TestRange& range, uint64_t region, uint64_t blockSectors) {
  SectorPlan plan = linearPlan(type, range, blockSectors);
  const uint64_t length = range.end > range.first ? range.end - range.first : 0;
  const uint64_t block = plan.blockSectors;
  // Each region gets as many blocks as it needs: counting the blocks of both regions
  // together left the second one a block short whenever a region ended inside a block.
  const uint64_t front = ceilDiv(region, block);
  if (region >= length || front > (length - region) / block) return plan;
  plan.placement = BlockPlacement::TwoRegions;
  plan.regionLength = region;
  plan.secondStart = range.end - region;
  plan.blocks = 2 * front;
  return plan;
}

SectorPlan twoRegionPlan(const TestRun& run, int type, const TestRange& range, uint64_t region) {
  return twoRegionPlan(type, range, region, static_cast<uint64_t>(run.sectorsPerBlock));
}

std::vector<SectorSpan> planSpans(const SectorPlan& plan) {
  if (plan.first >= plan.end || plan.blocks == 0) return {};
  const uint64_t block = blockSectors(plan);
  const auto reach = [&](uint64_t from, uint64_t blocks) {
    return blocks > (plan.end - from) / block ? plan.end : from + blocks * block;
  };
  switch (plan.placement) {
    case BlockPlacement::Random:
      return {};
    case BlockPlacement::Linear:
      return {{plan.first, reach(plan.first, plan.blocks)}};
    case BlockPlacement::TwoRegions:
      break;
  }
  const uint64_t front = std::min(firstRegionBlocks(plan, block), plan.blocks);
  const SectorSpan first{plan.first, reach(plan.first, front)};
  if (front == plan.blocks || plan.secondStart >= plan.end) return {first};
  const SectorSpan second{plan.secondStart, reach(plan.secondStart, plan.blocks - front)};
  if (second.first <= first.end) return {{first.first, std::max(first.end, second.end)}};
  return {first, second};
}

// Long on purpose: the loop's steps per block (stop check, temperature, progress, the
// outcome of its transfer, the bad sector's question, timing, the current sector) run in
// the order the tests fix, with the flush that proves an erase after them; split, the
// order would be spread over several functions.
int sectorLoop(TestRun& run, const SectorPlan& plan) {
  if (const int code = beginLoop(run, plan.first, plan.end, plan.show); code != 0) return code;
  TestRunValues& v = run.values();
  const uint64_t block = blockSectors(plan);
  const auto sectorSize = static_cast<uint32_t>(run.drive().sectorSize);
  const bool writes = plan.type == kLoopWriteZeros;

  DriveHandle drive(run.platform());
  TestVolumeHandles volumes = closedVolumeHandles();
  if (const int code = openForLoop(run, drive, volumes, true); code != 0) return code;
  const std::unique_ptr<BlockQueue> queue = run.platform().openBlockQueue(
      drive.handle(), writes ? BlockDirection::Write : BlockDirection::Read, sectorSize);
  if (!queue) {
    closeDriveForTest(run, drive, volumes);
    v.testError = kTestErrorNoDrive;
    run.showTestError(kTestErrorNoDrive, run.kindPrefix());
    return kTestErrorNoDrive;
  }

  const uint64_t lastBlock =
      plan.placement == BlockPlacement::Random ? std::min<uint64_t>(plan.blocks, kRandomReadBlocks) : plan.blocks;
  RandomDraws draws;
  uint64_t planned = 0;
  const auto nextBlock = [&]() -> std::optional<PlannedBlock> {
    if (planned >= lastBlock) return std::nullopt;
    const uint64_t start = blockStart(plan, planned, block, draws);
    if (start >= plan.end) return std::nullopt;
    ++planned;
    return PlannedBlock{start, std::min(plan.end - start, block)};
  };
  // Only a scan's block times make a map; an erase keeps none, so on a rotating disk too
  // it goes at the depth the device takes unless the user asked for one block at a time.
  const TransferPace asked = v.transferPace.load();
  const TransferPace pace = writes && asked == TransferPace::Automatic ? TransferPace::Deep : asked;
  const PipelineShape shape =
      pipelineShape(queue->limits(), block * sectorSize, plan.placement == BlockPlacement::Random, pace);
  BlockPipeline pipeline(*queue, shape, sectorSize, block * sectorSize, writes, nextBlock);
  if (!pipeline.valid()) {
    closeDriveForTest(run, drive, volumes);
    v.testError = kTestErrorUnknown5;
    run.showTestError(kTestErrorUnknown5, run.kindPrefix());
    return kTestErrorUnknown5;
  }
  v.setTransferEngine(transferEngineText(queue->engine(), shape, block * sectorSize));
  DriveThermometer thermometer(run.platform(), run.drive(), run.startup().miniportMode != 0, run.raidMemberSelect());
  std::string runningLine;
  TemperatureGuard guard(run.platform(), thermometer, v.temperature, v.temperatureGuard.load(),
                         walkGuardHooks(run, pipeline, runningLine));

  int shownProgress = -1;
  // The random reads are too few and too scattered to map; a scan or an erase walks the
  // surface in order and is timed block by block.
  const bool timed = plan.placement != BlockPlacement::Random;
  BlockLatencyMap& latency = v.scanLatency;
  if (timed) latency.begin(plan.first, plan.end);
  for (uint64_t i = 0; i < lastBlock; ++i) {
    if (v.stopRequest.load() != 0 || v.badSectorCount.load() >= kBadSectorSlots) break;
    // A pause ended by Cancel ends the walk as a stop does.
    if (!guard.between()) break;
    const std::optional<BlockResult> result = pipeline.next();
    if (!result) break;
    const uint64_t start = result->block.start;
    const uint64_t count = result->block.count;

    const int progress = static_cast<int>((i + 1) * 100 / plan.blocks + 1);
    if (progress != shownProgress) {
      run.setProgress(progress);
      shownProgress = progress;
    }
    // The queue would not take the block (a place the device does not have): the walk
    // ends there, as a failed seek ended it.
    if (!result->sent) {
      v.testError = kTestErrorSeek;
      run.showTestError(kTestErrorSeek, run.kindPrefix());
      break;
    }
    if (timed) latency.record(start, result->microseconds, result->ok);
    if (!result->ok && writes) {
      // A drive that is gone takes no more writes: asking to go on would ask once per
      // block left, for nothing.
      if (result->error == ERROR_DEVICE_NOT_CONNECTED) {
        v.testError = kTestErrorNoDrive;
        run.showTestError(kTestErrorNoDrive, run.kindPrefix());
        break;
      }
      if (!continueAfterEraseError(run, start, count)) break;
    } else if (!result->ok) {
      v.testError = kTestErrorRead;
      recordBadSectors(run, drive, start, count, true);
    }
    advanceTo(run, start + count - 1, plan.end);
  }
  // A stop leaves requests in flight: they end before the drive closes.
  pipeline.stop();
  // The zeros count once the drive says it stored them: a write cache that loses them
  // must not leave the erase saying COMPLETE.
  if (writes && v.stopRequest.load() == 0 && !drive.flush() && v.testError.load() == kTestErrorNone) {
    char text[96];
    std::snprintf(text, sizeof text, "Sector #%" PRIu64 "-%" PRIu64 "::Erase error!", plan.first, plan.end - 1);
    v.setLastErrorMessage(text);
    v.testError = kTestErrorWrite;
  }

  closeDriveForTest(run, drive, volumes);
  return endLoop(run, plan.end);
}

int trimLoop(TestRun& run, int type, uint64_t first, uint64_t end, bool show) {
  if (const int code = beginLoop(run, first, end, show); code != 0) return code;
  DriveHandle drive(run.platform());
  TestVolumeHandles volumes = closedVolumeHandles();
  if (const int code = openForLoop(run, drive, volumes, false); code != 0) return code;

  if (run.values().stopRequest.load() == 0) {
    const TrimTarget target = trimTargetOf(run, run.drive().primaryUnit);
    const DriveRequestError result = type == kLoopTrimXl ? trimRangeXl(run.platform(), target, first, end - first)
                                                         : trimRange(run.platform(), target, first, end - first);
    // The question names the first block of the range, as a transfer would.
    const uint64_t count = std::min<uint64_t>(end - first, kSectorsPerBlock);
    if (result == DriveRequestError::None || continueAfterEraseError(run, first, count)) advanceTo(run, first + count - 1, end);
  }

  closeDriveForTest(run, drive, volumes);
  return endLoop(run, end);
}

}  // namespace palvoro
