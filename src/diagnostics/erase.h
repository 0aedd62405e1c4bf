#pragma once
// The erase the worker runs for TestKind 2. A dual-unit drive first loses its partition
// table and has its second unit erased (by the drive's own sanitize command, or by
// zeros); then the write-zeros erase covers the tested unit, in the EraseMode the user
// chose: quick (the first and the last region) or full (the whole test range), with TRIM
// for the drives that `hybridFlags` marks.

#include <cstdint>
#include <vector>

#include "diagnostics/run.h"
#include "diagnostics/sector_loop.h"
#include "discovery/drive_record.h"
#include "platform/platform.h"

namespace palvoro {

// EraseMode, as the erase choice sets it.
inline constexpr int32_t kQuickErase = 0;
inline constexpr int32_t kFullErase = 1;

// How the write-zeros erase covers the tested unit. The erase decides it once from the
// record and the mode; the read-back after an erase asks the same question, so the two
// can never disagree about which sectors were meant to be zeroed.
struct ErasePass {
  enum class Kind {
    Zeros,            // the full erase: zeros over the whole test range
    ZerosTwoRegions,  // the quick erase: zeros over the first and the last region
    Trim,             // the quick erase of a drive marked kHybridTrimRotating: TRIM
    TrimXl,           // ... marked kHybridLogCapability: DATA SET MANAGEMENT XL
  };
  Kind kind = Kind::Zeros;
  TestRange range;
  uint64_t regionLength = 0;  // ZerosTwoRegions: sectors in each region
};
ErasePass erasePass(const DriveRecord& record, int32_t eraseMode);

// The sectors of the tested unit that an erase which ended COMPLETE has zeroed (written
// with zeros or trimmed), in order and without overlap. The quick erase's first region
// is rounded up to the whole blocks of `blockSectors` that the sector loop writes. A
// dual-unit drive's second unit is erased by a step of its own and is not included.
std::vector<SectorSpan> erasedSpans(const DriveRecord& record, int32_t eraseMode,
                                    uint64_t blockSectors = kSectorsPerBlock);

// Run by the option dialog before the progress dialog opens: dismounts the fixed volumes
// that lie on the drive to be erased (found by their storage device number), never the
// system volume and never a volume of another drive, whose open files would be lost.
void dismountVolumesBeforeErase(Platform& platform, const DriveRecord& record);

// Run by the option dialog before erasing a drive with a second unit: the maker's SCT
// switch is turned on and off again (a drive that refuses it cannot be erased on this
// system), then a fresh IDENTIFY DEVICE sets the record's capacity to what the drive now
// reports. False when the switch was refused; nothing more is sent then.
bool prepareSecondUnitErase(Platform& platform, DriveRecord& record, bool miniportMode);

// Removes the selected drive's partition table. Returns 0; 4 when the drive does not open
// (TestError 4, message shown); 20 when the request fails from Vista on (TestError 20,
// message shown). Before Vista a refused request is not an error.
int deleteDriveLayoutStep(TestRun& run);

// Erases the second unit of a dual-unit drive under timer 7: SANITIZE BLOCK ERASE EXT on
// `secondaryUnit`, or zeros in blocks of 32 sectors when the drive refuses it. Returns
// TestError: 0, 14 when stopped, the code of a drive that does not open, or 17 after any
// other failure (ended through the failure finisher with "Erase::").
int secondUnitErase(TestRun& run);

// The zero pass over the tested unit under timer 4 with its outcome on the dialog:
// COMPLETE (TestState 3) on success, FAIL on any error; after a stop it leaves the
// closing to the timer. Unless stopped, it ends with Close and the disk property refresh.
void writeZerosErase(TestRun& run);

// The worker's erase: the drive's own method when the user chose one (purge_erase.h);
// otherwise the overwrite, with the drive's hidden areas looked at around it.
void eraseBranch(TestRun& run);
// The overwrite: for a drive with hidden sectors the layout deletion and the second-unit
// erase, each ending the run when it fails; then the write-zeros erase.
void eraseByOverwrite(TestRun& run);

}  // namespace palvoro
