// The sysfs scan over the trees captured in the lab: which block devices are drives, on
// which bus, through which driver, with what identity, partitions and holders; and the
// numbers they keep across a removal and a re-plug.

#include "platform/linux/block_devices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "linux_rig.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"

namespace palvoro::real::test {
namespace {

struct DiskCase {
  const char* name;
  DiskBus bus;
  bool libata;
  bool scsiCommands;
  const char* usbDriver;
  uint16_t usbVendor, usbProduct;
  const char* vendor;
  const char* model;
  const char* serial;
  const char* firmware;
  uint64_t size512;
  uint64_t diskseq;
  const char* partitions;  // "name start+size holders;" each
  const char* holders;
};

std::string partitionsOf(const BlockDisk& d) {
  std::string out;
  for (const Partition& p : d.partitions) {
    out += p.name + " " + std::to_string(p.number) + "@" + std::to_string(p.start) + "+" + std::to_string(p.size) +
           " " + std::to_string(p.major) + ":" + std::to_string(p.minor);
    for (const std::string& h : p.holders) out += " " + h;
    out += ";";
  }
  return out;
}

TEST(LinuxBlockDevicesTest, EveryLabDeviceScans) {
  FakeSysCalls sys;
  for (const char* f : {"sata_ahci", "sata_ssd", "virtio_scsi", "usb_storage", "uas", "nvme", "virtio_blk",
                        "md_member", "dm_member"}) {
    sys.loadFixture(f);
  }
  // A loop and a zram device, given a device link so that only their names leave them out.
  for (const char* name : {"loop0", "zram0"}) {
    sys.addLink(std::string("/sys/block/") + name, std::string("../devices/virtual/block/") + name);
    sys.addLink(std::string("/sys/devices/virtual/block/") + name + "/device", "../../../platform/x");
    sys.addFile("/sys/devices/platform/x/type", "0\n");
  }
  const DiskCase cases[] = {
      {"nvme0n1", DiskBus::Nvme, false, false, "", 0, 0, "", "QEMU NVMe Ctrl", "LABNVME0000006", "7.2.22", 524288, 8,
       "", ""},
      {"sda", DiskBus::Sata, true, true, "", 0, 0, "ATA", "LAB SATA HDD 1G", "LABSATA0000001", "0", 2097152, 1,
       "sda1 1@2048+1048576 8:1;sda2 2@1050624+1044480 8:2;", ""},
      {"sdb", DiskBus::Sata, true, true, "", 0, 0, "ATA", "LAB SATA SSD 256", "LABSATA0000002", "0", 524288, 2, "",
       "md127"},
      {"sdc", DiskBus::Scsi, false, true, "", 0, 0, "LABSCSI", "SCSI DISK 256M", "LABSCSI0000005", "L105", 524288, 3,
       "", "dm-0"},
      // The kernel reads no VPD pages of a bulk-only disk: no serial in sysfs.
      {"sdd", DiskBus::Usb, false, true, "usb-storage", 0x46F4, 0x0001, "QEMU", "QEMU HARDDISK", "", "2.5+", 524288,
       6, "sdd1 1@2048+522240 8:49 dm-1;", ""},
      {"sde", DiskBus::Usb, false, true, "uas", 0x46F4, 0x0003, "LABUAS", "UAS DISK 128M", "LABUAS0000004", "2.5+",
       262144, 7, "", "dm-1"},
      // The virtio device's vendor attribute is a PCI id, not a name.
      {"vda", DiskBus::Virtio, false, false, "", 0, 0, "", "", "LABVBLK0000007", "", 131072, 9, "", ""},
  };
  const std::vector<BlockDisk> disks = scanBlockDisks(sys, sys.root());
  std::string names;
  for (const BlockDisk& d : disks) names += d.name + " ";
  // sr0 (SCSI type 5), md127, dm-0, dm-1, loop0 and zram0 are left out.
  ASSERT_EQ(names, "nvme0n1 sda sdb sdc sdd sde vda ");
  for (size_t i = 0; i < disks.size(); ++i) {
    const BlockDisk& d = disks[i];
    const DiskCase& c = cases[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(d.bus, c.bus);
    EXPECT_EQ(d.libata, c.libata);
    EXPECT_EQ(d.scsiCommands, c.scsiCommands);
    EXPECT_EQ(d.usbDriver, c.usbDriver);
    EXPECT_EQ(d.usbVendor, c.usbVendor);
    EXPECT_EQ(d.usbProduct, c.usbProduct);
    EXPECT_EQ(d.vendor, c.vendor);
    EXPECT_EQ(d.model, c.model);
    EXPECT_EQ(d.serial, c.serial);
    EXPECT_EQ(d.firmware, c.firmware);
    EXPECT_EQ(d.size512, c.size512);
    EXPECT_EQ(d.diskseq, c.diskseq);
    EXPECT_EQ(d.key, "seq:" + std::to_string(c.diskseq));
    EXPECT_EQ(partitionsOf(d), c.partitions);
    std::string holders;
    for (const std::string& h : d.holders) holders += h;
    EXPECT_EQ(holders, c.holders);
  }
  EXPECT_EQ(disks[1].ataIdentifyPath, "/sys/class/ata_device/dev1.0/id");
  EXPECT_EQ(disks[2].ataIdentifyPath, "/sys/class/ata_device/dev2.0/id");
}

TEST(LinuxBlockDevicesTest, BusFromTheDevicePath) {
  struct Case {
    const char* path;
    bool pata;
    DiskBus bus;
  };
  const Case cases[] = {
      {"/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", false, DiskBus::Sata},
      {"/sys/devices/pci0000:00/0000:00:01.1/ata2/host1/target1:0:0/1:0:0:0", true, DiskBus::Pata},
      // A SATA disk in a USB enclosure: the USB path wins over anything below it.
      {"/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0", false, DiskBus::Usb},
      {"/sys/devices/pci0000:00/0000:00:03.0/nvme/nvme0", false, DiskBus::Nvme},
      {"/sys/devices/pci0000:00/0000:00:1c.0/mmc_host/mmc0/mmc0:0001", false, DiskBus::Mmc},
      {"/sys/devices/pci0000:00/0000:00:02.0/host2/rport-2:0-0/target2:0:0/2:0:0:0", false, DiskBus::Fibre},
      {"/sys/devices/platform/host3/session1/target3:0:0/3:0:0:0", false, DiskBus::Iscsi},
      {"/sys/devices/pci0000:00/0000:00:05.0/host4/port-4:0/end_device-4:0/target4:0:0/4:0:0:0", false,
       DiskBus::Sas},
      {"/sys/devices/pci0000:00/0000:00:02.0/virtio0/host6/target6:0:0/6:0:0:0", false, DiskBus::Scsi},
      {"/sys/devices/pci0000:00/0000:00:04.0/virtio1", false, DiskBus::Virtio},
      {"/sys/devices/platform/something", false, DiskBus::Unknown},
  };
  for (const Case& c : cases) EXPECT_EQ(busFromDevicePath(c.path, c.pata), c.bus) << c.path;
}

// The SCSI disk's type attribute, as the kernel writes it and as it could read: only a
// disk or a reduced-command disk, in plain decimal, makes a drive; without the attribute
// the disk is one that takes no SCSI commands.
TEST(LinuxBlockDevicesTest, OnlyTheDisksTypesMakeDrives) {
  struct Case {
    const char* type;  // nullptr: no attribute
    int expected;      // the disk's scsiType; -2: no drive
  };
  const Case cases[] = {
      {"0\n", 0},  {"14\n", 14}, {"0", 0},    {nullptr, -1},  {"5\n", -2},    {"1\n", -2},   {"-16\n", -2},
      {"-1\n", -2}, {"", -2},     {"\n", -2},  {"0x", -2},     {"0x0e\n", -2}, {"12abc", -2}, {"14abc\n", -2},
      {" 0\n", -2}, {"+0\n", -2}, {"0\n\n", -2}, {"0 \n", -2}, {"0000\n", -2}, {"270\n", -2},
  };
  const std::string typePath = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/type";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type == nullptr ? "no attribute" : "\"" + std::string(c.type) + "\"");
    FakeSysCalls sys;
    sys.loadFixture("sata_ahci");
    if (c.type == nullptr) {
      sys.remove(typePath);
    } else {
      sys.addFile(typePath, c.type);
    }
    const std::vector<BlockDisk> disks = scanBlockDisks(sys, sys.root());
    if (c.expected == -2) {
      EXPECT_TRUE(disks.empty());
      continue;
    }
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0].scsiType, c.expected);
    EXPECT_EQ(disks[0].scsiCommands, c.expected >= 0);
  }
}

