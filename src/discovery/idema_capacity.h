#pragma once
// The IDEMA capacity rule: a drive sold as G gigabytes (G at least 50) holds
// 97,696,368 + 1,953,504 x (G - 50) units of 512 bytes. The rule counts 512-byte units
// whatever the drive's logical sector, so a drive is measured by its bytes: a 4Kn drive
// and its 512e twin hold the same capacity and get the same answer.

#include <cstdint>

namespace palvoro {

// Logical sectors of `sectorSize` bytes above the largest standard capacity at or below
// the drive's `totalSectors`: (units - 97,696,368) modulo 1,953,504 in 512-byte units,
// rounded down to whole logical sectors. A drive below the 50 GB base has none. A size of
// 0 is the 512 bytes every path takes for a drive that reports none; any other size that
// is not a power of two from 512 to 65,536 bytes cannot be measured in 512-byte units
// and has none.
uint64_t idemaExcessSectors(uint64_t totalSectors, int32_t sectorSize);

// Whether the drive holds exactly a standard capacity (sizes as above; one that cannot be
// measured never does).
[[nodiscard]] bool isIdemaCapacity(uint64_t totalSectors, int32_t sectorSize);

}  // namespace palvoro
