#pragma once
// The media scan: the extended test over the whole drive, or the quick scan of two regions.

#include "diagnostics/run.h"

namespace palvoro {

// Quick form (`quick` true: two regions) or the extended form (random read test, then
// every block).
// `quickStatus`, when given, is the status line of the quick scan in place of the usual
// one (a quick test that scans because the drive has no self-test says so).
void mediaScan(TestRun& run, bool quick, const char* quickStatus = nullptr);

}  // namespace palvoro
