#include "app/metrics_textfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace palvoro {
namespace {

// Closes a descriptor when it goes.
class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }
  // Closes now; false (with errno) when the close reported a late write error.
  bool close() {
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
  }

 private:
  int m_fd;
};

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

TextfileResult failed(TextfileWrite status) { return {status, errno}; }

}  // namespace

TextfileResult writeTextfile(const std::string& folder, const std::string& text) {
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    return failed(errno == ENOENT || errno == ENOTDIR ? TextfileWrite::FolderMissing : TextfileWrite::NotCreated);
  }
  // A leading dot and no .prom ending: the collector reads neither.
  const std::string temporary = std::string(".") + kTextfileName + "." + std::to_string(::getpid()) + ".tmp";
  int fd = ::openat(dir.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST) {
    // Left by an earlier run of this process id that died before its rename.
    ::unlinkat(dir.get(), temporary.c_str(), 0);
    fd = ::openat(dir.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  }
  if (fd < 0) return failed(TextfileWrite::NotCreated);
  Fd file(fd);
  if (!writeAll(file.get(), text) || ::fsync(file.get()) != 0 || !file.close()) {
    const TextfileResult result = failed(TextfileWrite::NotWritten);
    ::unlinkat(dir.get(), temporary.c_str(), 0);
    return result;
  }
  if (::renameat(dir.get(), temporary.c_str(), dir.get(), kTextfileName) != 0) {
    const TextfileResult result = failed(TextfileWrite::NotReplaced);
    ::unlinkat(dir.get(), temporary.c_str(), 0);
    return result;
  }
  // The rename is in the folder's own data: flushed, or a crash may bring the old file back.
  (void)::fsync(dir.get());
  return {};
}

std::string textfileRefusal(const TextfileResult& result, const std::string& folder) {
  const std::string why = std::strerror(result.error);
  switch (result.status) {
    case TextfileWrite::Written: return {};
    case TextfileWrite::FolderMissing:
      return "the metrics folder " + folder + " does not exist (" + why + "); is prometheus-node-exporter installed?";
    case TextfileWrite::NotCreated: return "no file can be made in the metrics folder " + folder + ": " + why;
    case TextfileWrite::NotWritten: return "the metrics could not be written into " + folder + ": " + why;
    case TextfileWrite::NotReplaced:
      return std::string("the metrics could not take their name in ").append(folder).append(": ").append(why);
  }
  return {};
}

}  // namespace palvoro
