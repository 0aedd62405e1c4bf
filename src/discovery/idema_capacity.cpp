#include "discovery/idema_capacity.h"

#include "discovery/drive_record.h"

namespace palvoro {
namespace {

constexpr uint64_t kBaseUnits = 97'696'368;  // 50 GB in 512-byte units
constexpr uint64_t kUnitsPerGb = 1'953'504;  // each further GB

// 512-byte units in one logical sector; 0 for a size that is no whole number of them.
uint64_t unitsPerSector(int32_t sectorSize) {
  if (sectorSize == 0) return 1;
  if (!usableSectorSize(sectorSize)) return 0;
  return static_cast<uint64_t>(sectorSize) / 512;
}

// Whether totalSectors x perSector units fall short of the 50 GB base; the product itself
// can pass 2^64 for a nonsense count.
[[nodiscard]] bool belowBase(uint64_t totalSectors, uint64_t perSector) {
  return totalSectors < (kBaseUnits + perSector - 1) / perSector;
}

// (totalSectors x perSector - base) modulo units per GB, taken modulo throughout so no
// product wraps: perSector is at most 128.
uint64_t excessUnits(uint64_t totalSectors, uint64_t perSector) {
  const uint64_t capacity = totalSectors % kUnitsPerGb * perSector % kUnitsPerGb;
  return (capacity + kUnitsPerGb - kBaseUnits % kUnitsPerGb) % kUnitsPerGb;
}

}  // namespace

uint64_t idemaExcessSectors(uint64_t totalSectors, int32_t sectorSize) {
  const uint64_t perSector = unitsPerSector(sectorSize);
  if (perSector == 0 || belowBase(totalSectors, perSector)) return 0;
  return excessUnits(totalSectors, perSector) / perSector;
}

bool isIdemaCapacity(uint64_t totalSectors, int32_t sectorSize) {
  const uint64_t perSector = unitsPerSector(sectorSize);
  return perSector != 0 && !belowBase(totalSectors, perSector) && excessUnits(totalSectors, perSector) == 0;
}

}  // namespace palvoro
