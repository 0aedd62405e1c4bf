#include "platform/linux/block_devices.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <regex>
#include <string_view>

namespace palvoro::real {
namespace {

[[nodiscard]] bool startsWith(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

template <typename T>
[[nodiscard]] bool parseNumber(const std::string& text, T& value, int base = 10) {
  const std::string t = trimmed(text);
  if (t.empty()) return false;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value, base);
  return error == std::errc() && end == t.data() + t.size();
}

std::string attribute(SysCalls& sys, const std::string& path) {
  auto text = sys.readText(path);
  return text ? trimmed(*text) : std::string();
}

template <typename T>
T numberAttribute(SysCalls& sys, const std::string& path, T fallback, int base = 10) {
  T value{};
  auto text = sys.readText(path);
  return text && parseNumber(*text, value, base) ? value : fallback;
}

void parseDevNumbers(const std::string& text, unsigned& major, unsigned& minor) {
  const std::string t = trimmed(text);
  const size_t colon = t.find(':');
  if (colon == std::string::npos) return;
  // Both or neither: half a device number would name another device.
  unsigned parsedMajor = 0;
  unsigned parsedMinor = 0;
  if (!parseNumber(t.substr(0, colon), parsedMajor) || !parseNumber(t.substr(colon + 1), parsedMinor)) return;
  major = parsedMajor;
  minor = parsedMinor;
}

// The SCSI peripheral device type of a disk's device, as the kernel writes it ("%d\n"):
// -1 without the attribute (NVMe, virtio-blk and mmc disks have no SCSI device), nothing
// for text no kernel writes. Signs, blanks, other bases and trailing bytes are refused
// rather than read past: "-16" must not pass for a type that is not one of the disks'.
[[nodiscard]] std::optional<int> scsiTypeAttribute(SysCalls& sys, const std::string& path) {
  const std::optional<std::string> text = sys.readText(path);
  if (!text) return -1;
  std::string_view digits = *text;
  if (!digits.empty() && digits.back() == '\n') digits.remove_suffix(1);
  // The type is five bits; three digits hold every value the attribute can have.
  if (digits.empty() || digits.size() > 3) return std::nullopt;
  int type = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    type = type * 10 + (c - '0');
  }
  return type;
}

[[nodiscard]] bool leftOutByName(const std::string& name) {
  for (const char* prefix : {"loop", "ram", "zram", "dm-", "md", "nbd", "sr", "fd"}) {
    if (startsWith(name, prefix)) return true;
  }
  return false;
}

// The serial number page of a SCSI disk, as the kernel cached it: a 4-byte header, then
// the text.
std::string serialFromVpdPage(const std::string& page) {
  if (page.size() < 4) return {};
  const size_t length = (static_cast<unsigned char>(page[2]) << 8) | static_cast<unsigned char>(page[3]);
  return trimmed(page.substr(4, std::min(length, page.size() - 4)));
}

// The USB interface ("2-1:1.0") on the way to the disk, and the USB device above it.
void readUsb(SysCalls& sys, const std::string& root, BlockDisk& disk) {
  static const std::regex interfaceName(R"(^\d+-[\d.]+:\d+\.\d+$)");
  std::string path;
  size_t at = 1;
  while (at <= disk.devicePath.size()) {
    const size_t end = disk.devicePath.find('/', at);
    const size_t stop = end == std::string::npos ? disk.devicePath.size() : end;
    const std::string component = disk.devicePath.substr(at, stop - at);
    const std::string parent = path;
    path += "/" + component;
    if (std::regex_match(component, interfaceName)) {
      disk.usbVendor = numberAttribute<uint16_t>(sys, root + parent + "/idVendor", 0, 16);
      disk.usbProduct = numberAttribute<uint16_t>(sys, root + parent + "/idProduct", 0, 16);
      if (auto driver = sys.readlink(root + path + "/driver")) {
        disk.usbDriver = driver->substr(driver->find_last_of('/') + 1);
      }
      return;
    }
    at = stop + 1;
  }
}

// "ata3" in the path: the port whose devices /sys/class/ata_device lists as dev3.M.
void readAtaDevice(SysCalls& sys, const std::string& root, BlockDisk& disk) {
  static const std::regex port(R"(/ata(\d+)/)");
  static const std::regex target(R"(/target\d+:\d+:(\d+)/)");
  std::smatch m;
  if (!std::regex_search(disk.devicePath, m, port)) return;
  const std::string number = m[1];
  std::string device = "0";
  std::smatch t;
  if (std::regex_search(disk.devicePath, t, target)) device = t[1];
  for (const std::string& candidate : {"/sys/class/ata_device/dev" + number + "." + device + "/id",
                                       "/sys/class/ata_device/dev" + number + ".0/id"}) {
    if (sys.readText(root + candidate)) {
      disk.ataIdentifyPath = candidate;
      return;
    }
  }
}

[[nodiscard]] bool pataPort(SysCalls& sys, const std::string& root, const std::string& devicePath) {
  static const std::regex host(R"(^(.*/host\d+)/)");
  std::smatch m;
  if (!std::regex_search(devicePath, m, host)) return false;
  const std::string base = m[1];
  const std::string hostName = base.substr(base.find_last_of('/') + 1);
  const std::string procName = attribute(sys, root + base + "/scsi_host/" + hostName + "/proc_name");
  return startsWith(procName, "pata_") || procName == "ata_piix";
}

void readPartitions(SysCalls& sys, const std::string& root, BlockDisk& disk) {
  const std::string base = root + "/sys/block/" + disk.name;
  auto entries = sys.listDirectory(base);
  if (!entries) return;
  std::sort(entries->begin(), entries->end());
  for (const std::string& entry : *entries) {
    if (!startsWith(entry, disk.name) || !sys.readText(base + "/" + entry + "/partition")) continue;
    Partition p;
    p.name = entry;
    p.number = numberAttribute<uint32_t>(sys, base + "/" + entry + "/partition", 0);
    p.start = numberAttribute<uint64_t>(sys, base + "/" + entry + "/start", 0);
    p.size = numberAttribute<uint64_t>(sys, base + "/" + entry + "/size", 0);
    if (auto dev = sys.readText(base + "/" + entry + "/dev")) parseDevNumbers(*dev, p.major, p.minor);
    if (auto holders = sys.listDirectory(base + "/" + entry + "/holders")) p.holders = *holders;
    disk.partitions.push_back(std::move(p));
  }
  std::sort(disk.partitions.begin(), disk.partitions.end(),
            [](const Partition& a, const Partition& b) { return a.number < b.number; });
}

}  // namespace

