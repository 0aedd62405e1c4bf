#pragma once
// palvoro-cli without its main(): the command line parsed, the machine chosen, and each
// command run over a Session with its output in text or JSON. Tests call runCli with
// their own streams; the program passes stdout and stderr.

#include <iosfwd>
#include <string>
#include <vector>

namespace palvoro {

// Exit statuses of palvoro-cli, each with one meaning.
enum CliStatus : int {
  kCliOk = 0,              // the command did what it was asked; a test passed or completed
  kCliDriveFailed = 1,     // the drive failed the test, or the erase failed
  kCliUsage = 2,           // the command line is wrong
  kCliRefused = 3,         // a question answered no, a safety rule, an answer nobody could give
  kCliNoPrivilege = 4,     // the user lacks the rights the command needs
  kCliNotFound = 5,        // no such drive, the drive is gone, or no drives can be reached
};

// The version of the JSON documents' layout; raised whenever a key changes meaning.
inline constexpr int kCliSchemaVersion = 1;

class Platform;

// The drive table as `list` prints it, over `platform` (what palvoro-lab --print shows).
int printDriveList(Platform& platform, std::ostream& out, std::ostream& err);

// Runs palvoro-cli with `args` (without the program name), writing to `out` and `err`.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace palvoro
