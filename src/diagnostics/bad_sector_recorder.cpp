#include "diagnostics/bad_sector_recorder.h"

#include <memory>
#include <new>

namespace palvoro {
namespace {

// Sectors up to this size are read into a buffer on the stack; larger ones, which no
// current drive has, into one taken from the heap for the call.
constexpr uint32_t kStackSector = 4096;

}  // namespace

int recordBadSectors(TestRun& run, DriveHandle& drive, uint64_t first, uint64_t count, bool record) {
  TestRunValues& v = run.values();
  Platform& platform = run.platform();
  const uint32_t sectorSize = run.drive().sectorSize > 0 ? static_cast<uint32_t>(run.drive().sectorSize) : 512u;
  alignas(kStackSector) uint8_t local[kStackSector];
  std::unique_ptr<uint8_t[]> large;
  uint8_t* sector = local;
  if (sectorSize > kStackSector) {
    large.reset(new (std::nothrow) uint8_t[sectorSize]);
    sector = large.get();
  }

  int lastReadOk = 0;
  for (uint64_t s = first; s < first + count; ++s) {
    uint32_t got = 0;
    // A sector whose position cannot be set counts as unreadable: reading on from the
    // old position would report another sector.
    const bool ok = sector != nullptr && drive.seekTo(s * sectorSize) && drive.read(sector, sectorSize, &got) &&
                    got == sectorSize;
    if (!ok && record) {
      const uint64_t counted = v.badSectorCount.load();
      const BadSector bad{s, platform.lastError()};
      if (counted < kBadSectorSlots) run.badSectors[counted] = bad;
      v.badSectorCount = counted + 1;
      run.events().badSectorFound(bad);
    }
    lastReadOk = ok ? 1 : 0;
    run.events().keepResponsive();
  }
  return lastReadOk;
}

}  // namespace palvoro
