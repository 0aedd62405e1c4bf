#pragma once
// The random read test that opens the extended test: up to 500 blocks read at random
// places of the test range, before the full scan.

#include <cstdint>

#include "diagnostics/run.h"

namespace palvoro {

inline constexpr uint64_t kRandomReadBlocks = 500;

// Runs the sector loop in its random form over the test range; returns its result.
int randomReadTest(TestRun& run);

// Where the next random block starts, from two draws of the C library's rand(): one of
// the range's `blocks`; a block that would reach `end` starts two blocks before it
// instead, but never before `first`.
uint64_t randomBlockStart(uint64_t first, uint64_t blocks, uint64_t end, uint64_t blockSectors);

}  // namespace palvoro
