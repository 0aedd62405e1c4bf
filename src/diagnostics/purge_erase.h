#pragma once
// The erase by the drive's own commands, and what every erase must know of the areas a
// drive hides from the host. Which methods a drive offers is asked of the drive each time
// (its security state changes), through the one purge device of its protocol and route.


#include "device/purge.h"
#include "discovery/erase_methods.h"
#include "diagnostics/purge_outcome.h"
#include "diagnostics/run.h"
#include "discovery/drive_record.h"
#include "platform/platform.h"

namespace palvoro {

// The erase the worker runs when the user chose one of the drive's own methods: a sample
// of blocks read, the method's whole command sequence polled to its end, the sample read
// back. COMPLETE only when the drive reported success and the sample proves the erase.
void purgeErase(TestRun& run);

// Around the overwrite: finds the hidden areas and, when the user asked, lifts the Host
// Protected Area so that the overwrite reaches it (the run's record then spans the native
// capacity); afterwards puts it back when asked, and says what happened to them.
void beforeOverwrite(TestRun& run);
void afterOverwrite(TestRun& run);

}  // namespace palvoro
