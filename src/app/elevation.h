#pragma once
// Starting the program again with administrator rights through pkexec, and carrying the
// user's display settings across: pkexec hands the program a bare environment, in which
// the windows would open on no display, unscaled and in the default theme.

#include <string>
#include <vector>

#include "app/program_files.h"

namespace palvoro {

// The option that carries one setting across, NAME=VALUE, repeatable.
inline constexpr const char* kUserEnvOption = "--user-env";

// Whether NAME=VALUE may be set in the program run with rights: the display, the scaling,
// the desktop and theme names only (nothing that names code to load, such as a plugin
// path), and a value of at most 256 printable characters.
bool userEnvironmentAllowed(const std::string& assignment);

// Sets each assignment; the first that is not allowed stops it and is returned ("" when
// all were set).
std::string applyUserEnvironment(const std::vector<std::string>& assignments);

// pkexec where it is installed (a fixed place: it must be the setuid one), else "".
std::string findPkexec();

// The command that runs `program` through `pkexec` with `arguments`, carrying the allowed
// settings `environment` has.
std::vector<std::string> elevatedCommand(const std::string& pkexec, const std::string& program,
                                         const std::vector<std::string>& arguments, const Environment& environment);

// How a run through pkexec ended.
struct ElevatedRun {
  enum class End {
    Ran,           // the program ran with rights; `status` is its exit status
    Dismissed,     // the user closed the password dialog (pkexec's 126)
    NotAuthorized, // no rights were given (pkexec's 127)
    NotStarted,    // pkexec could not be started
  };
  End end = End::NotStarted;
  int status = -1;
};

// Runs `command` and waits for it.
ElevatedRun runElevated(const std::vector<std::string>& command);

// What the waiting program makes of pkexec's exit status.
ElevatedRun elevatedRunOf(int exitStatus);

}  // namespace palvoro