std::string trimmed(std::string text) {
  const auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\0'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

std::optional<uint64_t> decimalAttribute(SysCalls& sys, const std::string& path) {
  uint64_t value = 0;
  const std::optional<std::string> text = sys.readText(path);
  if (!text || !parseNumber(*text, value)) return std::nullopt;
  return value;
}

DiskBus busFromDevicePath(const std::string& p, bool pata) {
  const auto has = [&](const char* part) { return p.find(part) != std::string::npos; };
  static const std::regex ataPort(R"(/ata\d+/)");
  if (has("/usb")) return DiskBus::Usb;
  if (std::regex_search(p, ataPort)) return pata ? DiskBus::Pata : DiskBus::Sata;
  if (has("/nvme")) return DiskBus::Nvme;
  if (has("/mmc")) return DiskBus::Mmc;
  if (has("/fw") || has("firewire")) return DiskBus::FireWire;
  if (has("/rport-")) return DiskBus::Fibre;
  if (has("/session")) return DiskBus::Iscsi;
  if (has("/end_device-") || has("/sas_")) return DiskBus::Sas;
  if (has("/host")) return DiskBus::Scsi;
  if (has("/virtio")) return DiskBus::Virtio;
  return DiskBus::Unknown;
}

std::string blockDevicesFingerprint(SysCalls& sys, const std::string& root) {
  auto names = sys.listDirectory(root + "/sys/block");
  if (!names) return {};
  std::sort(names->begin(), names->end());
  std::string fingerprint;
  for (const std::string& name : *names) {
    const std::string base = root + "/sys/block/" + name;
    auto seq = sys.readText(base + "/diskseq");
    if (!seq) seq = sys.readText(base + "/dev");
    fingerprint += name + "=" + (seq ? trimmed(*seq) : std::string("?")) + ";";
  }
  return fingerprint;
}

std::vector<BlockDisk> scanBlockDisks(SysCalls& sys, const std::string& root) {
  std::vector<BlockDisk> disks;
  auto names = sys.listDirectory(root + "/sys/block");
  if (!names) return disks;
  std::sort(names->begin(), names->end());
  for (const std::string& name : *names) {
    if (leftOutByName(name)) continue;
    const std::string base = root + "/sys/block/" + name;
    auto device = sys.realPath(base + "/device");
    if (!device) continue;
    BlockDisk disk;
    disk.name = name;
    disk.devicePath = device->compare(0, root.size(), root) == 0 ? device->substr(root.size()) : *device;
    // Only disks (0), reduced-command disks (0Eh) and disks without a SCSI device are
    // drives; optical drives, tapes, enclosures and a type that does not read never get a
    // command.
    const std::optional<int> type = scsiTypeAttribute(sys, base + "/device/type");
    if (!type || (*type != -1 && *type != 0 && *type != 0x0E)) continue;
    disk.scsiType = *type;
    disk.diskseq = numberAttribute<uint64_t>(sys, base + "/diskseq", 0);
    if (auto dev = sys.readText(base + "/dev")) parseDevNumbers(*dev, disk.major, disk.minor);
    disk.removable = numberAttribute<int>(sys, base + "/removable", 0) != 0;
    disk.size512 = numberAttribute<uint64_t>(sys, base + "/size", 0);
    disk.logicalBlockSize = numberAttribute<uint32_t>(sys, base + "/queue/logical_block_size", 512);
    if (disk.logicalBlockSize == 0) disk.logicalBlockSize = 512;
    // A virtio device's vendor attribute is its PCI vendor number, not a name.
    if (disk.devicePath.find("/virtio") == std::string::npos || disk.devicePath.find("/host") != std::string::npos) {
      disk.vendor = attribute(sys, base + "/device/vendor");
    }
    disk.model = attribute(sys, base + "/device/model");
    if (disk.model.empty()) disk.model = attribute(sys, base + "/device/name");  // mmc
    disk.firmware = attribute(sys, base + "/device/rev");
    if (disk.firmware.empty()) disk.firmware = attribute(sys, base + "/device/firmware_rev");  // nvme
    if (disk.firmware.empty()) disk.firmware = attribute(sys, base + "/device/fwrev");         // mmc
    disk.serial = attribute(sys, base + "/device/serial");
    if (disk.serial.empty()) disk.serial = attribute(sys, base + "/serial");  // virtio-blk
    if (disk.serial.empty()) {
      if (auto page = sys.readText(base + "/device/vpd_pg80")) disk.serial = serialFromVpdPage(*page);
    }
    disk.scsiCommands = disk.scsiType >= 0;
    disk.bus = busFromDevicePath(disk.devicePath, disk.devicePath.find("/ata") != std::string::npos &&
                                                      pataPort(sys, root, disk.devicePath));
    disk.libata = (disk.bus == DiskBus::Sata || disk.bus == DiskBus::Pata) && disk.vendor == "ATA";
    if (disk.libata) readAtaDevice(sys, root, disk);
    if (disk.bus == DiskBus::Usb) readUsb(sys, root, disk);
    readPartitions(sys, root, disk);
    if (auto holders = sys.listDirectory(base + "/holders")) disk.holders = *holders;
    // Without a sequence number (kernels before 5.15) the name, the device numbers, the
    // attachment path and the identity together stand in for it: twin drives with one
    // serial number plugged in turn at one name differ at least in their USB or SCSI host.
    disk.key = disk.diskseq != 0 ? "seq:" + std::to_string(disk.diskseq)
                                 : "dev:" + name + ":" + std::to_string(disk.major) + ":" +
                                       std::to_string(disk.minor) + ":" + disk.devicePath + ":" + disk.model + ":" +
                                       disk.serial;
    disks.push_back(std::move(disk));
  }
  return disks;
}

int DiskNumbering::numberFor(const std::string& key) {
  auto [it, inserted] = m_numbers.try_emplace(key, m_next);
  if (inserted) ++m_next;
  return it->second;
}

}  // namespace palvoro::real
