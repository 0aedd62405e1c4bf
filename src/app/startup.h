#pragma once
// The checks of start-up that need no window: the operating system's version, the
// user's rights (with the warning a limited user gets once) and the compliance table.

#include "app/app_context.h"

namespace palvoro {

// The warning shown once to a user without administrator rights.
inline constexpr const char* kNoAdministratorWarning =
    "User does not have administrator privilege to access all drive resource!!!";

// What the programs on this computer's drives add to that warning: on Linux a user without
// the rights reaches only what sysfs tells, so the drives can be listed but not asked
// anything. One text for each way of starting the program with the rights.
inline constexpr const char* kNoRightsNoteWindows =
    "Without administrator rights PALVORO shows only the identity the system publishes for SATA drives: it cannot "
    "read SMART data, run tests or erase, and other drives do not appear. To test drives, start it with: pkexec "
    "palvoro";
// Added to the windows' note where pkexec is installed.
inline constexpr const char* kRestartWithRightsQuestion = "\n\nStart PALVORO again with administrator rights now?";
// When the rights were asked for and not given.
inline constexpr const char* kRightsNotGiven =
    "Administrator rights were not given: PALVORO goes on without them.";
inline constexpr const char* kNoRightsNoteCli =
    "Without administrator rights PALVORO shows only the identity the system publishes for SATA drives: it cannot "
    "read SMART data, run tests or erase, and other drives do not appear. To test drives, start it with: sudo "
    "palvoro-cli ...";

// Sets osIsVistaOrLater and miniportMode (warning the user when it is set) and loads the
// compliance table. Start-up goes on whatever these find.
void runStartupChecks(AppContext& context);

// Whether windows can be shown: a display, or a Qt platform named by hand (offscreen).
// Without one, says so on the error stream as `program` would, followed by `advice`.
[[nodiscard]] bool displayFound(const char* program, const char* advice);

}  // namespace palvoro
