#include "fake_sys_calls.h"

#include <fcntl.h>
#include <linux/blkpg.h>
#include <linux/fs.h>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef BLKGETDISKSEQ
#define BLKGETDISKSEQ _IOR(0x12, 128, __u64)
#endif

namespace palvoro::real::test {
namespace {

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  std::stringstream in(path);
  std::string part;
  while (std::getline(in, part, '/')) {
    if (!part.empty() && part != ".") parts.push_back(part);
  }
  return parts;
}

std::string parentOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

// "\n", "\\" and "\xHH" as the capture script writes them.
std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out.push_back(text[i]);
    } else if (text[i + 1] == 'n') {
      out.push_back('\n');
      ++i;
    } else if (text[i + 1] == 'x' && i + 3 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(text[i + 1]);
      ++i;
    }
  }
  return out;
}

uint64_t field(const std::string& line, const std::string& name) {
  const size_t at = line.find(" " + name + "=");
  return at == std::string::npos ? 0 : std::stoull(line.substr(at + name.size() + 2));
}

}  // namespace

void FakeSysCalls::addFile(const std::string& path, const std::string& contents) {
  m_nodes[m_root + path] = Node{Kind::File, contents};
}

void FakeSysCalls::addLink(const std::string& path, const std::string& target) {
  m_nodes[m_root + path] = Node{Kind::Link, target};
}

void FakeSysCalls::addFileOn(const std::string& path, unsigned major, unsigned minor, const std::string& contents) {
  addFile(path, contents);
  m_fileDevices[m_root + path] = makedev(major, minor);
}

void FakeSysCalls::addFolder(const std::string& path) { m_nodes[m_root + path] = Node{Kind::Folder, {}}; }

void FakeSysCalls::remove(const std::string& path) {
  const std::string full = m_root + path;
  for (auto it = m_nodes.begin(); it != m_nodes.end();) {
    if (it->first == full || it->first.rfind(full + "/", 0) == 0) {
      it = m_nodes.erase(it);
    } else {
      ++it;
    }
  }
  m_devices.erase(full);
}

void FakeSysCalls::addDevice(const std::string& path, DeviceNode node) {
  m_devices[m_root + path] = {node, ++m_generation};
}

const DeviceNode* FakeSysCalls::deviceOf(int fd, std::string* path) const {
  auto file = m_fds.find(fd);
  if (file == m_fds.end()) return nullptr;
  auto device = m_devices.find(file->second.path);
  if (device == m_devices.end() || device->second.second != file->second.generation) return nullptr;
  if (path != nullptr) *path = file->second.path;
  return &device->second.first;
}

void FakeSysCalls::load(const std::string& text) {
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::string rest = line.substr(2);
    switch (line[0]) {
      case 'F': {
        const size_t eq = rest.find(" = ");
        if (eq == std::string::npos) throw std::invalid_argument("fixture line: " + line);
        addFile(rest.substr(0, eq), unescape(rest.substr(eq + 3)));
        break;
      }
      case 'L': {
        const size_t arrow = rest.find(" -> ");
        if (arrow == std::string::npos) throw std::invalid_argument("fixture line: " + line);
        addLink(rest.substr(0, arrow), rest.substr(arrow + 4));
        break;
      }
      case 'D': addFolder(rest); break;
      case 'N': {
        DeviceNode node;
        node.sizeBytes = field(line, "size");
        node.sectorSize = static_cast<uint32_t>(field(line, "ssz"));
        node.diskseq = field(line, "seq");
        node.sgIo = line.find(" nosg") == std::string::npos;
        addDevice(rest.substr(0, rest.find(' ')), node);
        break;
      }
      default: throw std::invalid_argument("fixture line: " + line);
    }
  }
}

void FakeSysCalls::loadFixture(const std::string& name) {
  std::string path = PALVORO_TEST_DATA;
  path.append("/linux/").append(name).append(".txt");
  std::ifstream in(path);
  if (!in) throw std::invalid_argument("no fixture " + name);
  std::stringstream text;
  text << in.rdbuf();
  load(text.str());
}

void FakeSysCalls::failOpen(const std::string& path, int error, int whenFlags) {
  m_openFailures[m_root + path] = OpenFailure{error, whenFlags};
}

void FakeSysCalls::failReadAt(const std::string& path, uint64_t offset, int error) {
  m_readFailures[m_root + path][offset] = error;
}

void FakeSysCalls::putSector(const std::string& path, uint64_t offset, Bytes bytes) {
  m_sectors[m_root + path].emplace_back(offset, std::move(bytes));
}

