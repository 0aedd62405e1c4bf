// The write guard: every rule of checkWrite, and every request that could change a disk
// refused through the platform before anything reaches the fake's device.

#include "platform/linux/write_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <functional>
#include <string>
#include <vector>

#include "device/ata_command.h"
#include "device/drive_requests.h"
#include "device/scsi_transport.h"
#include "linux_rig.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "protocol/nvme_command.h"

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
       [&](auto& s) { loop(s, "loop0", "7:0", fakeNode("sda")); mount(s, "40 1 7:0 / /mnt/x rw - ext4 /dev/loop0 rw"); }, 0,
       "Writing to /dev/sda was refused: the loop device /dev/loop0 reads it (mounted at /mnt/x)."},
      {"LoopOverAPartition", [&](auto& s) { loop(s, "loop1", "7:1", fakeNode("sda1")); }, 0,
       "Writing to /dev/sda was refused: the loop device /dev/loop1 reads /dev/sda1."},
      {"LoopOverAFileOnTheDisk",
       [&](auto& s) {
         mount(s, "28 1 8:1 / /mnt/data rw - ext4 /dev/sda1 rw");
         s.addFileOn("/mnt/data/disk.img", 8, 1);
         loop(s, "loop2", "7:2", "/mnt/data/disk.img");
       },
       0, "Writing to /dev/sda was refused: the loop device /dev/loop2 reads /mnt/data/disk.img, a file on it."},
      {"ProgramWithAPartitionOpen", [&](auto& s) { program(s, "812", "qemu-system-x86", fakeNode("sda1")); }, 0,
       "Writing to /dev/sda was refused: the program qemu-system-x86 (pid 812) has /dev/sda1 open."},
      {"ExportedByTheNvmeTarget",
       [&](auto& s) {
         const std::string ns = "/sys/kernel/config/nvmet/subsystems/nqn.2014-08.org.example:lab/namespaces/";
         s.addFile(ns + "1/device_path", fakeNode("sda") + "\n");
         s.addFile(ns + "1/enable", "1\n");
         s.addFile(ns + "2/device_path", fakeNode("sdd1") + "\n");  // another disk's
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
         loop(s, "loop1", "7:1", fakeNode("sdd"));
       },
       0, ""},
      {"ProgramNamedWithControlCharacters", [&](auto& s) { program(s, "813", "\x1b]0;ok\x07", fakeNode("sda")); }, 0,
       "Writing to /dev/sda was refused: the program ?]0;ok? (pid 813) has it open."},
      {"VirtualMachineWithTheDisksSgNode",
       [&](auto& s) {
         s.addFile("/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/scsi_generic/sg0/dev", "21:0\n");
         program(s, "814", "qemu-system-x86", fakeNode("sg0"));
       },
       0, "Writing to /dev/sda was refused: the program qemu-system-x86 (pid 814) has /dev/sg0 open."},
      {"ProgramWithAnotherDiskOpen", [&](auto& s) { program(s, "900", "dd", fakeNode("sdd1")); }, 0, ""},
      {"BtrfsOnAnotherDisk",
       [&](auto& s) { btrfs(s, {sdd1}); mount(s, "30 1 0:31 / / rw - btrfs /dev/sdd1 rw,subvolid=5,subvol=/"); }, 0, ""},
      // What the guard cannot look at refuses as a user does.
      {"NoMountTable", [&](auto& s) { s.remove("/proc/self/mountinfo"); s.addFile("/proc/self/status", ""); }, 0,
       "Writing to /dev/sda was refused: what else uses the disk cannot be seen: the mount table "
       "(/proc/self/mountinfo) cannot be read."},
      {"ProgramWhoseFilesAreClosed", [&](auto& s) { s.addFile("/proc/1/comm", "systemd\n"); }, 0,
       "Writing to /dev/sda was refused: what else uses the disk cannot be seen: the program systemd (pid 1) does not "
       "show its open files to this one."},
      {"ProcessesHiddenFromAUser",
       [&](auto& s) { s.uid = 1000; s.capabilities = (int64_t{1} << 17) | (int64_t{1} << 21); }, 0,
       "Writing to /dev/sda was refused: what else uses the disk cannot be seen: the processes of other users are "
       "hidden from this program, which does not run as root."},
      {"ProcessesOutsideOurContainer",
       [&](auto& s) { s.addFile("/proc/self/status", "Name:\tpalvoro-cli\nNSpid:\t81234\t7\nNStgid:\t81234\t7\n"); }, 0,
       "Writing to /dev/sda was refused: what else uses the disk cannot be seen: this program runs in a container of "
       "its own, which hides the processes outside it."},
      {"OurOwnDescriptors",
       [&](auto& s) {
         const std::string table = *s.readText(s.root() + "/proc/self/mountinfo");
         s.remove("/proc/self");
         s.addLink("/proc/self", "4242");
         s.addFile("/proc/4242/mountinfo", table);
         program(s, "4242", "palvoro-cli", fakeNode("sda"));
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
      {"AtaSctVendorSwitch", [&](Platform& p, Handle h) {
         uint8_t request[512] = {0x13, 0xC0, 0x01};
         return sendAtaCommand(p, h, smartWriteLogSctCommand(), request).requestOk; }},
      {"AtaDataSetManagement", [&](Platform& p, Handle h) {
         return sendAtaCommand(p, h, dataSetManagementCommand(kDsmTrim, 0), block).requestOk; }},
      {"AtaSanitizeBlockErase",
       [](Platform& p, Handle h) { return sendAtaCommand(p, h, sanitizeBlockEraseExtCommand(0)).requestOk; }},
      {"SatDsmInScsiPassThrough",
       [&](Platform& p, Handle h) { return satDataSetManagement(p, h, kDsmTrim, block) == DriveRequestError::None; }},
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

Bytes satBlock(size_t length, uint8_t protocol, const palvoro::AtaRegisters& r) {
  Bytes cdb(length, 0);
  cdb[1] = static_cast<uint8_t>(protocol << 1);
  if (length == 12) {
    cdb[0] = 0xA1;
    const uint8_t registers[7] = {r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh, r.device, r.command};
    std::memcpy(cdb.data() + 3, registers, sizeof registers);
  } else {
    cdb[0] = 0x85;
    cdb[4] = r.features;
    cdb[6] = r.count;
    cdb[8] = r.lbaLow;
    cdb[10] = r.lbaMid;
    cdb[12] = r.lbaHigh;
    cdb[13] = r.device;
    cdb[14] = r.command;
  }
  return cdb;
}

// SCSI pass-through of `cdb` with `out` as its data-out; the status and the sense back.
bool sendScsi(Platform& p, Handle h, const Bytes& cdb, const Bytes& out, uint8_t* status, Bytes* sense) {
  constexpr uint32_t kSenseAt = sizeof(SCSI_PASS_THROUGH);
  constexpr uint32_t kDataAt = kSenseAt + 32;
  Bytes request(kDataAt + out.size(), 0);
  SCSI_PASS_THROUGH spt{};
  spt.Length = sizeof spt;
  spt.CdbLength = static_cast<uint8_t>(cdb.size());
  spt.SenseInfoLength = 32;
  spt.SenseInfoOffset = kSenseAt;
  spt.DataIn = out.empty() ? SCSI_IOCTL_DATA_UNSPECIFIED : SCSI_IOCTL_DATA_OUT;
  spt.DataTransferLength = static_cast<uint32_t>(out.size());
  spt.DataBufferOffset = kDataAt;
  spt.TimeOutValue = 20;
  std::memcpy(spt.Cdb, cdb.data(), cdb.size());
  std::memcpy(request.data(), &spt, sizeof spt);
  if (!out.empty()) std::memcpy(request.data() + kDataAt, out.data(), out.size());
  uint32_t n = 0;
  if (!p.deviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, request.data(), static_cast<uint32_t>(request.size()),
                         request.data(), static_cast<uint32_t>(request.size()), &n)) {
    return false;
  }
  std::memcpy(&spt, request.data(), sizeof spt);
  *status = spt.ScsiStatus;
  sense->assign(request.begin() + kSenseAt, request.begin() + kSenseAt + spt.SenseInfoLength);
  return true;
}

// Each ATA command the guard knows, and a sample of those it must not, over the ways one
// reaches a disk: the ATA pass-through request, the SMART driver's request and ATA
// PASS-THROUGH (12) and (16) blocks; then the SCSI commands that write. A read is sent to any disk. A write is sent to a free disk, through the held
// writable descriptor, and refused by the guard on the disk holding "/". Anything else is
// never sent to either, and comes back as the device answers a command it does not have.
TEST(LinuxWriteGuardTest, EveryAtaCommandIsAReadAWriteOrRefused) {
  enum class Kind { Read, Write, Refused };
  struct Case {
    const char* name;
    palvoro::AtaRegisters registers;  // features, count, LBA low/mid/high, device, command
    Bytes out;                        // data-out, 512 bytes or none
    Kind expected;
    int protocol = -1;  // a SAT protocol, for the blocks only; else 3 or, with data-out, 5
    Bytes cdb = {};     // a SCSI command of its own instead
  };
  const auto sct = [](std::initializer_list<uint8_t> head) {
    Bytes b(512, 0);
    std::copy(head.begin(), head.end(), b.begin());
    return b;
  };
  const Bytes none;
  const Bytes zeros(512, 0);
  const Case cases[] = {
      {"IdentifyDevice", {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC}, none, Kind::Read},
      {"SmartReadData", {0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Read},
      {"SmartReturnStatus", {0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Read},
      {"SmartEnableOperations", {0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Read},
      {"SmartShortSelfTest", {0xD4, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Read},
      {"SmartAbortSelfTest", {0xD4, 0x7F, 0x7F, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Read},
      {"SmartReadLog", {0xD5, 0x01, 0x06, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Read},
      {"ReadLogExt", {0x00, 0x01, 0x30, 0x03, 0x00, 0xA0, 0x2F}, none, Kind::Read},
      {"ReadVerifyExt", {0x00, 0x08, 0x00, 0x10, 0x00, 0x40, 0x42}, none, Kind::Read},
      {"SanitizeStatus", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB4}, none, Kind::Read},
      {"SctTemperatureHistory", {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0}, sct({5, 0, 1, 0, 2, 0}), Kind::Read},
      {"WriteSectors", {0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0x30}, zeros, Kind::Write},
      {"WriteDmaExt", {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x35}, zeros, Kind::Write},
      {"Trim", {0x01, 0x01, 0x00, 0x00, 0x00, 0x40, 0x06}, zeros, Kind::Write},
      // The purges go as the writes do (their own table is below); without its key's top
      // byte (LBA 31:24, the 48-bit half this block lacks) a BLOCK ERASE is none.
      {"SanitizeBlockEraseWithoutItsWholeKey", {0x12, 0x00, 0x72, 0x45, 0x6B, 0x40, 0xB4}, none, Kind::Refused},
      {"SctVendorSwitch", {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0}, sct({0x13, 0xC0, 0x01}), Kind::Write},
      {"SecuritySetUserPassword", {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xF1}, zeros, Kind::Write},
      {"SecurityEraseUnit", {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xF4}, zeros, Kind::Write},
      {"SecurityEraseUnitWithoutItsPassword", {0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xF4}, none, Kind::Refused},
      {"SetMaxAddressVolatile", {0x00, 0x00, 0x00, 0x10, 0x00, 0x40, 0xF9}, none, Kind::Write},
      {"SetMaxAddressExtVolatile", {0x00, 0x00, 0x00, 0x10, 0x00, 0x40, 0x37}, none, Kind::Write},
      {"SetMaxSetPassword", {0x01, 0x00, 0x00, 0x00, 0x00, 0x40, 0xF9}, zeros, Kind::Refused},
      {"DcoIdentify", {0xC2, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xB1}, none, Kind::Read},
      {"DcoRestore", {0xC0, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xB1}, none, Kind::Refused},
      {"DcoFreezeLock", {0xC1, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xB1}, none, Kind::Refused},
      {"DcoSet", {0xC3, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xB1}, zeros, Kind::Refused},
      {"ReadNativeMaxAddress", {0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0xF8}, none, Kind::Read},
      {"DownloadMicrocode", {0x07, 0x01, 0x00, 0x00, 0x00, 0xA0, 0x92}, zeros, Kind::Refused},
      {"SetFeatures", {0x82, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xEF}, none, Kind::Refused},
      {"VendorOpcode", {0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x80}, none, Kind::Refused},
      {"SmartDisableOperations", {0xD9, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Refused},
      {"SmartAttributeAutosave", {0xD2, 0xF1, 0x00, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Refused},
      {"SmartCaptiveSelfTest", {0xD4, 0x82, 0x82, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Refused},
      {"SmartMakersOfflineCode", {0xD4, 0x40, 0x40, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Refused},
      {"SmartReadWithoutKey", {0xD0, 0x01, 0x01, 0x00, 0x00, 0xA0, 0xB0}, none, Kind::Refused},
      {"SmartWriteLogNotSct", {0xD6, 0x01, 0x09, 0x4F, 0xC2, 0xA0, 0xB0}, zeros, Kind::Refused},
      {"SctFeatureControl", {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0}, sct({4, 0, 1, 0, 3, 0}), Kind::Refused},
      {"SctOtherTable", {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0}, sct({5, 0, 1, 0, 3, 0}), Kind::Refused},
      {"SctVendorOtherFunction", {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0}, sct({0x13, 0xC0, 0x02}), Kind::Refused},
      {"SctWithoutData", {0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0}, none, Kind::Refused},
      {"SanitizeFreezeLock", {0x20, 0x00, 0x72, 0x45, 0x6B, 0x40, 0xB4}, none, Kind::Refused},
      {"DsmWithoutTrim", {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x06}, zeros, Kind::Refused},
      {"ReadCarryingDataOut", {0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0x20}, zeros, Kind::Refused},
      // The blocks' protocols. Detection sends EXECUTE DEVICE DIAGNOSTIC as non-data; the
      // request on the ATA path is answered without it (another test).
      {"ExecuteDeviceDiagnostic", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x90}, none, Kind::Refused, 3},
      {"HardReset", {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC}, none, Kind::Refused, 0},
      {"SoftReset", {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC}, none, Kind::Refused, 1},
      {"DiagnosticProtocol", {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC}, none, Kind::Refused, 8},
      {"DeviceReset", {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC}, none, Kind::Refused, 9},
      {"DmaQueued", {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x25}, none, Kind::Refused, 7},
      {"UdmaIn", {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x25}, none, Kind::Read, 10},
      {"FpdmaWrite", {0x08, 0x00, 0x00, 0x00, 0x00, 0x40, 0x61}, zeros, Kind::Write, 12},
      // The RAID enclosure's member probe carries nothing.
      {"ResponseInformation", {0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x00}, none, Kind::Read, 15},
      {"ResponseInformationCarryingAWrite", {0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0x30}, zeros, Kind::Refused, 15},
      {"ResponseInformationCarryingSetMax", {0x00, 0x00, 0x00, 0x10, 0x00, 0x40, 0xF9}, none, Kind::Refused, 15},
      // The SCSI commands that write: the same two lists.
      {"ScsiWrite10", {}, zeros, Kind::Write, -1, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}},
      {"ScsiUnmap", {}, zeros, Kind::Write, -1, {0x42, 0, 0, 0, 0, 0, 0, 0x02, 0x00, 0}},
      {"ScsiSanitizeBlockErase", {}, none, Kind::Write, -1, {0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"ScsiSanitizeExitFailureMode", {}, none, Kind::Write, -1, {0x48, 0x1F, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"ScsiSanitizeReservedAction", {}, none, Kind::Refused, -1, {0x48, 0x04, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"ScsiReportSupportedOperationCodes", {}, none, Kind::Read, -1, {0xA3, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"ScsiReportTargetPortGroups", {}, none, Kind::Refused, -1, {0xA3, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"ScsiRequestSense", {}, none, Kind::Read, -1, {0x03, 0, 0, 0, 0x12, 0}},
      {"ScsiTestUnitReady", {}, none, Kind::Read, -1, {0x00, 0, 0, 0, 0, 0}},
      {"ScsiWriteBuffer", {}, zeros, Kind::Refused, -1, {0x3B, 0x05, 0, 0, 0, 0, 0, 0x02, 0x00, 0}},
      {"ScsiModeSelect", {}, zeros, Kind::Refused, -1, {0x55, 0x10, 0, 0, 0, 0, 0, 0x02, 0x00, 0}},
      {"ScsiFormatUnit", {}, none, Kind::Refused, -1, {0x04, 0, 0, 0, 0, 0}},
      {"ScsiSecurityProtocolOut", {}, zeros, Kind::Refused, -1, {0xB5, 0xEF, 0, 0, 0, 0, 0, 0, 0x02, 0x00, 0, 0}},
      {"ScsiVendorOpcode", {}, none, Kind::Refused, -1, {0xC0, 0, 0, 0, 0, 0}},
      {"ScsiInquiryCarryingDataOut", {}, zeros, Kind::Refused, -1, {0x12, 0, 0, 0x02, 0x00, 0}},
      // SEND DIAGNOSTIC: the default and background self-tests only.
      {"ScsiDefaultSelfTest", {}, none, Kind::Read, -1, {0x1D, 0x04, 0, 0, 0, 0}},
      {"ScsiBackgroundShortSelfTest", {}, none, Kind::Read, -1, {0x1D, 0x20, 0, 0, 0, 0}},
      {"ScsiSelfTestMayWriteTheMedium", {}, none, Kind::Refused, -1, {0x1D, 0x05, 0, 0, 0, 0}},
      {"ScsiForegroundExtendedSelfTest", {}, none, Kind::Refused, -1, {0x1D, 0xC0, 0, 0, 0, 0}},
      {"ScsiDiagnosticParameterList", {}, zeros, Kind::Refused, -1, {0x1D, 0x10, 0, 0x02, 0x00, 0}},
  };
  enum class Carrier { Ata, SmartDriver, Sat12, Sat16 };
  for (const Case& c : cases) {
    for (const Carrier carrier : {Carrier::Ata, Carrier::SmartDriver, Carrier::Sat12, Carrier::Sat16}) {
      if ((carrier == Carrier::Ata && c.protocol >= 0) || (!c.cdb.empty() && carrier != Carrier::Sat16)) continue;
      // The SMART driver takes SMART commands without data out; RETURN STATUS wants
      // registers back that the fake device does not give.
      if (carrier == Carrier::SmartDriver && (c.protocol >= 0 || !c.out.empty() || c.registers.command != 0xB0 ||
                                              c.registers.features == 0xDA)) {
        continue;
      }
      for (const bool rootDisk : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + (!c.cdb.empty()            ? "" :
                                            carrier == Carrier::Ata ? " over ATA pass-through" :
                                            carrier == Carrier::SmartDriver ? " to the SMART driver" :
                                            carrier == Carrier::Sat12 ? " in ATA PASS-THROUGH (12)" :
                                                                        " in ATA PASS-THROUGH (16)") +
                     (rootDisk ? " on the disk holding /" : " on a free disk"));
        Rig rig({"sata_ahci"});
        rig.sys.addFile("/proc/self/mountinfo", rootDisk ? "20 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n"
                                                         : "1 1 0:2 / / rw - rootfs rootfs rw\n");
        const Handle h = rig.open(0);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        bool ok = false;
        bool refusedAsUnknown = false;
        if (carrier == Carrier::Ata) {
          AtaCommand command;
          command.current = c.registers;
          if (!c.out.empty()) {
            command.flags |= ATA_FLAGS_DATA_OUT;
            command.direction = AtaDirection::Out;
            command.inSize = sizeof(AtaCommandRecord);
          }
          const AtaReply reply = sendAtaCommand(rig.platform, h, command, c.out.empty() ? nullptr : c.out.data());
          ok = reply.requestOk;
          refusedAsUnknown = ok && reply.current.command == 0x51 && reply.current.features == 0x04;
        } else if (carrier == Carrier::SmartDriver) {
          SENDCMDINPARAMS in{};
          in.irDriveRegs = {c.registers.features, c.registers.count, c.registers.lbaLow, c.registers.lbaMid,
                            c.registers.lbaHigh, c.registers.device, c.registers.command, 0};
          uint8_t out[16 + 512] = {};
          uint32_t n = 0;
          ok = rig.platform.deviceIoControl(h, SMART_SEND_DRIVE_COMMAND, &in, sizeof in, out, sizeof out, &n);
          // The driver fails a command the drive aborts.
          refusedAsUnknown = !ok && rig.platform.lastError() == ERROR_IO_DEVICE;
        } else {
          const uint8_t protocol = static_cast<uint8_t>(c.protocol >= 0 ? c.protocol : c.out.empty() ? 3 : 5);
          uint8_t status = 0;
          Bytes sense;
          const Bytes block =
              !c.cdb.empty() ? c.cdb : satBlock(carrier == Carrier::Sat12 ? 12 : 16, protocol, c.registers);
          ok = sendScsi(rig.platform, h, block, c.out, &status, &sense);
          refusedAsUnknown = ok && status == 0x02 && sense.size() >= 14 && (sense[2] & 0x0F) == 0x05 &&
                             sense[12] == 0x20 && sense[13] == 0x00;
        }
        const bool held = std::find(rig.sys.calls.begin(), rig.sys.calls.end(), "flock /dev/sda") != rig.sys.calls.end();
        const std::string refusal = rig.platform.takeWriteRefusal();
        if (c.expected == Kind::Read || (c.expected == Kind::Write && !rootDisk)) {
          EXPECT_TRUE(ok);
          EXPECT_EQ(rig.sys.sgRequests.size(), 1u);
          EXPECT_EQ(held, c.expected == Kind::Write);
          EXPECT_EQ(refusal, "");
        } else if (c.expected == Kind::Write) {
          EXPECT_FALSE(ok);
          EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED);
          EXPECT_EQ(refusal, "Writing to /dev/sda was refused: the disk holds the running system (mounted at /).");
        } else {
          EXPECT_TRUE(refusedAsUnknown);
          EXPECT_EQ(refusal, "");
        }
        if (c.expected != Kind::Read) {
          EXPECT_EQ(rig.sys.sgRequests.size(), c.expected == Kind::Write && !rootDisk ? 1u : 0u);
        }
        if (c.expected != Kind::Write || rootDisk) {
          for (const auto& o : rig.sys.opens) EXPECT_EQ(o.flags & (O_RDWR | O_WRONLY), 0) << o.path;
        }
        rig.platform.closeHandle(h);
      }
    }
  }
}

// An ATA_PASS_THROUGH_EX request carrying `r` (and `previous` as a 48-bit command when it is
// not all zero) with `out` as its data-out and `seconds` as its timeout.
bool sendAta(Platform& p, Handle h, const palvoro::AtaRegisters& r, const palvoro::AtaRegisters& previous,
             const Bytes& out, uint32_t seconds, palvoro::AtaRegisters* back) {
  constexpr uint32_t kHeader = sizeof(ATA_PASS_THROUGH_EX);
  Bytes request(kHeader + out.size(), 0);
  ATA_PASS_THROUGH_EX apt{};
  apt.Length = kHeader;
  const bool extended = previous.features | previous.count | previous.lbaLow | previous.lbaMid | previous.lbaHigh;
  apt.AtaFlags = static_cast<uint16_t>(ATA_FLAGS_DRDY_REQUIRED | (out.empty() ? 0 : ATA_FLAGS_DATA_OUT) |
                                       (extended ? ATA_FLAGS_48BIT_COMMAND : 0));
  apt.DataTransferLength = static_cast<uint32_t>(out.size());
  apt.DataBufferOffset = out.empty() ? 0 : kHeader;
  apt.TimeOutValue = seconds;
  const uint8_t now[8] = {r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh, r.device, r.command, 0};
  const uint8_t before[8] = {previous.features, previous.count, previous.lbaLow, previous.lbaMid, previous.lbaHigh};
  std::memcpy(apt.CurrentTaskFile, now, 8);
  std::memcpy(apt.PreviousTaskFile, before, 8);
  std::memcpy(request.data(), &apt, kHeader);
  if (!out.empty()) std::memcpy(request.data() + kHeader, out.data(), out.size());
  uint32_t n = 0;
  const auto size = static_cast<uint32_t>(request.size());
  if (!p.deviceIoControl(h, IOCTL_ATA_PASS_THROUGH, request.data(), size, request.data(), size, &n)) return false;
  const uint8_t* t = request.data() + offsetof(ATA_PASS_THROUGH_EX, CurrentTaskFile);
  *back = {t[0], t[1], t[2], t[3], t[4], t[5], t[6]};
  return true;
}

// An NVMe admin command as a protocol command: header, 64-byte entry, no error room.
bool sendNvme(Platform& p, Handle h, uint8_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t seconds) {
  Bytes request(kProtocolCommandHeaderBytes + 64, 0);
  STORAGE_PROTOCOL_COMMAND c{};
  c.Version = STORAGE_PROTOCOL_STRUCTURE_VERSION;
  c.Length = sizeof c;
  c.ProtocolType = ProtocolTypeNvme;
  c.Flags = STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST;
  c.CommandLength = STORAGE_PROTOCOL_COMMAND_LENGTH_NVME;
  c.TimeOutValue = seconds;
  c.CommandSpecific = STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND;
  std::memcpy(request.data(), &c, kProtocolCommandHeaderBytes);
  NVME_COMMAND e{};
  e.Opcode = opcode;
  e.Nsid = nsid;
  e.Cdw10 = cdw10;
  std::memcpy(request.data() + kProtocolCommandHeaderBytes, &e, sizeof e);
  uint32_t n = 0;
  const auto size = static_cast<uint32_t>(request.size());
  return p.deviceIoControl(h, IOCTL_STORAGE_PROTOCOL_COMMAND, request.data(), size, request.data(), size, &n);
}

// The drive's own erase commands, each at every kind of disk the guard must keep it from,
// then at a free disk: refused, nothing reaches the fake and the refusal names the
// reason; free, exactly one command reaches it through the write session's descriptor,
// with the caller's timeout (up to a day). The master password, a lasting SET MAX and
// SECURITY FREEZE LOCK reach no disk at all.
TEST(LinuxWriteGuardTest, PurgesReachOnlyAFreeDiskThroughItsWriteSession) {
  const Bytes user(512, 0);
  Bytes master(512, 0);
  master[0] = 0x01;
  const palvoro::AtaRegisters none{};
  struct Command {
    const char* name;
    bool nvme;  // on the lab's NVMe disk, else its SATA disk
    std::function<bool(Platform&, Handle, palvoro::AtaRegisters*)> send;
    uint32_t timeoutMs;  // what reaches the kernel; 0: refused on every disk
  };
  const auto ata = [&](palvoro::AtaRegisters r, palvoro::AtaRegisters previous, const Bytes& out, uint32_t seconds) {
    return [=](Platform& p, Handle h, palvoro::AtaRegisters* back) {
      return sendAta(p, h, r, previous, out, seconds, back);
    };
  };
  const auto scsi = [](Bytes cdb) {
    return [=](Platform& p, Handle h, palvoro::AtaRegisters*) {
      uint8_t status = 0;
      Bytes sense;
      return sendScsi(p, h, cdb, {}, &status, &sense);
    };
  };
  const auto nvme = [](uint8_t opcode, uint32_t nsid, uint32_t cdw10) {
    return [=](Platform& p, Handle h, palvoro::AtaRegisters*) { return sendNvme(p, h, opcode, nsid, cdw10, 7200); };
  };
  const Command commands[] = {
      {"SecuritySetUserPassword", false, ata({0, 1, 0, 0, 0, 0xA0, 0xF1}, none, user, 15), 15000},
      {"SecurityErasePrepare", false, ata({0, 0, 0, 0, 0, 0xA0, 0xF3}, none, {}, 15), 15000},
      {"SecurityEraseUnitForHours", false, ata({0, 1, 0, 0, 0, 0xA0, 0xF4}, none, user, 7200), 7200000},
      {"SecurityEraseUnitCappedAtADay", false, ata({0, 1, 0, 0, 0, 0xA0, 0xF4}, none, user, 200000), 86400000},
      {"SecurityUnlock", false, ata({0, 1, 0, 0, 0, 0xA0, 0xF2}, none, user, 15), 15000},
      {"SecurityDisablePassword", false, ata({0, 1, 0, 0, 0, 0xA0, 0xF6}, none, user, 15), 15000},
      // SANITIZE's keys: 43727970h and 426B4572h in LBA 31:0, 4F57h in LBA 47:32.
      {"SanitizeCryptoScramble", false, ata({0x11, 0, 0x70, 0x79, 0x72, 0x40, 0xB4}, {0, 0, 0x43, 0, 0}, {}, 60), 60000},
      {"SanitizeBlockErase", false, ata({0x12, 0, 0x72, 0x45, 0x6B, 0x40, 0xB4}, {0, 0, 0x42, 0, 0}, {}, 60), 60000},
      {"SanitizeOverwrite", false, ata({0x14, 0x01, 0, 0, 0, 0x40, 0xB4}, {0, 0, 0, 0x57, 0x4F}, {}, 60), 60000},
      {"SetMaxAddressExtVolatile", false, ata({0, 0, 0xFF, 0xFF, 0x1F, 0x40, 0x37}, {0, 0, 0, 0, 0, 0}, {}, 15), 15000},
      {"ScsiSanitizeCryptographicErase", false, scsi({0x48, 0x03, 0, 0, 0, 0, 0, 0, 0, 0}), 20000},
      {"NvmeFormatUserDataErase", true, nvme(0x80, 1, 1 << 9), 7200000},
      {"NvmeFormatCryptographicErase", true, nvme(0x80, 1, 2 << 9), 7200000},
      {"NvmeSanitizeBlockErase", true, nvme(0x84, 0, 2), 7200000},
      {"SecuritySetMasterPassword", false, ata({0, 1, 0, 0, 0, 0xA0, 0xF1}, none, master, 15), 0},
      {"SetMaxAddressNonVolatile", false, ata({0, 0x01, 0xFF, 0xFF, 0x1F, 0x40, 0xF9}, none, {}, 15), 0},
      {"SecurityFreezeLock", false, ata({0, 0, 0, 0, 0, 0xA0, 0xF5}, none, {}, 15), 0},
      {"SanitizeCryptoScrambleWithoutItsKey", false, ata({0x11, 0, 0, 0, 0, 0x40, 0xB4}, none, {}, 60), 0},
      {"NvmeFormatOfEveryNamespace", true, nvme(0x80, 0xFFFFFFFF, 1 << 9), 0},
  };
  struct Disk {
    const char* name;
    // The disk's state: `disk` its name, `node` and `dev` a partition's (the NVMe disk's own).
    std::function<void(FakeSysCalls&, const std::string& disk, const std::string& node, const std::string& dev)> setup;
    uint32_t access;
    std::string refusal;  // after "Writing to /dev/<disk> was refused: "; empty for the free disk
  };
  const auto mounted = [](const char* at) {
    return [at](FakeSysCalls& s, const std::string&, const std::string& node, const std::string& dev) {
      s.addFile("/proc/self/mountinfo", std::string("20 1 ") + dev + " / " + at + " rw - ext4 " + node + " rw\n");
    };
  };
  const auto nothing = [](FakeSysCalls&, const std::string&, const std::string&, const std::string&) {};
  const Disk disks[] = {
      {"SystemDisk", mounted("/"), kReadWrite, "the disk holds the running system (mounted at /)."},
      {"MountedPartition", mounted("/mnt/data"), kReadWrite,
       "the sectors belong to a mounted file system (mounted at /mnt/data)."},
      {"LoopDeviceUser",
       [](FakeSysCalls& s, const std::string& disk, const std::string&, const std::string&) {
         s.addLink("/sys/block/loop0", "../devices/virtual/block/loop0");
         s.addFile("/sys/devices/virtual/block/loop0/dev", "7:0\n");
         s.addFile("/sys/devices/virtual/block/loop0/loop/backing_file", fakeNode(disk) + "\n");
       },
       kReadWrite, "the loop device /dev/loop0 reads it."},
      {"Busy", [](FakeSysCalls& s, auto&, auto&, auto&) { s.flockError = -EWOULDBLOCK; }, kReadWrite,
       "another program holds the disk open exclusively."},
      // Rights lost after the open (the open itself takes them).
      {"NotPrivileged", nothing, kReadWrite, "writing to a disk takes administrator rights."},
      {"NoWriteSessionOnAReadOnlyHandle", nothing, 0x80000000u, "-"},
      {"AnotherNamespaceOnTheController",
       [](FakeSysCalls& s, const std::string& disk, auto&, auto&) {
         if (disk == "nvme0n1") s.addFile("/sys/devices/pci0000:00/0000:00:03.0/nvme/nvme0/nvme0n2/dev", "259:1\n");
       },
       kReadWrite, "its controller also holds nvme0n2, which the command could erase too."},
      {"FreeDisk", nothing, kReadWrite, ""},
  };
  for (const Command& c : commands) {
    for (const Disk& d : disks) {
      if (!c.nvme && std::string(d.name) == "AnotherNamespaceOnTheController") continue;
      SCOPED_TRACE(std::string(c.name) + " at " + d.name);
      Rig rig({c.nvme ? "nvme" : "sata_ahci"});
      const std::string disk = c.nvme ? "nvme0n1" : "sda";
      rig.sys.addFile("/proc/self/mountinfo", "1 1 0:2 / / rw - rootfs rootfs rw\n");
      rig.sys.nvmeNamespaceId = 1;
      rig.sys.nvmeHandler = [](const NvmeRequest&) { return NvmeAnswer{}; };
      d.setup(rig.sys, disk, fakeNode(c.nvme ? "nvme0n1" : "sda2"), c.nvme ? "259:0" : "8:2");
      const Handle h = rig.open(0, d.access);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      if (std::string(d.name) == "NotPrivileged") rig.sys.uid = 1000;
      palvoro::AtaRegisters back{};
      const bool ok = c.send(rig.platform, h, &back);
      const std::string refusal = rig.platform.takeWriteRefusal();
      const size_t reached = rig.sys.sgRequests.size() + rig.sys.nvmeRequests.size();
      const bool sent = c.timeoutMs != 0 && d.refusal.empty();
      EXPECT_EQ(reached, sent ? 1u : 0u);
      if (sent) {
        EXPECT_TRUE(ok);
        EXPECT_EQ(c.nvme ? rig.sys.nvmeRequests[0].timeoutMs : rig.sys.sgRequests[0].timeoutMs, c.timeoutMs);
        EXPECT_NE(std::find(rig.sys.calls.begin(), rig.sys.calls.end(), "flock " + fakeNode(disk)), rig.sys.calls.end());
      } else if (c.timeoutMs == 0) {
        // Never sent anywhere: answered as a command the device lacks (a read-only handle
        // takes no pass-through at all).
        EXPECT_EQ(refusal, "");
        EXPECT_TRUE(c.nvme || d.access != kReadWrite ? !ok : ok && back.command == 0x51 && back.features == 0x04);
      } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(rig.platform.lastError(), ERROR_ACCESS_DENIED);
        EXPECT_EQ(refusal, d.refusal == "-" ? "" : "Writing to /dev/" + disk + " was refused: " + d.refusal);
        // Only a busy disk is found busy by trying the exclusive open.
        if (std::string(d.name) != "Busy") {
          for (const auto& o : rig.sys.opens) EXPECT_EQ(o.flags & (O_RDWR | O_WRONLY), 0) << o.path;
        }
      }
      rig.platform.closeHandle(h);
    }
  }
}

// After a volatile SET MAX the kernel reads the capacity and then the partition table
// again, at IOCTL_DISK_UPDATE_PROPERTIES; a session that ends without it still tells.
TEST(LinuxWriteGuardTest, TheKernelLearnsAfterAPurge) {
  for (const bool update : {true, false}) {
    SCOPED_TRACE(update ? "updated" : "closed");
    Rig rig({"sata_ahci"});
    rig.sys.addFile("/proc/self/mountinfo", "1 1 0:2 / / rw - rootfs rootfs rw\n");
    const std::string device = rig.sys.realPath(rig.sys.root() + "/sys/block/sda/device")->substr(rig.sys.root().size());
    rig.sys.addFile(device + "/rescan", "");
    const Handle h = rig.open(0);
    palvoro::AtaRegisters back{};
    ASSERT_TRUE(sendAta(rig.platform, h, {0, 0, 0xFF, 0xFF, 0x1F, 0x40, 0x37}, {0, 0, 0, 0, 0, 0}, {}, 15, &back));
    uint32_t n = 0;
    if (update) {
      ASSERT_TRUE(rig.platform.deviceIoControl(h, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &n));
    }
    rig.platform.closeHandle(h);
    std::vector<std::string> told;
    for (const std::string& call : rig.sys.calls) {
      if (call.rfind("write ", 0) == 0 || call.rfind("BLKRRPART", 0) == 0) told.push_back(call);
    }
    EXPECT_EQ(told, (std::vector<std::string>{"write /sys/block/sda/device/rescan 1", "BLKRRPART /dev/sda"}));
  }
}

}  // namespace
}  // namespace palvoro::real::test
