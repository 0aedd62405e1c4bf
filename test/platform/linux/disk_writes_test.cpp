// Writing through the Linux backend, seen from the system calls it makes: the order of
// unmounting, exclusive open, lock, writes and flushes for an erase and for a repair;
// every refusal with its sentence and nothing written after it; the partition tables
// cleared byte for byte on 512- and 4096-byte-sector disks; the kernel refusing to read
// the table again; writes that fail or stop short.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "linux_rig.h"
#include "platform/ioctl_codes.h"

namespace palvoro::real::test {
namespace {

using Calls = std::vector<std::string>;

// The disk's node in the fake tree.
const std::string kFakeDisk = fakeNode("sda");

const char* const kSdaPath = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda";
const char* const kDataMount = "28 1 8:1 / /mnt/data rw,relatime - ext4 /dev/sda1 rw,errors=remount-ro\n";
constexpr uint64_t kDataSector = 4096;  // inside sda1 (sectors 2048 to 1050623)

uint32_t dismount(LinuxPlatform& p, char letter) {
  const Handle v = p.createFile(std::string("\\\\.\\") + letter + ":", kReadWrite, 3, 3, 0);
  if (v == INVALID_HANDLE_VALUE) return p.lastError();
  uint32_t n = 0;
  const bool ok = p.deviceIoControl(v, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &n);
  const uint32_t error = ok ? 0 : p.lastError();
  p.closeHandle(v);
  return error;
}

bool writeAt(LinuxPlatform& p, Handle h, uint64_t offset, uint32_t size, uint8_t fill = 0) {
  int32_t high = static_cast<int32_t>(offset >> 32);
  if (p.setFilePointer(h, static_cast<int32_t>(offset & 0xFFFFFFFF), &high, 0) == INVALID_SET_FILE_POINTER &&
      p.lastError() != 0) {
    return false;
  }
  std::vector<uint8_t> data(size, fill);
  uint32_t written = 0;
  return p.writeFile(h, data.data(), size, &written) && written == size;
}

bool deleteLayout(LinuxPlatform& p, Handle h) {
  uint32_t n = 0;
  return p.deviceIoControl(h, IOCTL_DISK_DELETE_DRIVE_LAYOUT, nullptr, 0, nullptr, 0, &n);
}

struct DataRig : Rig {
  DataRig() : Rig({"sata_ahci"}) { sys.addFile("/proc/self/mountinfo", kDataMount); }
  bool mounted() { return sys.readText(sys.root() + "/proc/self/mountinfo")->find("/mnt/data") != std::string::npos; }
};

TEST(LinuxDiskWritesTest, EraseUnmountsWhatWasReleasedThenHoldsTheDiskBeforeWriting) {
  DataRig rig;
  EXPECT_EQ(dismount(rig.platform, 'D'), 0u);
  EXPECT_TRUE(rig.sys.calls.empty()) << "nothing is unmounted before a write reaches the disk";
  const Handle h = rig.open(0);
  ASSERT_TRUE(deleteLayout(rig.platform, h));
  ASSERT_TRUE(writeAt(rig.platform, h, 1 << 20, 65536));
  EXPECT_TRUE(rig.platform.flushFileBuffers(h));
  rig.platform.closeHandle(h);
  const Calls expected = {"umount /mnt/data",       "open /dev/sda rw,excl,direct", "flock /dev/sda",
                          "pwrite /dev/sda 0+512",  "fdatasync /dev/sda",           "BLKRRPART /dev/sda",
                          "pwrite /dev/sda 1048576+65536", "fdatasync /dev/sda",   "fdatasync /dev/sda",
                          "BLKFLSBUF /dev/sda",     "close /dev/sda (rw)"};
  EXPECT_EQ(rig.sys.calls, expected);
  EXPECT_FALSE(rig.mounted()) << "nothing is mounted again on an erased disk";
}

TEST(LinuxDiskWritesTest, RepairMountsAgainWithTheOldOptions) {
  DataRig rig;
  ASSERT_EQ(dismount(rig.platform, 'D'), 0u);
  const Handle h = rig.open(0);
  ASSERT_TRUE(writeAt(rig.platform, h, kDataSector * 512, 512));
  rig.platform.closeHandle(h);
  const Calls expected = {"umount /mnt/data",
                          "open /dev/sda rw,excl,direct",
                          "flock /dev/sda",
                          "pwrite /dev/sda 2097152+512",
                          "fdatasync /dev/sda",
                          "BLKFLSBUF /dev/sda",
                          "close /dev/sda (rw)",
                          "mount /dev/sda1 /mnt/data ext4 0x200000 errors=remount-ro"};
  EXPECT_EQ(rig.sys.calls, expected);
  EXPECT_TRUE(rig.mounted());
}

TEST(LinuxDiskWritesTest, ReadingNeverUnmounts) {
  DataRig rig;
  ASSERT_EQ(dismount(rig.platform, 'D'), 0u);
  const Handle h = rig.open(0);
  std::vector<uint8_t> buffer(4096);
  uint32_t got = 0;
  EXPECT_TRUE(rig.platform.readFile(h, buffer.data(), 4096, &got));
  rig.platform.closeHandle(h);
  EXPECT_TRUE(rig.sys.calls.empty());
  EXPECT_TRUE(rig.mounted());
}

// Each refusal names its reason, writes nothing and leaves every mount as it was.
TEST(LinuxDiskWritesTest, EveryRefusalSaysWhyAndWritesNothing) {
  struct Case {
    const char* name;
    std::function<void(DataRig&)> setUp;
    bool release;       // the user released D: (sda1) for writing
    uint64_t sector;    // where the write goes
    std::string message;
  };
  const std::string sda = std::string(kSdaPath);
  const Case cases[] = {
      {"SystemDisk",
       [](DataRig& r) { r.sys.addFile("/proc/self/mountinfo", std::string(kDataMount) + "30 1 8:2 / /usr rw - ext4 /dev/sda2 rw\n"); },
       true, kDataSector, "Writing to /dev/sda was refused: the disk holds the running system (mounted at /usr)."},
      {"ActiveSwap",
       [](DataRig& r) {
         r.sys.addFile("/proc/swaps", "Filename Type Size Used Priority\n/dev/sda2 partition 1024 0 -2\n");
       },
       true, kDataSector, "Writing to /dev/sda was refused: the disk holds swap space in use (/dev/sda2)."},
      {"RunningProgram", [](DataRig& r) { r.sys.addLink("/proc/self/exe", "/mnt/data/bin/palvoro-cli"); }, true,
       kDataSector, "Writing to /dev/sda was refused: the disk holds this program (/mnt/data/bin/palvoro-cli)."},
      {"Holder", [sda](DataRig& r) { r.sys.addFolder(sda + "/sda2/holders/dm-0"); }, true, kDataSector,
       "Writing to /dev/sda was refused: a volume manager, RAID or encrypted volume uses the disk (dm-0 on sda2)."},
      {"MountedRangeNotReleased", [](DataRig&) {}, false, kDataSector,
       "Writing to /dev/sda was refused: the sectors belong to a mounted file system (mounted at /mnt/data)."},
      {"MountElsewhereNotReleased", [](DataRig&) {}, false, 0,
       "Writing to /dev/sda was refused: the file system mounted at /mnt/data holds the disk."},
      {"UnmountBusy", [](DataRig& r) { r.sys.failUnmount("/mnt/data", -EBUSY); }, true, kDataSector,
       "Writing to /dev/sda was refused: a file system of the disk could not be unmounted (/mnt/data: it is in use)."},
      {"HeldByAnother", [](DataRig& r) { r.sys.failOpen(kFakeDisk, -EBUSY, O_EXCL); }, true, kDataSector,
       "Writing to /dev/sda was refused: another program holds the disk open exclusively."},
      {"LockedByAnother", [](DataRig& r) { r.sys.flockError = -EWOULDBLOCK; }, true, kDataSector,
       "Writing to /dev/sda was refused: another program holds the disk open exclusively."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DataRig rig;
    c.setUp(rig);
    if (c.release) {
      ASSERT_EQ(dismount(rig.platform, 'D'), 0u);
    }
    const Handle h = rig.open(0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(writeAt(rig.platform, h, c.sector * 512, 512));
    EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(rig.platform.takeWriteRefusal(), c.message);
    EXPECT_EQ(rig.platform.takeWriteRefusal(), "") << "reading the reason clears it";
    EXPECT_EQ(rig.sys.pwrites, 0);
    EXPECT_TRUE(rig.mounted()) << "a refused write leaves the mount where it was";
    rig.platform.closeHandle(h);
    EXPECT_EQ(rig.sys.openFds(), 0);
  }
}

TEST(LinuxDiskWritesTest, SystemVolumesAreNeverReleased) {
  Rig rig({"sata_ahci"});
  rig.sys.addFile("/proc/self/mountinfo", "20 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
                                          "21 20 8:1 / /home rw - ext4 /dev/sda1 rw\n");
  EXPECT_EQ(dismount(rig.platform, 'C'), ERROR_ACCESS_DENIED);
  EXPECT_EQ(dismount(rig.platform, 'D'), ERROR_ACCESS_DENIED);
  EXPECT_EQ(rig.sys.umounts, 0);
}

// A GPT disk's tables: a protective MBR with boot code, both headers and both entry
// arrays, and data next to each that must survive.
struct GptDisk {
  uint32_t ss;
  uint64_t sectors;
  uint64_t entrySectors() const { return 16384 / ss; }
  uint64_t backupEntries() const { return sectors - 1 - entrySectors(); }
};

Bytes gptHeader(const GptDisk& d, uint64_t self, uint64_t alternate, uint64_t entries) {
  Bytes h(d.ss, 0);
  std::memcpy(h.data(), "EFI PART", 8);
  const auto put = [&h](size_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) h[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(8, 0x00010000, 4);
  put(12, 92, 4);
  put(24, self, 8);
  put(32, alternate, 8);
  put(72, entries, 8);
  put(80, 128, 4);
  put(84, 128, 4);
  return h;
}

TEST(LinuxDiskWritesTest, LayoutDeletionClearsTheTablesAndNothingElse) {
  for (const GptDisk d : {GptDisk{512, 2097152}, GptDisk{4096, 262144}}) {
    SCOPED_TRACE(d.ss);
    Rig rig({"sata_ahci"});
    rig.sys.addFile("/proc/self/mountinfo", "");
    rig.sys.addDevice(kFakeDisk, DeviceNode{d.ss * d.sectors, d.ss, 1, true});
    const std::string dev = kFakeDisk;
    Bytes mbr(d.ss, 0xAB);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    rig.sys.putSector(dev, 0, mbr);
    rig.sys.putSector(dev, d.ss, gptHeader(d, 1, d.sectors - 1, 2));
    rig.sys.putSector(dev, 2 * d.ss, Bytes(16384, 0xEE));
    rig.sys.putSector(dev, d.backupEntries() * d.ss, Bytes(16384, 0xEE));
    rig.sys.putSector(dev, (d.sectors - 1) * d.ss, gptHeader(d, d.sectors - 1, 1, d.backupEntries()));
    const uint64_t afterPrimary = (2 + d.entrySectors()) * d.ss;
    const uint64_t beforeBackup = (d.backupEntries() - 1) * d.ss;
    rig.sys.putSector(dev, afterPrimary, Bytes(d.ss, 0x5A));
    rig.sys.putSector(dev, beforeBackup, Bytes(d.ss, 0x5A));

    const Handle h = rig.open(0);
    ASSERT_TRUE(deleteLayout(rig.platform, h)) << rig.platform.lastError();
    rig.platform.closeHandle(h);

    const uint64_t tableBytes = d.ss + 16384;
    const Calls writes = {"pwrite /dev/sda 0+" + std::to_string(d.ss),
                          "pwrite /dev/sda " + std::to_string(d.ss) + "+" + std::to_string(tableBytes),
                          "pwrite /dev/sda " + std::to_string(d.backupEntries() * d.ss) + "+" + std::to_string(tableBytes)};
    Calls seen;
    for (const std::string& c : rig.sys.calls) {
      if (c.rfind("pwrite", 0) == 0) seen.push_back(c);
    }
    EXPECT_EQ(seen, writes);
    const Bytes first = rig.sys.contents(dev, 0, d.ss);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 440), Bytes(440, 0xAB)) << "the boot code stays";
    EXPECT_EQ(Bytes(first.begin() + 440, first.begin() + 512), Bytes(72, 0));
    EXPECT_EQ(rig.sys.contents(dev, d.ss, tableBytes), Bytes(tableBytes, 0));
    EXPECT_EQ(rig.sys.contents(dev, d.backupEntries() * d.ss, tableBytes), Bytes(tableBytes, 0));
    EXPECT_EQ(rig.sys.contents(dev, afterPrimary, d.ss), Bytes(d.ss, 0x5A));
    EXPECT_EQ(rig.sys.contents(dev, beforeBackup, d.ss), Bytes(d.ss, 0x5A));
  }
}

TEST(LinuxDiskWritesTest, AKernelThatKeepsTheOldPartitionsFailsTheDeletion) {
  struct Case {
    int reread, blkpg;
    bool ok;
    Calls tail;
  };
  const Case cases[] = {
      {0, 0, true, {"BLKRRPART /dev/sda"}},
      {-EBUSY, 0, true, {"BLKRRPART /dev/sda", "BLKPG del 1", "BLKPG del 2"}},
      {-EBUSY, -EBUSY, false, {"BLKRRPART /dev/sda", "BLKPG del 1", "BLKPG del 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blkpg);
    Rig rig({"sata_ahci"});
    rig.sys.addFile("/proc/self/mountinfo", "");
    rig.sys.rereadError = c.reread;
    rig.sys.blkpgError = c.blkpg;
    const Handle h = rig.open(0);
    EXPECT_EQ(deleteLayout(rig.platform, h), c.ok);
    const Calls& calls = rig.sys.calls;
    const auto reread = std::find(calls.begin(), calls.end(), "BLKRRPART /dev/sda");
    EXPECT_EQ(Calls(reread, reread + static_cast<long>(std::min<size_t>(c.tail.size(), calls.end() - reread))), c.tail);
    if (!c.ok) {
      EXPECT_EQ(rig.platform.lastError(), ERROR_SHARING_VIOLATION);
      EXPECT_EQ(rig.platform.takeWriteRefusal(), "The kernel kept the old partitions of /dev/sda: a partition is still in use.");
    }
    rig.platform.closeHandle(h);
  }
}

TEST(LinuxDiskWritesTest, WritesThatFailOrStopShort) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> fault;
    bool flush;  // the failure shows at the flush, not at the write
    uint32_t error;
  };
  const uint64_t at = 1 << 20;
  const Case cases[] = {
      {"MediaError", [at](Rig& r) { r.sys.failWriteAt(kFakeDisk, at + 4096, -EIO); }, false, ERROR_WRITE_FAULT},
      {"ShortWrite", [at](Rig& r) { r.sys.failWriteAt(kFakeDisk, at + 4096, 0); }, false, ERROR_WRITE_FAULT},
      {"CacheLost", [](Rig& r) { r.sys.fdatasyncError = -EIO; }, true, ERROR_WRITE_FAULT},
      {"DiskGone", [](Rig& r) { r.sys.remove(kFakeDisk); r.sys.remove(kSdaPath); r.sys.remove("/sys/block/sda"); },
       false, ERROR_DEVICE_NOT_CONNECTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({"sata_ahci"});
    rig.sys.addFile("/proc/self/mountinfo", "");
    const Handle h = rig.open(0);
    ASSERT_TRUE(writeAt(rig.platform, h, 0, 4096));  // the session is open
    c.fault(rig);
    const bool written = writeAt(rig.platform, h, at, 65536);
    EXPECT_EQ(written, c.flush);
    if (c.flush) {
      EXPECT_FALSE(rig.platform.flushFileBuffers(h));
    }
    EXPECT_EQ(rig.platform.lastError(), c.error);
    rig.platform.closeHandle(h);
  }
}

}  // namespace
}  // namespace palvoro::real::test
