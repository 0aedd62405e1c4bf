#pragma once
// The sector loop: one walk over a range of blocks that the media scan, the random read
// test and the erase share. It reads (or writes zeros, or trims) block by block, records
// unreadable sectors, keeps the "Current Sector" line and stops on Cancel.

#include <cstdint>

#include "diagnostics/test_run.h"
#include "discovery/drive_record.h"

namespace palvoro {

// What the loop does with each block.
enum SectorLoopType : int {
  kLoopReadScan = 1,    // read every block, record unreadable sectors
  kLoopWriteZeros = 2,  // write zeros, asking whether to go on after a failed write
  kLoopRandomRead = 3,  // read at most 500 randomly placed blocks
  kLoopTrim = 4,        // one DATA SET MANAGEMENT (TRIM) walk over the range
  kLoopTrimXl = 5,      // one DATA SET MANAGEMENT XL command over the range
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

// Runs the loop of `type` over `blocks` blocks from `first` up to `end` (exclusive);
// `secondStart` is where the second region of a quick scan or quick erase begins. `show`
// resets the time lines and shows the "Current Sector:" label first. Returns TestError:
// 0; 4 or 2 when the drive does not open; 5 when no transfer buffer could be had; 8
// after unreadable blocks; 9 after a failed write or device command; 10 when a seek
// failed; 14 when stopped by the user without a bad sector.
int sectorLoop(TestRun& run, int type, uint64_t first, uint64_t secondStart, uint64_t blocks, uint64_t end,
               bool show);

}  // namespace palvoro
