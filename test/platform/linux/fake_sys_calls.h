#pragma once
// A machine for the Linux backend made of data: an in-memory tree of files, symbolic
// links and folders (sysfs, /proc, /dev), device nodes with a size, a sector size and a
// sequence number, and scripted answers to SG_IO, the NVMe admin ioctl and reads. It decodes what it receives
// with its own code and never calls the backend's builders, so a fault in the backend is
// not mirrored by the thing that checks it.

#include <scsi/sg.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/sys_calls.h"

namespace palvoro::real::test {

using Bytes = std::vector<uint8_t>;

// One SG_IO request as the fake received it.
struct SgRequest {
  std::string device;
  char interfaceId = 0;
  Bytes cdb;
  int direction = 0;  // SG_DXFER_NONE, _TO_DEV, _FROM_DEV
  uint32_t length = 0;
  uint32_t timeoutMs = 0;
  uint32_t senseRoom = 0;  // mx_sb_len
  Bytes dataOut;           // what a data-out command carried
};

// What the scripted device answers.
struct SgAnswer {
  int error = 0;  // -errno of the ioctl itself
  uint8_t status = 0;
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;
  int resid = 0;
  Bytes sense;
  Bytes data;  // for a data-in command
};

// One NVMe admin command (NVME_IOCTL_ADMIN_CMD) as the fake received it.
struct NvmeRequest {
  std::string device;
  uint8_t opcode = 0;
  uint8_t flags = 0;
  uint32_t nsid = 0;
  uint32_t cdw2 = 0;
  uint32_t cdw3 = 0;
  uint32_t cdw10 = 0;
  uint32_t cdw11 = 0;
  uint32_t cdw12 = 0;
  uint32_t cdw13 = 0;
  uint32_t cdw14 = 0;
  uint32_t cdw15 = 0;
  uint32_t dataLength = 0;
  bool dataAddress = false;  // a buffer was given
  uint32_t metadataLength = 0;
  uint32_t timeoutMs = 0;
};

// What the scripted controller answers.
struct NvmeAnswer {
  int result = 0;       // the ioctl's return: -errno, 0, or an NVMe status field
  uint32_t dword0 = 0;  // completion dword 0
  Bytes data;           // into the command's buffer
};

struct DeviceNode {
  uint64_t sizeBytes = 0;
  uint32_t sectorSize = 512;
  uint64_t diskseq = 0;  // 0: the kernel has no BLKGETDISKSEQ
  bool sgIo = true;      // false: SG_IO fails with ENOTTY (NVMe, virtio-blk)
};

class FakeSysCalls : public SysCalls {
 public:
  explicit FakeSysCalls(std::string root = "/fake") : m_root(std::move(root)) {}

  const std::string& root() const { return m_root; }

  // The tree. Paths are given without the root prefix; folders above a node exist by
  // themselves.
  void addFile(const std::string& path, const std::string& contents);
  void addLink(const std::string& path, const std::string& target);
  void addFolder(const std::string& path);
  // A regular file whose file system lives on the device major:minor (stat's st_dev). A
  // node under /dev stats as the block device its sysfs folder names, or as a character
  // device when that folder is a scsi_generic or nvme-generic one.
  void addFileOn(const std::string& path, unsigned major, unsigned minor, const std::string& contents = "");
  // Removes a node and everything below it.
  void remove(const std::string& path);
  void addDevice(const std::string& path, DeviceNode node);
  // Lines "F path = value", "L path -> target", "D path", "N path size= ssz= seq=",
  // "# comment" and "## section" (see scripts/vm/capture-sysfs-guest.sh).
  void load(const std::string& fixtureText);
  // test/data/linux/<name>.txt
  void loadFixture(const std::string& name);

  // Scripting.
  struct OpenCall {
    std::string path;
    int flags;
  };
  // `open` of `path` fails with `error` (-errno); with `whenFlags`, only when the call
  // has all of those flags.
  void failOpen(const std::string& path, int error, int whenFlags = 0);
  // A read touching byte `offset` of `path` fails with `error`.
  void failReadAt(const std::string& path, uint64_t offset, int error);
  void putSector(const std::string& path, uint64_t offset, Bytes bytes);
  // What the bytes of a device hold now (zeros where nothing was put or written).
  Bytes contents(const std::string& path, uint64_t offset, size_t size);
  // A write touching byte `offset` fails with `error`, or with 0 stores only the bytes
  // before it and returns short.
  void failWriteAt(const std::string& path, uint64_t offset, int error);
  // umount2 of `target` fails with `error` (EBUSY: a file is open there).
  void failUnmount(const std::string& target, int error) { m_unmountFailures[target] = error; }
  std::function<SgAnswer(const SgRequest&)> sgHandler;  // unset: GOOD, zero data
  // Nodes without SG_IO take the NVMe ioctls; unset, NVME_IOCTL_ADMIN_CMD fails with
  // ENOTTY as on a node whose driver is not nvme.
  std::function<NvmeAnswer(const NvmeRequest&)> nvmeHandler;
  int nvmeNamespaceId = -ENOTTY;  // what NVME_IOCTL_ID returns
  uid_t uid = 0;
  int64_t capabilities = 0;

