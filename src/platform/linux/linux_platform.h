#pragma once
// The Platform seam answered by this computer's kernel: whole disks numbered as physical
// drives, SCSI and ATA requests carried by SG_IO, identity from sysfs where a device has
// no command channel, mounted file systems as lettered volumes, and a write guard below
// every check of the core. Every system call goes through SysCalls and every /sys, /proc
// and /dev path is taken under a root prefix, so tests run it on fake trees.

#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/block_devices.h"
#include "platform/linux/mountinfo.h"
#include "platform/linux/ring_ops.h"
#include "platform/linux/sys_calls.h"
#include "platform/linux/write_guard.h"
#include "platform/platform.h"

namespace palvoro::real {

// A block device's major and minor numbers.
using DeviceNumber = std::pair<unsigned, unsigned>;

class LinuxPlatform : public Platform {
 public:
  // `root` is prepended to every /sys, /proc and /dev path ("" on a real machine);
  // `rings` makes the io_uring of each block queue.
  explicit LinuxPlatform(SysCalls& sys, std::string root = "", RingMaker rings = makeIoUring);
  ~LinuxPlatform() override;

  Handle createFile(const std::string& path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                    uint32_t flags) override;
  bool closeHandle(Handle handle) override;
  [[nodiscard]] bool deviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                                     uint32_t outSize, uint32_t* bytesReturned) override;
  uint32_t setFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh, uint32_t moveMethod) override;
  [[nodiscard]] bool readFile(Handle handle, void* buffer, uint32_t size, uint32_t* bytesRead) override;
  [[nodiscard]] bool writeFile(Handle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) override;
  // On a disk: io_uring, or threads where the kernel sets up no ring (linux_block_queue.h).
  [[nodiscard]] std::unique_ptr<BlockQueue> openBlockQueue(Handle handle, BlockDirection direction,
                                                           uint32_t logicalBlockBytes) override;
  [[nodiscard]] bool flushFileBuffers(Handle handle) override;
  std::string takeWriteRefusal() override;
  // The numbers the disks were given: in order of first appearance in this process, so a
  // disk that went away leaves its number unused and the numbers grow past any count.
  std::vector<int> physicalDriveNumbers() override;
  uint32_t logicalDrives() override;
  uint32_t driveType(const std::string& root) override;
  std::string windowsDirectory() override;
  uint32_t version() override;
  [[nodiscard]] bool userIsAdministrator() override;
  std::vector<std::string> deviceInterfaces(const std::string& classGuid) override;
  [[nodiscard]] bool volumeInformation(const std::string& root, std::string* label, std::string* fileSystem) override;
  // A Linux user knows a volume by its mount point and the kernel's file system name.
  VolumeName volumeName(char letter) override;
  std::string productTitle() const override { return kProgramTitle; }
  [[nodiscard]] bool diskSpace(const std::string& root, uint64_t* totalBytes, uint64_t* freeBytes) override;
  void sleep(uint32_t milliseconds) override;
  std::vector<TopLevelWindow> topLevelWindows() override;

  // The disks as last scanned, with the numbers they were given (for listings and tests).
  std::vector<BlockDisk> disks();
  // What the process may do with the drives.
  Privilege privilege();

 private:
  // A queue asks for each request's descriptor, for the error of a failed one, and says
  // when it is gone.
  friend class LinuxBlockQueue;

  struct OpenHandle {
    enum class Kind { Disk, Port, Volume, File } kind = Kind::File;
    std::string path;
    uint32_t access = 0;
    int fd = -1;        // a disk's read-only descriptor (-1 for a query-only handle), a file's descriptor
    int directFd = -1;  // a disk's descriptor for transfers that bypass the page cache, opened on first use
    int number = -1;    // the disk's number
    std::string key;    // the disk it was opened on, so a replaced disk is noticed
    int port = -1;
    char letter = 0;
    uint64_t position = 0;
    uint64_t sizeBytes = 0;
    uint32_t blockSize = 512;
    bool writer = false;  // counted among the users of its disk's write session
    int queues = 0;       // block queues open on it
    // Closed while a queue was still open: its descriptors stay until the last queue is
    // gone, so a request under way never meets a descriptor number reused for another file.
    bool closing = false;
  };
  // A disk being written: the one descriptor every write goes through, held with O_EXCL
  // and flock until the last handle that wrote closes, and what was unmounted for it.
  struct WriteSession {
    int fd = -1;
    int users = 0;
    bool erased = false;  // a layout deletion, TRIM or purge: nothing is mounted again
    std::vector<MountEntry> unmounted;  // in the order they were mounted
    // A purge went to the drive since the kernel last read the disk: its partition table
    // (and after SET MAX its capacity) must be read again.
    bool kernelStale = false;
    bool capacityChanged = false;
    std::string name;         // the disk's kernel name, for its sysfs rescan
    bool scsiDevice = false;  // a SCSI or libata disk, which has device/rescan
  };
  struct Volume {
    char letter = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string mountPoint;
    std::string fsType;
    std::string source;
    std::vector<int> disks;  // the drive numbers it lives on (several for a spanning dm/md volume)
    uint32_t partition = 0;  // 0 for a whole disk or a stacked volume
    bool removable = false;
  };

  // Scans the disks again when the fingerprint says they changed (or when forced).
  void rescan(bool force = false);
  const BlockDisk* diskByNumber(int number) const;
  const BlockDisk* diskOf(const OpenHandle& h) const;
  std::string path(const std::string& absolute) const { return m_root + absolute; }
  bool fail(uint32_t error) const;
  // The end of every open: `entry` kept as a new handle with success, or `error` as the
  // last error and no handle.
  Handle opened(OpenHandle entry);
  Handle refuseOpen(uint32_t error);
  // An open handle; nullptr for one closed, even while its queues keep it.
  OpenHandle* find(Handle handle);
  // Closes the handle's descriptors and ends its share of the write session.
  void release(Handle handle);
  Handle openDisk(OpenHandle entry, int number);
  [[nodiscard]] bool diskControl(OpenHandle& h, const BlockDisk& disk, uint32_t code, const uint8_t* in,
                                 uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t* returned);
  bool volumeControl(OpenHandle& h, uint32_t code, uint8_t* out, uint32_t outSize, uint32_t* returned);
  [[nodiscard]] bool portControl(OpenHandle& h, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                                 uint32_t* returned);
  [[nodiscard]] bool scsiPassThrough(OpenHandle& h, const BlockDisk& disk, const uint8_t* in, uint32_t inSize,
                                     uint8_t* out, uint32_t outSize, uint32_t* returned);
  [[nodiscard]] bool ataPassThrough(OpenHandle& h, const BlockDisk& disk, const uint8_t* in, uint32_t inSize,
                                    uint8_t* out, uint32_t outSize, uint32_t* returned);
  [[nodiscard]] bool smartDriver(OpenHandle& h, const BlockDisk& disk, uint32_t code, const uint8_t* in,
                                 uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t* returned);
  // NVMe: Identify and Get Log Page as property queries 49/50, Device Self-test, Format
  // NVM and Sanitize as protocol commands, all as NVME_IOCTL_ADMIN_CMD on the disk's
  // descriptor (the purges on the write session's).
  [[nodiscard]] bool nvmeQuery(OpenHandle& h, const BlockDisk& disk, const uint8_t* in, uint32_t inSize, uint8_t* out,
                               uint32_t outSize, uint32_t* returned);
  [[nodiscard]] bool nvmeProtocolCommand(OpenHandle& h, const BlockDisk& disk, const uint8_t* in, uint32_t inSize, uint8_t* out,
                                         uint32_t outSize, uint32_t* returned);
  // The Windows error for a failed admin ioctl (-errno).
  uint32_t nvmeError(const OpenHandle& h, int result);
  bool driveLayout(OpenHandle& h, uint8_t* out, uint32_t outSize, uint32_t* returned);
  [[nodiscard]] bool transfer(Handle handle, bool write, void* into, const void* from, uint32_t size, uint32_t* moved);
  // The handle's descriptor for transfers that bypass the page cache, opened on first use;
  // false with the last error set when it cannot be.
  [[nodiscard]] bool openDirect(OpenHandle& h);
  // The error of a transfer that returned `result` (-errno, or fewer bytes than asked): a
  // disk that went away fails as gone, not as a bad sector.
  uint32_t transferFailure(Handle handle, bool write, int64_t result);
  // The descriptor a queued request of `bytes` at `offset` goes through: the handle's
  // direct one for a read, the write session's for a write once the guard passed it. -1
  // with `error` set when there is none (a refused write: nothing may be sent).
  int queueFd(Handle handle, bool write, uint64_t offset, uint32_t bytes, uint32_t& error);
  void queueClosed(Handle handle);
  // The descriptor a write, layout deletion or destructive command on `disk` goes through,
  // after every rule of the guard and the unmounting the user agreed to; -1 with the last
  // error set (and the refusal's sentence kept) when it may not. `length` 0 is the whole
  // disk.
  int writableFd(OpenHandle& h, const BlockDisk& disk, uint64_t offset, uint64_t length, bool erases);
  // The descriptor a purge (CommandKind::Purges, write_guard.h) on `disk` goes through:
  // the write session's, opened as writableFd opens it for the whole disk, and inside a
  // session already open the whole disk judged by checkWrite once more. -1 with the last
  // error (and the refusal's sentence) set when it may not go. `capacity`: the command
  // moves the disk's end (SET MAX).
  int purgeFd(OpenHandle& h, const BlockDisk& disk, bool capacity);
  // Has the kernel read a purged disk again: its capacity first when it moved, then its
  // partition table. Returns BLKRRPART's answer (0 or -errno).
  int tellKernel(WriteSession& session);
  // NVMe Format and Sanitize reach every namespace of the controller when the drive says
  // so, and Sanitize always: refused (with the sentence kept) while another namespace of
  // the controller is a disk here, whatever the guard says of this one.
  [[nodiscard]] bool otherNamespaces(const BlockDisk& disk, std::string* which);
  // writableFd for a write of `length` bytes at `offset` through the handle, on its disk as
  // it is now.
  int guardedWriteFd(OpenHandle& h, uint64_t offset, uint64_t length);
  [[nodiscard]] bool refuseWrite(const BlockDisk& disk, WriteRefusal refusal, const std::string& detail);
  std::vector<MountEntry> mountsOn(const BlockDisk& disk);
  std::pair<uint64_t, uint64_t> byteRangeOf(const BlockDisk& disk, unsigned major, unsigned minor) const;
  void remount(const std::vector<MountEntry>& unmounted);
  void endWriteSession(const std::string& key);
  [[nodiscard]] bool deleteLayout(OpenHandle& h, const BlockDisk& disk, int fd);
  [[nodiscard]] bool updateProperties(OpenHandle& h, const BlockDisk& disk);
  std::vector<Volume> volumes();
  [[nodiscard]] std::optional<Volume> volumeOf(char letter);
  // What the guard's rules look at; whether O_EXCL holds is learnt by the open itself.
  WriteGuardFacts guardFacts(const BlockDisk& disk);
  void swapFacts(const BlockDisk& disk, int number, const std::vector<MountEntry>& mounts, WriteGuardFacts& facts);
  std::vector<int> disksUnder(unsigned major, unsigned minor, uint32_t* partition, int depth = 0);
  // The block devices a mounted file system lives on: its own device, or for one without
  // a device number of its own (btrfs, ZFS, overlay) the devices found behind it.
  std::vector<DeviceNumber> mountDevices(const MountEntry& m, const std::vector<MountEntry>& mounts, int depth = 0);
  std::vector<DeviceNumber> btrfsDevices(const MountEntry& m);
  std::vector<DeviceNumber> zfsDevices(const std::string& pool);
  // The pool a device is a member of, as udev's record of its label says.
  [[nodiscard]] std::optional<std::string> zfsPoolOf(DeviceNumber device);
  // The disks under a device as the guard sees them: disksUnder, with loop devices
  // followed to what they read and a file system's anonymous device to its devices.
  std::vector<int> guardDisksUnder(DeviceNumber device, const std::vector<MountEntry>& mounts, int depth = 0);
  // The disks a file lies on (a device node: the disks under it).
  std::vector<int> disksOfFile(const std::string& file, const std::vector<MountEntry>& mounts, int depth = 0);
  // Loop devices and programs using `disk` (drive `number`) that no holder link shows.
  // `unknown` gets what could not be looked at (the processes hidden or closed to this
  // one), when it is given.
  std::vector<DiskUser> diskUsers(const BlockDisk& disk, int number, const std::vector<MountEntry>& mounts,
                                  std::string* unknown = nullptr);

  SysCalls& m_sys;
  const std::string m_root;
  const RingMaker m_rings;
  std::recursive_mutex m_mutex;
  std::map<Handle, OpenHandle> m_handles;
  Handle m_nextHandle = 0x100;
  DiskNumbering m_numbering;
  std::vector<BlockDisk> m_disks;
  std::vector<int> m_diskNumbers;      // parallel to m_disks
  std::string m_fingerprint;           // of the disks m_disks was scanned from
  std::map<std::string, char> m_letters;  // "major:minor" of a volume -> its letter, kept for the process
  std::map<std::string, WriteSession> m_sessions;  // by disk key
  std::set<std::string> m_dismountAsked;  // "major:minor" of volumes the user released for writing
  std::set<std::string> m_written;        // keys of the disks written by this process
  // The sentence of each thread's last refused write, as its last error is the thread's
  // own: runs on two disks at once must each tell their own refusal.
  std::map<std::thread::id, std::string> m_refusals;
};

// A platform on this computer's kernel.
std::unique_ptr<Platform> makeLinuxPlatform();

}  // namespace palvoro::real
