#pragma once
// The media scan: the extended test over the whole drive, or the quick scan of two regions.

#include "diagnostics/run.h"

namespace palvoro {

// Quick form (`quick` true: two regions) or the extended form (random read test, then
// every block).
void mediaScan(TestRun& run, bool quick);

}  // namespace palvoro
