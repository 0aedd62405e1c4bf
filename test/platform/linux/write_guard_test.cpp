// The write guard: every rule of checkWrite, and every request that could change a disk
// refused through the platform before anything reaches the fake's device.

#include "platform/linux/write_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/ata_command.h"
#include "device/drive_requests.h"
#include "device/scsi_transport.h"
#include "linux_rig.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"

namespace palvoro::real::test {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
// sda1 of the lab's SATA disk: sectors 2048 to 1050623.
constexpr uint64_t kFirst = 2048 * 512;
constexpr uint64_t kEnd = (2048 + 1048576) * 512;

TEST(LinuxWriteGuardTest, EveryRule) {
  struct Case {
    const char* name;
    std::function<void(WriteGuardFacts&)> facts;
    uint64_t offset, length;
    WriteRefusal expected;
  };
  const Case cases[] = {
      {"NotPrivilegedComesFirst", [](auto& f) { f.privileged = false; f.systemMount = true; }, 0, 512,
       WriteRefusal::NotPrivileged},
      {"SystemMount", [](auto& f) { f.systemMount = true; }, 0, 512, WriteRefusal::SystemDisk},
      {"ActiveSwap", [](auto& f) { f.activeSwap = true; }, 0, 512, WriteRefusal::ActiveSwap},
      {"RunningProgram", [](auto& f) { f.runningProgram = true; }, 0, 512, WriteRefusal::RunningProgram},
      {"Holders", [](auto& f) { f.holders = true; }, 0, 512, WriteRefusal::Holders},
      {"UserBeforeBusy", [](auto& f) { f.users.push_back({}); f.exclusiveOpenFailed = true; }, 0, 512,
       WriteRefusal::InUse},
      {"ExclusiveOpenBusy", [](auto& f) { f.exclusiveOpenFailed = true; }, 0, 512, WriteRefusal::Busy},
      {"EndsOnTheFirstByte", [](auto&) {}, kFirst - 512, 513, WriteRefusal::MountedRange},
      {"EndsJustBefore", [](auto&) {}, kFirst - 512, 512, WriteRefusal::None},
      {"StartsOnTheLastByte", [](auto&) {}, kEnd - 1, 512, WriteRefusal::MountedRange},
      {"StartsJustAfter", [](auto&) {}, kEnd, 512, WriteRefusal::None},
      {"CoversTheWholeRange", [](auto&) {}, 0, kEnd + kMiB, WriteRefusal::MountedRange},
      {"WholeDiskCommand", [](auto&) {}, 0, 0, WriteRefusal::MountedRange},
      // Before the range, with a length that wraps past the end of the address space.
      {"LengthWrapsAround", [](auto&) {}, kFirst - 512, UINT64_MAX, WriteRefusal::MountedRange},
      {"WholeDiskWithNothingMounted", [](auto& f) { f.mountedRanges.clear(); }, 0, 0, WriteRefusal::None},
      {"AllClear", [](auto&) {}, 0, 512, WriteRefusal::None},
  };
  for (const Case& c : cases) {
    WriteGuardFacts facts;
    facts.privileged = true;
    facts.mountedRanges = {{kFirst, kEnd}};
    c.facts(facts);
    EXPECT_EQ(checkWrite(facts, c.offset, c.length), c.expected) << c.name;
  }
}

// Users of a disk that no holder link shows, and file systems without a device number of
// their own, on the lab's SATA disk sda (drive 0: sda1 8:1, sda2 8:2) and USB disk sdd
// (drive 1: sdd1 8:49); each case writes 4 KiB at 1 MiB of the drive.
TEST(LinuxWriteGuardTest, UsersTheKernelDoesNotList) {
  const std::string sda2 = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda2";
  const std::string sdd1 = "/sys/devices/pci0000:00/0000:00:01.0/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0/block/sdd/sdd1";
  const auto mount = [](FakeSysCalls& s, const std::string& line) {
    s.addFile("/proc/self/mountinfo", s.readText(s.root() + "/proc/self/mountinfo").value_or("") + line + "\n");
  };
  const auto loop = [](FakeSysCalls& s, const std::string& name, const std::string& dev, const std::string& backing) {
    const std::string folder = "/sys/devices/virtual/block/" + name;
    s.addLink("/sys/block/" + name, "../devices/virtual/block/" + name);
    s.addLink("/sys/dev/block/" + dev, "../../devices/virtual/block/" + name);
    s.addFile(folder + "/dev", dev + "\n");
    s.addFile(folder + "/loop/backing_file", backing + "\n");
  };
  const auto btrfs = [](FakeSysCalls& s, const std::vector<std::string>& members) {
    for (const std::string& m : members) {
      s.addLink("/sys/fs/btrfs/5d6e8a0c-7f1e-4c2b-9a53-1c0f2e9b7d41/devices/" + m.substr(m.rfind('/') + 1), m);
    }
  };
  const auto program = [](FakeSysCalls& s, const std::string& pid, const std::string& comm, const std::string& node) {
    s.addFile("/proc/" + pid + "/comm", comm + "\n");
    s.addLink("/proc/" + pid + "/fd/0", "socket:[81234]");
    s.addLink("/proc/" + pid + "/fd/1", "/dev/null");
    s.addLink("/proc/" + pid + "/fd/5", node);
  };
  const auto zfsMember = [](FakeSysCalls& s, const std::string& dev, const std::string& pool) {
    s.addFile("/run/udev/data/b" + dev, "S:disk/by-label/" + pool + "\nE:ID_FS_TYPE=zfs_member\nE:ID_FS_LABEL=" + pool + "\n");
    s.addFile("/proc/spl/kstat/zfs/" + pool + "/state", "ONLINE\n");
  };
  struct Case {
    const char* name;
    std::function<void(FakeSysCalls&)> setup;
    int drive;
    std::string refusal;  // empty: the write goes through
  };
  const Case cases[] = {
      {"LoopOverTheDisk",
       [&](auto& s) { loop(s, "loop0", "7:0", "/dev/sda"); mount(s, "40 1 7:0 / /mnt/x rw - ext4 /dev/loop0 rw"); }, 0,
       "Writing to /dev/sda was refused: the loop device /dev/loop0 reads it (mounted at /mnt/x)."},
      {"LoopOverAPartition", [&](auto& s) { loop(s, "loop1", "7:1", "/dev/sda1"); }, 0,
       "Writing to /dev/sda was refused: the loop device /dev/loop1 reads /dev/sda1."},
      {"LoopOverAFileOnTheDisk",
       [&](auto& s) {
         mount(s, "28 1 8:1 / /mnt/data rw - ext4 /dev/sda1 rw");
         s.addFileOn("/mnt/data/disk.img", 8, 1);
         loop(s, "loop2", "7:2", "/mnt/data/disk.img");
       },
       0, "Writing to /dev/sda was refused: the loop device /dev/loop2 reads /mnt/data/disk.img, a file on it."},
      {"ProgramWithAPartitionOpen", [&](auto& s) { program(s, "812", "qemu-system-x86", "/dev/sda1"); }, 0,
       "Writing to /dev/sda was refused: the program qemu-system-x86 (pid 812) has /dev/sda1 open."},
      {"ExportedByTheNvmeTarget",
       [&](auto& s) {
         const std::string ns = "/sys/kernel/config/nvmet/subsystems/nqn.2014-08.org.example:lab/namespaces/";
         s.addFile(ns + "1/device_path", "/dev/sda\n");
         s.addFile(ns + "1/enable", "1\n");
         s.addFile(ns + "2/device_path", "/dev/sdd1\n");  // another disk's
         s.addFile(ns + "2/enable", "1\n");
       },
       0, "Writing to /dev/sda was refused: the NVMe target's namespace nqn.2014-08.org.example:lab/1 exports it."},
      {"BtrfsRootOverTwoDisks",
       [&](auto& s) {
         btrfs(s, {sda2, sdd1});
         mount(s, "30 1 0:31 /@ / rw - btrfs /dev/sda2 rw,subvolid=256,subvol=/@");
       },
       1, "Writing to /dev/sdd was refused: the disk holds the running system (mounted at /)."},
      {"BtrfsDataVolume",
       [&](auto& s) { btrfs(s, {sdd1}); mount(s, "30 1 0:31 / /srv rw - btrfs /dev/sdd1 rw,subvolid=5,subvol=/"); }, 1,
       "Writing to /dev/sdd was refused: the sectors belong to a mounted file system (mounted at /srv)."},
      {"OverlayUpperOnTheDisk",
       [&](auto& s) {
         mount(s, "28 1 8:1 / /cow rw - ext4 /dev/sda1 rw");
         mount(s, "31 1 0:32 / / rw - overlay overlay rw,lowerdir=/rofs,upperdir=/cow/upper,workdir=/cow/work");
       },
       0, "Writing to /dev/sda was refused: the disk holds the running system (mounted at /)."},
      {"ZfsRootOnAVdev",
       [&](auto& s) { zfsMember(s, "8:2", "rpool"); mount(s, "32 1 0:40 / / rw - zfs rpool/ROOT/debian rw,xattr"); }, 0,
       "Writing to /dev/sda was refused: the disk holds the running system (mounted at /)."},
      {"ZfsPoolWithNothingMounted", [&](auto& s) { zfsMember(s, "8:49", "tank"); }, 1,
       "Writing to /dev/sdd was refused: a volume manager, RAID or encrypted volume uses the disk (ZFS pool tank on sdd1)."},
      {"LoopsOverOtherThings",
       [&](auto& s) {
         mount(s, "25 1 0:22 / /tmp rw - tmpfs tmpfs rw");
         s.addFileOn("/tmp/other.img", 0, 22);
         loop(s, "loop0", "7:0", "/tmp/other.img");
         loop(s, "loop1", "7:1", "/dev/sdd");
       },
       0, ""},
      {"ProgramNamedWithControlCharacters", [&](auto& s) { program(s, "813", "\x1b]0;ok\x07", "/dev/sda"); }, 0,
       "Writing to /dev/sda was refused: the program ?]0;ok? (pid 813) has it open."},
      {"ProgramWithAnotherDiskOpen", [&](auto& s) { program(s, "900", "dd", "/dev/sdd1"); }, 0, ""},
      {"BtrfsOnAnotherDisk",
       [&](auto& s) { btrfs(s, {sdd1}); mount(s, "30 1 0:31 / / rw - btrfs /dev/sdd1 rw,subvolid=5,subvol=/"); }, 0, ""},
      {"OurOwnDescriptors",
       [&](auto& s) {
         const std::string table = *s.readText(s.root() + "/proc/self/mountinfo");
         s.remove("/proc/self");
         s.addLink("/proc/self", "4242");
         s.addFile("/proc/4242/mountinfo", table);
         program(s, "4242", "palvoro-cli", "/dev/sda");
       },
       0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({"sata_ahci", "usb_storage"});
    rig.sys.addFile("/proc/self/mountinfo", "1 1 0:2 / / rw - rootfs rootfs rw\n");
    c.setup(rig.sys);
    const Handle h = rig.open(c.drive);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int32_t high = 0;
    rig.platform.setFilePointer(h, 1 << 20, &high, 0);
    uint8_t block[4096] = {};
    uint32_t written = 0;
    EXPECT_EQ(rig.platform.writeFile(h, block, sizeof block, &written), c.refusal.empty());
    EXPECT_EQ(rig.platform.takeWriteRefusal(), c.refusal);
    EXPECT_EQ(rig.sys.pwrites == 0, !c.refusal.empty());
    rig.platform.closeHandle(h);
  }
}

// What the core sends that could change a disk, each on its own platform over the lab's
// SATA disk (drive 0) as root, with the running system on one of its partitions.
TEST(LinuxWriteGuardTest, NothingThatWritesReachesTheDisk) {
  uint8_t block[512] = {};
  struct Case {
    const char* name;
    std::function<bool(Platform&, Handle)> send;
  };
  const auto ataOut = [&](uint8_t command, uint8_t features) {
    return [&block, command, features](Platform& p, Handle h) {
      AtaCommand c;
      c.flags = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_OUT;
      c.direction = AtaDirection::Out;
      c.inSize = sizeof(AtaCommandRecord);
      c.current = {features, 0x01, 0x00, 0x00, 0x00, 0xE0, command};
      return sendAtaCommand(p, h, c, block).requestOk;
    };
  };
  const Case cases[] = {
      {"WriteFile", [&](Platform& p, Handle h) { uint32_t n = 0; return p.writeFile(h, block, 512, &n); }},
      {"DeleteDriveLayout",
       [](Platform& p, Handle h) {
         uint32_t n = 0;
         return p.deviceIoControl(h, IOCTL_DISK_DELETE_DRIVE_LAYOUT, nullptr, 0, nullptr, 0, &n);
       }},
      {"AtaWriteSectors", ataOut(0x30, 0x00)},
      {"AtaSmartWriteLog", [&](Platform& p, Handle h) {
         return sendAtaCommand(p, h, smartWriteLogSctCommand(), block).requestOk; }},
      {"AtaDataSetManagement", [&](Platform& p, Handle h) {
         return sendAtaCommand(p, h, dataSetManagementCommand(kDsmTrim, 0), block).requestOk; }},
      {"AtaSanitizeBlockErase",
       [](Platform& p, Handle h) { return sendAtaCommand(p, h, sanitizeBlockEraseExtCommand(0)).requestOk; }},
      {"SatDsmInScsiPassThrough", [&](Platform& p, Handle h) { return satDataSetManagement(p, h, kDsmTrim, block) == 0; }},
      {"ScsiWrite10",
       [&](Platform& p, Handle h) {
         uint8_t request[sizeof(SCSI_PASS_THROUGH) + 512] = {};
         SCSI_PASS_THROUGH spt{};
         spt.Length = sizeof spt;
         spt.CdbLength = 10;
         spt.DataIn = SCSI_IOCTL_DATA_OUT;
         spt.DataTransferLength = 512;
         spt.TimeOutValue = 20;
         spt.DataBufferOffset = sizeof spt;
         const uint8_t cdb[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 0x01, 0};
         std::memcpy(spt.Cdb, cdb, sizeof cdb);
         std::memcpy(request, &spt, sizeof spt);
         uint32_t n = 0;
         return p.deviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, request, sizeof request, request, sizeof request, &n);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig({"sata_ahci"});
    rig.sys.addFile("/proc/self/mountinfo", "20 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n");
    const Handle h = rig.open(0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(c.send(rig.platform, h));
    EXPECT_EQ(rig.platform.takeWriteRefusal(),
              "Writing to /dev/sda was refused: the disk holds the running system (mounted at /).");
    EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(rig.sys.pwrites, 0);
    EXPECT_EQ(rig.sys.flocks, 0);
    EXPECT_TRUE(rig.sys.sgRequests.empty()) << hex(rig.sys.sgRequests.empty() ? Bytes{} : rig.sys.sgRequests[0].cdb);
    for (const auto& o : rig.sys.opens) EXPECT_EQ(o.flags & (O_RDWR | O_WRONLY), 0) << o.path;
    rig.platform.closeHandle(h);
  }
}

// The guard judges commands, not opcodes: SANITIZE STATUS only reads and goes through.
TEST(LinuxWriteGuardTest, SanitizeStatusIsNotAWrite) {
  Rig rig({"sata_ahci"});
  const Handle h = rig.open(0);
  EXPECT_TRUE(sendAtaCommand(rig.platform, h, sanitizeStatusExtCommand(0)).requestOk);
  ASSERT_EQ(rig.sys.sgRequests.size(), 1u);
  EXPECT_EQ(rig.sys.sgRequests[0].cdb[14], 0xB4);
}

// The SCT request for the temperature history only reads, through either carrier of an
// ATA command; any other SCT command written to E0h is a write, even with the same
// action code.
TEST(LinuxWriteGuardTest, OnlyTheTemperatureHistoryRequestOfSctPasses) {
  struct Case {
    const char* name;
    uint8_t action, function, table;
    bool passes;
  };
  const Case cases[] = {
      {"HistoryTable", 5, 1, 2, true},
      {"WriteTable", 5, 2, 2, false},
      {"OtherTable", 5, 1, 3, false},
      {"FeatureControl", 4, 1, 2, false},
      {"ErrorRecovery", 3, 1, 2, false},
  };
  for (const bool sat : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (sat ? " over SAT" : " over ATA pass-through"));
      Rig rig({"sata_ahci"});
      rig.sys.addFile("/proc/self/mountinfo", "20 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n");
      const Handle h = rig.open(0);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      uint8_t request[512] = {c.action, 0, c.function, 0, c.table, 0};
      const bool ok = sat ? carrierSctCommand(rig.platform, h, kCarrierSat12, 0xA0, request) != 0
                          : ataSctCommand(rig.platform, h, request);
      if (c.passes) {
        ASSERT_EQ(rig.sys.sgRequests.size(), 1u);
        EXPECT_EQ(rig.sys.sgRequests[0].cdb[0], 0x85);
        EXPECT_TRUE(rig.platform.takeWriteRefusal().empty());
      } else {
        EXPECT_FALSE(ok);
        EXPECT_TRUE(rig.sys.sgRequests.empty());
        EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED);
      }
      for (const auto& o : rig.sys.opens) EXPECT_EQ(o.flags & (O_RDWR | O_WRONLY), 0) << o.path;
      rig.platform.closeHandle(h);
    }
  }
}

}  // namespace
}  // namespace palvoro::real::test