void FakeSysCalls::failWriteAt(const std::string& path, uint64_t offset, int error) {
  m_writeFailures[m_root + path][offset] = error;
}

Bytes FakeSysCalls::contents(const std::string& path, uint64_t offset, size_t size) {
  Bytes out(size, 0);
  for (const auto& [at, bytes] : m_sectors[m_root + path]) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (at + i >= offset && at + i < offset + size) out[at + i - offset] = bytes[i];
    }
  }
  return out;
}

bool FakeSysCalls::isFolder(const std::string& canonical) const {
  if (canonical.empty()) return true;
  auto it = m_nodes.find(canonical);
  if (it != m_nodes.end()) return it->second.kind == Kind::Folder;
  auto below = m_nodes.lower_bound(canonical + "/");
  return below != m_nodes.end() && below->first.rfind(canonical + "/", 0) == 0;
}

std::optional<std::string> FakeSysCalls::resolve(const std::string& path, bool followLast) const {
  std::vector<std::string> pending = components(path);
  std::reverse(pending.begin(), pending.end());
  std::string current;
  int hops = 0;
  while (!pending.empty()) {
    const std::string part = pending.back();
    pending.pop_back();
    if (part == "..") {
      current = parentOf(current);
      continue;
    }
    if (!isFolder(current)) return std::nullopt;
    const std::string candidate = current + "/" + part;
    auto it = m_nodes.find(candidate);
    if (it != m_nodes.end() && it->second.kind == Kind::Link && (followLast || !pending.empty())) {
      if (++hops > 40) return std::nullopt;  // ELOOP
      const std::string& target = it->second.value;
      std::vector<std::string> more = components(target);
      for (auto p = more.rbegin(); p != more.rend(); ++p) pending.push_back(*p);
      // Relative targets start from the link's own folder; absolute ones from the root
      // of the fake tree.
      if (!target.empty() && target[0] == '/') current = m_root;
      continue;
    }
    if (it == m_nodes.end() && !isFolder(candidate)) return std::nullopt;
    current = candidate;
  }
  return current.empty() ? std::string("/") : current;
}

std::optional<std::string> FakeSysCalls::readlink(const std::string& path) {
  const auto parent = resolve(parentOf(path), true);
  if (!parent) return std::nullopt;
  auto it = m_nodes.find(*parent + path.substr(path.find_last_of('/')));
  if (it == m_nodes.end() || it->second.kind != Kind::Link) return std::nullopt;
  return it->second.value;
}

std::optional<std::vector<std::string>> FakeSysCalls::listDirectory(const std::string& path) {
  const auto folder = resolve(path, true);
  if (!folder || !isFolder(*folder)) return std::nullopt;
  std::vector<std::string> names;
  const std::string prefix = *folder + "/";
  for (auto it = m_nodes.lower_bound(prefix); it != m_nodes.end() && it->first.rfind(prefix, 0) == 0; ++it) {
    const std::string name = it->first.substr(prefix.size(), it->first.find('/', prefix.size()) - prefix.size());
    if (names.empty() || names.back() != name) names.push_back(name);
  }
  return names;
}

std::optional<std::string> FakeSysCalls::readText(const std::string& path) {
  const auto file = resolve(path, true);
  if (!file) return std::nullopt;
  auto it = m_nodes.find(*file);
  if (it == m_nodes.end() || it->second.kind != Kind::File) return std::nullopt;
  return it->second.value;
}

std::optional<std::string> FakeSysCalls::realPath(const std::string& path) { return resolve(path, true); }

int FakeSysCalls::writeText(const std::string& path, const std::string& text) {
  if (!readText(path)) return -ENOENT;
  calls.push_back("write " + shortName(path) + " " + text);
  return 0;
}

