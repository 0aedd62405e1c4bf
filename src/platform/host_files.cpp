#include "platform/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/win_types.h"

namespace palvoro {

uint32_t HostFiles::errorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return 80;  // ERROR_FILE_EXISTS
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case ENODEV:
    case ENXIO: return ERROR_DEVICE_NOT_CONNECTED;
    default: return ERROR_IO_DEVICE;
  }
}

int HostFiles::open(const std::string& path, uint32_t access, uint32_t disposition, uint32_t& error) {
  int flags = O_CLOEXEC;
  const bool wantRead = (access & GENERIC_READ) != 0;
  const bool wantWrite = (access & GENERIC_WRITE) != 0;
  if (wantRead && wantWrite) {
    flags |= O_RDWR;
  } else if (wantWrite) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: error = ERROR_INVALID_PARAMETER; return -1;
  }
  if ((flags & (O_CREAT | O_TRUNC)) != 0 && !wantWrite) {
    // Creating or truncating needs write access, as on Windows.
    if ((flags & O_TRUNC) != 0) {
      error = ERROR_ACCESS_DENIED;
      return -1;
    }
  }
  const int fd = ::open(path.c_str(), flags, 0644);
  error = fd < 0 ? errorFromErrno(errno) : ERROR_SUCCESS;
  return fd;
}

bool HostFiles::close(int fd) { return ::close(fd) == 0; }

bool HostFiles::flush(int fd, uint32_t& error) {
  int r;
  do {
    r = ::fsync(fd);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return true;
  error = errorFromErrno(errno);
  return false;
}

namespace {

// Moves `size` bytes a call at a time: `step(done)` moves what it can of the rest and
// answers the count or -1 with errno. An interrupting signal makes it try again; a read
// that moves nothing has met the end of the file, success with fewer bytes as ReadFile
// gives it. `moved` gets the count, failure or not.
template <typename Step>
bool moveAll(Step step, uint32_t size, bool zeroEnds, uint32_t* moved, uint32_t& error) {
  uint32_t done = 0;
  while (done < size) {
    const ssize_t n = step(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = HostFiles::errorFromErrno(errno);
      if (moved != nullptr) *moved = done;
      return false;
    }
    if (n == 0 && zeroEnds) break;
    done += static_cast<uint32_t>(n);
  }
  if (moved != nullptr) *moved = done;
  error = ERROR_SUCCESS;
  return true;
}

}  // namespace

bool HostFiles::read(int fd, void* buffer, uint32_t size, uint32_t* bytesRead, uint32_t& error) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  return moveAll([&](uint32_t done) { return ::read(fd, bytes + done, size - done); }, size, true, bytesRead, error);
}

bool HostFiles::write(int fd, const void* buffer, uint32_t size, uint32_t* bytesWritten,
                      uint32_t& error) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  return moveAll([&](uint32_t done) { return ::write(fd, bytes + done, size - done); }, size, false, bytesWritten,
                 error);
}

bool HostFiles::seek(int fd, int64_t distance, uint32_t moveMethod, uint64_t& newPosition,
                     uint32_t& error) {
  int64_t base = 0;
  if (moveMethod == FILE_CURRENT) {
    const off_t current = ::lseek(fd, 0, SEEK_CUR);
    if (current < 0) {
      error = errorFromErrno(errno);
      return false;
    }
    base = current;
  } else if (moveMethod == FILE_END) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      error = errorFromErrno(errno);
      return false;
    }
    base = st.st_size;
  } else if (moveMethod != FILE_BEGIN) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  // Windows refuses a position before the beginning with its own code and leaves the
  // position where it was.
  if (base + distance < 0) {
    error = ERROR_NEGATIVE_SEEK;
    return false;
  }
  const off_t result = ::lseek(fd, static_cast<off_t>(base + distance), SEEK_SET);
  if (result < 0) {
    error = errorFromErrno(errno);
    return false;
  }
  newPosition = static_cast<uint64_t>(result);
  error = ERROR_SUCCESS;
  return true;
}

}  // namespace palvoro
