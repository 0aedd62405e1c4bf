#pragma once
// Where the program's files are: the help pages it shows and the result page it writes.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// The folders for a program whose executable lies in `programDir`:
// - help: the data folder as the install lays it out beside the executables' folder
//   (`programDir` + "../share/palvoro/" for bin/ and share/; the build tree generates the
//   same layout) when it holds help.htm;
// - results: $XDG_STATE_HOME/palvoro/ (an absolute XDG_STATE_HOME only), else
//   $HOME/.local/state/palvoro/, created for the user alone when missing; where neither
//   can be made, `programDir` when it can be written in, else "".
// Every folder ends with a separator.
ProgramFolders findProgramFolders(const std::string& programDir, const Environment& environment);

// The same, for this process.
ProgramFolders findProgramFolders();

// A file start-up writes.
struct ProgramFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

// Writes each file into `dir` in binary, replacing a file of that name. A file that cannot
// be written is silently skipped. Returns how many were written.
int extractProgramFiles(const std::string& dir, const std::vector<ProgramFile>& files);

}  // namespace palvoro
