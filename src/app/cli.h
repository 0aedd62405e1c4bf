#pragma once
// palvoro-cli without its main(): the command line parsed, the machine chosen, and each
// command run over a Session with its output in text or JSON. Tests call runCli with
// their own streams; the program passes stdout and stderr.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/console_prompter.h"
#include "diagnostics/run_schedule.h"

namespace palvoro {

// Exit statuses of palvoro-cli, each with one meaning.
enum CliStatus : int {
  kCliOk = 0,              // the command did what it was asked; a test passed or completed
  kCliDriveFailed = 1,     // the drive failed the test, or the erase failed
  kCliUsage = 2,           // the command line is wrong
  kCliRefused = 3,         // a question answered no, a safety rule, an answer nobody could give
  kCliNoPrivilege = 4,     // the user lacks the rights the command needs
  kCliNotFound = 5,        // no such drive, or the drive is gone
  kCliWorsened = 6,        // watch: a drive worsened since its last reading
};

// The version of the JSON documents' layout; raised whenever a key changes meaning.
inline constexpr int kCliSchemaVersion = 1;

class Platform;

// Where palvoro-cli talks to its user: the program fills it from its own terminal; a test
// gives it a script and a clock.
struct CliTerminal {
  CliInput input;                          // questions are read from here
  bool errorIsTerminal = false;            // standard error shows a bar redrawn in place
  int columns = 80;                        // the width the bar must not pass
  int timerMilliseconds = static_cast<int>(kTestTimerPeriod.count());  // the period of the run's timers
  std::function<double()> now;             // monotonic seconds; the steady clock when empty
};

// This process's own terminal: standard input and standard error as they are.
CliTerminal processTerminal();

// The drive table as `list` prints it, over `platform` (what palvoro-lab --print shows).
int printDriveList(Platform& platform, std::ostream& out, std::ostream& err);

// Runs palvoro-cli with `args` (without the program name), writing to `out` and `err`,
// on `terminal`. With `machine` the commands work on it instead of the machine the options
// name (a test arranges it and looks at it afterwards).
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliTerminal& terminal,
           Platform* machine = nullptr);

}  // namespace palvoro
