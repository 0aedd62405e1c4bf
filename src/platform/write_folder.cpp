#include "platform/write_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace palvoro {
namespace {

// "bob (uid 1000)", or the number alone for a user the system does not name.
std::string userText(uint32_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  std::string text = "uid " + std::to_string(uid);
  if (getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_name != nullptr) {
    text = std::string(found->pw_name) + " (" + text + ")";
  }
  return text;
}

std::string modeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Whether someone other than the owner may create, replace or remove names in a folder.
// The sticky bit keeps each name to its owner; a group-writable folder is still the user's
// own when the group is the user's (the private group most systems give each user).
[[nodiscard]] bool openToOthers(const struct stat& info, const FileUser& user) {
  if ((info.st_mode & S_ISVTX) != 0) return false;
  if ((info.st_mode & S_IWOTH) != 0) return true;
  return (info.st_mode & S_IWGRP) != 0 && info.st_gid != user.gid;
}

// The path from the root without ".", "..", or repeated separators, made absolute from the
// working folder. ".." is taken lexically: for root no link may lie on the path anyway.
std::vector<std::string> components(const std::string& path) {
  std::string whole = path;
  if (whole.empty() || whole[0] != '/') {
    std::vector<char> cwd(PATH_MAX);
    if (getcwd(cwd.data(), cwd.size()) == nullptr) return {};
    whole = std::string(cwd.data()) + "/" + whole;
  }
  std::vector<std::string> parts;
  size_t from = 0;
  while (from <= whole.size()) {
    size_t slash = whole.find('/', from);
    if (slash == std::string::npos) slash = whole.size();
    const std::string part = whole.substr(from, slash - from);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    from = slash + 1;
  }
  return parts;
}

std::string joined(const std::vector<std::string>& parts, size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) path += "/" + parts[i];
  return path.empty() ? "/" : path;
}

// A name of a temporary file that no other run of the program picks at the same time.
std::string temporaryName(const std::string& name, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".%d.%u.%u.tmp", static_cast<int>(getpid()), counter.fetch_add(1), attempt);
  return "." + name + suffix;
}

[[nodiscard]] bool writeAll(int fd, const unsigned char* bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(fd, bytes + done, size - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

FileUser FileUser::current() { return {static_cast<uint32_t>(geteuid()), static_cast<uint32_t>(getegid())}; }

WriteFolder WriteFolder::open(const std::string& path, const FileUser& user) {
  WriteFolder folder;
  const auto refuse = [&](FolderCheck check, const std::string& why) {
    if (folder.m_fd >= 0) ::close(folder.m_fd);
    folder.m_fd = -1;
    folder.m_check = check;
    folder.m_refusal = "Files are not written into " + (path.empty() ? std::string("an unnamed folder") : path) +
                       ": " + why + ".";
    return std::move(folder);
  };
  if (path.empty()) return refuse(FolderCheck::Missing, "no folder was named");

  const std::vector<std::string> parts = components(path);
  folder.m_fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder.m_fd < 0) return refuse(FolderCheck::Missing, std::strerror(errno));
  if (user.root()) {
    // Every step from "/" is opened without following a link, and judged before it is
    // entered: a user who can change a folder on the way could swap what lies below it.
    for (size_t i = 0; i < parts.size(); ++i) {
      struct stat above {};
      if (::fstat(folder.m_fd, &above) != 0) return refuse(FolderCheck::Missing, std::strerror(errno));
      const std::string abovePath = joined(parts, i);
      if (above.st_uid != user.uid) {
        return refuse(FolderCheck::NotRootsPath, "the folder " + abovePath + " on its way belongs to " +
                                                     userText(above.st_uid) + ", who could change where it leads");
      }
      if (openToOthers(above, user)) {
        return refuse(FolderCheck::NotRootsPath, "other users can change the folder " + abovePath +
                                                     " on its way (mode " + modeText(above.st_mode) + ")");
      }
      const int next = ::openat(folder.m_fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0) {
        const int error = errno;
        struct stat entry {};
        const std::string here = joined(parts, i + 1);
        if (::fstatat(folder.m_fd, parts[i].c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode)) {
          return refuse(FolderCheck::LinkOnPath, here + " is a symbolic link, which root does not follow here");
        }
        if (error == ENOTDIR) return refuse(FolderCheck::NotAFolder, here + " is not a folder");
        return refuse(FolderCheck::Missing, here + ": " + std::strerror(error));
      }
      ::close(folder.m_fd);
      folder.m_fd = next;
    }
  } else {
    // Another user's own links (a home on another disk) are followed as the user meant them.
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
      return refuse(errno == ENOTDIR ? FolderCheck::NotAFolder : FolderCheck::Missing, std::strerror(errno));
    }
    const std::string resolved = real;
    std::free(real);
    ::close(folder.m_fd);
    folder.m_fd = ::open(resolved.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder.m_fd < 0) {
      return refuse(errno == ENOTDIR ? FolderCheck::NotAFolder : FolderCheck::Missing, std::strerror(errno));
    }
  }

  struct stat info {};
  if (::fstat(folder.m_fd, &info) != 0) return refuse(FolderCheck::Missing, std::strerror(errno));
  if (!S_ISDIR(info.st_mode)) return refuse(FolderCheck::NotAFolder, "it is not a folder");
  if (info.st_uid != user.uid) {
    return refuse(FolderCheck::NotOwned, "it belongs to " + userText(info.st_uid) + ", not to " +
                                             userText(user.uid) + ", who runs this program");
  }
  if (openToOthers(info, user)) {
    return refuse(FolderCheck::OpenToOthers, "other users can create, replace or remove files in it (mode " +
                                                 modeText(info.st_mode) + ")");
  }
  folder.m_check = FolderCheck::Usable;
  return folder;
}

WriteFolder::WriteFolder(WriteFolder&& other) noexcept
    : m_fd(other.m_fd), m_check(other.m_check), m_refusal(std::move(other.m_refusal)) {
  other.m_fd = -1;
}

WriteFolder& WriteFolder::operator=(WriteFolder&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = other.m_fd;
    m_check = other.m_check;
    m_refusal = std::move(other.m_refusal);
    other.m_fd = -1;
  }
  return *this;
}

WriteFolder::~WriteFolder() {
  if (m_fd >= 0) ::close(m_fd);
}

FileWrite WriteFolder::writeFile(const std::string& name, const void* bytes, size_t size) const {
  if (!usable() || m_fd < 0) return FileWrite::FolderRefused;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return FileWrite::NotCreated;
  std::string temporary;
  int fd = -1;
  // Exclusive creation fails on any name already there, a link included: nothing is ever
  // opened that this call did not make.
  for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = temporaryName(name, attempt);
    fd = ::openat(m_fd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) return FileWrite::NotCreated;
  }
  if (fd < 0) return FileWrite::NotCreated;
  const bool written = writeAll(fd, static_cast<const unsigned char*>(bytes), size);
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlinkat(m_fd, temporary.c_str(), 0);
    return FileWrite::NotWritten;
  }
  // The rename replaces the name itself: a link there is replaced, its target untouched.
  if (::renameat(m_fd, temporary.c_str(), m_fd, name.c_str()) != 0) {
    ::unlinkat(m_fd, temporary.c_str(), 0);
    return FileWrite::NotReplaced;
  }
  return FileWrite::Written;
}

}  // namespace palvoro
