#include "app/program_files.h"

#include <unistd.h>

#include <cstdio>

namespace palvoro {

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

int extractProgramFiles(const std::string& dir, const std::vector<ProgramFile>& files) {
  int written = 0;
  for (const ProgramFile& file : files) {
    std::FILE* out = std::fopen((dir + file.name).c_str(), "wb");
    if (out == nullptr) continue;
    const bool complete = std::fwrite(file.bytes.data(), 1, file.bytes.size(), out) == file.bytes.size();
    if (std::fclose(out) == 0 && complete) ++written;
  }
  return written;
}

}  // namespace palvoro
