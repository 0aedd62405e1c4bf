#pragma once
// Bad-sector repair. After a media scan that found 1 to 199 unreadable sectors the
// dialog offers Repair: each recorded sector is overwritten with zeros, so that the drive
// can reassign it, and read back. It runs on the dialog's own thread inside the button
// handler; the read-back dispatches pending window messages, so Cancel still gets through
// and sets the stop-repair flag.

#include "diagnostics/run.h"

namespace palvoro {

// The Repair button (control 1042): string 120 in a box titled "REPAIR" with OK and
// Cancel. OK hides the button and runs the repair; returns whether the user chose OK.
bool repairButton(TestRun& run);

// Repairs the bad-sector list the last scan left and shows the outcome: PASS when the
// last sector reads back, TestError 13 when it does not, 12 when there were more than 200.
// A stop before the last sector ends it as FAIL without a message.
void repairRun(TestRun& run);

}  // namespace palvoro
