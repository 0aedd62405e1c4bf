#pragma once
// The program's folder and the files start-up writes into it.

#include <cstdint>
#include <string>
#include <vector>

namespace palvoro {

// Everything of `programPath` up to and including its last '/' (the whole path, however
// long); "" when it holds no separator.
std::string programDirFromPath(const std::string& programPath);

// The folder of the running program file, with its trailing separator.
std::string runningProgramDir();

// A file start-up writes next to the program.
struct ProgramFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

// Writes each file into `dir` in binary, replacing a file of that name. A file that cannot
// be written is silently skipped. Returns how many were written.
int extractProgramFiles(const std::string& dir, const std::vector<ProgramFile>& files);

}  // namespace palvoro
