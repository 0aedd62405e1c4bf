// The writing half of the Linux backend: a disk is written only through one descriptor
// held with O_EXCL and flock, opened after every rule of the guard passed and after the
// file systems the user released were unmounted; the layout deletion clears the tables
// where they lie and has the kernel read them again.

#include <fcntl.h>
#include <linux/blkpg.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/mount.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/host_files.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/partition_tables.h"
#include "platform/linux/sg_io.h"

#ifndef BLKGETDISKSEQ
#define BLKGETDISKSEQ _IOR(0x12, 128, __u64)
#endif

namespace palvoro::real {
namespace {

// Zeros for the tables are written a mebibyte at a time.
constexpr uint32_t kZeroChunk = 1u << 20;

struct FreeAligned {
  void operator()(void* p) const { std::free(p); }
};
using AlignedBuffer = std::unique_ptr<uint8_t, FreeAligned>;

AlignedBuffer alignedZeros(uint32_t size, uint32_t alignment) {
  const uint32_t rounded = (size + alignment - 1) / alignment * alignment;
  auto* p = static_cast<uint8_t*>(std::aligned_alloc(alignment, rounded));
  if (p != nullptr) std::memset(p, 0, rounded);
  return AlignedBuffer(p);
}

// A refusal or failure already recorded as the last error leaves no descriptor.
int refused(bool) { return -1; }

std::string deviceKey(unsigned major, unsigned minor) { return std::to_string(major) + ":" + std::to_string(minor); }

[[nodiscard]] bool fuseMount(const std::string& fsType) {
  return fsType == "fuse" || fsType.rfind("fuse.", 0) == 0 || fsType == "fuseblk";
}

std::vector<std::string> commaFields(const std::string& text) {
  std::vector<std::string> fields;
  size_t at = 0;
  for (size_t comma; (comma = text.find(',', at)) != std::string::npos; at = comma + 1) {
    fields.push_back(text.substr(at, comma - at));
  }
  fields.push_back(text.substr(at));
  return fields;
}

// The per-mount flags mountinfo lists, as mount(2) takes them back.
unsigned long mountFlags(const std::string& options) {
  static const std::pair<const char*, unsigned long> kFlags[] = {
      {"ro", MS_RDONLY},           {"nosuid", MS_NOSUID},       {"nodev", MS_NODEV},
      {"noexec", MS_NOEXEC},       {"sync", MS_SYNCHRONOUS},    {"dirsync", MS_DIRSYNC},
      {"noatime", MS_NOATIME},     {"nodiratime", MS_NODIRATIME}, {"relatime", MS_RELATIME},
      {"strictatime", MS_STRICTATIME}, {"lazytime", MS_LAZYTIME}};
  unsigned long flags = 0;
  for (const std::string& o : commaFields(options)) {
    for (const auto& [name, flag] : kFlags) {
      if (o == name) flags |= flag;
    }
  }
  return flags;
}

// The file system's own options, without the read-only switch the flags carry.
std::string mountData(const std::string& superOptions) {
  std::string data;
  for (const std::string& o : commaFields(superOptions)) {
    if (!o.empty() && o != "rw" && o != "ro") data += (data.empty() ? "" : ",") + o;
  }
  return data;
}

}  // namespace

std::string LinuxPlatform::takeWriteRefusal() {
  std::lock_guard lock(m_mutex);
  const auto kept = m_refusals.find(std::this_thread::get_id());
  if (kept == m_refusals.end()) return {};
  std::string why = std::move(kept->second);
  m_refusals.erase(kept);
  return why;
}

bool LinuxPlatform::refuseWrite(const BlockDisk& disk, WriteRefusal refusal, const std::string& detail) {
  std::lock_guard lock(m_mutex);
  m_refusals[std::this_thread::get_id()] = refusalMessage("/dev/" + disk.name, refusal, detail);
  return fail(ERROR_ACCESS_DENIED);
}

std::vector<MountEntry> LinuxPlatform::mountsOn(const BlockDisk& disk) {
  std::vector<MountEntry> found;
  const auto text = m_sys.readText(path("/proc/self/mountinfo"));
  if (!text) return found;
  const std::vector<MountEntry> mounts = parseMountinfo(*text);
  for (const MountEntry& m : mounts) {
    // btrfs and overlay mounts by the devices behind them.
    bool here = false;
    for (const DeviceNumber& d : mountDevices(m, mounts)) {
      here = here || d == DeviceNumber{disk.major, disk.minor};
      for (const Partition& p : disk.partitions) here = here || d == DeviceNumber{p.major, p.minor};
    }
    if (here) found.push_back(m);
  }
  return found;
}

std::pair<uint64_t, uint64_t> LinuxPlatform::byteRangeOf(const BlockDisk& disk, unsigned major, unsigned minor) const {
  for (const Partition& p : disk.partitions) {
    if (p.major == major && p.minor == minor) return {p.start * 512, (p.start + p.size) * 512};
  }
  return {0, UINT64_MAX};
}

int LinuxPlatform::writableFd(OpenHandle& h, const BlockDisk& disk, uint64_t offset, uint64_t length, bool erases) {
  if ((h.access & GENERIC_WRITE) == 0) return refused(fail(ERROR_ACCESS_DENIED));
  auto session = m_sessions.find(disk.key);
  if (session == m_sessions.end()) {
    // Rules no unmounting could change come first: nothing is unmounted for a write that
    // is refused anyway.
    WriteGuardFacts facts = guardFacts(disk);
    facts.mountedRanges.clear();
    facts.mountedPoints.clear();
    std::string detail;
    if (const WriteRefusal r = checkWrite(facts, offset, length, &detail); r != WriteRefusal::None) {
      return refused(refuseWrite(disk, r, detail));
    }
    // A device node the system keeps shut even to root takes no write either.
    if (h.fd < 0) return refused(fail(ERROR_ACCESS_DENIED));
    // Every file system of the disk goes, or the kernel would not let the disk be held
    // exclusively; each must have been released by the user for this.
    const std::vector<MountEntry> mounts = mountsOn(disk);
    const uint64_t end = length == 0 || offset + length < offset ? UINT64_MAX : offset + length;
    const uint64_t start = length == 0 ? 0 : offset;
    for (const MountEntry& m : mounts) {
      if (m_dismountAsked.count(deviceKey(m.major, m.minor)) == 0) {
        const auto [first, stop] = byteRangeOf(disk, m.major, m.minor);
        const bool overlaps = start < stop && first < end;
        return refused(refuseWrite(disk, overlaps ? WriteRefusal::MountedRange : WriteRefusal::Busy, m.mountPoint));
      }
      if (fuseMount(m.fsType)) return refused(refuseWrite(disk, WriteRefusal::UnmountFailed, m.mountPoint + " is a FUSE mount"));
    }
    // The last mounted first: a mount on top of another one goes before it.
    std::vector<MountEntry> released;
    for (auto m = mounts.rbegin(); m != mounts.rend(); ++m) {
      const int r = m_sys.umount2(m->mountPoint, 0);
      if (r < 0) {
        remount(released);
        const std::string why = r == -EBUSY ? ": it is in use" : ": " + std::string(std::strerror(-r));
        return refused(refuseWrite(disk, WriteRefusal::UnmountFailed, m->mountPoint + why));
      }
      released.insert(released.begin(), *m);
    }
    const auto giveUp = [&](int fd, WriteRefusal refusal, uint32_t error) {
      if (fd >= 0) m_sys.close(fd);
      remount(released);
      return refused(refusal != WriteRefusal::None ? refuseWrite(disk, refusal, "") : fail(error));
    };
    const int fd = m_sys.open(path("/dev/" + disk.name), O_RDWR | O_EXCL | O_DIRECT | O_CLOEXEC);
    if (fd == -EBUSY) return giveUp(-1, WriteRefusal::Busy, 0);
    if (fd < 0) return giveUp(-1, WriteRefusal::None, errorFromDeviceErrno(-fd));
    uint64_t sequence = 0;
    if (disk.diskseq != 0 && m_sys.ioctl(fd, BLKGETDISKSEQ, &sequence) == 0 && sequence != disk.diskseq) {
      return giveUp(fd, WriteRefusal::None, ERROR_DEVICE_NOT_CONNECTED);
    }
    // udev and the partitioning tools keep away from a disk held with flock.
    if (m_sys.flock(fd, LOCK_EX | LOCK_NB) < 0) return giveUp(fd, WriteRefusal::Busy, 0);
    // Once more, now that the disk is ours: something may have been mounted on it or
    // stacked over it between the looks.
    facts = guardFacts(disk);
    if (const WriteRefusal r = checkWrite(facts, offset, length, &detail); r != WriteRefusal::None) {
      m_sys.close(fd);
      remount(released);
      return refused(refuseWrite(disk, r, detail));
    }
    for (const MountEntry& m : released) m_dismountAsked.erase(deviceKey(m.major, m.minor));
    WriteSession fresh;
    fresh.fd = fd;
    fresh.unmounted = std::move(released);
    fresh.name = disk.name;
    fresh.scsiDevice = disk.bus != DiskBus::Nvme && disk.scsiCommands;
    session = m_sessions.emplace(disk.key, std::move(fresh)).first;
  }
  // While the session holds the disk with O_EXCL the kernel itself refuses a mount, a
  // swap area and a RAID or volume manager on it, so the rules need no second look.
  if (!h.writer) {
    h.writer = true;
    ++session->second.users;
  }
  if (erases) session->second.erased = true;
  m_written.insert(disk.key);
  return session->second.fd;
}

int LinuxPlatform::purgeFd(OpenHandle& h, const BlockDisk& disk, bool capacity) {
  if ((h.access & GENERIC_WRITE) == 0) return refused(fail(ERROR_ACCESS_DENIED));
  if (m_sessions.count(disk.key) != 0) {
    // The session proves the disk was free when it opened; a purge reaches every sector,
    // so the whole disk is judged again now, as the erase that opens a session judges it.
    std::string detail;
    const WriteGuardFacts facts = guardFacts(disk);
    if (const WriteRefusal r = checkWrite(facts, 0, 0, &detail); r != WriteRefusal::None) {
      return refused(refuseWrite(disk, r, detail));
    }
  }
  const int fd = writableFd(h, disk, 0, 0, true);
  if (fd < 0) return -1;
  WriteSession& session = m_sessions.at(disk.key);
  session.kernelStale = true;
  session.capacityChanged = session.capacityChanged || capacity;
  return fd;
}

int LinuxPlatform::tellKernel(WriteSession& session) {
  // sd reads the capacity again only when asked; libata answers it from the drive's new
  // maximum. Best effort: without it the kernel keeps the old end, which is the safe side.
  if (session.capacityChanged && session.scsiDevice) {
    (void)m_sys.writeText(path("/sys/block/" + session.name + "/device/rescan"), "1");
  }
  session.kernelStale = false;
  session.capacityChanged = false;
  return m_sys.ioctl(session.fd, BLKRRPART, nullptr);
}

bool LinuxPlatform::otherNamespaces(const BlockDisk& disk, std::string* which) {
  // The namespaces are the controller's (or with multipath, the subsystem's) entries
  // nvme<C>n<N> and nvme<C>c<P>n<N>; a path to this disk's own namespace is no other.
  const auto own = disk.name.rfind('n');
  const std::string ownNumber = own == std::string::npos ? "" : disk.name.substr(own + 1);
  const auto entries = m_sys.listDirectory(path("/sys/block/" + disk.name + "/device"));
  if (!entries) return false;
  bool found = false;
  for (const std::string& e : *entries) {
    const size_t n = e.rfind('n');
    if (e.rfind("nvme", 0) != 0 || n == std::string::npos || n < 5 || n + 1 >= e.size()) continue;
    const std::string number = e.substr(n + 1);
    if (number.find_first_not_of("0123456789") != std::string::npos || number == ownNumber) continue;
    if (which != nullptr) *which += (found ? ", " : "") + e;
    found = true;
  }
  return found;
}

void LinuxPlatform::remount(const std::vector<MountEntry>& unmounted) {
  for (size_t i = 0; i < unmounted.size(); ++i) {
    const MountEntry& m = unmounted[i];
    const unsigned long flags = mountFlags(m.options);
    if (m.root == "/" || m.superOptions.find("subvol=") != std::string::npos) {
      const std::string data = mountData(m.superOptions);
      int r = m_sys.mount(m.source, m.mountPoint, m.fsType, flags, data);
      // An option the file system shows but does not take back: its defaults will do.
      // Best effort, as the remount as a whole: a file system left unmounted stays safe.
      if (r == -EINVAL && !data.empty()) (void)m_sys.mount(m.source, m.mountPoint, m.fsType, flags, "");
      continue;
    }
    // A folder of the file system bound elsewhere comes back from a mount of the whole.
    for (size_t j = 0; j < i; ++j) {
      const MountEntry& whole = unmounted[j];
      if (whole.major != m.major || whole.minor != m.minor || whole.root != "/") continue;
      if (m_sys.mount(whole.mountPoint + m.root, m.mountPoint, "", MS_BIND, "") == 0 && flags != 0) {
        // The folder is back; only its own flags may stay the defaults.
        (void)m_sys.mount("", m.mountPoint, "", MS_REMOUNT | MS_BIND | flags, "");
      }
      break;
    }
  }
}

void LinuxPlatform::endWriteSession(const std::string& key) {
  auto it = m_sessions.find(key);
  if (it == m_sessions.end()) return;
  WriteSession session = std::move(it->second);
  m_sessions.erase(it);
  // Nothing is left to report a failure to: a run that needs its writes proven flushes
  // them itself (flushFileBuffers) before the session ends.
  (void)m_sys.fdatasync(session.fd);
  // A purge nobody followed with IOCTL_DISK_UPDATE_PROPERTIES: the kernel still learns.
  if (session.kernelStale) (void)tellKernel(session);
  // Buffered readers (udev's probe, a later mount) must see what is on the disk now.
  (void)m_sys.ioctl(session.fd, BLKFLSBUF, nullptr);
  m_sys.close(session.fd);
  // A repair leaves the file systems as it found them; an erased disk has none left.
  if (!session.erased) remount(session.unmounted);
}

bool LinuxPlatform::flushFileBuffers(Handle handle) {
  std::lock_guard lock(m_mutex);
  OpenHandle* h = find(handle);
  if (h == nullptr) return fail(ERROR_INVALID_HANDLE);
  if (h->kind == OpenHandle::Kind::File) {
    uint32_t error = 0;
    if (!HostFiles::flush(h->fd, error)) return fail(error);
  } else if (h->kind == OpenHandle::Kind::Disk) {
    auto session = m_sessions.find(h->key);
    // O_DIRECT only hands the data to the disk; its own cache must be emptied too.
    if (h->writer && session != m_sessions.end()) {
      const int r = m_sys.fdatasync(session->second.fd);
      if (r < 0) return fail(r == -EIO ? ERROR_WRITE_FAULT : errorFromDeviceErrno(-r));
    }
  } else {
    return fail(ERROR_INVALID_FUNCTION);
  }
  setLastError(ERROR_SUCCESS);
  return true;
}

bool LinuxPlatform::deleteLayout(OpenHandle& h, const BlockDisk& disk, int fd) {
  const uint32_t ss = std::max<uint32_t>(h.blockSize, 512);
  const uint32_t alignment = std::max<uint32_t>(ss, 4096);
  const uint64_t sectors = h.sizeBytes / ss;
  AlignedBuffer sector = alignedZeros(ss, alignment);
  AlignedBuffer zeros = alignedZeros(kZeroChunk, alignment);
  if (!sector || !zeros || sectors == 0) return fail(ERROR_INVALID_PARAMETER);
  const auto failed = [this](ssize_t n) {
    return fail(n < 0 ? (n == -EIO ? ERROR_WRITE_FAULT : errorFromDeviceErrno(static_cast<int>(-n))) : ERROR_WRITE_FAULT);
  };
  // The MBR: disk signature, table and boot signature; the boot code before them stays.
  ssize_t n = m_sys.pread(fd, sector.get(), ss, 0);
  if (n != static_cast<ssize_t>(ss)) return fail(n < 0 ? errorFromDeviceErrno(static_cast<int>(-n)) : ERROR_CRC);
  std::memset(sector.get() + kMbrClearFirst, 0, kMbrClearEnd - kMbrClearFirst);
  n = m_sys.pwrite(fd, sector.get(), ss, 0);
  if (n != static_cast<ssize_t>(ss)) return failed(n);
  // Both GPT headers and their entry arrays, wherever the headers say they are.
  const auto read = [&](uint64_t lba, uint8_t* into) {
    return m_sys.pread(fd, sector.get(), ss, static_cast<off_t>(lba * ss)) == static_cast<ssize_t>(ss) &&
           (std::memcpy(into, sector.get(), ss), true);
  };
  for (const ByteRange& range : gptRanges(read, ss, sectors)) {
    for (uint64_t done = 0; done < range.length;) {
      const auto piece = static_cast<uint32_t>(std::min<uint64_t>(kZeroChunk, range.length - done));
      n = m_sys.pwrite(fd, zeros.get(), piece, static_cast<off_t>(range.offset + done));
      if (n != static_cast<ssize_t>(piece)) return failed(n);
      done += piece;
    }
  }
  if (const int r = m_sys.fdatasync(fd); r < 0) return failed(r);
  // The kernel reads the emptied table again. It refuses while a partition is open; the
  // partitions are then dropped one by one, and one still in use fails the deletion.
  int r = m_sys.ioctl(fd, BLKRRPART, nullptr);
  if (r == -EBUSY) {
    r = 0;
    for (const Partition& p : disk.partitions) {
      blkpg_partition part{};
      part.pno = static_cast<int>(p.number);
      blkpg_ioctl_arg arg{};
      arg.op = BLKPG_DEL_PARTITION;
      arg.datalen = sizeof part;
      arg.data = &part;
      const int d = m_sys.ioctl(fd, BLKPG, &arg);
      if (d < 0 && d != -ENXIO) r = d;
    }
  }
  rescan(true);
  if (r < 0) {
    m_refusals[std::this_thread::get_id()] = "The kernel kept the old partitions of /dev/" + disk.name +
                (r == -EBUSY ? ": a partition is still in use." : ": " + std::string(std::strerror(-r)) + ".");
    return fail(r == -EBUSY ? ERROR_SHARING_VIOLATION : errorFromDeviceErrno(-r));
  }
  return true;
}

bool LinuxPlatform::updateProperties(OpenHandle& h, const BlockDisk& disk) {
  // Only a disk this process wrote has news for the kernel; a read-only run changes
  // nothing, and asking the kernel anyway would disturb a disk in use.
  // After a purge the capacity may have moved too (SET MAX): tellKernel reads both.
  int result = 0;
  if (m_written.count(disk.key) != 0 && h.fd >= 0) {
    auto session = m_sessions.find(disk.key);
    result = session == m_sessions.end()        ? m_sys.ioctl(h.fd, BLKRRPART, nullptr)
             : session->second.kernelStale ? tellKernel(session->second)
                                               : m_sys.ioctl(session->second.fd, BLKRRPART, nullptr);
  }
  if (h.fd >= 0) {
    uint64_t bytes = 0;
    if (m_sys.ioctl(h.fd, BLKGETSIZE64, &bytes) == 0) h.sizeBytes = bytes;
  }
  rescan(true);
  if (result < 0) return fail(errorFromDeviceErrno(-result));
  return true;
}

}  // namespace palvoro::real
