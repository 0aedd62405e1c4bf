#pragma once
// Every system call the Linux backend makes, behind one interface, so that the whole
// backend runs in unit tests over fake /sys and /proc trees and scripted ioctl answers.
// Calls return what the system call returns, or -errno on failure; none of them touches
// the caller's errno.

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace palvoro::real {

class SysCalls {
 public:
  virtual ~SysCalls() = default;

  [[nodiscard]] virtual int open(const std::string& path, int flags) = 0;
  virtual int close(int fd) = 0;
  [[nodiscard]] virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
  [[nodiscard]] virtual ssize_t pread(int fd, void* buffer, size_t size, off_t offset) = 0;
  [[nodiscard]] virtual ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) = 0;
  [[nodiscard]] virtual int flock(int fd, int operation) = 0;
  [[nodiscard]] virtual int umount2(const std::string& target, int flags) = 0;
  [[nodiscard]] virtual int mount(const std::string& source, const std::string& target, const std::string& fsType,
                                  unsigned long flags, const std::string& data) = 0;
  [[nodiscard]] virtual int fdatasync(int fd) = 0;
  [[nodiscard]] virtual int statvfs(const std::string& path, struct statvfs* into) = 0;
  // stat(2), links followed: what a path is, the device its file system lives on
  // (st_dev) and, for a device node, the device it stands for (st_rdev).
  [[nodiscard]] virtual int stat(const std::string& path, struct stat* into) = 0;
  // The effective capability set's low word (capget), or -errno.
  [[nodiscard]] virtual int64_t effectiveCapabilities() = 0;
  virtual uid_t effectiveUid() = 0;
  // The target of a symbolic link, or nothing.
  [[nodiscard]] virtual std::optional<std::string> readlink(const std::string& path) = 0;
  // The entries of a folder without "." and "..", or nothing when it cannot be listed.
  [[nodiscard]] virtual std::optional<std::vector<std::string>> listDirectory(const std::string& path) = 0;
  // A whole small file (sysfs attributes, mountinfo, swaps), or nothing.
  [[nodiscard]] virtual std::optional<std::string> readText(const std::string& path) = 0;
  // The canonical path (realpath), or nothing.
  [[nodiscard]] virtual std::optional<std::string> realPath(const std::string& path) = 0;
  // Writes `text` to a sysfs attribute (a disk's `device/rescan`): 0 or -errno.
  [[nodiscard]] virtual int writeText(const std::string& path, const std::string& text) = 0;
};

// The calls themselves.
class RealSysCalls : public SysCalls {
 public:
  [[nodiscard]] int open(const std::string& path, int flags) override;
  int close(int fd) override;
  [[nodiscard]] int ioctl(int fd, unsigned long request, void* argument) override;
  [[nodiscard]] ssize_t pread(int fd, void* buffer, size_t size, off_t offset) override;
  [[nodiscard]] ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) override;
  [[nodiscard]] int flock(int fd, int operation) override;
  [[nodiscard]] int umount2(const std::string& target, int flags) override;
  [[nodiscard]] int mount(const std::string& source, const std::string& target, const std::string& fsType,
                          unsigned long flags, const std::string& data) override;
  [[nodiscard]] int fdatasync(int fd) override;
  [[nodiscard]] int statvfs(const std::string& path, struct statvfs* into) override;
  [[nodiscard]] int stat(const std::string& path, struct stat* into) override;
  [[nodiscard]] int64_t effectiveCapabilities() override;
  uid_t effectiveUid() override;
  [[nodiscard]] std::optional<std::string> readlink(const std::string& path) override;
  [[nodiscard]] std::optional<std::vector<std::string>> listDirectory(const std::string& path) override;
  [[nodiscard]] std::optional<std::string> readText(const std::string& path) override;
  [[nodiscard]] std::optional<std::string> realPath(const std::string& path) override;
  [[nodiscard]] int writeText(const std::string& path, const std::string& text) override;
};

}  // namespace palvoro::real
