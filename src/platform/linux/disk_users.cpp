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
  std::map<DeviceNumber, std::string> nodes = {{{disk.major, disk.minor}, ""}};
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
  if (const auto names = m_sys.listDirectory(path("/sys/block"))) {
    for (const std::string& name : *names) {
      if (name.rfind("loop", 0) != 0) continue;
      const auto backing = m_sys.readText(path("/sys/block/" + name + "/loop/backing_file"));
      if (!backing) continue;  // not bound to anything
      DiskUser user;
      user.kind = DiskUser::Kind::Loop;
      user.name = "/dev/" + name;
      if (!reaches(trimmed(*backing), user)) continue;
      // Where the loop's own file system, or one on a partition of it, is mounted.
      std::vector<DeviceNumber> loopNodes;
      if (const auto d = deviceNumber(m_sys.readText(path("/sys/block/" + name + "/dev")))) loopNodes.push_back(*d);
      if (const auto parts = m_sys.listDirectory(path("/sys/block/" + name))) {
        for (const std::string& part : *parts) {
          if (part.rfind(name + "p", 0) != 0) continue;
          if (const auto d = deviceNumber(m_sys.readText(path("/sys/block/" + name + "/" + part + "/dev")))) {
            loopNodes.push_back(*d);
          }
        }
      }
      for (const MountEntry& m : mounts) {
        if (std::find(loopNodes.begin(), loopNodes.end(), DeviceNumber{m.major, m.minor}) != loopNodes.end()) {
          user.mountPoint = m.mountPoint;
          break;
        }
      }
      users.push_back(std::move(user));
    }
  }

  // The kernel's own exporters open what they export without a holder link and, but for
  // the SCSI target's block backstore, without an exclusive claim.
  const auto exported = [&](const std::string& file, const std::string& name) {
    if (file.empty()) return;
    DiskUser user;
    user.kind = DiskUser::Kind::Export;
    user.name = name;
    if (reaches(file, user)) users.push_back(std::move(user));
  };
  const auto list = [&](const std::string& folder) {
    return m_sys.listDirectory(path(folder)).value_or(std::vector<std::string>());
  };
  const auto attribute = [&](const std::string& file) { return trimmed(m_sys.readText(path(file)).value_or("")); };
  const std::string scsiTarget = "/sys/kernel/config/target/core";
  for (const std::string& hba : list(scsiTarget)) {
    for (const std::string& device : list(scsiTarget + "/" + hba)) {
      exported(attribute(scsiTarget + "/" + hba + "/" + device + "/udev_path"),
               "the SCSI target's backstore " + hba + "/" + device);
    }
  }
  const std::string nvmet = "/sys/kernel/config/nvmet/subsystems";
  for (const std::string& subsystem : list(nvmet)) {
    for (const std::string& nsid : list(nvmet + "/" + subsystem + "/namespaces")) {
      const std::string ns = nvmet + "/" + subsystem + "/namespaces/" + nsid;
      if (attribute(ns + "/enable") != "1") continue;
      exported(attribute(ns + "/device_path"), "the NVMe target's namespace " + subsystem + "/" + nsid);
    }
  }
  const std::string gadgets = "/sys/kernel/config/usb_gadget";
  for (const std::string& gadget : list(gadgets)) {
    for (const std::string& function : list(gadgets + "/" + gadget + "/functions")) {
      if (function.rfind("mass_storage.", 0) != 0) continue;
      const std::string folder = gadgets + "/" + gadget + "/functions/" + function;
      for (const std::string& lun : list(folder)) {
        if (lun.rfind("lun.", 0) == 0) {
          exported(attribute(folder + "/" + lun + "/file"), "the USB gadget " + gadget + "'s " + function + " " + lun);
        }
      }
    }
  }

  // The disk's character nodes carry commands to it as its block node does: a virtual
  // machine given the disk through SCSI pass-through holds its sg node, not /dev/sdX.
  std::map<DeviceNumber, std::string> commandNodes;
  for (const std::string kind : {"scsi_generic", "bsg"}) {
    const std::string folder = path("/sys/block/" + disk.name + "/device/" + kind);
    for (const std::string& name : m_sys.listDirectory(folder).value_or(std::vector<std::string>())) {
      if (const auto d = deviceNumber(m_sys.readText(folder + "/" + name + "/dev"))) {
        commandNodes[*d] = (kind == "bsg" ? "/dev/bsg/" : "/dev/") + name;
      }
    }
  }
  if (disk.name.rfind("nvme", 0) == 0) {
    const std::string generic = "ng" + disk.name.substr(4);
    if (const auto d = deviceNumber(m_sys.readText(path("/sys/class/nvme-generic/" + generic + "/dev")))) {
      commandNodes[*d] = "/dev/" + generic;
    }
  }

  // Programs with the disk's or a partition's node open: a virtual machine given the raw
  // disk, an NBD server exporting it, a backup tool reading it. Our own descriptors are
  // the guard's business, not a user's. A process whose files cannot be looked at may be
  // the one using the disk: the guard cannot tell, and says so rather than let it pass.
  const auto self = m_sys.readlink(path("/proc/self"));
  std::string hidden;
  const auto programs = [&] {
    std::vector<DiskUser> found;
    const auto entries = m_sys.listDirectory(path("/proc"));
    if (!entries) {
      hidden = "the processes (/proc) cannot be listed";
      return found;
    }
    // With /proc mounted hidepid, one that is not root sees only its own user's
    // processes; the first process is there to be seen by anyone who sees them all.
    if (m_sys.effectiveUid() != 0 && std::find(entries->begin(), entries->end(), "1") == entries->end()) {
      hidden = "the processes of other users are hidden from this program, which does not run as root";
      return found;
    }
    // In a PID namespace of its own (a container) the processes outside it are not listed:
    // its NSpid line then gives more than one number.
    if (const auto status = m_sys.readText(path("/proc/self/status"))) {
      const size_t at = status->find("\nNSpid:");
      if (at != std::string::npos) {
        const size_t end = status->find('\n', at + 1);
        const std::string numbers = trimmed(status->substr(at + 7, end == std::string::npos ? end : end - at - 7));
        if (numbers.find_first_of(" \t") != std::string::npos) {
          hidden = "this program runs in a container of its own, which hides the processes outside it";
          return found;
        }
      }
    }
    for (const std::string& pid : *entries) {
      if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
      if (self && *self == pid) continue;
      const std::string fdFolder = path("/proc/" + pid + "/fd");
      const auto fds = m_sys.listDirectory(fdFolder);
      if (!fds) {
        // Gone meanwhile, or closed to this program (which then is not root).
        if (const auto comm = m_sys.readText(path("/proc/" + pid + "/comm")); comm && hidden.empty()) {
          hidden = "the program " + trimmed(*comm) + " (pid " + pid + ") does not show its open files to this one";
        }
        continue;
      }
      for (const std::string& fd : *fds) {
        // Sockets, pipes and anonymous inodes are not paths; only a path can be a node.
        const auto target = m_sys.readlink(fdFolder + "/" + fd);
        if (!target || target->empty() || (*target)[0] != '/') continue;
        struct stat st {};
        if (m_sys.stat(fdFolder + "/" + fd, &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode))) continue;
        const auto& named = S_ISBLK(st.st_mode) ? nodes : commandNodes;
        const auto node = named.find({major(st.st_rdev), minor(st.st_rdev)});
        if (node == named.end()) continue;
        DiskUser user;
        user.kind = DiskUser::Kind::Program;
        user.name = trimmed(m_sys.readText(path("/proc/" + pid + "/comm")).value_or("?"));
        user.pid = std::atoi(pid.c_str());
        user.uses = node->second;
        found.push_back(std::move(user));
        break;
      }
    }
    return found;
  };
  // A probe holds a node for a moment: udev's blkid after every close of a writer (ours
  // too), a desktop's disk monitor. A program counts when it still holds the disk half a
  // second on.
  std::vector<DiskUser> holding = programs();
  for (int look = 0; look < 5 && !holding.empty(); ++look) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<DiskUser> again = programs();
    std::erase_if(holding, [&again](const DiskUser& u) {
      return std::none_of(again.begin(), again.end(), [&u](const DiskUser& a) { return a.pid == u.pid; });
    });
  }
  users.insert(users.end(), holding.begin(), holding.end());
  if (unknown != nullptr && !hidden.empty()) *unknown = hidden;
  return users;
}

}  // namespace palvoro::real
