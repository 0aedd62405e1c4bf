#pragma once
// The checks of start-up that need no window: the operating system's version, the
// user's rights (with the warning a limited user gets once) and the compliance table.

#include "app/app_context.h"

namespace palvoro {

// The warning shown once to a user without administrator rights.
inline constexpr const char* kNoAdministratorWarning =
    "User does not have administrator privilege to access all drive resource!!!";

// Sets osIsVistaOrLater and miniportMode (warning the user when it is set) and loads the
// compliance table. Start-up goes on whatever these find.
void runStartupChecks(AppContext& context);

}  // namespace palvoro