TEST(LinuxBlockDevicesTest, PataPortByItsDriverName) {
  Rig rig({"sata_ahci"});
  rig.sys.addFile("/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/scsi_host/host0/proc_name", "ata_piix\n");
  EXPECT_EQ(rig.platform.disks().at(0).bus, DiskBus::Pata);
}

// sda is drive 0 and the USB disk sdd drive 1. The USB disk is pulled and a new one
// plugged in under the same name: it is another disk, with a number and a GUID (its
// sequence number) of its own.
TEST(LinuxBlockDevicesTest, ReplugUnderAnOldNameGetsANewNumber) {
  Rig rig({"sata_ahci", "usb_storage"});
  EXPECT_EQ(rig.platform.physicalDriveNumbers(), (std::vector<int>{0, 1}));
  const Handle before = rig.open(1);
  ASSERT_NE(before, INVALID_HANDLE_VALUE);
  uint8_t* sector = static_cast<uint8_t*>(std::aligned_alloc(4096, 4096));
  uint32_t n = 0;
  ASSERT_TRUE(rig.platform.readFile(before, sector, 512, &n));
  STORAGE_DEVICE_NUMBER_EX first{};
  uint32_t returned = 0;
  ASSERT_TRUE(rig.platform.deviceIoControl(before, IOCTL_STORAGE_GET_DEVICE_NUMBER_EX, nullptr, 0, &first,
                                           sizeof first, &returned));
  EXPECT_EQ(returned, sizeof first);
  EXPECT_EQ(first.Size, sizeof first);
  EXPECT_EQ(first.DeviceNumber, 1u);

  // Every path here is a node of the fake tree, under FakeSysCalls' root.
  rig.sys.remove("/sys/block/sdd");
  rig.sys.remove("/sys/devices/pci0000:00/0000:00:01.0/usb2/2-1");
  rig.sys.remove(fakeNode("sdd"));
  ASSERT_EQ(rig.platform.disks().size(), 1u);
  EXPECT_EQ(rig.platform.physicalDriveNumbers(), (std::vector<int>{0}));
  rig.sys.loadFixture("usb_storage");
  rig.sys.addFile("/sys/devices/pci0000:00/0000:00:01.0/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0/block/sdd/diskseq",
                  "10\n");
  rig.sys.addDevice(fakeNode("sdd"), DeviceNode{268435456, 512, 10, true});

  EXPECT_FALSE(rig.platform.readFile(before, sector, 512, &n));
  EXPECT_EQ(rig.platform.lastError(), ERROR_DEVICE_NOT_CONNECTED);
  uint8_t number[12] = {};
  EXPECT_FALSE(rig.platform.deviceIoControl(before, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, number,
                                            sizeof number, &returned));
  EXPECT_EQ(rig.platform.lastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(rig.open(1), INVALID_HANDLE_VALUE) << "an old number is never reused";
  // Detection probes what is listed, so the gap costs nothing and drive 2 is found.
  EXPECT_EQ(rig.platform.physicalDriveNumbers(), (std::vector<int>{0, 2}));
  const Handle after = rig.open(2);
  ASSERT_NE(after, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(rig.platform.readFile(after, sector, 512, &n));
  STORAGE_DEVICE_NUMBER_EX second{};
  ASSERT_TRUE(rig.platform.deviceIoControl(after, IOCTL_STORAGE_GET_DEVICE_NUMBER_EX, nullptr, 0, &second,
                                           sizeof second, &returned));
  uint64_t sequence = 0;
  std::memcpy(&sequence, second.DeviceGuid, sizeof sequence);
  EXPECT_EQ(sequence, 10u);
  EXPECT_NE(std::memcmp(first.DeviceGuid, second.DeviceGuid, sizeof first.DeviceGuid), 0);
  EXPECT_NE(rig.open(0), INVALID_HANDLE_VALUE) << "the disk that stayed keeps its number";
  std::free(sector);
}

}  // namespace
}  // namespace palvoro::real::test
