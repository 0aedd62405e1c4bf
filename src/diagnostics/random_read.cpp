#include "diagnostics/random_read.h"

#include "diagnostics/sector_loop.h"

namespace palvoro {

int randomReadTest(TestRun& run) {
  SectorPlan plan = rangePlan(run, kLoopRandomRead, testRange(run.drive()));
  plan.placement = BlockPlacement::Random;
  return sectorLoop(run, plan);
}

RandomDraws::RandomDraws() {
  // rand() without srand() draws from seed 1 in a state of 128 bytes; this is that state.
  (void)initstate_r(1, m_state, sizeof m_state, &m_data);  // fails only for a state under 8 bytes
}

uint64_t RandomDraws::next() {
  int32_t value = 0;
  (void)random_r(&m_data, &value);  // fails only without a state, which the constructor gave
  return static_cast<uint64_t>(value);
}

uint64_t randomBlockStart(RandomDraws& draws, uint64_t first, uint64_t blocks, uint64_t end, uint64_t blockSectors) {
  // Two draws make one number wide enough for drives of more than 32768 blocks. The C
  // library here may give draws above 16 bits, so the sum is formed in 64 bits.
  const uint64_t high = draws.next();
  const uint64_t low = draws.next();
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
