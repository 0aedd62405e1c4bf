#pragma once
// The random read test that opens the extended test: up to 500 blocks read at random
// places of the test range, before the full scan.

#include <stdlib.h>

#include <cstdint>

#include "diagnostics/run.h"

namespace palvoro {

inline constexpr uint64_t kRandomReadBlocks = 500;

// Runs the sector loop in its random form over the test range; returns its result.
int randomReadTest(TestRun& run);

// The draws of one random read test: the C library's rand() sequence from its default
// seed, kept by the run rather than by the process, so runs on several drives at once
// neither share nor disturb each other's places, and every run reads the same ones.
class RandomDraws {
 public:
  RandomDraws();
  RandomDraws(const RandomDraws&) = delete;
  RandomDraws& operator=(const RandomDraws&) = delete;
  uint64_t next();

 private:
  random_data m_data{};
  char m_state[128] = {};
};

// Where the next random block starts, from two draws: one of the range's `blocks`; a
// block that would reach `end` starts two blocks before it instead, but never before
// `first`.
uint64_t randomBlockStart(RandomDraws& draws, uint64_t first, uint64_t blocks, uint64_t end, uint64_t blockSectors);

}  // namespace palvoro
