// What uses a disk besides the holders the kernel lists, and which disks a file system
// without a device number of its own lives on. Loop devices set no holder link and the
// kernel's exclusive open does not see them, nor a program that opened a partition's
// node; btrfs, ZFS and overlay mounts show an anonymous device (major 0) in mountinfo.
// Everything is compared by device number, never by name: a node may have any name, a
// path may be seen through another mount namespace.

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "platform/linux/linux_platform.h"

namespace palvoro::real {
namespace {

// Stacked devices, loops over loops and overlays over overlays end somewhere; a loop of
// them does not.
constexpr int kMaxDepth = 8;

[[nodiscard]] std::optional<DeviceNumber> deviceNumber(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::string t = trimmed(*text);
  const size_t colon = t.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= t.size()) return std::nullopt;
  char* end = nullptr;
  const unsigned long high = std::strtoul(t.c_str(), &end, 10);
  if (end != t.c_str() + colon) return std::nullopt;
  const unsigned long low = std::strtoul(t.c_str() + colon + 1, &end, 10);
  if (*end != '\0') return std::nullopt;
  return DeviceNumber{static_cast<unsigned>(high), static_cast<unsigned>(low)};
}

std::string sysfsName(DeviceNumber d) { return std::to_string(d.first) + ":" + std::to_string(d.second); }

void addAll(std::vector<int>& into, const std::vector<int>& more) {
  for (int n : more) {
    if (std::find(into.begin(), into.end(), n) == into.end()) into.push_back(n);
  }
}

bool contains(const std::vector<int>& numbers, int number) {
  return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

// A line "E:KEY=value" of a udev record.
[[nodiscard]] std::optional<std::string> udevProperty(const std::string& record, const std::string& key) {
  const std::string wanted = "E:" + key + "=";
  size_t at = 0;
  while (at < record.size()) {
    const size_t end = record.find('\n', at);
    const std::string line = record.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (line.rfind(wanted, 0) == 0) return line.substr(wanted.size());
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return std::nullopt;
}

// Device nodes by device number, with the name a refusal gives each.
using NodeNames = std::map<DeviceNumber, std::string>;

[[nodiscard]] std::vector<std::string> listOf(SysCalls& sys, const std::string& folder) {
  return sys.listDirectory(folder).value_or(std::vector<std::string>());
}

[[nodiscard]] std::string attributeOf(SysCalls& sys, const std::string& file) {
  return trimmed(sys.readText(file).value_or(""));
}

// The loop devices bound to something, each with its backing file or node in `uses`
// (the caller decides whether that lies on the disk). `root` prefixes every path.
std::vector<DiskUser> boundLoops(SysCalls& sys, const std::string& root) {
  std::vector<DiskUser> loops;
  for (const std::string& name : listOf(sys, root + "/sys/block")) {
    if (name.rfind("loop", 0) != 0) continue;
    const auto backing = sys.readText(root + "/sys/block/" + name + "/loop/backing_file");
    if (!backing) continue;  // not bound to anything
    DiskUser user;
    user.kind = DiskUser::Kind::Loop;
    user.name = "/dev/" + name;
    user.uses = trimmed(*backing);
    loops.push_back(std::move(user));
  }
  return loops;
}

// Where the loop device `name`'s own file system, or one on a partition of it, is mounted;
// "" when nowhere.
std::string loopMountPoint(SysCalls& sys, const std::string& root, const std::string& name,
                           const std::vector<MountEntry>& mounts) {
  std::vector<DeviceNumber> loopNodes;
  if (const auto d = deviceNumber(sys.readText(root + "/sys/block/" + name + "/dev"))) loopNodes.push_back(*d);
  for (const std::string& part : listOf(sys, root + "/sys/block/" + name)) {
    if (part.rfind(name + "p", 0) != 0) continue;
    if (const auto d = deviceNumber(sys.readText(root + "/sys/block/" + name + "/" + part + "/dev"))) {
      loopNodes.push_back(*d);
    }
  }
  for (const MountEntry& m : mounts) {
    if (std::find(loopNodes.begin(), loopNodes.end(), DeviceNumber{m.major, m.minor}) != loopNodes.end()) {
      return m.mountPoint;
    }
  }
  return "";
}

// What the SCSI target, the NVMe target and the USB gadgets export, each with the file or
// node it reads in `uses`.
std::vector<DiskUser> kernelExporters(SysCalls& sys, const std::string& root) {
  std::vector<DiskUser> exporters;
  const auto exported = [&](const std::string& file, const std::string& name) {
    if (file.empty()) return;
    DiskUser user;
    user.kind = DiskUser::Kind::Export;
    user.name = name;
    user.uses = file;
    exporters.push_back(std::move(user));
  };
  const std::string scsiTarget = root + "/sys/kernel/config/target/core";
  for (const std::string& hba : listOf(sys, scsiTarget)) {
    for (const std::string& device : listOf(sys, scsiTarget + "/" + hba)) {
      exported(attributeOf(sys, scsiTarget + "/" + hba + "/" + device + "/udev_path"),
               "the SCSI target's backstore " + hba + "/" + device);
    }
  }
  const std::string nvmet = root + "/sys/kernel/config/nvmet/subsystems";
  for (const std::string& subsystem : listOf(sys, nvmet)) {
    for (const std::string& nsid : listOf(sys, nvmet + "/" + subsystem + "/namespaces")) {
      const std::string ns = nvmet + "/" + subsystem + "/namespaces/" + nsid;
      if (attributeOf(sys, ns + "/enable") != "1") continue;
      exported(attributeOf(sys, ns + "/device_path"), "the NVMe target's namespace " + subsystem + "/" + nsid);
    }
  }
  const std::string gadgets = root + "/sys/kernel/config/usb_gadget";
  for (const std::string& gadget : listOf(sys, gadgets)) {
    for (const std::string& function : listOf(sys, gadgets + "/" + gadget + "/functions")) {
      if (function.rfind("mass_storage.", 0) != 0) continue;
      const std::string folder = gadgets + "/" + gadget + "/functions/" + function;
      for (const std::string& lun : listOf(sys, folder)) {
        if (lun.rfind("lun.", 0) == 0) {
          exported(attributeOf(sys, folder + "/" + lun + "/file"),
                   "the USB gadget " + gadget + "'s " + function + " " + lun);
        }
      }
    }
  }
  return exporters;
}

// The disk's character nodes carry commands to it as its block node does: a virtual
// machine given the disk through SCSI pass-through holds its sg node, not /dev/sdX.
NodeNames commandNodesOf(SysCalls& sys, const std::string& root, const BlockDisk& disk) {
  NodeNames commandNodes;
  for (const std::string kind : {"scsi_generic", "bsg"}) {
    const std::string folder = root + "/sys/block/" + disk.name + "/device/" + kind;
    for (const std::string& name : listOf(sys, folder)) {
      if (const auto d = deviceNumber(sys.readText(folder + "/" + name + "/dev"))) {
        commandNodes[*d] = (kind == "bsg" ? "/dev/bsg/" : "/dev/") + name;
      }
    }
  }
  if (disk.name.rfind("nvme", 0) == 0) {
    const std::string generic = "ng" + disk.name.substr(4);
    if (const auto d = deviceNumber(sys.readText(root + "/sys/class/nvme-generic/" + generic + "/dev"))) {
      commandNodes[*d] = "/dev/" + generic;
    }
  }
  return commandNodes;
}

// The programs found holding one of the nodes, and why some may have been missed.
struct ProgramScan {
  std::vector<DiskUser> found;
  std::string hidden;  // "" when every process could be looked at
};

// Why this program cannot see every process, or "" when it can: /proc not listed, /proc
// mounted hidepid for a user that is not root, or a PID namespace of its own.
std::string processesHidden(SysCalls& sys, const std::string& root,
                            const std::optional<std::vector<std::string>>& entries) {
  if (!entries) return "the processes (/proc) cannot be listed";
  // With /proc mounted hidepid, one that is not root sees only its own user's
  // processes; the first process is there to be seen by anyone who sees them all.
  if (sys.effectiveUid() != 0 && std::find(entries->begin(), entries->end(), "1") == entries->end()) {
    return "the processes of other users are hidden from this program, which does not run as root";
  }
  // In a PID namespace of its own (a container) the processes outside it are not listed:
  // its NSpid line then gives more than one number.
  if (const auto status = sys.readText(root + "/proc/self/status")) {
    const size_t at = status->find("\nNSpid:");
    if (at != std::string::npos) {
      const size_t end = status->find('\n', at + 1);
      const std::string numbers = trimmed(status->substr(at + 7, end == std::string::npos ? end : end - at - 7));
      if (numbers.find_first_of(" \t") != std::string::npos) {
        return "this program runs in a container of its own, which hides the processes outside it";
      }
    }
  }
  return "";
}

// Programs with the disk's or a partition's node open (`nodes`), or one of its command
// nodes: a virtual machine given the raw disk, an NBD server exporting it, a backup tool
// reading it. Our own descriptors are the guard's business, not a user's. A process whose
// files cannot be looked at may be the one using the disk: the guard cannot tell, and
// says so rather than let it pass.
ProgramScan programsHolding(SysCalls& sys, const std::string& root, const NodeNames& nodes,
                            const NodeNames& commandNodes) {
  ProgramScan scan;
  const auto self = sys.readlink(root + "/proc/self");
  const auto entries = sys.listDirectory(root + "/proc");
  scan.hidden = processesHidden(sys, root, entries);
  if (!scan.hidden.empty()) return scan;
  for (const std::string& pid : *entries) {
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    if (self && *self == pid) continue;
    const std::string fdFolder = root + "/proc/" + pid + "/fd";
    const auto fds = sys.listDirectory(fdFolder);
    if (!fds) {
      // Gone meanwhile, or closed to this program (which then is not root).
      if (const auto comm = sys.readText(root + "/proc/" + pid + "/comm"); comm && scan.hidden.empty()) {
        scan.hidden = "the program " + trimmed(*comm) + " (pid " + pid + ") does not show its open files to this one";
      }
      continue;
    }
    for (const std::string& fd : *fds) {
      // Sockets, pipes and anonymous inodes are not paths; only a path can be a node.
      const auto target = sys.readlink(fdFolder + "/" + fd);
      if (!target || target->empty() || (*target)[0] != '/') continue;
      struct stat st {};
      if (sys.stat(fdFolder + "/" + fd, &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode))) continue;
      const NodeNames& named = S_ISBLK(st.st_mode) ? nodes : commandNodes;
      const auto node = named.find({major(st.st_rdev), minor(st.st_rdev)});
      if (node == named.end()) continue;
      DiskUser user;
      user.kind = DiskUser::Kind::Program;
      user.name = trimmed(sys.readText(root + "/proc/" + pid + "/comm").value_or("?"));
      user.pid = std::atoi(pid.c_str());
      user.uses = node->second;
      scan.found.push_back(std::move(user));
      break;
    }
  }
  return scan;
}

}  // namespace

std::vector<DeviceNumber> LinuxPlatform::mountDevices(const MountEntry& m, const std::vector<MountEntry>& mounts,
                                                      int depth) {
  if (m.major != 0) return {{m.major, m.minor}};
  if (depth > kMaxDepth) return {};
  if (m.fsType == "btrfs") return btrfsDevices(m);
  if (m.fsType == "zfs") return zfsDevices(m.source.substr(0, m.source.find('/')));
  std::vector<DeviceNumber> found;
  if (m.fsType == "overlay") {
    for (const std::string& folder : overlayFolders(m.superOptions)) {
      const MountEntry* below = mountHolding(folder, mounts);
      if (below == nullptr || below == &m) continue;
      for (const DeviceNumber& d : mountDevices(*below, mounts, depth + 1)) {
        if (std::find(found.begin(), found.end(), d) == found.end()) found.push_back(d);
      }
    }
  }
  return found;
}

// mountinfo gives a btrfs mount its anonymous device and, as source, one member device
// by path; /sys/fs/btrfs/<fsid>/devices/ lists every member of each file system. The
// file system whose members include the source's device is the mount's. A source that
// is no node here (another mount namespace's /dev) is looked for by its kernel name.
std::vector<DeviceNumber> LinuxPlatform::btrfsDevices(const MountEntry& m) {
  struct stat source {};
  std::optional<DeviceNumber> wanted;
  if (m_sys.stat(path(m.source), &source) == 0 && S_ISBLK(source.st_mode)) {
    wanted = DeviceNumber{major(source.st_rdev), minor(source.st_rdev)};
  } else if (m.source.rfind("/dev/", 0) == 0) {
    wanted = deviceNumber(m_sys.readText(path("/sys/class/block/" + m.source.substr(m.source.rfind('/') + 1) + "/dev")));
  }
  if (!wanted) return {};
  const auto fsids = m_sys.listDirectory(path("/sys/fs/btrfs"));
  if (!fsids) return {};
  for (const std::string& fsid : *fsids) {
    const std::string folder = path("/sys/fs/btrfs/" + fsid + "/devices");
    const auto names = m_sys.listDirectory(folder);
    if (!names) continue;
    std::vector<DeviceNumber> members;
    for (const std::string& name : *names) {
      if (const auto d = deviceNumber(m_sys.readText(folder + "/" + name + "/dev"))) members.push_back(*d);
    }
    if (std::find(members.begin(), members.end(), *wanted) != members.end()) return members;
  }
  return {};
}

// ZFS tells sysfs nothing about the devices of a pool and its kstats name none; the label
// on each member, as blkid read it into udev's record (ID_FS_TYPE zfs_member, ID_FS_LABEL
// the pool's name), is what names them. Only the disks found by the scan are looked at: a
// pool on a stacked device is the holder rule's already.
std::optional<std::string> LinuxPlatform::zfsPoolOf(DeviceNumber device) {
  const auto record = m_sys.readText(path("/run/udev/data/b" + sysfsName(device)));
  if (!record || udevProperty(*record, "ID_FS_TYPE") != "zfs_member") return std::nullopt;
  return udevProperty(*record, "ID_FS_LABEL");
}

std::vector<DeviceNumber> LinuxPlatform::zfsDevices(const std::string& pool) {
  std::vector<DeviceNumber> found;
  if (pool.empty()) return found;
  for (const BlockDisk& disk : m_disks) {
    std::vector<DeviceNumber> nodes = {{disk.major, disk.minor}};
    for (const Partition& p : disk.partitions) nodes.emplace_back(p.major, p.minor);
    for (const DeviceNumber& d : nodes) {
      if (zfsPoolOf(d) == pool) found.push_back(d);
    }
  }
  return found;
}

std::vector<int> LinuxPlatform::guardDisksUnder(DeviceNumber device, const std::vector<MountEntry>& mounts,
                                                int depth) {
  std::vector<int> found;
  if (depth > kMaxDepth) return found;
  if (device.first == 0) {
    // A file system's anonymous device: the devices of its mounts.
    for (const MountEntry& m : mounts) {
      if (m.major != device.first || m.minor != device.second) continue;
      for (const DeviceNumber& d : mountDevices(m, mounts)) addAll(found, guardDisksUnder(d, mounts, depth + 1));
    }
    return found;
  }
  addAll(found, disksUnder(device.first, device.second, nullptr));
  const std::string base = path("/sys/dev/block/" + sysfsName(device));
  // A loop device, or a partition of one, reads its backing file or device.
  for (const char* loop : {"/loop/backing_file", "/../loop/backing_file"}) {
    if (const auto backing = m_sys.readText(base + loop)) {
      addAll(found, disksOfFile(trimmed(*backing), mounts, depth + 1));
      break;
    }
  }
  // What a dm or md device is made of may be a loop device.
  if (const auto members = m_sys.listDirectory(base + "/slaves")) {
    for (const std::string& member : *members) {
      if (const auto d = deviceNumber(m_sys.readText(base + "/slaves/" + member + "/dev"))) {
        addAll(found, guardDisksUnder(*d, mounts, depth + 1));
      }
    }
  }
  return found;
}

std::vector<int> LinuxPlatform::disksOfFile(const std::string& file, const std::vector<MountEntry>& mounts,
                                            int depth) {
  std::vector<int> found;
  if (depth > kMaxDepth) return found;
  struct stat st {};
  if (m_sys.stat(path(file), &st) == 0) {
    if (S_ISBLK(st.st_mode)) return guardDisksUnder({major(st.st_rdev), minor(st.st_rdev)}, mounts, depth + 1);
    found = guardDisksUnder({major(st.st_dev), minor(st.st_dev)}, mounts, depth + 1);
    if (!found.empty()) return found;
  }
  // A file stat cannot reach (deleted, or named in another mount namespace) or one on a
  // btrfs subvolume, whose device mountinfo does not list: the mount its path lies under.
  std::string name = file;
  const std::string deleted = " (deleted)";
  if (name.size() > deleted.size() && name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0) {
    name.resize(name.size() - deleted.size());
  }
  if (const MountEntry* m = mountHolding(name, mounts)) {
    for (const DeviceNumber& d : mountDevices(*m, mounts)) addAll(found, guardDisksUnder(d, mounts, depth + 1));
  }
  return found;
}

std::vector<DiskUser> LinuxPlatform::diskUsers(const BlockDisk& disk, int number,
                                               const std::vector<MountEntry>& mounts, std::string* unknown) {
  std::vector<DiskUser> users;
  // The disk's own node and its partitions', by device number, with the name a refusal
  // gives each ("" for the disk itself).
  NodeNames nodes = {{{disk.major, disk.minor}, ""}};
  for (const Partition& p : disk.partitions) nodes[{p.major, p.minor}] = "/dev/" + p.name;

  // Whether what a loop or an exporter reads (a node, or a file) lies on this disk: a
  // node by its device number, a file by the file system it is on. Fills `user.uses`.
  const auto reaches = [&](const std::string& file, DiskUser& user) {
    struct stat st {};
    const bool node = m_sys.stat(path(file), &st) == 0 && S_ISBLK(st.st_mode);
    const auto direct = node ? nodes.find({major(st.st_rdev), minor(st.st_rdev)}) : nodes.end();
    if (direct != nodes.end()) {
      user.uses = direct->second;
      return true;
    }
    if (!contains(disksOfFile(file, mounts), number)) return false;
    user.uses = file;
    user.file = !node;
    return true;
  };

  // Loop devices: any loop over the disk, a partition or a file on it refuses the whole
  // disk, whatever its offset.
  for (DiskUser& loop : boundLoops(m_sys, m_root)) {
    const std::string backing = loop.uses;
    if (!reaches(backing, loop)) continue;
    loop.mountPoint = loopMountPoint(m_sys, m_root, loop.name.substr(5), mounts);
    users.push_back(std::move(loop));
  }
  // The kernel's own exporters open what they export without a holder link and, but for
  // the SCSI target's block backstore, without an exclusive claim.
  for (DiskUser& exporter : kernelExporters(m_sys, m_root)) {
    const std::string exported = exporter.uses;
    if (reaches(exported, exporter)) users.push_back(std::move(exporter));
  }

  // A probe holds a node for a moment: udev's blkid after every close of a writer (ours
  // too), a desktop's disk monitor. A program counts when it still holds the disk half a
  // second on.
  const NodeNames commandNodes = commandNodesOf(m_sys, m_root, disk);
  ProgramScan scan = programsHolding(m_sys, m_root, nodes, commandNodes);
  for (int look = 0; look < 5 && !scan.found.empty(); ++look) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const ProgramScan next = programsHolding(m_sys, m_root, nodes, commandNodes);
    if (scan.hidden.empty()) scan.hidden = next.hidden;
    const std::vector<DiskUser>& again = next.found;
    std::erase_if(scan.found, [&again](const DiskUser& u) {
      return std::none_of(again.begin(), again.end(), [&u](const DiskUser& a) { return a.pid == u.pid; });
    });
  }
  users.insert(users.end(), scan.found.begin(), scan.found.end());
  if (unknown != nullptr && !scan.hidden.empty()) *unknown = scan.hidden;
  return users;
}

}  // namespace palvoro::real
