#pragma once
// Plain files on the real file system with Windows-shaped semantics (dispositions,
// 64-bit positions, last-error values). Every backend hands plain paths to this class:
// the result page and the help pages are real files even on the simulated machine.

#include <cstdint>
#include <string>

namespace palvoro {

class HostFiles {
 public:
  // Opens `path` as createFile would. Returns a descriptor, or -1 with `error` set.
  [[nodiscard]] static int open(const std::string& path, uint32_t access, uint32_t disposition, uint32_t& error);
  // As closeHandle: the descriptor is released whatever the answer.
  static bool close(int fd);
  [[nodiscard]] static bool read(int fd, void* buffer, uint32_t size, uint32_t* bytesRead, uint32_t& error);
  [[nodiscard]] static bool write(int fd, const void* buffer, uint32_t size, uint32_t* bytesWritten, uint32_t& error);
  // What was written reaches the storage (fsync).
  [[nodiscard]] static bool flush(int fd, uint32_t& error);
  // Moves the position; `newPosition` receives the position after the move.
  [[nodiscard]] static bool seek(int fd, int64_t distance, uint32_t moveMethod, uint64_t& newPosition, uint32_t& error);

  // The one place where an errno becomes a last-error value.
  static uint32_t errorFromErrno(int err);
};

}  // namespace palvoro
