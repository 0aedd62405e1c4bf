#pragma once
// What start-up finds out once and every later step obeys.

#include <string>

namespace palvoro {

// Set once during start-up.
struct StartupState {
  // Each with its trailing separator: where the help pages are read from, and where the
  // result page is written ("" when the user has no such folder).
  std::string helpDir;
  std::string resultsDir;
  int osIsVistaOrLater = 0;   // major version 6 or more
  int miniportMode = 0;       // 1 when the user is not an administrator
  // 1 when a limited user's SMART requests reach the drives through the miniport, as
  // Windows answers them for anyone; 0 where the system answers them for administrators
  // only, so that a limited user's self-test could only fail.
  int miniportSmart = 1;
};

}  // namespace palvoro
