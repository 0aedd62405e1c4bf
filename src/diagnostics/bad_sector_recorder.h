#pragma once
// Reads a range sector by sector after a block could not be read as a whole, so that the
// bad-sector list names the sectors themselves. The repair reads a rewritten sector
// back through it too, with recording off.

#include <cstdint>

#include "device/drive_handle.h"
#include "diagnostics/run.h"

namespace palvoro {

// Reads `count` sectors from `first` one at a time through the open `drive`. With
// `record` set, each sector that fails (or reads short) is counted in BadSectorCount and,
// while fewer than 200 are counted, stored in the run's list with the system error.
// Lets the GUI thread's pending messages run after every sector. Returns 1 when the
// last sector read succeeded, else 0.
int recordBadSectors(TestRun& run, DriveHandle& drive, uint64_t first, uint64_t count, bool record);

}  // namespace palvoro
