// Mounted file systems as lettered volumes: "/" is C:, the others take D: on in order of
// first appearance and keep their letter for the process; stacked volumes (dm, md) lead
// to the disks under them.

#include <gtest/gtest.h>

#include "linux_rig.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"

namespace palvoro::real::test {
namespace {

constexpr uint32_t bit(char letter) { return 1u << (letter - 'A'); }

// Disk number and partition of a lettered volume, or the error.
struct DeviceNumber {
  bool ok;
  uint32_t disk, partition, error;
};
DeviceNumber deviceNumber(LinuxPlatform& p, char letter) {
  const Handle h = p.createFile(std::string("\\\\.\\") + letter + ":", kReadWrite, 3, 3, 0);
  if (h == INVALID_HANDLE_VALUE) return {false, 0, 0, p.lastError()};
  STORAGE_DEVICE_NUMBER n{};
  uint32_t returned = 0;
  const bool ok = p.deviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &n, sizeof n, &returned);
  const uint32_t error = p.lastError();
  p.closeHandle(h);
  return {ok, n.DeviceNumber, n.PartitionNumber, ok ? 0 : error};
}

const char* const kUsb = "22 20 8:49 / /media/usb\\040stick rw - vfat /dev/sdd1 rw\n";
const char* const kRoot = "20 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n";
const char* const kOthers =
    "21 20 0:20 / /proc rw - proc proc rw\n"
    "23 20 8:1 / /mnt/data rw - ext4 /dev/sda1 rw\n"
    "24 20 8:2 /srv /srv/bind rw - ext4 /dev/sda2 rw\n";  // a bind mount: the same volume
// The lines in order (appended one by one: GCC 12 misreads a chain of operator+).
std::string lines(std::initializer_list<const char*> parts) {
  std::string all;
  for (const char* p : parts) all.append(p);
  return all;
}

const char* const kUsbWhole = "25 20 8:48 / /mnt/whole rw - ext4 /dev/sdd rw\n";

TEST(LinuxVolumesTest, RootIsCAndLettersAreKeptForTheProcess) {
  Rig rig({"sata_ahci", "usb_storage"});  // sda is drive 0, sdd drive 1
  rig.sys.addFile("/proc/self/mountinfo", lines({kUsb, kRoot, kOthers}));
  EXPECT_EQ(rig.platform.logicalDrives(), bit('C') | bit('D') | bit('E'));
  struct Expected {
    char letter;
    uint32_t disk, partition;
  };
  for (const Expected& e : {Expected{'C', 0, 2}, Expected{'D', 1, 1}, Expected{'E', 0, 1}}) {
    const DeviceNumber n = deviceNumber(rig.platform, e.letter);
    EXPECT_TRUE(n.ok) << e.letter;
    EXPECT_EQ(n.disk, e.disk) << e.letter;
    EXPECT_EQ(n.partition, e.partition) << e.letter;
  }
  std::string fileSystem;
  EXPECT_TRUE(rig.platform.volumeInformation("D:\\", nullptr, &fileSystem));
  EXPECT_EQ(fileSystem, "FAT32");

  // The stick goes; a new volume arrives while D: is still promised to it.
  rig.sys.addFile("/proc/self/mountinfo", lines({kRoot, kOthers, kUsbWhole}));
  EXPECT_EQ(rig.platform.logicalDrives(), bit('C') | bit('E') | bit('F'));
  rig.sys.addFile("/proc/self/mountinfo", lines({kRoot, kOthers, kUsbWhole, kUsb}));
  EXPECT_EQ(rig.platform.logicalDrives(), bit('C') | bit('D') | bit('E') | bit('F'));
}

// A Linux user knows a volume by its mount point and the kernel's file system name; the
// letter stays the program's key. A stick's label in its mount point reaches no screen raw.
TEST(LinuxVolumesTest, VolumesAreNamedByMountPointAndKernelFileSystem) {
  Rig rig({"sata_ahci", "usb_storage"});
  rig.sys.addFile("/proc/self/mountinfo",
                  lines({kRoot, kOthers, "22 20 8:49 / /media/ada/\033]0;x\007\303 rw - vfat /dev/sdd1 rw\n"}));
  struct Case {
    char letter;
    const char* name;
    const char* fileSystem;
    bool mountPoint;
  };
  const Case cases[] = {
      {'C', "/", "ext4", true},
      {'D', "/mnt/data", "ext4", true},
      {'E', "/media/ada/?]0;x??", "vfat", true},  // ESC, BEL and a cut UTF-8 sequence
      {'Q', "Q:\\", "", false},                   // no such volume: its root, no file system
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.letter);
    const VolumeName name = rig.platform.volumeName(c.letter);
    EXPECT_EQ(name.name, c.name);
    EXPECT_EQ(name.fileSystem, c.fileSystem);
    EXPECT_EQ(name.mountPoint, c.mountPoint);
  }
  EXPECT_EQ(rig.platform.productTitle(), "PALVORO");
}

TEST(LinuxVolumesTest, LockAndDismountNeverUnmount) {
  Rig rig({"sata_ahci", "usb_storage"});
  rig.sys.addFile("/proc/self/mountinfo", lines({kRoot, kOthers, kUsb}));
  const Handle h = rig.platform.createFile("\\\\.\\D:", kReadWrite, 3, 3, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint32_t n = 0;
  EXPECT_TRUE(rig.platform.deviceIoControl(h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &n));
  EXPECT_TRUE(rig.platform.deviceIoControl(h, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &n));
  EXPECT_EQ(rig.sys.umounts, 0);
  rig.platform.closeHandle(h);
}

TEST(LinuxVolumesTest, StackedVolumesLeadToTheirDisks) {
  struct Case {
    const char* name;
    std::vector<const char*> fixtures;
    const char* mountinfo;
    char letter;
    DeviceNumber expected;
  };
  const Case cases[] = {
      // sdc is drive 0, sdd 1, sde 2.
      {"DmOverOneDisk", {"virtio_scsi", "usb_storage", "uas", "dm_member"},
       "30 1 253:0 / /srv/one rw - ext4 /dev/mapper/vg-one rw\n31 1 253:1 / /srv/two rw - xfs /dev/mapper/vg-two rw\n",
       'D', {true, 0, 0, 0}},
      {"DmOverTwoDisks", {"virtio_scsi", "usb_storage", "uas", "dm_member"},
       "30 1 253:0 / /srv/one rw - ext4 /dev/mapper/vg-one rw\n31 1 253:1 / /srv/two rw - xfs /dev/mapper/vg-two rw\n",
       'E', {false, 0, 0, ERROR_INVALID_FUNCTION}},
      {"MdOverOneDisk", {"sata_ssd", "md_member"}, "30 1 9:127 / /srv/raid rw - ext4 /dev/md127 rw\n", 'D',
       {true, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSysCalls sys;
    for (const char* f : c.fixtures) sys.loadFixture(f);
    sys.addFile("/proc/self/mountinfo", c.mountinfo);
    LinuxPlatform platform(sys, sys.root());
    const DeviceNumber n = deviceNumber(platform, c.letter);
    EXPECT_EQ(n.ok, c.expected.ok);
    EXPECT_EQ(n.disk, c.expected.disk);
    EXPECT_EQ(n.partition, c.expected.partition);
    EXPECT_EQ(n.error, c.expected.error);
  }
}

}  // namespace
}  // namespace palvoro::real::test
