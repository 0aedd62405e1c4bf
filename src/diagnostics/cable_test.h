#pragma once
// The cable test that opens every test run: the drive must open for raw access.

#include "diagnostics/run.h"

namespace palvoro {

// Returns 1 when the drive opened (pass), 0 when it did not (TestError 4, message shown).
int cableTest(TestRun& run);

}  // namespace palvoro
