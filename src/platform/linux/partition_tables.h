#pragma once
// Where a disk keeps its partition tables, so that deleting the layout clears exactly
// those bytes: the MBR's disk signature, table and boot signature in the first sector,
// and each GPT header found with its entry array (the primary one behind the MBR, the
// backup one at the end of the disk).

#include <cstdint>
#include <functional>
#include <vector>

namespace palvoro::real {

struct ByteRange {
  uint64_t offset = 0;
  uint64_t length = 0;
  bool operator==(const ByteRange&) const = default;
};

// The MBR bytes cleared inside the first sector: the disk signature (440), the four
// entries (446) and the boot signature (510). The boot code before them is left alone.
inline constexpr uint32_t kMbrClearFirst = 440;
inline constexpr uint32_t kMbrClearEnd = 512;

// Reads one logical sector `lba` into `sector` (sectorSize bytes); false when it cannot.
using SectorReader = std::function<bool(uint64_t lba, uint8_t* sector)>;

// The whole sectors that hold GPT structures, in ascending order without overlaps: every
// header with the "EFI PART" signature that names itself (at LBA 1, at the primary's
// backup address, at the last sector) and the entry array it points to, as far as it
// lies on the disk. Nothing when the disk has no GPT.
std::vector<ByteRange> gptRanges(const SectorReader& read, uint32_t sectorSize, uint64_t sectorCount);

}  // namespace palvoro::real
