#pragma once
// Where the program's files are: the help pages it shows and the result page it writes.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/write_folder.h"

namespace palvoro {

// Everything of `programPath` up to and including its last '/' (the whole path, however
// long); "" when it holds no separator.
std::string programDirFromPath(const std::string& programPath);

// The folder of the running program file, with its trailing separator.
std::string runningProgramDir();

// The help pages the windows show.
inline constexpr const char* kHelpPageName = "help.htm";
inline constexpr const char* kSmartPageName = "smart.htm";
// The logo every page shows, beside each page that names it.
inline constexpr const char* kLogoName = "vhtlogo.gif";

struct ProgramFolders {
  // Where "help.htm", "smart.htm" and "vhtlogo.gif" are read from: the installed data
  // folder when it holds them, else resultsDir, where start-up writes them.
  std::string helpDir;
  // Where the result page is written, with the logo beside it: the user's own, since the
  // program's folder (/usr/bin) is nobody's to write in. "" when there is none.
  std::string resultsDir;
  bool helpInstalled = false;
};

// Reads the environment (XDG_STATE_HOME, HOME); a test passes its own.
using Environment = std::function<const char*(const char*)>;

// Where a run as root keeps its result page. Root never takes the folder from the
// environment: under `sudo -E` HOME and XDG_STATE_HOME are the user's, and root's files
// would land in a folder the user can change. The state of this machine's drive tests
// belongs with the machine's other program state, outside every home, root's included.
inline constexpr const char* kRootResultsDir = "/var/lib/palvoro/";

// The folders for a program whose executable lies in `programDir`:
// - help: the data folder as the install lays it out beside the executables' folder
//   (`programDir` + "../share/palvoro/" for bin/ and share/; the build tree generates the
//   same layout) when it holds help.htm;
// - results: $XDG_STATE_HOME/palvoro/ (an absolute XDG_STATE_HOME only), else
//   $HOME/.local/state/palvoro/, created for the user alone when missing; where neither
//   can be made, `programDir` when it can be written in, else "";
// - results for root: `rootResultsDir`, created for root alone when missing, else "";
//   neither the environment nor the program's folder is looked at.
// Every folder ends with a separator.
ProgramFolders findProgramFolders(const std::string& programDir, const Environment& environment,
                                  const FileUser& user, const std::string& rootResultsDir = kRootResultsDir);

// The same, for this process.
ProgramFolders findProgramFolders();

// A file start-up writes.
struct ProgramFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

// Writes each file into `dir` in binary, replacing a file of that name, through a checked
// WriteFolder. A file that cannot be written is skipped. Returns how many were written;
// `refusal` (when given) receives why the folder was refused, empty when it was not.
int extractProgramFiles(const std::string& dir, const std::vector<ProgramFile>& files,
                        std::string* refusal = nullptr);

}  // namespace palvoro
