#include "app/elevation.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cerrno>
#include <cstring>

namespace palvoro {

namespace {

// What the windows need to open on the user's display and look as the user set them.
// XAUTHORITY names the file that lets a client onto the display; the rest are names and
// numbers Qt reads.
constexpr std::array<const char*, 15> kCarried = {
    "DISPLAY",
    "XAUTHORITY",
    "QT_SCALE_FACTOR",
    "QT_SCREEN_SCALE_FACTORS",
    "QT_AUTO_SCREEN_SCALE_FACTOR",
    "QT_ENABLE_HIGHDPI_SCALING",
    "QT_SCALE_FACTOR_ROUNDING_POLICY",
    "QT_FONT_DPI",
    "QT_QPA_PLATFORMTHEME",
    "QT_STYLE_OVERRIDE",
    "XDG_CURRENT_DESKTOP",
    "GDK_SCALE",
    "GDK_DPI_SCALE",
    "XCURSOR_SIZE",
    "XCURSOR_THEME",
};

bool carried(const std::string& name) {
  for (const char* allowed : kCarried) {
    if (name == allowed) return true;
  }
  return false;
}

}  // namespace

bool userEnvironmentAllowed(const std::string& assignment) {
  const size_t equals = assignment.find('=');
  if (equals == std::string::npos || !carried(assignment.substr(0, equals))) return false;
  const std::string value = assignment.substr(equals + 1);
  if (value.size() > 256) return false;
  for (const char c : value) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

std::string applyUserEnvironment(const std::vector<std::string>& assignments) {
  for (const std::string& assignment : assignments) {
    if (!userEnvironmentAllowed(assignment)) return assignment;
  }
  for (const std::string& assignment : assignments) {
    const size_t equals = assignment.find('=');
    setenv(assignment.substr(0, equals).c_str(), assignment.c_str() + equals + 1, 1);
  }
  return {};
}

std::string findPkexec() {
  for (const char* path : {"/usr/bin/pkexec", "/bin/pkexec"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return {};
}

std::vector<std::string> elevatedCommand(const std::string& pkexec, const std::string& program,
                                         const std::vector<std::string>& arguments, const Environment& environment) {
  std::vector<std::string> command = {pkexec, program};
  for (const char* name : kCarried) {
    const char* value = environment(name);
    if (value == nullptr || *value == '\0') continue;
    const std::string assignment = std::string(name) + "=" + value;
    // A setting the program with rights would refuse stays behind rather than stop it.
    if (userEnvironmentAllowed(assignment)) {
      command.push_back(kUserEnvOption);
      command.push_back(assignment);
    }
  }
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

ElevatedRun elevatedRunOf(int exitStatus) {
  ElevatedRun run;
  run.status = exitStatus;
  if (exitStatus == 126) {
    run.end = ElevatedRun::End::Dismissed;
  } else if (exitStatus == 127) {
    run.end = ElevatedRun::End::NotAuthorized;
  } else {
    run.end = ElevatedRun::End::Ran;
  }
  return run;
}

ElevatedRun runElevated(const std::vector<std::string>& command) {
  if (command.empty()) return {};
  std::vector<char*> argv;
  for (const std::string& part : command) argv.push_back(const_cast<char*>(part.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return {};
  if (child == 0) {
    execv(argv[0], argv.data());
    _exit(125);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return {};
  }
  if (WIFEXITED(status)) {
    if (WEXITSTATUS(status) == 125) return {};  // exec failed
    return elevatedRunOf(WEXITSTATUS(status));
  }
  // Killed by a signal: the run with rights did happen, and ended badly.
  ElevatedRun killed;
  killed.end = ElevatedRun::End::Ran;
  killed.status = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return killed;
}

}  // namespace palvoro
