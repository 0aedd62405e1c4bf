#include "platform/platform.h"

namespace palvoro {
namespace {
// Windows keeps the last error per thread; so does the seam, for every backend alike.
thread_local uint32_t tlsLastError = ERROR_SUCCESS;
}  // namespace

uint32_t Platform::lastError() const { return tlsLastError; }

void Platform::setLastError(uint32_t error) const { tlsLastError = error; }

VolumeName Platform::volumeName(char letter) {
  VolumeName name;
  name.name = std::string(1, letter) + ":\\";
  std::string fileSystem;
  if (volumeInformation(name.name, nullptr, &fileSystem)) name.fileSystem = fileSystem;
  return name;
}

}  // namespace palvoro
