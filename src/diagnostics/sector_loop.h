#pragma once
// The sector loop: one walk over a range of blocks that the media scan, the random read
// test and the erase share. It reads (or writes zeros, or trims) block by block, records
// unreadable sectors, keeps the "Current Sector" line and stops on Cancel.

#include <cstdint>
#include <vector>

#include "diagnostics/run.h"
#include "discovery/drive_record.h"

namespace palvoro {

// What the loop does with each block. The numbers are the loop's operation types.
enum SectorLoopType : int {
  kLoopReadScan = 1,    // read every block, record unreadable sectors
  kLoopWriteZeros = 2,  // write zeros, asking whether to go on after a failed write
  kLoopRandomRead = 3,  // read at most 500 randomly placed blocks
  kLoopTrim = 4,        // one DATA SET MANAGEMENT (TRIM) walk over the range
  kLoopTrimXl = 5,      // one DATA SET MANAGEMENT XL command over the range
};

// Where the transfer loop puts block i.
enum class BlockPlacement {
  Linear,      // S + i x block, through the whole range
  TwoRegions,  // from S while the current sector lies within the first region, then from
               // S2, counted from the middle block
  Random,      // randomly, at most 500 blocks (the random read test)
};

// Each of the two regions of a quick media scan or quick erase: a fifth of the range, at
// most `limit` sectors, and one sector at least (a range of fewer than five sectors would
// otherwise have empty regions and pass untouched).
inline constexpr uint64_t kQuickScanRegionLimit = 2'000'000;
inline constexpr uint64_t kQuickEraseRegionLimit = 1'000'000;
uint64_t quickRegionLength(uint64_t rangeSectors, uint64_t limit);

// One walk of the transfer loop, spelled out by the step that runs it.
struct SectorPlan {
  int type = kLoopReadScan;                  // kLoopReadScan, kLoopWriteZeros or kLoopRandomRead
  uint64_t first = 0;                        // S
  uint64_t end = 0;                          // E, exclusive
  uint64_t blocks = 0;                       // B
  uint64_t blockSectors = kSectorsPerBlock;  // 1 to 256
  BlockPlacement placement = BlockPlacement::Linear;
  uint64_t regionLength = 0;                 // TwoRegions: sectors in each region
  uint64_t secondStart = 0;                  // TwoRegions: S2, where the second region begins
  bool show = true;                          // reset the time lines, show "Current Sector:" first
};

// The range every test works on: the first sector S and the end E (exclusive). A drive
// whose first unit is unit 2 keeps its hidden sectors in front of it.
struct TestRange {
  uint64_t first = 0;
  uint64_t end = 0;
};
TestRange testRange(const DriveRecord& record);

// Whether a test can work on the drive at all: 0 when it can; 26 when its sector size is
// not usable (usableSectorSize); 27 when its range is empty, or the range or the second
// unit behind it ends past what a 64-bit sector number or byte offset holds. A run that
// went on would move no bytes, or wrap to the wrong place, and report success.
int testRangeError(const DriveRecord& record);

// Ends the step before it touches the drive when testRangeError finds a fault: the
// message with the kind prefix, FAIL, Close and the failure icon. True when it did.
bool refuseUntestableDrive(TestRun& run);

// Blocks of 256 sectors needed to cover `sectors`, the last one partial.
uint64_t blocksFor(uint64_t sectors);

// The whole of `range`, block after block, in the dialog's block size.
SectorPlan rangePlan(const TestRun& run, int type, const TestRange& range);

// The one placement of every two-region walk (the quick scan, the quick erase and the
// quick zeros of a second unit that lies first): the first `region` sectors of `range` in
// whole blocks from S, then the last `region` sectors from E - region to E, each region
// covered whole. A range whose first region's blocks would reach the second is walked
// whole, once. `blockSectors` outside 1..256 is taken as 256, as the loop takes it.
SectorPlan twoRegionPlan(int type, const TestRange& range, uint64_t region, uint64_t blockSectors);
// The same in the dialog's block size.
SectorPlan twoRegionPlan(const TestRun& run, int type, const TestRange& range, uint64_t region);

// Sectors [first, end).
struct SectorSpan {
  uint64_t first = 0;
  uint64_t end = 0;
  bool operator==(const SectorSpan&) const = default;
};

// The sectors a linear or two-region plan's blocks reach when every block is done, in
// order and without overlap (nothing for a random plan).
std::vector<SectorSpan> planSpans(const SectorPlan& plan);

// Reads or writes the plan's blocks, recording unreadable sectors, keeping the "Current
// Sector" line and stopping on Cancel. Returns TestError: 0; 4 or 2 when the drive does not
// open; 5 when no transfer buffer could be had; 8 after unreadable blocks; 9 after a
// failed write; 10 when a seek failed; 14 when stopped by the user without a bad sector;
// 26 or 27 for a drive whose size cannot be used.
int sectorLoop(TestRun& run, const SectorPlan& plan);

// One DATA SET MANAGEMENT (`type` kLoopTrim) or DATA SET MANAGEMENT XL (kLoopTrimXl)
// command over `first`..`end` on the drive's first unit, asking whether to go on when the
// drive refuses it. Returns TestError as sectorLoop does (9 after a refusal).
int trimLoop(TestRun& run, int type, uint64_t first, uint64_t end, bool show);

}  // namespace palvoro
