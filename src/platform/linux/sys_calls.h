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

  virtual int open(const std::string& path, int flags) = 0;
  virtual int close(int fd) = 0;
  virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
  virtual ssize_t pread(int fd, void* buffer, size_t size, off_t offset) = 0;
  virtual ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) = 0;
  virtual int flock(int fd, int operation) = 0;
  virtual int umount2(const std::string& target, int flags) = 0;
  virtual int mount(const std::string& source, const std::string& target, const std::string& fsType,
                    unsigned long flags, const std::string& data) = 0;
  virtual int fdatasync(int fd) = 0;
  virtual int statvfs(const std::string& path, struct statvfs* into) = 0;
  // stat(2), links followed: what a path is, the device its file system lives on
  // (st_dev) and, for a device node, the device it stands for (st_rdev).
  virtual int stat(const std::string& path, struct stat* into) = 0;
  // The effective capability set's low word (capget), or -errno.
  virtual int64_t effectiveCapabilities() = 0;
  virtual uid_t effectiveUid() = 0;
  // The target of a symbolic link, or nothing.
  virtual std::optional<std::string> readlink(const std::string& path) = 0;
  // The entries of a folder without "." and "..", or nothing when it cannot be listed.
  virtual std::optional<std::vector<std::string>> listDirectory(const std::string& path) = 0;
  // A whole small file (sysfs attributes, mountinfo, swaps), or nothing.
  virtual std::optional<std::string> readText(const std::string& path) = 0;
  // The canonical path (realpath), or nothing.
  virtual std::optional<std::string> realPath(const std::string& path) = 0;
};

// The calls themselves.
class RealSysCalls : public SysCalls {
 public:
  int open(const std::string& path, int flags) override;
  int close(int fd) override;
  int ioctl(int fd, unsigned long request, void* argument) override;
  ssize_t pread(int fd, void* buffer, size_t size, off_t offset) override;
  ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) override;
  int flock(int fd, int operation) override;
  int umount2(const std::string& target, int flags) override;
  int mount(const std::string& source, const std::string& target, const std::string& fsType, unsigned long flags,
            const std::string& data) override;
  int fdatasync(int fd) override;
  int statvfs(const std::string& path, struct statvfs* into) override;
  int stat(const std::string& path, struct stat* into) override;
  int64_t effectiveCapabilities() override;
  uid_t effectiveUid() override;
  std::optional<std::string> readlink(const std::string& path) override;
  std::optional<std::vector<std::string>> listDirectory(const std::string& path) override;
  std::optional<std::string> readText(const std::string& path) override;
  std::optional<std::string> realPath(const std::string& path) override;
};

}  // namespace palvoro::real
