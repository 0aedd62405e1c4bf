#include "app/program_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace palvoro {

namespace {

// The data folder seen from the executables' folder, as the build configured the install.
#ifndef PALVORO_DATA_FROM_BIN
#define PALVORO_DATA_FROM_BIN "../share"
#endif
constexpr const char* kDataFromBin = PALVORO_DATA_FROM_BIN;

std::string withSeparator(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

// Makes `dir` and the folders above it that are missing; those it makes are the user's
// alone (the result page tells which drives were tested and what was found on them).
bool makeFolders(const std::string& dir) {
  struct stat info {};
  if (stat(dir.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  std::string path;
  size_t from = 0;
  while (from < dir.size()) {
    const size_t slash = dir.find('/', from + 1);
    path = dir.substr(0, slash == std::string::npos ? dir.size() : slash);
    from = slash == std::string::npos ? dir.size() : slash;
    if (path.empty() || path == "/") continue;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string userStateDir(const Environment& environment) {
  const char* state = environment("XDG_STATE_HOME");
  // The base directory rules: a relative value is invalid and ignored.
  if (state != nullptr && state[0] == '/') return withSeparator(state) + "palvoro/";
  const char* home = environment("HOME");
  if (home != nullptr && home[0] == '/') return withSeparator(home) + ".local/state/palvoro/";
  return {};
}

}  // namespace

std::string programDirFromPath(const std::string& programPath) {
  const size_t last = programPath.rfind('/');
  return last == std::string::npos ? std::string() : programPath.substr(0, last + 1);
}

std::string runningProgramDir() {
  // The link's target can be as long as a path gets: grow the buffer until it fits.
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return programDirFromPath(std::string(buffer.data(), n));
    buffer.resize(buffer.size() * 2);
  }
}

ProgramFolders findProgramFolders(const std::string& programDir, const Environment& environment,
                                  const FileUser& user, const std::string& rootResultsDir) {
  ProgramFolders folders;
  if (!programDir.empty()) {
    const std::string data = withSeparator(programDir + kDataFromBin) + "palvoro/";
    if (access((data + kHelpPageName).c_str(), R_OK) == 0) {
      folders.helpDir = data;
      folders.helpInstalled = true;
    }
  }
  if (user.root()) {
    // Root's folder is made by root, outside every home: nothing root leaves can be
    // changed by a user, and no user's folder fills with files the user cannot remove.
    const std::string rootDir = withSeparator(rootResultsDir);
    if (!rootDir.empty() && makeFolders(rootDir)) folders.resultsDir = rootDir;
    if (!folders.helpInstalled) folders.helpDir = folders.resultsDir;
    return folders;
  }
  const std::string state = userStateDir(environment);
  if (!state.empty() && makeFolders(state) && access(state.c_str(), W_OK | X_OK) == 0) {
    folders.resultsDir = state;
  } else if (!programDir.empty() && access(programDir.c_str(), W_OK | X_OK) == 0) {
    folders.resultsDir = programDir;
  }
  if (!folders.helpInstalled) folders.helpDir = folders.resultsDir;
  return folders;
}

ProgramFolders findProgramFolders() {
  return findProgramFolders(runningProgramDir(), [](const char* name) { return std::getenv(name); },
                            FileUser::current());
}

int extractProgramFiles(const std::string& dir, const std::vector<ProgramFile>& files, std::string* refusal) {
  if (refusal != nullptr) refusal->clear();
  if (dir.empty()) return 0;
  const WriteFolder folder = WriteFolder::open(dir);
  if (!folder.usable()) {
    if (refusal != nullptr) *refusal = folder.refusal();
    return 0;
  }
  int written = 0;
  for (const ProgramFile& file : files) {
    if (folder.writeFile(file.name, file.bytes.data(), file.bytes.size()) == FileWrite::Written) ++written;
  }
  return written;
}

}  // namespace palvoro