int FakeSysCalls::open(const std::string& path, int flags) {
  opens.push_back(OpenCall{path, flags});
  auto failure = m_openFailures.find(path);
  if (failure != m_openFailures.end() && (flags & failure->second.whenFlags) == failure->second.whenFlags) {
    return failure->second.error;
  }
  auto device = m_devices.find(path);
  if (device == m_devices.end()) return -ENOENT;
  const bool writable = (flags & O_ACCMODE) != O_RDONLY;
  if ((flags & O_EXCL) != 0) {
    // The kernel's claim: one exclusive opener, and none while a file system of the disk
    // (the disk itself or one of its partitions) is mounted.
    for (const auto& [other, file] : m_fds) {
      if (file.path == path && (file.flags & O_EXCL) != 0) return -EBUSY;
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (const auto text = readText(m_root + "/proc/self/mountinfo")) {
      std::stringstream in(*text);
      std::string line;
      while (std::getline(in, line)) {
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::stringstream tail(line.substr(dash + 3));
        std::string type, source;
        tail >> type >> source;
        if (source.rfind("/dev/" + name, 0) == 0) return -EBUSY;
      }
    }
  }
  if (writable || (flags & O_EXCL) != 0) {
    std::string how = writable ? "rw" : "ro";
    if ((flags & O_EXCL) != 0) how += ",excl";
    if ((flags & O_DIRECT) != 0) how += ",direct";
    calls.push_back("open " + shortName(path) + " " + how);
  }
  const int fd = m_nextFd++;
  m_fds[fd] = OpenFile{path, flags, device->second.second};
  return fd;
}

int FakeSysCalls::close(int fd) {
  auto file = m_fds.find(fd);
  if (file == m_fds.end()) return -EBADF;
  if ((file->second.flags & O_ACCMODE) != O_RDONLY) calls.push_back("close " + shortName(file->second.path) + " (rw)");
  m_fds.erase(file);
  return 0;
}

int FakeSysCalls::ioctl(int fd, unsigned long request, void* argument) {
  if (m_fds.count(fd) == 0) return -EBADF;
  std::string path;
  const DeviceNode* device = deviceOf(fd, &path);
  if (device == nullptr) return -ENODEV;  // unplugged while open
  const DeviceNode& node = *device;
  if (request == BLKGETSIZE64) {
    *static_cast<uint64_t*>(argument) = node.sizeBytes;
    return 0;
  }
  if (request == BLKSSZGET) {
    *static_cast<int*>(argument) = static_cast<int>(node.sectorSize);
    return 0;
  }
  if (request == BLKGETDISKSEQ) {
    if (node.diskseq == 0) return -ENOTTY;
    *static_cast<uint64_t*>(argument) = node.diskseq;
    return 0;
  }
  if (request == BLKRRPART || request == BLKFLSBUF) {
    calls.push_back(std::string(request == BLKRRPART ? "BLKRRPART " : "BLKFLSBUF ") + shortName(path));
    return request == BLKRRPART ? rereadError : 0;
  }
  if (request == BLKPG) {
    const auto* arg = static_cast<const blkpg_ioctl_arg*>(argument);
    if (arg->op != BLKPG_DEL_PARTITION || arg->datalen != static_cast<int>(sizeof(blkpg_partition))) return -EINVAL;
    calls.push_back("BLKPG del " + std::to_string(static_cast<const blkpg_partition*>(arg->data)->pno));
    return blkpgError;
  }
  if (request == NVME_IOCTL_ID || request == NVME_IOCTL_ADMIN_CMD) {
    if (node.sgIo) return -ENOTTY;  // a SCSI disk's driver knows no NVMe ioctl
    if (request == NVME_IOCTL_ID) {
      ++nvmeIdCalls;
      return nvmeNamespaceId;
    }
    auto* c = static_cast<nvme_admin_cmd*>(argument);
    NvmeRequest r;
    r.device = path.substr(m_root.size());
    r.opcode = c->opcode;
    r.flags = c->flags;
    r.nsid = c->nsid;
    r.cdw2 = c->cdw2;
    r.cdw3 = c->cdw3;
    r.cdw10 = c->cdw10;
    r.cdw11 = c->cdw11;
    r.cdw12 = c->cdw12;
    r.cdw13 = c->cdw13;
    r.cdw14 = c->cdw14;
    r.cdw15 = c->cdw15;
    r.dataLength = c->data_len;
    r.dataAddress = c->addr != 0;
    r.metadataLength = c->metadata_len;
    r.timeoutMs = c->timeout_ms;
    nvmeRequests.push_back(r);
    if (!nvmeHandler) return -ENOTTY;
    const NvmeAnswer a = nvmeHandler(r);
    if (a.result < 0) return a.result;
    c->result = a.dword0;
    if (c->addr != 0 && !a.data.empty()) {
      std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(c->addr)), a.data.data(),
                  std::min<size_t>(a.data.size(), c->data_len));
    }
    return a.result;
  }
  if (request != SG_IO) return -ENOTTY;
  if (!node.sgIo) return -ENOTTY;
  auto* h = static_cast<sg_io_hdr_t*>(argument);
  SgRequest r;
  r.device = path.substr(m_root.size());
  r.interfaceId = static_cast<char>(h->interface_id);
  r.cdb.assign(h->cmdp, h->cmdp + h->cmd_len);
  r.direction = h->dxfer_direction;
  r.length = h->dxfer_len;
  r.timeoutMs = h->timeout;
  r.senseRoom = h->mx_sb_len;
  if (h->dxfer_direction == SG_DXFER_TO_DEV && h->dxferp != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(h->dxferp);
    r.dataOut.assign(bytes, bytes + h->dxfer_len);
  }
  sgRequests.push_back(r);
  const SgAnswer a = sgHandler ? sgHandler(r) : SgAnswer{};
  if (a.error != 0) return a.error;
  h->status = a.status;
  h->masked_status = static_cast<unsigned char>(a.status >> 1);
  h->host_status = a.hostStatus;
  h->driver_status = a.driverStatus;
  h->resid = a.resid;
  h->sb_len_wr = static_cast<unsigned char>(std::min<size_t>(a.sense.size(), h->mx_sb_len));
  if (h->sb_len_wr > 0) std::memcpy(h->sbp, a.sense.data(), h->sb_len_wr);
  if (h->dxfer_direction == SG_DXFER_FROM_DEV && h->dxferp != nullptr && !a.data.empty()) {
    std::memcpy(h->dxferp, a.data.data(), std::min<size_t>(a.data.size(), h->dxfer_len));
  }
  return 0;
}

