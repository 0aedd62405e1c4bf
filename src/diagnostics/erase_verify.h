#pragma once
// The read-back after an erase: every sector the erase zeroed (erasedSpans) is read again
// from the drive, opened read-only, and must hold nothing but zeros. People who erase
// drives for others want that proof; a drive whose writes are acknowledged but never
// reach the media passes the erase itself and only shows up here.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "diagnostics/run_values.h"
#include "discovery/drive_record.h"
#include "platform/platform.h"

namespace palvoro {

// Bytes read at a time: whole sectors of any usable size (512 to 65,536 bytes) fit it,
// and it is large enough that a full read-back runs at the drive's sequential rate.
inline constexpr uint32_t kVerifyBlockBytes = uint32_t{1} << 20;
// Sector numbers of non-zero sectors a verification lists; the rest are only counted.
inline constexpr size_t kListedNonZeroSectors = 16;

// What the read-back found.
struct EraseVerification {
  // How it ended. Only Finished means every sector was tried.
  enum class End {
    Finished,        // every sector of the spans was read or found unreadable
    Stopped,         // the stop request ended it early
    DriveNotOpened,  // the drive did not open for reading; nothing was read
    DriveUnusable,   // the record's sector size or range cannot be read (codes 26 and 27)
    NoBuffer,        // no transfer buffer could be had
  };
  End end = End::Finished;
  uint64_t sectorsToCheck = 0;              // every sector of the erased spans
  uint64_t sectorsChecked = 0;              // read and looked at
  uint64_t nonZeroSectors = 0;              // read, and holding a byte other than zero
  std::vector<uint64_t> firstNonZero;       // the first of them, at most 16, ascending
  uint64_t unreadableSectors = 0;           // could not be read

  // Every sector was read and every one holds zeros.
  bool passed() const {
    return end == End::Finished && sectorsChecked == sectorsToCheck && nonZeroSectors == 0 &&
           unreadableSectors == 0;
  }
};

// How far a verification has got, after each block.
struct VerifyProgress {
  uint64_t sectorsDone = 0;   // checked or found unreadable
  uint64_t sectorsTotal = 0;
  uint64_t lastSector = 0;    // the last sector of the block just read
};

// The read-back's temperature guard (temperature_guard.h): the watch of the run it follows,
// where the pauses are kept, and how the drive's temperature is reached. No watch: the
// read-back is not guarded.
struct ReadBackTemperature {
  TemperatureWatch* watch = nullptr;
  bool miniportMode = false;
  uint8_t raidMemberSelect = 0;
};

// Reads back the sectors that the erase in `eraseMode` zeroed on `record`'s drive, through
// "\\.\PhysicalDriveN" opened for reading only, in blocks of kVerifyBlockBytes. A block
// that does not read is read again sector by sector, so that one bad sector costs one
// sector of the count and its neighbours are still checked; when every sector of such a
// block fails, the drive is answering nothing there, and the following failed blocks are
// counted whole without trying each sector, until a block reads again. `stop` is looked at
// before every read; `progress`, when given, is called on this thread after every block.
// A pause for the drive's temperature is seen in the time between two calls and in the
// watch; Cancel ends it as it ends the reads.
EraseVerification verifyErase(Platform& platform, const DriveRecord& record, int32_t eraseMode,
                              const std::atomic<bool>& stop,
                              const std::function<void(const VerifyProgress&)>& progress = {},
                              const ReadBackTemperature& temperature = {});

}  // namespace palvoro
