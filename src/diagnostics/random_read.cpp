#include "diagnostics/random_read.h"

#include <cstdlib>

#include "diagnostics/sector_loop.h"

namespace palvoro {

int randomReadTest(TestRun& run) {
  SectorPlan plan = rangePlan(run, kLoopRandomRead, testRange(run.drive()));
  plan.placement = BlockPlacement::Random;
  return sectorLoop(run, plan);
}

uint64_t randomBlockStart(uint64_t first, uint64_t blocks, uint64_t end, uint64_t blockSectors) {
  // Two draws make one number wide enough for drives of more than 32768 blocks. The C
  // library here may give draws above 16 bits, so the sum is formed in 64 bits.
  const auto high = static_cast<uint64_t>(std::rand());
  const auto low = static_cast<uint64_t>(std::rand());
  const uint64_t r = high * 65536 + low;
  uint64_t start = first + (r % blocks) * blockSectors;
  if (start + blockSectors >= end) {
    // The last block would run past the end: read the whole block before it instead. A
    // range shorter than two blocks has no such block and is read from its start.
    start = end - first >= 2 * blockSectors ? end - 2 * blockSectors : first;
  }
  return start;
}

}  // namespace palvoro