ssize_t FakeSysCalls::pread(int fd, void* buffer, size_t size, off_t offset) {
  if (m_fds.count(fd) == 0) return -EBADF;
  std::string path;
  const DeviceNode* device = deviceOf(fd, &path);
  if (device == nullptr) return -ENODEV;
  const DeviceNode& node = *device;
  const int flags = m_fds.at(fd).flags;
  const uint64_t start = static_cast<uint64_t>(offset);
  // The block layer's rule for O_DIRECT: offset, length and buffer on the sector size.
  if ((flags & O_DIRECT) != 0 &&
      (start % node.sectorSize != 0 || size % node.sectorSize != 0 ||
       reinterpret_cast<uintptr_t>(buffer) % node.sectorSize != 0)) {
    return -EINVAL;
  }
  for (const auto& [at, error] : m_readFailures[path]) {
    if (at >= start && at < start + size) return error;
  }
  if (start >= node.sizeBytes) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, node.sizeBytes - start));
  auto* out = static_cast<uint8_t*>(buffer);
  std::memset(out, 0, n);
  for (const auto& [at, bytes] : m_sectors[path]) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (at + i >= start && at + i < start + n) out[at + i - start] = bytes[i];
    }
  }
  return static_cast<ssize_t>(n);
}

ssize_t FakeSysCalls::pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  ++pwrites;
  if (m_fds.count(fd) == 0) return -EBADF;
  std::string path;
  const DeviceNode* device = deviceOf(fd, &path);
  if (device == nullptr) return -ENODEV;
  const int flags = m_fds.at(fd).flags;
  if ((flags & O_ACCMODE) == O_RDONLY) return -EBADF;
  const uint64_t start = static_cast<uint64_t>(offset);
  if ((flags & O_DIRECT) != 0 &&
      (start % device->sectorSize != 0 || size % device->sectorSize != 0 ||
       reinterpret_cast<uintptr_t>(buffer) % device->sectorSize != 0)) {
    return -EINVAL;
  }
  if (start >= device->sizeBytes) return -ENOSPC;
  size_t n = static_cast<size_t>(std::min<uint64_t>(size, device->sizeBytes - start));
  int error = 0;
  for (const auto& [at, e] : m_writeFailures[path]) {
    if (at >= start && at < start + n) {
      n = static_cast<size_t>(at - start);
      error = e;
      break;
    }
  }
  if (error != 0) return error;
  calls.push_back("pwrite " + shortName(path) + " " + std::to_string(start) + "+" + std::to_string(size));
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  if (n > 0) m_sectors[path].emplace_back(start, Bytes(bytes, bytes + n));
  return static_cast<ssize_t>(n);
}

int FakeSysCalls::flock(int fd, int) {
  ++flocks;
  std::string path;
  if (deviceOf(fd, &path) == nullptr) return -EBADF;
  calls.push_back("flock " + shortName(path));
  return flockError;
}

int FakeSysCalls::fdatasync(int fd) {
  std::string path;
  if (deviceOf(fd, &path) == nullptr) return -EBADF;
  calls.push_back("fdatasync " + shortName(path));
  return fdatasyncError;
}

