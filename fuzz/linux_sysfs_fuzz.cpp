// sysfs attributes as any bytes: the lab's SATA, USB and NVMe trees with every attribute
// the scan reads taken from the input (fields separated by 1Eh), scanned, then each disk
// opened and asked for its identity and capacity the way detection asks.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fake_sys_calls.h"
#include "fuzz_check.h"
#include "platform/ioctl_codes.h"
#include "platform/linux/block_devices.h"
#include "platform/linux/linux_platform.h"
#include "platform/records.h"

namespace {

const char* const kSata = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
const char* const kUsbIf = "/sys/devices/pci0000:00/0000:00:01.0/usb2/2-1/2-1:1.0";
const char* const kUsb = "/sys/devices/pci0000:00/0000:00:01.0/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0";
const char* const kNvme = "/sys/devices/pci0000:00/0000:00:03.0/nvme/nvme0";

std::vector<std::string> attributePaths() {
  std::vector<std::string> paths;
  for (const std::string& dev : {std::string(kSata), std::string(kUsb)}) {
    const std::string block = dev + (dev == kSata ? "/block/sda" : "/block/sdd");
    for (const char* a : {"/dev", "/diskseq", "/size", "/removable", "/queue/logical_block_size"}) paths.push_back(block + a);
    for (const char* a : {"/type", "/vendor", "/model", "/rev", "/vpd_pg80"}) paths.push_back(dev + a);
    const std::string part = block + (dev == kSata ? "/sda1" : "/sdd1");
    for (const char* a : {"/partition", "/start", "/size", "/dev"}) paths.push_back(part + a);
  }
  paths.push_back("/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/scsi_host/host0/proc_name");
  paths.push_back("/sys/devices/pci0000:00/0000:00:01.0/usb2/2-1/idVendor");
  paths.push_back("/sys/devices/pci0000:00/0000:00:01.0/usb2/2-1/idProduct");
  for (const char* a : {"/model", "/serial", "/firmware_rev"}) paths.push_back(std::string(kNvme) + a);
  paths.push_back("/sys/devices/pci0000:00/0000:00:03.0/nvme/nvme0/nvme0n1/queue/logical_block_size");
  paths.push_back("/sys/devices/pci0000:00/0000:00:03.0/nvme/nvme0/nvme0n1/size");
  return paths;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  static const std::vector<std::string> paths = attributePaths();
  real::test::FakeSysCalls sys;
  sys.loadFixture("sata_ahci");
  sys.loadFixture("usb_storage");
  sys.loadFixture("nvme");
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0x1E) fields.emplace_back();
    else fields.back().push_back(static_cast<char>(data[i]));
  }
  for (size_t i = 0; i < fields.size() && i < paths.size(); ++i) sys.addFile(paths[i], fields[i]);
  // One more field names the USB interface's driver, wherever its link points.
  if (fields.size() > paths.size()) sys.addLink(std::string(kUsbIf) + "/driver", fields[paths.size()]);

  const std::vector<real::BlockDisk> disks = real::scanBlockDisks(sys, sys.root());
  fuzz::check(disks.size() <= 3, "no disk the tree does not have");
  for (const real::BlockDisk& d : disks) {
    fuzz::check(d.logicalBlockSize != 0, "a sector size to divide by");
    fuzz::check(d.scsiType == -1 || d.scsiType == 0 || d.scsiType == 0x0E, "only disks are drives");
    for (size_t i = 1; i < d.partitions.size(); ++i) {
      fuzz::check(d.partitions[i - 1].number <= d.partitions[i].number, "partitions in order");
    }
  }
  real::LinuxPlatform platform(sys, sys.root());
  for (int n = 0; n < 3; ++n) {
    const Handle h = platform.createFile("\\\\.\\PhysicalDrive" + std::to_string(n), GENERIC_READ | GENERIC_WRITE,
                                         3, OPEN_EXISTING, 0);
    if (h == INVALID_HANDLE_VALUE) continue;
    for (const std::vector<uint8_t>& cdb : std::vector<std::vector<uint8_t>>{
             {0x12, 0, 0, 0, 36, 0}, {0x12, 1, 0x80, 0, 255, 0}, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
             {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}}) {
      uint8_t request[sizeof(SCSI_PASS_THROUGH) + 4 + 32 + 255] = {};
      SCSI_PASS_THROUGH spt{};
      spt.Length = sizeof spt;
      spt.CdbLength = static_cast<uint8_t>(cdb.size());
      spt.SenseInfoLength = 32;
      spt.DataIn = SCSI_IOCTL_DATA_IN;
      spt.DataTransferLength = 255;
      spt.TimeOutValue = 20;
      spt.SenseInfoOffset = sizeof spt + 4;
      spt.DataBufferOffset = sizeof spt + 4 + 32;
      std::memcpy(spt.Cdb, cdb.data(), cdb.size());
      std::memcpy(request, &spt, sizeof spt);
      uint32_t returned = 0;
      if (platform.deviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, request, sizeof request, request, sizeof request,
                                   &returned)) {
        fuzz::check(returned <= sizeof request, "the reply fits the request");
      }
    }
    platform.closeHandle(h);
  }
  return 0;
}