  int flockError = 0;      // -EWOULDBLOCK: someone else holds the disk's lock
  int fdatasyncError = 0;  // -EIO: the disk lost what its cache held
  int rereadError = 0;     // BLKRRPART's answer (-EBUSY: a partition is open)
  int blkpgError = 0;      // BLKPG_DEL_PARTITION's answer

  // What happened.
  // The calls that change something, in order: "umount /mnt/x", "open /dev/sdb
  // rw,excl,direct", "flock /dev/sdb", "pwrite /dev/sdb 0+512", "fdatasync /dev/sdb",
  // "BLKRRPART /dev/sdb", "BLKPG del 1", "write /sys/block/sdb/device/rescan 1", "BLKFLSBUF /dev/sdb", "close /dev/sdb (rw)",
  // "mount /dev/sdb1 /mnt/x ext4 0x0 data".
  std::vector<std::string> calls;
  std::vector<OpenCall> opens;
  std::vector<SgRequest> sgRequests;
  std::vector<NvmeRequest> nvmeRequests;
  int nvmeIdCalls = 0;
  int pwrites = 0;
  int umounts = 0;
  int flocks = 0;
  int openFds() const { return static_cast<int>(m_fds.size()); }

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
  int64_t effectiveCapabilities() override { return capabilities; }
  uid_t effectiveUid() override { return uid; }
  std::optional<std::string> readlink(const std::string& path) override;
  std::optional<std::vector<std::string>> listDirectory(const std::string& path) override;
  std::optional<std::string> readText(const std::string& path) override;
  std::optional<std::string> realPath(const std::string& path) override;
  // Only to an attribute the tree has; recorded as "write /sys/block/sda/device/rescan 1".
  int writeText(const std::string& path, const std::string& text) override;

 private:
  enum class Kind { File, Link, Folder };
  struct Node {
    Kind kind = Kind::File;
    std::string value;  // contents or link target
  };
  struct OpenFile {
    std::string path;
    int flags = 0;
    int generation = 0;  // which device it was opened on: a re-plugged one is another
  };
  struct OpenFailure {
    int error;
    int whenFlags;
  };
  // The canonical path (links followed, the last one only when asked), or nothing when a
  // component is missing.
  std::optional<std::string> resolve(const std::string& path, bool followLast) const;
  bool isFolder(const std::string& canonical) const;
  // "8:1" of the device called `name`, wherever sysfs keeps its folder; `character` tells
  // a disk's command node (SCSI generic, NVMe generic) from a block device.
  std::optional<std::string> sysfsDev(const std::string& name, bool* character = nullptr) const;

  std::string m_root;
  std::map<std::string, Node> m_nodes;  // by full path, root prefix included
  std::map<std::string, dev_t> m_fileDevices;  // st_dev of the files added with addFileOn
  // The device a descriptor was opened on, or nothing once it is gone.
  const DeviceNode* deviceOf(int fd, std::string* path = nullptr) const;

  std::map<std::string, std::pair<DeviceNode, int>> m_devices;  // with its generation
  int m_generation = 0;
  std::map<std::string, OpenFailure> m_openFailures;
  std::map<std::string, std::map<uint64_t, int>> m_readFailures;
  // What was put or written, oldest first: a later piece covers an earlier one.
  std::map<std::string, std::vector<std::pair<uint64_t, Bytes>>> m_sectors;
  std::map<std::string, std::map<uint64_t, int>> m_writeFailures;
  std::map<std::string, int> m_unmountFailures;
  int m_nextMountId = 100;
  std::string shortName(const std::string& full) const { return full.substr(m_root.size()); }
  std::map<int, OpenFile> m_fds;
  int m_nextFd = 10;
};

}  // namespace palvoro::real::test