// The mount table is the file /proc/self/mountinfo of the tree: an unmount takes the
// mount's line away, a mount adds one, as the kernel's own table would show them.
int FakeSysCalls::umount2(const std::string& target, int) {
  ++umounts;
  auto failure = m_unmountFailures.find(target);
  if (failure != m_unmountFailures.end()) return failure->second;
  const auto text = readText(m_root + "/proc/self/mountinfo");
  if (!text) return -EINVAL;
  std::stringstream in(*text);
  std::string line, kept;
  bool found = false;
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::string id, parent, dev, root, point;
    fields >> id >> parent >> dev >> root >> point;
    if (!found && point == target) {
      found = true;
      continue;
    }
    kept += line + "\n";
  }
  if (!found) return -EINVAL;
  addFile("/proc/self/mountinfo", kept);
  calls.push_back("umount " + target);
  return 0;
}

int FakeSysCalls::mount(const std::string& source, const std::string& target, const std::string& fsType,
                        unsigned long flags, const std::string& data) {
  char hexFlags[24];
  std::snprintf(hexFlags, sizeof hexFlags, "0x%lx", flags);
  calls.push_back("mount " + source + " " + target + " " + fsType + " " + hexFlags + " " + data);
  const std::optional<std::string> dev = sysfsDev(source.substr(source.find_last_of('/') + 1));
  if (!dev) return -ENOENT;
  std::string numbers = *dev;
  while (!numbers.empty() && (numbers.back() == '\n' || numbers.back() == ' ')) numbers.pop_back();
  const std::string line = std::to_string(m_nextMountId++) + " 1 " + numbers + " / " + target + " " +
                           ((flags & 1) != 0 ? "ro" : "rw") + " - " + fsType + " " + source + " rw" +
                           (data.empty() ? "" : "," + data) + "\n";
  addFile("/proc/self/mountinfo", readText(m_root + "/proc/self/mountinfo").value_or("") + line);
  return 0;
}

std::optional<std::string> FakeSysCalls::sysfsDev(const std::string& name, bool* character) const {
  // A whole disk by its /sys/block link, wherever its folder lies (an NVMe namespace's has
  // no "block" in its path).
  if (const auto viaBlock = resolve(m_root + "/sys/block/" + name + "/dev", true)) {
    const auto it = m_nodes.find(*viaBlock);
    if (it != m_nodes.end() && it->second.kind == Kind::File) {
      if (character != nullptr) *character = false;
      return it->second.value;
    }
  }
  const std::string tail = "/" + name + "/dev";
  for (const auto& [node, entry] : m_nodes) {
    if (entry.kind != Kind::File || node.size() <= tail.size() ||
        node.compare(node.size() - tail.size(), tail.size(), tail) != 0) {
      continue;
    }
    // A disk's SCSI generic node and its NVMe namespace's generic node are character devices.
    const bool commands = node.find("/scsi_generic/") != std::string::npos || node.find("/nvme-generic/") != std::string::npos;
    if (node.find("/block/") == std::string::npos && !commands) continue;
    if (character != nullptr) *character = commands;
    return entry.value;
  }
  return std::nullopt;
}

int FakeSysCalls::stat(const std::string& path, struct stat* into) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    // Device nodes live beside the tree: /dev needs no folder of its own.
    const bool node = at.rfind(m_root + "/dev/", 0) == 0 && at.find('/', m_root.size() + 5) == std::string::npos;
    const auto parent = node ? std::optional<std::string>(parentOf(at)) : resolve(parentOf(at), true);
    if (!parent) return -ENOENT;
    const std::string full = *parent + at.substr(at.find_last_of('/'));
    auto it = m_nodes.find(full);
    if (it != m_nodes.end() && it->second.kind == Kind::Link) {
      const std::string& target = it->second.value;
      at = !target.empty() && target[0] == '/' ? m_root + target : parentOf(full) + "/" + target;
      continue;
    }
    *into = {};
    if (it == m_nodes.end() && full.rfind(m_root + "/dev/", 0) == 0) {
      bool character = false;
      const auto dev = sysfsDev(full.substr(full.find_last_of('/') + 1), &character);
      unsigned high = 0, low = 0;
      if (!dev || std::sscanf(dev->c_str(), "%u:%u", &high, &low) != 2) return -ENOENT;
      into->st_mode = (character ? S_IFCHR : S_IFBLK) | 0660;
      into->st_rdev = makedev(high, low);
      return 0;
    }
    if (it == m_nodes.end() && !isFolder(full)) return -ENOENT;
    if (it == m_nodes.end() || it->second.kind == Kind::Folder) {
      into->st_mode = S_IFDIR | 0755;
      return 0;
    }
    into->st_mode = S_IFREG | 0644;
    auto device = m_fileDevices.find(full);
    if (device != m_fileDevices.end()) into->st_dev = device->second;
    return 0;
  }
  return -ELOOP;
}

int FakeSysCalls::statvfs(const std::string&, struct statvfs*) { return -ENOENT; }

}  // namespace palvoro::real::test
