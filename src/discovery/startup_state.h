#pragma once
// What start-up finds out once and every later step obeys.

#include <string>

namespace palvoro {

// Set once during start-up.
struct StartupState {
  std::string programDir;     // the program's folder with its trailing separator
  int osIsVistaOrLater = 0;   // major version 6 or more
  int miniportMode = 0;       // 1 when the user is not an administrator
};

}  // namespace palvoro
