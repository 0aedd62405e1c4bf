#include "platform/linux/sys_calls.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace palvoro::real {
namespace {

// The result of a call that sets errno, as a value or -errno, with errno left as found.
template <typename T>
T result(T value) {
  return value < 0 ? static_cast<T>(-errno) : value;
}

class ErrnoKeeper {
 public:
  ErrnoKeeper() : m_saved(errno) {}
  ~ErrnoKeeper() { errno = m_saved; }
  ErrnoKeeper(const ErrnoKeeper&) = delete;
  ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

 private:
  int m_saved;
};

// A call that an interrupting signal may cut short, made again until it is not, its result
// as `result` gives it.
template <typename Call>
auto restarted(Call call) {
  ErrnoKeeper keep;
  decltype(call()) r;
  do {
    r = call();
  } while (r < 0 && errno == EINTR);
  return result(r);
}

}  // namespace

int RealSysCalls::open(const std::string& path, int flags) {
  return restarted([&] { return ::open(path.c_str(), flags | O_CLOEXEC); });
}

int RealSysCalls::close(int fd) {
  ErrnoKeeper keep;
  return result(::close(fd));
}

int RealSysCalls::ioctl(int fd, unsigned long request, void* argument) {
  return restarted([&] { return ::ioctl(fd, request, argument); });
}

ssize_t RealSysCalls::pread(int fd, void* buffer, size_t size, off_t offset) {
  return restarted([&] { return ::pread(fd, buffer, size, offset); });
}

ssize_t RealSysCalls::pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  return restarted([&] { return ::pwrite(fd, buffer, size, offset); });
}

int RealSysCalls::flock(int fd, int operation) {
  ErrnoKeeper keep;
  return result(::flock(fd, operation));
}

int RealSysCalls::umount2(const std::string& target, int flags) {
  ErrnoKeeper keep;
  return result(::umount2(target.c_str(), flags));
}

int RealSysCalls::mount(const std::string& source, const std::string& target, const std::string& fsType,
                        unsigned long flags, const std::string& data) {
  ErrnoKeeper keep;
  return result(::mount(source.c_str(), target.c_str(), fsType.empty() ? nullptr : fsType.c_str(), flags,
                        data.empty() ? nullptr : data.c_str()));
}

int RealSysCalls::fdatasync(int fd) {
  return restarted([&] { return ::fdatasync(fd); });
}

int RealSysCalls::statvfs(const std::string& path, struct statvfs* into) {
  ErrnoKeeper keep;
  return result(::statvfs(path.c_str(), into));
}

int RealSysCalls::stat(const std::string& path, struct stat* into) {
  ErrnoKeeper keep;
  return result(::stat(path.c_str(), into));
}

int64_t RealSysCalls::effectiveCapabilities() {
  ErrnoKeeper keep;
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return -errno;
  return static_cast<int64_t>(data[0].effective);
}

uid_t RealSysCalls::effectiveUid() { return ::geteuid(); }

std::optional<std::string> RealSysCalls::readlink(const std::string& path) {
  ErrnoKeeper keep;
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

std::optional<std::vector<std::string>> RealSysCalls::listDirectory(const std::string& path) {
  ErrnoKeeper keep;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

std::optional<std::string> RealSysCalls::readText(const std::string& path) {
  ErrnoKeeper keep;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    // sysfs attributes and mountinfo are small; a runaway file is not one of them.
    if (text.size() > (1u << 22)) break;
  }
  ::close(fd);
  return text;
}

std::optional<std::string> RealSysCalls::realPath(const std::string& path) {
  ErrnoKeeper keep;
  std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path.c_str(), nullptr), std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

int RealSysCalls::writeText(const std::string& path, const std::string& text) {
  ErrnoKeeper keep;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  ssize_t n = -1;
  do {
    n = ::write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  const int error = n < 0 ? -errno : n == static_cast<ssize_t>(text.size()) ? 0 : -EIO;
  ::close(fd);
  return error;
}

}  // namespace palvoro::real
