#pragma once
// The whole disks of this computer as sysfs shows them, and the numbers they are given.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/sys_calls.h"

namespace palvoro::real {

enum class DiskBus { Unknown, Sata, Pata, Usb, Scsi, Sas, Fibre, Iscsi, FireWire, Nvme, Mmc, Virtio };

struct Partition {
  std::string name;  // "sda1"
  unsigned major = 0;
  unsigned minor = 0;
  uint32_t number = 0;
  uint64_t start = 0;  // in 512-byte units, as sysfs counts
  uint64_t size = 0;
  std::vector<std::string> holders;  // dm-0, md127: what is stacked on the partition
};

struct BlockDisk {
  std::string name;  // "sda"
  uint64_t diskseq = 0;
  std::string key;  // what keeps the disk's number: the sequence, or what stands in for it
  unsigned major = 0;
  unsigned minor = 0;
  std::string devicePath;  // the resolved device link, without the root prefix
  DiskBus bus = DiskBus::Unknown;
  bool removable = false;
  bool libata = false;      // a SATA or PATA drive behind libata's SCSI/ATA translation
  bool scsiCommands = false;  // a SCSI disk (sd): SG_IO reaches it
  int scsiType = -1;          // device/type, -1 when there is none
  std::string vendor;
  std::string model;
  std::string serial;
  std::string firmware;
  uint64_t size512 = 0;            // /sys/block/X/size, always in 512-byte units
  uint32_t logicalBlockSize = 512;
  std::string ataIdentifyPath;  // /sys/class/ata_device/devN.M/id, without the root prefix
  uint16_t usbVendor = 0;
  uint16_t usbProduct = 0;
  std::string usbDriver;  // the USB interface's driver: "usb-storage", "uas"
  std::vector<Partition> partitions;
  std::vector<std::string> holders;
};

// The disks under root + /sys/block that are physical drives: loop, ram, zram, dm, md,
// nbd and optical drives are left out, as is every SCSI device other than a disk or a
// reduced-command disk. In the order of their names.
std::vector<BlockDisk> scanBlockDisks(SysCalls& sys, const std::string& root);

// What changes whenever a disk comes, goes or is replaced: the names under /sys/block
// with the sequence number (or, before sequence numbers, the device numbers) of each. Two
// equal fingerprints mean the scan would find the same disks; taking one costs a folder
// listing and one small read per name instead of a whole scan.
std::string blockDevicesFingerprint(SysCalls& sys, const std::string& root);

// Where the resolved device path says a disk is attached. `pata` tells a parallel ATA
// port from a serial one when the path is on libata.
DiskBus busFromDevicePath(const std::string& devicePath, bool pata);

// A sysfs attribute as text: the trailing newline and the padding blanks removed.
std::string trimmed(std::string text);
// A sysfs attribute holding one unsigned decimal number ("128\n"), or nothing when it is
// missing or holds anything else.
std::optional<uint64_t> decimalAttribute(SysCalls& sys, const std::string& path);

// Numbers handed out in order of first appearance, kept for the process: a disk that goes
// away keeps its number unused, and a new disk under an old name gets a new one.
class DiskNumbering {
 public:
  int numberFor(const std::string& key);

 private:
  std::map<std::string, int> m_numbers;
  int m_next = 0;
};

}  // namespace palvoro::real
