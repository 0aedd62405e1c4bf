#pragma once
// The second unit of a dual-unit drive, checked before the main unit's test.

#include "diagnostics/run.h"

namespace palvoro {

// Quick form (`quick` true) or full form; returns TestError.
int secondUnitVerify(TestRun& run, bool quick);

}  // namespace palvoro
