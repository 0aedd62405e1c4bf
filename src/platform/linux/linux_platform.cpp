#include "platform/linux/linux_platform.h"

#include <fcntl.h>
#include <linux/fs.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/device_names.h"
#include "platform/host_files.h"
#include "platform/ioctl_codes.h"
#include "platform/linux/nvme_admin.h"
#include "platform/linux/sg_io.h"
#include "platform/records.h"
#include "protocol/ata_registers.h"
#include "protocol/byte_order.h"
#include "protocol/scsi_cdb.h"
#include "protocol/sense.h"

#ifndef BLKGETDISKSEQ
#define BLKGETDISKSEQ _IOR(0x12, 128, __u64)
#endif

namespace palvoro::real {
namespace {

constexpr uint32_t kSptSize = sizeof(SCSI_PASS_THROUGH);
constexpr uint32_t kAtaHeaderSize = sizeof(ATA_PASS_THROUGH_EX);
constexpr uint32_t kSrbSize = sizeof(SRB_IO_CONTROL);
constexpr uint32_t kBlockBytes = 512;
constexpr uint32_t kVersionSize = sizeof(GETVERSIONINPARAMS);
constexpr uint32_t kAdapterDescriptorSize = 32;
constexpr uint32_t kAdapterHeaderSize = 8;
constexpr uint32_t kFileDeviceDisk = 0x07;
constexpr uint16_t kKnownAtaFlags = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_IN | ATA_FLAGS_DATA_OUT |
                                    ATA_FLAGS_48BIT_COMMAND | ATA_FLAGS_USE_DMA | ATA_FLAGS_NO_MULTIPLE;
constexpr uint32_t kSmartCapabilities = 0x7;  // ATA IDENTIFY, ATAPI IDENTIFY and SMART commands

// Windows storage bus types.
uint8_t windowsBusType(DiskBus bus) {
  switch (bus) {
    case DiskBus::Scsi: return 0x01;
    case DiskBus::Pata: return 0x03;
    case DiskBus::FireWire: return 0x04;
    case DiskBus::Fibre: return 0x06;
    case DiskBus::Usb: return 0x07;
    case DiskBus::Iscsi: return 0x09;
    case DiskBus::Sas: return 0x0A;
    case DiskBus::Sata: return 0x0B;
    case DiskBus::Mmc: return 0x0D;
    case DiskBus::Virtio: return 0x0E;
    case DiskBus::Nvme: return 0x11;
    case DiskBus::Unknown: return 0x00;
  }
  return 0x00;
}

char rootLetter(const std::string& root) {
  if (root.size() >= 2 && root[1] == ':' && std::isalpha(static_cast<unsigned char>(root[0]))) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
  }
  return 0;
}

// Mount points whose loss would take the running system with it.
[[nodiscard]] bool systemMountPoint(const std::string& mountPoint) {
  for (const char* system : {"/", "/usr", "/boot", "/boot/efi", "/var", "/home", "/etc", "/opt"}) {
    if (mountPoint == system) return true;
  }
  return false;
}

// The file system name as Windows spells those it knows.
std::string windowsFileSystem(const std::string& type) {
  if (type == "vfat" || type == "msdos") return "FAT32";
  if (type == "exfat") return "exFAT";
  if (type == "ntfs" || type == "ntfs3") return "NTFS";
  return type;
}

// A mount point as a screen may show it: a stick's label becomes part of its mount point
// under /media, and a control character or a broken UTF-8 sequence there must not reach a
// terminal or a JSON document. Each such byte becomes '?'.
std::string shownMountPoint(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80             ? 1
                    : (lead & 0xE0) == 0xC0 ? 2
                    : (lead & 0xF0) == 0xE0 ? 3
                    : (lead & 0xF8) == 0xF0 ? 4
                                            : 0;
    bool whole = length != 0 && i + length <= text.size() && !(length == 2 && lead < 0xC2);
    for (size_t k = 1; whole && k < length; ++k) whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (!whole || (length == 1 && (lead < 0x20 || lead == 0x7F))) {
      out += '?';
      ++i;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

std::string padded(const std::string& text, size_t width) {
  std::string out = text.substr(0, std::min(text.size(), width));
  out.resize(width, ' ');
  return out;
}

// Fixed-format sense data for a command the emulated disk refuses or fails.
std::vector<uint8_t> fixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  std::vector<uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[2] = key;
  sense[7] = 10;
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

// What a disk without a SCSI command channel answers, from sysfs, as the Windows disk
// stack answers for such a disk: INQUIRY with the serial number page, READ CAPACITY, TEST
// UNIT READY; everything else is an illegal request.
struct EmulatedReply {
  uint8_t status = 0;
  std::vector<uint8_t> data;
  std::vector<uint8_t> sense;
};

EmulatedReply emulateScsi(const BlockDisk& disk, const uint8_t* cdb, uint8_t cdbLength) {
  EmulatedReply reply;
  const auto illegal = [&](uint8_t asc) {
    reply.status = 0x02;
    reply.sense = fixedSense(kIllegalRequest, asc, 0x00);
    return reply;
  };
  const uint64_t blocks = disk.size512 * 512 / disk.logicalBlockSize;
  switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
      return reply;
    case kScsiInquiry: {
      if (cdbLength < 6) return illegal(0x24);
      const bool vital = (cdb[1] & 0x01) != 0;
      if (!vital) {
        if (cdb[2] != 0) return illegal(0x24);
        std::vector<uint8_t> data(36, 0);
        data[0] = 0x00;
        data[1] = disk.removable ? 0x80 : 0x00;
        data[2] = 0x05;
        data[3] = 0x02;
        data[4] = 31;
        std::string vendor = disk.vendor;
        std::string model = disk.model;
        // A model without a vendor field (NVMe, mmc) is split where SCSI would have it: its
        // first word, when short enough, as the vendor; joined again, they read as the model.
        const size_t blank = model.find(' ');
        if (vendor.empty() && blank != std::string::npos && blank > 0 && blank <= 8) {
          vendor = model.substr(0, blank);
          model = model.substr(blank + 1);
        }
        if (disk.bus == DiskBus::Virtio) {
          if (vendor.empty()) vendor = "VirtIO";
          if (model.empty()) model = "Block Device";
        }
        const std::string text = padded(vendor, 8) + padded(model, 16) +
                                 padded(disk.firmware.size() > 4 ? disk.firmware.substr(disk.firmware.size() - 4)
                                                                 : disk.firmware,
                                        4);
        std::memcpy(data.data() + 8, text.data(), text.size());
        reply.data = std::move(data);
        return reply;
      }
      if (cdb[2] == 0x00) {
        reply.data = {0x00, 0x00, 0x00, 0x02, 0x00, 0x80};
        return reply;
      }
      if (cdb[2] == 0x80) {
        const std::string serial = disk.serial.substr(0, std::min<size_t>(disk.serial.size(), 250));
        reply.data = {0x00, 0x80, 0x00, static_cast<uint8_t>(serial.size())};
        reply.data.insert(reply.data.end(), serial.begin(), serial.end());
        return reply;
      }
      return illegal(0x24);
    }
    case kScsiReadCapacity10: {
      reply.data.assign(8, 0);
      const uint64_t last = blocks == 0 ? 0 : blocks - 1;
      storeBe32(reply.data.data(), static_cast<uint32_t>(std::min<uint64_t>(last, 0xFFFFFFFFu)));
      storeBe32(reply.data.data() + 4, disk.logicalBlockSize);
      return reply;
    }
    case kScsiServiceActionIn16:  // READ CAPACITY (16)
      if (cdbLength < 16 || (cdb[1] & 0x1F) != kScsiReadCapacity16Action) return illegal(0x20);
      reply.data.assign(32, 0);
      storeBe64(reply.data.data(), blocks == 0 ? 0 : blocks - 1);
      storeBe32(reply.data.data() + 8, disk.logicalBlockSize);
      return reply;
    default:
      return illegal(0x20);
  }
}

constexpr uint8_t kExecuteDeviceDiagnostic = 0x90;

// The 256 words of /sys/class/ata_device/devN.M/id ("%04x" each, eight to a line) as the
// 512 bytes IDENTIFY DEVICE returns.
[[nodiscard]] bool identifyFromText(const std::string& text, uint8_t* out) {
  size_t word = 0;
  size_t at = 0;
  while (at < text.size() && word < 256) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (at >= text.size()) break;
    size_t end = at;
    while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
    if (end - at != 4) return false;
    const auto value = static_cast<uint16_t>(std::strtoul(text.substr(at, 4).c_str(), nullptr, 16));
    out[2 * word] = static_cast<uint8_t>(value & 0xFF);
    out[2 * word + 1] = static_cast<uint8_t>(value >> 8);
    ++word;
    at = end;
  }
  return word == 256;
}

}  // namespace

LinuxPlatform::LinuxPlatform(SysCalls& sys, std::string root, RingMaker rings)
    : m_sys(sys), m_root(std::move(root)), m_rings(std::move(rings)) {}

LinuxPlatform::~LinuxPlatform() {
  for (auto& [handle, entry] : m_handles) {
    if (entry.kind == OpenHandle::Kind::File) HostFiles::close(entry.fd);
    if (entry.kind == OpenHandle::Kind::Disk) {
      if (entry.fd >= 0) m_sys.close(entry.fd);
      if (entry.directFd >= 0) m_sys.close(entry.directFd);
    }
  }
}

bool LinuxPlatform::fail(uint32_t error) const {
  setLastError(error);
  return false;
}

void LinuxPlatform::rescan(bool force) {
  // Detection opens every drive number, and each request asks whether its disk is still
  // there: a whole scan each time would cost more than the requests themselves.
  std::string fingerprint = blockDevicesFingerprint(m_sys, m_root);
  if (!force && !fingerprint.empty() && fingerprint == m_fingerprint) return;
  m_fingerprint = std::move(fingerprint);
  m_disks = scanBlockDisks(m_sys, m_root);
  m_diskNumbers.clear();
  for (const BlockDisk& disk : m_disks) m_diskNumbers.push_back(m_numbering.numberFor(disk.key));
}

std::vector<BlockDisk> LinuxPlatform::disks() {
  std::lock_guard lock(m_mutex);
  rescan();
  return m_disks;
}

const BlockDisk* LinuxPlatform::diskByNumber(int number) const {
  for (size_t i = 0; i < m_disks.size(); ++i) {
    if (m_diskNumbers[i] == number) return &m_disks[i];
  }
  return nullptr;
}

const BlockDisk* LinuxPlatform::diskOf(const OpenHandle& h) const {
  const BlockDisk* disk = diskByNumber(h.number);
  return disk != nullptr && disk->key == h.key ? disk : nullptr;
}

Privilege LinuxPlatform::privilege() {
  if (m_sys.effectiveUid() == 0) return Privilege::Administrator;
  constexpr int64_t kSysRawio = int64_t{1} << 17;
  constexpr int64_t kSysAdmin = int64_t{1} << 21;
  const int64_t caps = m_sys.effectiveCapabilities();
  if (caps >= 0 && (caps & kSysRawio) != 0 && (caps & kSysAdmin) != 0) return Privilege::Administrator;
  return Privilege::None;
}

bool LinuxPlatform::userIsAdministrator() { return privilege() == Privilege::Administrator; }

Handle LinuxPlatform::opened(OpenHandle entry) {
  const Handle handle = m_nextHandle;
  m_nextHandle += 4;
  m_handles.emplace(handle, std::move(entry));
  setLastError(ERROR_SUCCESS);
  return handle;
}

Handle LinuxPlatform::refuseOpen(uint32_t error) {
  setLastError(error);
  return INVALID_HANDLE_VALUE;
}

LinuxPlatform::OpenHandle* LinuxPlatform::find(Handle handle) {
  auto it = m_handles.find(handle);
  return it == m_handles.end() || it->second.closing ? nullptr : &it->second;
}

Handle LinuxPlatform::openDisk(OpenHandle entry, int number) {
  rescan();
  const BlockDisk* disk = diskByNumber(number);
  if (disk == nullptr) {
    return refuseOpen(ERROR_FILE_NOT_FOUND);
  }
  entry.kind = OpenHandle::Kind::Disk;
  entry.number = number;
  entry.key = disk->key;
  entry.blockSize = disk->logicalBlockSize;
  entry.sizeBytes = disk->size512 * 512;
  if ((entry.access & (GENERIC_READ | GENERIC_WRITE)) != 0) {
    // Reading or writing a raw disk takes an administrator, as on Windows; the kernel
    // would let the disk group read, but never pass commands through for it.
    if (privilege() != Privilege::Administrator) {
      return refuseOpen(ERROR_ACCESS_DENIED);
    }
    // Read-only always: closing a writable descriptor makes udev read the disk again.
    const int fd = m_sys.open(path("/dev/" + disk->name), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -EPERM || fd == -EACCES) {
      // A container or a security module keeps the device node shut even to root: the
      // disk still answers for its identity from sysfs, and nothing else.
      return opened(std::move(entry));
    }
    if (fd < 0) {
      const uint32_t error = errorFromDeviceErrno(-fd);
      return refuseOpen(error == ERROR_DEVICE_NOT_CONNECTED ? ERROR_FILE_NOT_FOUND : error);
    }
    // The name may have passed to another disk between the scan and the open.
    uint64_t sequence = 0;
    if (disk->diskseq != 0 && m_sys.ioctl(fd, BLKGETDISKSEQ, &sequence) == 0 && sequence != disk->diskseq) {
      m_sys.close(fd);
      return refuseOpen(ERROR_FILE_NOT_FOUND);
    }
    uint64_t bytes = 0;
    if (m_sys.ioctl(fd, BLKGETSIZE64, &bytes) == 0) entry.sizeBytes = bytes;
    int blockSize = 0;
    if (m_sys.ioctl(fd, BLKSSZGET, &blockSize) == 0 && blockSize > 0) {
      entry.blockSize = static_cast<uint32_t>(blockSize);
    }
    entry.fd = fd;
  }
  return opened(std::move(entry));
}

Handle LinuxPlatform::createFile(const std::string& name, uint32_t access, uint32_t shareMode, uint32_t disposition,
                                 uint32_t flags) {
  std::lock_guard lock(m_mutex);
  OpenHandle entry;
  entry.path = name;
  entry.access = access;
  (void)shareMode;
  (void)flags;
  if (name.compare(0, 4, "\\\\.\\") != 0) {
    if (name.compare(0, 4, "\\\\?\\") == 0) {
      return refuseOpen(ERROR_FILE_NOT_FOUND);
    }
    uint32_t error = 0;
    entry.kind = OpenHandle::Kind::File;
    entry.fd = HostFiles::open(name, access, disposition, error);
    if (entry.fd < 0) {
      return refuseOpen(error);
    }
    return opened(std::move(entry));
  }
  if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
    return refuseOpen(ERROR_INVALID_PARAMETER);
  }
  const int number = physicalDriveNumberOf(name);
  if (number >= 0) return openDisk(std::move(entry), number);
  const int port = scsiPortNumberOf(name);
  if (port >= 0) {
    // A port opens without rights: its IDENTIFY answers come from sysfs, which anyone
    // may read.
    rescan();
    bool any = false;
    for (size_t i = 0; i < m_disks.size(); ++i) {
      any = any || (m_disks[i].libata && !m_disks[i].ataIdentifyPath.empty() && ((m_diskNumbers[i] >> 1) & 1) == port);
    }
    if (!any) {
      return refuseOpen(ERROR_FILE_NOT_FOUND);
    }
    entry.kind = OpenHandle::Kind::Port;
    entry.port = port;
    return opened(std::move(entry));
  }
  const char letter = volumeLetterOf(name);
  if (letter != 0) {
    rescan();
    if (!volumeOf(letter)) {
      return refuseOpen(ERROR_FILE_NOT_FOUND);
    }
    if ((access & (GENERIC_READ | GENERIC_WRITE)) != 0 && privilege() != Privilege::Administrator) {
      return refuseOpen(ERROR_ACCESS_DENIED);
    }
    entry.kind = OpenHandle::Kind::Volume;
    entry.letter = letter;
    return opened(std::move(entry));
  }
  return refuseOpen(ERROR_FILE_NOT_FOUND);
}

bool LinuxPlatform::closeHandle(Handle handle) {
  std::lock_guard lock(m_mutex);
  OpenHandle* h = find(handle);
  if (h == nullptr) return fail(ERROR_INVALID_HANDLE);
  if (h->queues > 0) {
    h->closing = true;
  } else {
    release(handle);
  }
  setLastError(ERROR_SUCCESS);
  return true;
}

void LinuxPlatform::release(Handle handle) {
  OpenHandle& h = m_handles.at(handle);
  if (h.kind == OpenHandle::Kind::File) HostFiles::close(h.fd);
  if (h.kind == OpenHandle::Kind::Disk) {
    if (h.fd >= 0) m_sys.close(h.fd);
    if (h.directFd >= 0) m_sys.close(h.directFd);
    auto session = m_sessions.find(h.key);
    if (h.writer && session != m_sessions.end() && --session->second.users == 0) endWriteSession(h.key);
  }
  m_handles.erase(handle);
}

bool LinuxPlatform::deviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                                    uint32_t outSize, uint32_t* bytesReturned) {
  std::lock_guard lock(m_mutex);
  // Input and output may share one buffer: take the input before anything is written.
  std::vector<uint8_t> input;
  if (in != nullptr && inSize > 0) {
    const auto* bytes = static_cast<const uint8_t*>(in);
    input.assign(bytes, bytes + inSize);
  }
  if (bytesReturned != nullptr) *bytesReturned = 0;
  uint32_t returned = 0;
  OpenHandle* h = find(handle);
  if (h == nullptr) return fail(ERROR_INVALID_HANDLE);
  if ((in == nullptr && inSize > 0) || (out == nullptr && outSize > 0)) return fail(ERROR_INVALID_PARAMETER);
  auto* outBytes = static_cast<uint8_t*>(out);
  bool ok = false;
  switch (h->kind) {
    case OpenHandle::Kind::File: return fail(ERROR_INVALID_FUNCTION);
    case OpenHandle::Kind::Volume: ok = volumeControl(*h, code, outBytes, outSize, &returned); break;
    case OpenHandle::Kind::Port:
      if (code != IOCTL_SCSI_MINIPORT) return fail(ERROR_INVALID_FUNCTION);
      ok = portControl(*h, input.data(), inSize, outBytes, outSize, &returned);
      break;
    case OpenHandle::Kind::Disk: {
      rescan();
      const BlockDisk* disk = diskOf(*h);
      if (disk == nullptr) return fail(ERROR_DEVICE_NOT_CONNECTED);
      const BlockDisk copy = *disk;
      ok = diskControl(*h, copy, code, input.data(), inSize, outBytes, outSize, &returned);
      break;
    }
  }
  if (ok) {
    if (bytesReturned != nullptr) *bytesReturned = returned;
    setLastError(ERROR_SUCCESS);
  }
  return ok;
}

// Long on purpose: the dispatch over the disk control codes this backend answers, each case
// short, so the set of codes a real disk takes stays in one place.
bool LinuxPlatform::diskControl(OpenHandle& h, const BlockDisk& disk, uint32_t code, const uint8_t* in,
                                uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t* returned) {
  switch (code) {
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      if (outSize < sizeof(STORAGE_DEVICE_NUMBER)) return fail(ERROR_INSUFFICIENT_BUFFER);
      storeLe32(out, kFileDeviceDisk);
      storeLe32(out + 4, static_cast<uint32_t>(h.number));
      storeLe32(out + 8, 0);
      *returned = sizeof(STORAGE_DEVICE_NUMBER);
      return true;
    case IOCTL_STORAGE_GET_DEVICE_NUMBER_EX: {
      // The GUID is the disk's sequence number, which the kernel gives anew at every
      // arrival of a disk. Kernels before 5.15 have none: then a hash of what the disk is
      // numbered by (its name, device numbers, attachment path and identity) stands in,
      // which a disk plugged in again on another USB or SCSI host also changes.
      if (outSize < sizeof(STORAGE_DEVICE_NUMBER_EX)) return fail(ERROR_INSUFFICIENT_BUFFER);
      std::memset(out, 0, sizeof(STORAGE_DEVICE_NUMBER_EX));
      storeLe32(out + offsetof(STORAGE_DEVICE_NUMBER_EX, Version), sizeof(STORAGE_DEVICE_NUMBER_EX));
      storeLe32(out + offsetof(STORAGE_DEVICE_NUMBER_EX, Size), sizeof(STORAGE_DEVICE_NUMBER_EX));
      storeLe32(out + offsetof(STORAGE_DEVICE_NUMBER_EX, Flags), STORAGE_DEVICE_FLAGS_RANDOM_DEVICEGUID_REASON_NOHWID);
      storeLe32(out + offsetof(STORAGE_DEVICE_NUMBER_EX, DeviceType), kFileDeviceDisk);
      storeLe32(out + offsetof(STORAGE_DEVICE_NUMBER_EX, DeviceNumber), static_cast<uint32_t>(h.number));
      uint8_t* guid = out + offsetof(STORAGE_DEVICE_NUMBER_EX, DeviceGuid);
      if (disk.diskseq != 0) {
        storeLe64(guid, disk.diskseq);
      } else {
        uint64_t hash = 0xCBF29CE484222325u;  // FNV-1a
        for (const char c : disk.key) hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001B3u;
        storeLe64(guid + 8, hash);
      }
      *returned = sizeof(STORAGE_DEVICE_NUMBER_EX);
      return true;
    }
    case IOCTL_STORAGE_QUERY_PROPERTY: {
      if (inSize < sizeof(STORAGE_PROPERTY_QUERY)) return fail(ERROR_INVALID_PARAMETER);
      const uint32_t property = loadLe32(in);
      if (property == StorageAdapterProtocolSpecificProperty || property == StorageDeviceProtocolSpecificProperty) {
        if (disk.bus != DiskBus::Nvme) return fail(ERROR_NOT_SUPPORTED);
        return nvmeQuery(h, disk, in, inSize, out, outSize, returned);
      }
      if (property != StorageAdapterProperty || loadLe32(in + 4) != PropertyStandardQuery) {
        return fail(ERROR_NOT_SUPPORTED);
      }
      if (outSize < kAdapterHeaderSize) return fail(ERROR_INSUFFICIENT_BUFFER);
      uint8_t descriptor[kAdapterDescriptorSize] = {};
      storeLe32(descriptor, kAdapterDescriptorSize);
      storeLe32(descriptor + 4, kAdapterDescriptorSize);
      storeLe32(descriptor + 8, 128 * 1024);
      storeLe32(descriptor + 12, 33);
      descriptor[kAdapterDescriptorBusTypeOffset] = windowsBusType(disk.bus);
      const uint32_t n = std::min<uint32_t>(outSize, sizeof descriptor);
      std::memcpy(out, descriptor, n);
      *returned = n;
      return true;
    }
    case IOCTL_STORAGE_PROTOCOL_COMMAND:
      if (disk.bus != DiskBus::Nvme) return fail(ERROR_INVALID_FUNCTION);
      return nvmeProtocolCommand(h, disk, in, inSize, out, outSize, returned);
    case IOCTL_SCSI_PASS_THROUGH: return scsiPassThrough(h, disk, in, inSize, out, outSize, returned);
    case IOCTL_ATA_PASS_THROUGH:
      if (!disk.libata) return fail(ERROR_NOT_SUPPORTED);
      return ataPassThrough(h, disk, in, inSize, out, outSize, returned);
    case SMART_GET_VERSION:
    case SMART_RCV_DRIVE_DATA:
    case SMART_SEND_DRIVE_COMMAND:
      if (!disk.libata) return fail(ERROR_NOT_SUPPORTED);
      return smartDriver(h, disk, code, in, inSize, out, outSize, returned);
    case IOCTL_BRIDGE_CAPABILITIES: {
      // No USB bridge known here carries the vendor command block; a USB disk says so,
      // and the core keeps to the standard command blocks.
      if (disk.bus != DiskBus::Usb) return fail(ERROR_INVALID_FUNCTION);
      constexpr uint32_t kCapabilitiesSize = 512;
      if (outSize < kCapabilitiesSize) return fail(ERROR_INSUFFICIENT_BUFFER);
      std::memset(out, 0, kCapabilitiesSize);
      *returned = kCapabilitiesSize;
      return true;
    }
    case IOCTL_BRIDGE_ATACB_SIGNATURE: return fail(ERROR_INVALID_FUNCTION);
    case IOCTL_DISK_GET_DRIVE_LAYOUT: return driveLayout(h, out, outSize, returned);
    case IOCTL_DISK_DELETE_DRIVE_LAYOUT: {
      const int fd = writableFd(h, disk, 0, 0, true);
      return fd >= 0 && deleteLayout(h, disk, fd);
    }
    case IOCTL_DISK_UPDATE_PROPERTIES: return updateProperties(h, disk);
    default: return fail(ERROR_INVALID_FUNCTION);
  }
}

uint32_t LinuxPlatform::nvmeError(const OpenHandle& h, int result) {
  switch (-result) {
    case ENOTTY:  // the node takes no NVMe ioctl after all
    case EINVAL:  // the kernel will not carry the command
      return ERROR_NOT_SUPPORTED;
    case ENODEV:
    case ENXIO:
      // Gone only when the disk is; a controller that stopped answering is a device fault.
      rescan();
      return diskOf(h) == nullptr ? ERROR_DEVICE_NOT_CONNECTED : ERROR_IO_DEVICE;
    case EIO: return ERROR_IO_DEVICE;  // no sector is involved, so never a read error
    default: return errorFromDeviceErrno(-result);
  }
}

bool LinuxPlatform::nvmeQuery(OpenHandle& h, const BlockDisk& disk, const uint8_t* in, uint32_t inSize, uint8_t* out,
                              uint32_t outSize, uint32_t* returned) {
  NvmeQuery query;
  const uint32_t refused = parseNvmeQuery(in, inSize, outSize, &query);
  if (refused != ERROR_SUCCESS) return fail(refused);
  // The admin ioctl takes CAP_SYS_ADMIN, and only an administrator's handle holds a
  // descriptor: anyone else, or a node the system keeps shut, gets no page rather than a
  // made-up one, and the core keeps the identity sysfs gives.
  if (h.fd < 0) return fail(ERROR_ACCESS_DENIED);
  if (query.ownNamespace) {
    const uint32_t nsid = nvmeNamespaceOf(m_sys, path("/sys/block/" + disk.name), h.fd);
    if (nsid == 0) return fail(ERROR_NOT_SUPPORTED);
    if (query.namedNamespace != 0 && query.namedNamespace != nsid) return fail(ERROR_INVALID_PARAMETER);
    query.command.entry.Nsid = nsid;
  }
  std::vector<uint8_t> data(query.command.dataLength, 0);
  const NvmeAdminOutcome r = nvmeAdminCommand(m_sys, h.fd, query.command, data.data());
  if (r.result < 0) return fail(nvmeError(h, r.result));
  // The controller refused or failed the command: the driver fails the query.
  if (r.result > 0) return fail(ERROR_IO_DEVICE);
  *returned = writeNvmeQueryReply(in, data.data(), query.replyLength, r.dword0, out);
  return true;
}

bool LinuxPlatform::nvmeProtocolCommand(OpenHandle& h, const BlockDisk& disk, const uint8_t* in, uint32_t inSize,
                                        uint8_t* out, uint32_t outSize, uint32_t* returned) {
  NvmeAdminCommand command;
  uint32_t size = 0;
  const uint32_t refused = parseNvmeProtocolCommand(in, inSize, outSize, &command, &size);
  if (refused != ERROR_SUCCESS) return fail(refused);
  // As on Windows, a protocol command takes a handle opened for reading and writing.
  if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE) || h.fd < 0) {
    return fail(ERROR_ACCESS_DENIED);
  }
  const CommandKind kind = judgeNvmeAdminCommand(command.entry.Opcode, command.entry.Nsid, command.entry.Cdw10);
  if (kind != CommandKind::Reads && kind != CommandKind::Purges) {
    // The NVMe driver's answer for a command it does not pass: the request fails as not
    // supported, and its status says the same.
    writeNvmeProtocolReply(in, size, STORAGE_PROTOCOL_STATUS_NOT_SUPPORTED, 0, 0, out);
    return fail(ERROR_NOT_SUPPORTED);
  }
  int fd = h.fd;
  if (kind == CommandKind::Purges) {
    // A format names this disk's namespace, never another one's.
    const uint32_t nsid = nvmeNamespaceOf(m_sys, path("/sys/block/" + disk.name), h.fd);
    if (command.entry.Opcode != kNvmeAdminSanitize && (nsid == 0 || command.entry.Nsid != nsid)) {
      return fail(ERROR_INVALID_PARAMETER);
    }
    std::string siblings;
    if (otherNamespaces(disk, &siblings)) {
      m_refusals[std::this_thread::get_id()] = "Writing to /dev/" + disk.name + " was refused: its controller also " +
                                               "holds " + siblings + ", which the command could erase too.";
      return fail(ERROR_ACCESS_DENIED);
    }
    fd = purgeFd(h, disk, false);
    if (fd < 0) return false;
    command.timeoutMs = commandTimeoutMs(command.timeoutSeconds, true);
  }
  const NvmeAdminOutcome r = nvmeAdminCommand(m_sys, fd, command, nullptr);
  if (r.result < 0) return fail(nvmeError(h, r.result));
  // A status from the controller is an answer: the request succeeds and carries it, the
  // status code type and code without the retry and more-information bits.
  writeNvmeProtocolReply(in, size, r.result == 0 ? STORAGE_PROTOCOL_STATUS_SUCCESS : STORAGE_PROTOCOL_STATUS_ERROR,
                         static_cast<uint32_t>(r.result) & 0x7FF, r.dword0, out);
  *returned = size;
  return true;
}

bool LinuxPlatform::driveLayout(OpenHandle& h, uint8_t* out, uint32_t outSize, uint32_t* returned) {
  if ((h.access & GENERIC_READ) == 0 || h.fd < 0) return fail(ERROR_ACCESS_DENIED);
  constexpr uint32_t kEntries = 4;  // an MBR reports its four slots
  constexpr uint32_t kEntrySize = sizeof(PARTITION_INFORMATION);
  constexpr uint32_t kNeeded = kDriveLayoutEntryOffset + kEntries * kEntrySize;
  if (outSize < kNeeded) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::vector<uint8_t> sector(std::max<uint32_t>(h.blockSize, 512));
  const ssize_t n = m_sys.pread(h.fd, sector.data(), sector.size(), 0);
  if (n != static_cast<ssize_t>(sector.size())) return fail(n < 0 ? errorFromDeviceErrno(static_cast<int>(-n)) : ERROR_CRC);
  std::memset(out, 0, kNeeded);
  const bool valid = sector[510] == 0x55 && sector[511] == 0xAA;
  storeLe32(out, valid ? kEntries : 0);
  storeLe32(out + 4, valid ? loadLe32(sector.data() + 440) : 0);
  for (uint32_t i = 0; valid && i < kEntries; ++i) {
    const uint8_t* e = sector.data() + 446 + 16 * i;
    uint8_t* p = out + kDriveLayoutEntryOffset + kEntrySize * i;
    const uint32_t start = loadLe32(e + 8);
    const uint32_t size = loadLe32(e + 12);
    storeLe64(p, static_cast<uint64_t>(start) * h.blockSize);
    storeLe64(p + 8, static_cast<uint64_t>(size) * h.blockSize);
    storeLe32(p + 16, start);
    storeLe32(p + 20, e[4] != 0 ? i + 1 : 0);
    p[24] = e[4];
    p[25] = e[0] == 0x80 ? 1 : 0;
    p[26] = e[4] != 0 ? 1 : 0;
  }
  *returned = kNeeded;
  return true;
}

// Long on purpose: one request from the SCSI_PASS_THROUGH record in to the record out, in
// the driver's order (check the record, answer from sysfs or pass the guard, send, copy back
// status, sense and data); each step reads what the ones before it decided.
bool LinuxPlatform::scsiPassThrough(OpenHandle& h, const BlockDisk& disk, const uint8_t* in, uint32_t inSize,
                                    uint8_t* out, uint32_t outSize, uint32_t* returned) {
  if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE)) return fail(ERROR_ACCESS_DENIED);
  if (inSize < kSptSize) return fail(ERROR_INVALID_PARAMETER);
  if (outSize < kSptSize) return fail(ERROR_INSUFFICIENT_BUFFER);
  SCSI_PASS_THROUGH spt;
  std::memcpy(&spt, in, sizeof spt);
  if (spt.Length != kSptSize || spt.CdbLength == 0 || spt.CdbLength > 16 || spt.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED ||
      spt.TimeOutValue == 0) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const uint32_t length = spt.DataTransferLength;
  if (length > 0) {
    const uint64_t end = static_cast<uint64_t>(spt.DataBufferOffset) + length;
    if (spt.DataBufferOffset < kSptSize || spt.DataIn == SCSI_IOCTL_DATA_UNSPECIFIED) {
      return fail(ERROR_INVALID_PARAMETER);
    }
    if (spt.DataIn == SCSI_IOCTL_DATA_IN && end > outSize) return fail(ERROR_INVALID_PARAMETER);
    if (spt.DataIn == SCSI_IOCTL_DATA_OUT && end > inSize) return fail(ERROR_INVALID_PARAMETER);
  }
  if (spt.SenseInfoLength > 0) {
    const uint64_t end = static_cast<uint64_t>(spt.SenseInfoOffset) + spt.SenseInfoLength;
    if (spt.SenseInfoOffset < kSptSize || end > outSize) return fail(ERROR_INVALID_PARAMETER);
  }

  uint8_t status = 0;
  uint32_t moved = 0;
  std::vector<uint8_t> sense;
  std::vector<uint8_t> data;
  const bool dataIn = length > 0 && spt.DataIn == SCSI_IOCTL_DATA_IN;
  const bool dataOut = length > 0 && spt.DataIn == SCSI_IOCTL_DATA_OUT;
  // Without a command channel, or without a descriptor the system would give us, the
  // disk's identity comes from sysfs.
  bool emulate = !disk.scsiCommands || h.fd < 0;
  // Only a command that reaches the disk passes the guard; the answers from sysfs change
  // nothing. A command neither known to read nor known to write (EXECUTE DEVICE
  // DIAGNOSTIC among them, which resets the drive under the kernel's feet) is answered as
  // a disk answers an opcode it does not have, and never sent.
  bool refusedOpcode = false;
  bool purge = false;
  int fd = h.fd;
  if (!emulate) {
    switch (judgeScsiCommand(spt.Cdb, spt.CdbLength, dataOut ? in + spt.DataBufferOffset : nullptr,
                             dataOut ? length : 0)) {
      case CommandKind::Reads:
        break;
      case CommandKind::Writes:
        fd = writableFd(h, disk, 0, 0, scsiCommandErases(spt.Cdb, spt.CdbLength));
        if (fd < 0) return false;
        break;
      case CommandKind::Purges:
        purge = true;
        fd = purgeFd(h, disk, scsiCommandChangesCapacity(spt.Cdb, spt.CdbLength));
        if (fd < 0) return false;
        break;
      case CommandKind::Refused:
        refusedOpcode = true;
        break;
    }
  }
  if (refusedOpcode) {
    status = 0x02;
    sense = fixedSense(kIllegalRequest, 0x20, 0x00);
  } else if (!emulate) {
    data.assign(length, 0);
    if (dataOut && length > 0) std::memcpy(data.data(), in + spt.DataBufferOffset, length);
    const SgOutcome sg = sgCommand(m_sys, fd, spt.Cdb, spt.CdbLength,
                                   dataIn ? SgDirection::FromDevice : dataOut ? SgDirection::ToDevice : SgDirection::None,
                                   data.data(), length, commandTimeoutMs(spt.TimeOutValue, purge));
    if (sg.error == -ENOTTY) {
      emulate = true;
    } else if (sg.error != 0) {
      return fail(errorFromDeviceErrno(-sg.error));
    } else if (sg.hostStatus != 0) {
      // The adapter lost the command (no device, a reset, a timeout): the request fails
      // as a whole, as a Windows port driver fails it.
      return fail(sg.hostStatus == 0x01 ? ERROR_DEVICE_NOT_CONNECTED : ERROR_IO_DEVICE);
    } else {
      status = sg.status;
      moved = dataIn ? sg.transferred : (status == 0 ? length : 0);
      sense = sg.sense;
    }
  }
  if (emulate && !refusedOpcode) {
    const EmulatedReply reply = emulateScsi(disk, spt.Cdb, spt.CdbLength);
    status = reply.status;
    sense = reply.sense;
    data = reply.data;
    moved = dataIn ? std::min<uint32_t>(length, static_cast<uint32_t>(data.size())) : (status == 0 ? length : 0);
  }
  // The request comes back through the same buffer with the status, the length moved,
  // the sense data and the data.
  std::memcpy(out, in, std::min(inSize, outSize));
  SCSI_PASS_THROUGH back = spt;
  back.ScsiStatus = status;
  back.DataTransferLength = moved;
  uint32_t size = kSptSize;
  if (dataIn && moved > 0) {
    std::memcpy(out + spt.DataBufferOffset, data.data(), moved);
    size = spt.DataBufferOffset + moved;
  }
  uint8_t senseWritten = 0;
  if (status != 0 && spt.SenseInfoLength > 0 && !sense.empty()) {
    senseWritten = static_cast<uint8_t>(std::min<size_t>(spt.SenseInfoLength, sense.size()));
    std::memcpy(out + spt.SenseInfoOffset, sense.data(), senseWritten);
    size = std::max(size, spt.SenseInfoOffset + senseWritten);
  }
  back.SenseInfoLength = senseWritten;
  std::memcpy(out, &back, sizeof back);
  *returned = size;
  return true;
}

bool LinuxPlatform::ataPassThrough(OpenHandle& h, const BlockDisk& disk, const uint8_t* in, uint32_t inSize,
                                   uint8_t* out, uint32_t outSize, uint32_t* returned) {
  if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE) || h.fd < 0) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (inSize < kAtaHeaderSize) return fail(ERROR_INVALID_PARAMETER);
  if (outSize < kAtaHeaderSize) return fail(ERROR_INSUFFICIENT_BUFFER);
  ATA_PASS_THROUGH_EX apt;
  std::memcpy(&apt, in, sizeof apt);
  const bool dataIn = (apt.AtaFlags & ATA_FLAGS_DATA_IN) != 0;
  const bool dataOut = (apt.AtaFlags & ATA_FLAGS_DATA_OUT) != 0;
  const bool is48Bit = (apt.AtaFlags & ATA_FLAGS_48BIT_COMMAND) != 0;
  const bool dma = (apt.AtaFlags & ATA_FLAGS_USE_DMA) != 0;
  const uint32_t length = apt.DataTransferLength;
  if (apt.Length != kAtaHeaderSize || (apt.AtaFlags & ~kKnownAtaFlags) != 0 || (dataIn && dataOut) ||
      apt.TimeOutValue == 0) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (length > 0) {
    const uint64_t end = static_cast<uint64_t>(apt.DataBufferOffset) + length;
    if ((!dataIn && !dataOut) || apt.DataBufferOffset < kAtaHeaderSize) return fail(ERROR_INVALID_PARAMETER);
    if (dataIn && end > outSize) return fail(ERROR_INVALID_PARAMETER);
    if (dataOut && end > inSize) return fail(ERROR_INVALID_PARAMETER);
  }
  const AtaRegisters current = takeRegisters(apt.CurrentTaskFile);
  const AtaRegisters previous = takeRegisters(apt.PreviousTaskFile);
  if (current.command == kExecuteDeviceDiagnostic) {
    // Never sent (it resets the drive under the kernel's feet). libata ran the reset and
    // read the signature when it found the drive, and found an ATA device there: that is
    // the answer, device 0 passed and the ATA signature.
    std::memcpy(out, in, kAtaHeaderSize);
    auto* back = reinterpret_cast<ATA_PASS_THROUGH_EX*>(out);
    putTaskFile(back->CurrentTaskFile, AtaRegisters{0x01, 0x01, 0x01, 0x00, 0x00, current.device, 0x50});
    *returned = kAtaHeaderSize;
    return true;
  }
  // A 28-bit command sends no high-order bytes, whatever the record holds there.
  const AtaRegisters48 registers{current, is48Bit ? previous : AtaRegisters{}};
  const CommandKind kind =
      judgeAtaCommand(registers, dataOut && length > 0 ? in + apt.DataBufferOffset : nullptr, dataOut ? length : 0);
  if (kind == CommandKind::Refused) {
    // Never sent: answered as a drive answers a command it does not have, aborted (ERR
    // in the status, ABRT in the error register).
    std::memcpy(out, in, kAtaHeaderSize);
    auto* back = reinterpret_cast<ATA_PASS_THROUGH_EX*>(out);
    AtaRegisters aborted = current;
    aborted.features = kAtaErrorAbort;
    aborted.command = kAtaStatusReady | kAtaStatusError;
    putTaskFile(back->CurrentTaskFile, aborted);
    *returned = kAtaHeaderSize;
    return true;
  }
  const int fd = kind == CommandKind::Writes   ? writableFd(h, disk, 0, 0, ataCommandErases(current))
                 : kind == CommandKind::Purges ? purgeFd(h, disk, ataCommandChangesCapacity(current))
                                               : h.fd;
  // A write the guard refused has its error set already.
  if (fd < 0) return false;
  AtaTransfer transfer = AtaTransfer::None;
  if (length > 0 && dataIn) transfer = dma ? AtaTransfer::DmaIn : AtaTransfer::PioIn;
  if (length > 0 && dataOut) transfer = dma ? AtaTransfer::DmaOut : AtaTransfer::PioOut;
  std::vector<uint8_t> data(length, 0);
  if (dataOut && length > 0) std::memcpy(data.data(), in + apt.DataBufferOffset, length);
  const AtaOutcome r = ataCommand(m_sys, fd, current, is48Bit ? &previous : nullptr, transfer, data.data(), length,
                                  commandTimeoutMs(apt.TimeOutValue, kind == CommandKind::Purges));
  if (!r.reached) return fail(r.error);
  std::memcpy(out, in, kAtaHeaderSize);
  auto* back = reinterpret_cast<ATA_PASS_THROUGH_EX*>(out);
  putTaskFile(back->CurrentTaskFile, r.current);
  if (is48Bit) putTaskFile(back->PreviousTaskFile, r.previous);
  uint32_t size = kAtaHeaderSize;
  if (dataIn && length > 0) {
    std::memcpy(out + apt.DataBufferOffset, data.data(), length);
    size = apt.DataBufferOffset + length;
  }
  *returned = size;
  return true;
}

bool LinuxPlatform::smartDriver(OpenHandle& h, const BlockDisk& disk, uint32_t code, const uint8_t* in,
                                uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t* returned) {
  if (code == SMART_GET_VERSION) {
    if (outSize < kVersionSize) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memset(out, 0, kVersionSize);
    out[0] = 1;
    out[1] = 1;
    out[3] = 0x01;  // one device, the disk itself
    storeLe32(out + 4, kSmartCapabilities);
    *returned = kVersionSize;
    return true;
  }
  if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE) || h.fd < 0) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (inSize < kSendCmdInSize) return fail(ERROR_INVALID_PARAMETER);
  const AtaRegisters regs = takeRegisters(in + offsetof(SENDCMDINPARAMS, irDriveRegs));
  const bool receive = code == SMART_RCV_DRIVE_DATA;
  if (receive && outSize < kSendCmdOutHeaderSize + kBlockBytes) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (!receive && outSize < kSendCmdOutHeaderSize) return fail(ERROR_INSUFFICIENT_BUFFER);
  const CommandKind kind = judgeAtaCommand(AtaRegisters48{.current = regs}, nullptr, 0);
  // A refused command is never sent: the driver's answer to a drive that aborts it. The
  // SMART driver carries SMART and identity, never a drive's own erase.
  if (kind == CommandKind::Refused || kind == CommandKind::Purges) return fail(ERROR_IO_DEVICE);
  const int fd = kind == CommandKind::Writes ? writableFd(h, disk, 0, 0, ataCommandErases(regs)) : h.fd;
  if (kind == CommandKind::Writes && fd < 0) return false;
  uint8_t data[kBlockBytes] = {};
  const AtaOutcome r = ataCommand(m_sys, fd, regs, nullptr, receive ? AtaTransfer::PioIn : AtaTransfer::None, data,
                                  receive ? kBlockBytes : 0, 10000);
  if (!r.reached) return fail(r.error);
  // The driver reports the drive's error as its own failure.
  if ((r.current.command & kAtaStatusError) != 0) return fail(ERROR_IO_DEVICE);
  std::memset(out, 0, kSendCmdOutHeaderSize);
  uint32_t size = kSendCmdOutHeaderSize;
  if (receive) {
    storeLe32(out, kBlockBytes);
    std::memcpy(out + kSendCmdOutHeaderSize, data, kBlockBytes);
    size += kBlockBytes;
  } else if (regs.command == 0xB0 && regs.features == 0xDA) {
    // RETURN STATUS hands back the registers, which only a CK_COND answer carries.
    if (!r.registersKnown) return fail(ERROR_IO_DEVICE);
    if (outSize < kSendCmdOutHeaderSize + sizeof(IDEREGS)) return fail(ERROR_INSUFFICIENT_BUFFER);
    storeLe32(out, sizeof(IDEREGS));
    putTaskFile(out + kSendCmdOutHeaderSize, r.current);
    size += sizeof(IDEREGS);
  }
  *returned = size;
  return true;
}

bool LinuxPlatform::portControl(OpenHandle& h, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                                uint32_t* returned) {
  if (inSize < kSrbSize || loadLe32(in) != kSrbSize || std::memcmp(in + 4, "SCSIDISK", 8) != 0) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const uint32_t control = loadLe32(in + offsetof(SRB_IO_CONTROL, ControlCode));
  const uint32_t length = loadLe32(in + offsetof(SRB_IO_CONTROL, Length));
  if (static_cast<uint64_t>(kSrbSize) + length > std::max(inSize, outSize)) return fail(ERROR_INVALID_PARAMETER);
  rescan();
  std::vector<const BlockDisk*> targets;
  std::vector<std::pair<int, const BlockDisk*>> numbered;
  for (size_t i = 0; i < m_disks.size(); ++i) {
    if (m_disks[i].libata && !m_disks[i].ataIdentifyPath.empty() && ((m_diskNumbers[i] >> 1) & 1) == h.port) {
      numbered.emplace_back(m_diskNumbers[i], &m_disks[i]);
    }
  }
  std::sort(numbered.begin(), numbered.end());
  for (const auto& [number, disk] : numbered) targets.push_back(disk);
  if (control == IOCTL_SCSI_MINIPORT_SMART_VERSION) {
    if (outSize < kSrbSize + kVersionSize) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, in, kSrbSize);
    uint8_t* version = out + kSrbSize;
    std::memset(version, 0, kVersionSize);
    version[0] = 1;
    version[1] = 1;
    uint8_t map = 0;
    for (size_t i = 0; i < targets.size() && i < 8; ++i) map = static_cast<uint8_t>(map | (1u << i));
    version[3] = map;
    storeLe32(version + 4, kSmartCapabilities);
    storeLe32(out + offsetof(SRB_IO_CONTROL, ReturnCode), 0);
    *returned = kSrbSize + kVersionSize;
    return true;
  }
  // Only IDENTIFY has an answer anyone may read; SMART needs the rights this user lacks.
  // Never fail with last error 0: the core reads that as "threshold exceeded".
  if (control != IOCTL_SCSI_MINIPORT_IDENTIFY) return fail(ERROR_ACCESS_DENIED);
  if (inSize < kSrbSize + kSendCmdInSize) return fail(ERROR_INVALID_PARAMETER);
  const uint8_t* params = in + kSrbSize;
  if (params[offsetof(SENDCMDINPARAMS, irDriveRegs) + kTaskCommand] != 0xEC) return fail(ERROR_INVALID_PARAMETER);
  const uint32_t needed = kSrbSize + kSendCmdOutHeaderSize + kBlockBytes;
  if (outSize < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
  const uint8_t target = params[offsetof(SENDCMDINPARAMS, bDriveNumber)];
  std::memcpy(out, in, kSrbSize);
  storeLe32(out + offsetof(SRB_IO_CONTROL, ReturnCode), 0);
  std::memset(out + kSrbSize, 0, needed - kSrbSize);
  if (target < targets.size()) {
    const auto text = m_sys.readText(path(targets[target]->ataIdentifyPath));
    if (!text || !identifyFromText(*text, out + kSrbSize + kSendCmdOutHeaderSize)) return fail(ERROR_ACCESS_DENIED);
    storeLe32(out + kSrbSize, kBlockBytes);
  }
  *returned = std::min<uint32_t>(outSize, kSrbSize + length);
  return true;
}

uint32_t LinuxPlatform::setFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                                       uint32_t moveMethod) {
  std::lock_guard lock(m_mutex);
  const int64_t distance = seekDistance(distanceLow, distanceHigh);
  OpenHandle* h = find(handle);
  const auto refuse = [&](uint32_t error) {
    fail(error);
    return INVALID_SET_FILE_POINTER;
  };
  if (h == nullptr) return refuse(ERROR_INVALID_HANDLE);
  uint64_t position = 0;
  if (h->kind == OpenHandle::Kind::File) {
    uint32_t error = 0;
    if (!HostFiles::seek(h->fd, distance, moveMethod, position, error)) return refuse(error);
  } else if (h->kind == OpenHandle::Kind::Disk) {
    const uint32_t error = movePosition(h->position, distance, moveMethod, h->sizeBytes);
    if (error != ERROR_SUCCESS) return refuse(error);
    position = h->position;
  } else {
    return refuse(ERROR_INVALID_FUNCTION);
  }
  setLastError(ERROR_SUCCESS);
  return seekAnswer(position, distanceHigh);
}

bool LinuxPlatform::readFile(Handle handle, void* buffer, uint32_t size, uint32_t* bytesRead) {
  return transfer(handle, false, buffer, nullptr, size, bytesRead);
}

bool LinuxPlatform::writeFile(Handle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
  return transfer(handle, true, nullptr, buffer, size, bytesWritten);
}

bool LinuxPlatform::transfer(Handle handle, bool write, void* into, const void* from, uint32_t size,
                             uint32_t* moved) {
  std::unique_lock lock(m_mutex);
  if (moved != nullptr) *moved = 0;
  OpenHandle* h = find(handle);
  if (h == nullptr) return fail(ERROR_INVALID_HANDLE);
  if ((write ? from : into) == nullptr && size > 0) return fail(ERROR_INVALID_PARAMETER);
  if (h->kind == OpenHandle::Kind::File) {
    uint32_t error = 0;
    const bool ok = write ? HostFiles::write(h->fd, from, size, moved, error)
                          : HostFiles::read(h->fd, into, size, moved, error);
    return ok ? (setLastError(ERROR_SUCCESS), true) : fail(error);
  }
  if (h->kind != OpenHandle::Kind::Disk) return fail(ERROR_INVALID_FUNCTION);
  if ((h->access & (write ? GENERIC_WRITE : GENERIC_READ)) == 0 || h->fd < 0) return fail(ERROR_ACCESS_DENIED);
  if (h->position % h->blockSize != 0 || size % h->blockSize != 0) return fail(ERROR_INVALID_PARAMETER);
  if (h->position > h->sizeBytes || size > h->sizeBytes - h->position) return fail(ERROR_SECTOR_NOT_FOUND);
  int fd = -1;
  if (write) {
    fd = guardedWriteFd(*h, h->position, size);
    if (fd < 0) return false;
  } else {
    if (!openDirect(*h)) return false;
    fd = h->directFd;
  }
  const uint64_t position = h->position;
  const uint32_t alignment = std::max<uint32_t>(h->blockSize, 4096);
  // The transfer itself runs without the lock: a long read must not hold up a query.
  lock.unlock();
  const void* buffer = write ? from : into;
  const bool aligned = reinterpret_cast<uintptr_t>(buffer) % alignment == 0;
  void* bounce = nullptr;
  if (!aligned) {
    bounce = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (bounce == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (write) std::memcpy(bounce, from, size);
  }
  ssize_t n = 0;
  if (size > 0) {
    n = write ? m_sys.pwrite(fd, aligned ? from : bounce, size, static_cast<off_t>(position))
              : m_sys.pread(fd, aligned ? into : bounce, size, static_cast<off_t>(position));
  }
  if (bounce != nullptr) {
    if (!write && n > 0) std::memcpy(into, bounce, static_cast<size_t>(n));
    std::free(bounce);
  }
  if (n < 0 || static_cast<uint32_t>(n) != size) {
    lock.lock();
    return fail(transferFailure(handle, write, n));
  }
  lock.lock();
  if (OpenHandle* again = find(handle)) again->position = position + size;
  if (moved != nullptr) *moved = size;
  setLastError(ERROR_SUCCESS);
  return true;
}

int LinuxPlatform::guardedWriteFd(OpenHandle& h, uint64_t offset, uint64_t length) {
  // Within a write session the disk is held exclusively and a vanished disk fails the
  // write itself: a scan per block would cost more than the guard saves.
  if (m_sessions.count(h.key) == 0 || !h.writer) rescan();
  const BlockDisk* disk = diskOf(h);
  if (disk == nullptr) {
    fail(ERROR_DEVICE_NOT_CONNECTED);
    return -1;
  }
  const BlockDisk copy = *disk;
  return writableFd(h, copy, offset, length, false);
}

bool LinuxPlatform::openDirect(OpenHandle& h) {
  if (h.directFd >= 0) return true;
  const BlockDisk* disk = diskByNumber(h.number);
  if (disk == nullptr) return fail(ERROR_DEVICE_NOT_CONNECTED);
  const int direct = m_sys.open(path("/dev/" + disk->name), O_RDONLY | O_DIRECT | O_NONBLOCK | O_CLOEXEC);
  if (direct < 0) return fail(errorFromDeviceErrno(-direct));
  uint64_t sequence = 0;
  if (disk->diskseq != 0 && m_sys.ioctl(direct, BLKGETDISKSEQ, &sequence) == 0 && sequence != disk->diskseq) {
    m_sys.close(direct);
    return fail(ERROR_DEVICE_NOT_CONNECTED);
  }
  h.directFd = direct;
  return true;
}

uint32_t LinuxPlatform::transferFailure(Handle handle, bool write, int64_t result) {
  std::lock_guard lock(m_mutex);
  rescan();
  // A handle closed under a running queue still names its disk.
  const auto h = m_handles.find(handle);
  if (h == m_handles.end() || diskOf(h->second) == nullptr) return ERROR_DEVICE_NOT_CONNECTED;
  if (result < 0) return write && result == -EIO ? ERROR_WRITE_FAULT : errorFromDeviceErrno(static_cast<int>(-result));
  // A short transfer stopped at a sector the drive could not read or write.
  return write ? ERROR_WRITE_FAULT : ERROR_CRC;
}

std::vector<int> LinuxPlatform::disksUnder(unsigned major, unsigned minor, uint32_t* partition, int depth) {
  if (partition != nullptr) *partition = 0;
  for (size_t i = 0; i < m_disks.size(); ++i) {
    const BlockDisk& disk = m_disks[i];
    if (disk.major == major && disk.minor == minor) return {m_diskNumbers[i]};
    for (const Partition& p : disk.partitions) {
      if (p.major == major && p.minor == minor) {
        if (partition != nullptr) *partition = p.number;
        return {m_diskNumbers[i]};
      }
    }
  }
  // A stacked device (dm, md): the disks under each of its members.
  if (depth > 8) return {};
  const std::string base = path("/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
  std::vector<int> found;
  const auto members = m_sys.listDirectory(base + "/slaves");
  if (!members) return found;
  for (const std::string& member : *members) {
    const auto dev = m_sys.readText(base + "/slaves/" + member + "/dev");
    if (!dev) continue;
    const std::string t = trimmed(*dev);
    const size_t colon = t.find(':');
    if (colon == std::string::npos) continue;
    const unsigned memberMajor = static_cast<unsigned>(std::strtoul(t.substr(0, colon).c_str(), nullptr, 10));
    const unsigned memberMinor = static_cast<unsigned>(std::strtoul(t.substr(colon + 1).c_str(), nullptr, 10));
    for (int number : disksUnder(memberMajor, memberMinor, nullptr, depth + 1)) {
      if (std::find(found.begin(), found.end(), number) == found.end()) found.push_back(number);
    }
  }
  return found;
}

std::vector<LinuxPlatform::Volume> LinuxPlatform::volumes() {
  std::vector<Volume> result;
  const auto text = m_sys.readText(path("/proc/self/mountinfo"));
  if (!text) return result;
  const std::vector<MountEntry> mounts = parseMountinfo(*text);
  // The volume holding "/" is C:, whatever order the mounts come in.
  std::vector<const MountEntry*> ordered;
  for (const MountEntry& m : mounts) {
    if (m.mountPoint == "/") ordered.insert(ordered.begin(), &m);
    else ordered.push_back(&m);
  }
  for (const MountEntry* m : ordered) {
    // btrfs and ZFS have no device number of their own and count by the devices behind
    // them; an overlay is a view of other volumes, not one itself.
    if (m->major == 0 && m->fsType != "btrfs" && m->fsType != "zfs") continue;
    const bool seen = std::any_of(result.begin(), result.end(),
                                  [&](const Volume& v) { return v.major == m->major && v.minor == m->minor; });
    if (seen) continue;  // a bind mount or a subvolume of a volume already listed
    Volume v;
    v.major = m->major;
    v.minor = m->minor;
    v.mountPoint = m->mountPoint;
    v.fsType = m->fsType;
    v.source = m->source;
    if (m->major != 0) {
      v.disks = disksUnder(m->major, m->minor, &v.partition);
    } else {
      const std::vector<DeviceNumber> devices = mountDevices(*m, mounts);
      for (const DeviceNumber& d : devices) {
        uint32_t partition = 0;
        for (int number : disksUnder(d.first, d.second, &partition)) {
          if (std::find(v.disks.begin(), v.disks.end(), number) == v.disks.end()) v.disks.push_back(number);
        }
        if (devices.size() == 1) v.partition = partition;
      }
    }
    if (v.disks.empty()) continue;
    for (size_t i = 0; i < m_disks.size(); ++i) {
      if (m_diskNumbers[i] == v.disks.front()) v.removable = m_disks[i].removable;
    }
    const std::string key = std::to_string(v.major) + ":" + std::to_string(v.minor);
    auto it = m_letters.find(key);
    if (it == m_letters.end()) {
      char letter = 0;
      if (m->mountPoint == "/" && std::none_of(m_letters.begin(), m_letters.end(),
                                               [](const auto& entry) { return entry.second == 'C'; })) {
        letter = 'C';
      } else {
        for (char c = 'D'; c <= 'Z' && letter == 0; ++c) {
          if (std::none_of(m_letters.begin(), m_letters.end(), [c](const auto& entry) { return entry.second == c; })) {
            letter = c;
          }
        }
      }
      if (letter == 0) continue;  // more volumes than letters
      it = m_letters.emplace(key, letter).first;
    }
    v.letter = it->second;
    result.push_back(std::move(v));
  }
  return result;
}

std::optional<LinuxPlatform::Volume> LinuxPlatform::volumeOf(char letter) {
  for (Volume& v : volumes()) {
    if (v.letter == letter) return v;
  }
  return std::nullopt;
}

bool LinuxPlatform::volumeControl(OpenHandle& h, uint32_t code, uint8_t* out, uint32_t outSize, uint32_t* returned) {
  rescan();
  const std::optional<Volume> v = volumeOf(h.letter);
  if (!v) return fail(ERROR_DEVICE_NOT_CONNECTED);
  switch (code) {
    case FSCTL_LOCK_VOLUME:
    case FSCTL_DISMOUNT_VOLUME:
      // Granted, and kept as the user's leave to unmount the volume: it is unmounted only
      // when a write reaches its disk, so a run that only reads unmounts nothing. The
      // system's own volumes and FUSE mounts are never released.
      if ((h.access & GENERIC_WRITE) == 0) return fail(ERROR_ACCESS_DENIED);
      if (systemMountPoint(v->mountPoint) || v->fsType == "fuseblk" || v->fsType.rfind("fuse", 0) == 0) {
        return fail(ERROR_ACCESS_DENIED);
      }
      m_dismountAsked.insert(std::to_string(v->major) + ":" + std::to_string(v->minor));
      return true;
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      // A volume spread over several disks has no one device number, as on Windows.
      if (v->disks.size() != 1) return fail(ERROR_INVALID_FUNCTION);
      if (outSize < sizeof(STORAGE_DEVICE_NUMBER)) return fail(ERROR_INSUFFICIENT_BUFFER);
      storeLe32(out, kFileDeviceDisk);
      storeLe32(out + 4, static_cast<uint32_t>(v->disks.front()));
      storeLe32(out + 8, v->partition);
      *returned = sizeof(STORAGE_DEVICE_NUMBER);
      return true;
    default: return fail(ERROR_INVALID_FUNCTION);
  }
}

// Active swap: /proc/swaps names the device of each area in use; a swap partition counts
// when it is the disk, one of its partitions or stacked on it, a swap file when its file
// system lives on the disk. Sets activeSwap and swapArea in `facts`.
void LinuxPlatform::swapFacts(const BlockDisk& disk, int number, const std::vector<MountEntry>& mounts,
                              WriteGuardFacts& facts) {
  if (const auto swaps = m_sys.readText(path("/proc/swaps"))) {
    size_t at = swaps->find('\n');
    while (at != std::string::npos && at + 1 < swaps->size()) {
      const size_t end = swaps->find('\n', at + 1);
      const std::string line = swaps->substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
      const std::string device = line.substr(0, line.find_first_of(" \t"));
      const std::string name = device.substr(device.find_last_of('/') + 1);
      if (!name.empty() && device.rfind("/dev/", 0) == 0) {
        const bool before = facts.activeSwap;
        if (name == disk.name) facts.activeSwap = true;
        for (const Partition& p : disk.partitions) {
          if (p.name == name) facts.activeSwap = true;
        }
        if (const auto dev = m_sys.readText(path("/sys/class/block/" + name + "/dev"))) {
          const std::string t = trimmed(*dev);
          const size_t colon = t.find(':');
          if (colon != std::string::npos) {
            const auto under =
                disksUnder(static_cast<unsigned>(std::strtoul(t.substr(0, colon).c_str(), nullptr, 10)),
                           static_cast<unsigned>(std::strtoul(t.substr(colon + 1).c_str(), nullptr, 10)), nullptr);
            if (std::find(under.begin(), under.end(), number) != under.end()) facts.activeSwap = true;
          }
        }
        if (facts.activeSwap && !before) facts.swapArea = device;
      } else if (!device.empty() && device[0] == '/' && !facts.activeSwap) {
        // A swap file: the disks its file system lives on.
        const std::vector<int> under = disksOfFile(unescapeMountField(device), mounts);
        if (std::find(under.begin(), under.end(), number) != under.end()) {
          facts.activeSwap = true;
          facts.swapArea = unescapeMountField(device);
        }
      }
      at = end;
    }
  }
}

// What the write guard judges `disk` by: holders, ZFS pools, mounts, swap areas and the
// disk's other users.
WriteGuardFacts LinuxPlatform::guardFacts(const BlockDisk& disk) {
  WriteGuardFacts facts;
  facts.privileged = privilege() == Privilege::Administrator;
  int number = -1;
  for (size_t i = 0; i < m_disks.size(); ++i) {
    if (m_disks[i].key == disk.key) number = m_diskNumbers[i];
  }
  facts.holders = !disk.holders.empty();
  if (facts.holders) facts.holder = disk.holders.front();
  for (const Partition& p : disk.partitions) {
    if (p.holders.empty()) continue;
    if (!facts.holders) facts.holder = p.holders.front() + " on " + p.name;
    facts.holders = true;
  }
  // A ZFS pool holds its members open without a holder link.
  std::vector<std::pair<DeviceNumber, std::string>> nodes = {{{disk.major, disk.minor}, disk.name}};
  for (const Partition& p : disk.partitions) nodes.push_back({{p.major, p.minor}, p.name});
  for (const auto& [device, name] : nodes) {
    const auto pool = zfsPoolOf(device);
    if (!pool || pool->empty() || !m_sys.listDirectory(path("/proc/spl/kstat/zfs/" + *pool))) continue;
    if (!facts.holders) facts.holder = "ZFS pool " + *pool + " on " + name;
    facts.holders = true;
  }
  // Every mount, not only the first of each device: "/" may be one subvolume of many; and
  // those without a device of their own (btrfs, ZFS, overlay) by the devices behind them.
  const auto text = m_sys.readText(path("/proc/self/mountinfo"));
  const std::vector<MountEntry> mounts = text ? parseMountinfo(*text) : std::vector<MountEntry>();
  // Without the mount table no rule about file systems can be judged.
  if (!text) facts.unknown = "the mount table (/proc/self/mountinfo) cannot be read";
  const auto exe = m_sys.readlink(path("/proc/self/exe"));
  const MountEntry* exeMount = exe ? mountHolding(*exe, mounts) : nullptr;
  for (const MountEntry& m : mounts) {
    bool onDisk = false;
    for (const DeviceNumber& d : mountDevices(m, mounts)) {
      const std::vector<int> under = guardDisksUnder(d, mounts);
      if (std::find(under.begin(), under.end(), number) == under.end()) continue;
      onDisk = true;
      facts.mountedRanges.push_back(byteRangeOf(disk, d.first, d.second));
      facts.mountedPoints.push_back(m.mountPoint);
    }
    if (!onDisk) continue;
    if (systemMountPoint(m.mountPoint) && !facts.systemMount) {
      facts.systemMount = true;
      facts.systemMountPoint = m.mountPoint;
    }
    if (&m == exeMount) {
      facts.runningProgram = true;
      facts.programPath = *exe;
    }
  }
  swapFacts(disk, number, mounts, facts);
  facts.users = diskUsers(disk, number, mounts, facts.unknown.empty() ? &facts.unknown : nullptr);
  return facts;
}

std::vector<int> LinuxPlatform::physicalDriveNumbers() {
  std::lock_guard lock(m_mutex);
  rescan();
  std::vector<int> numbers = m_diskNumbers;
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

uint32_t LinuxPlatform::logicalDrives() {
  std::lock_guard lock(m_mutex);
  rescan();
  uint32_t mask = 0;
  for (const Volume& v : volumes()) mask |= 1u << (v.letter - 'A');
  return mask;
}

uint32_t LinuxPlatform::driveType(const std::string& root) {
  std::lock_guard lock(m_mutex);
  const char letter = rootLetter(root);
  if (letter == 0) return DRIVE_NO_ROOT_DIR;
  rescan();
  const std::optional<Volume> v = volumeOf(letter);
  if (!v) return DRIVE_NO_ROOT_DIR;
  return v->removable ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

std::string LinuxPlatform::windowsDirectory() { return "C:\\Windows"; }

uint32_t LinuxPlatform::version() { return 10; }

std::vector<std::string> LinuxPlatform::deviceInterfaces(const std::string& classGuid) {
  // No virtual bus and no enclosure status driver publish interfaces here.
  (void)classGuid;
  return {};
}

bool LinuxPlatform::volumeInformation(const std::string& root, std::string* label, std::string* fileSystem) {
  std::lock_guard lock(m_mutex);
  const char letter = rootLetter(root);
  rescan();
  const std::optional<Volume> v = letter != 0 ? volumeOf(letter) : std::nullopt;
  if (!v) return fail(ERROR_PATH_NOT_FOUND);
  if (fileSystem != nullptr) *fileSystem = windowsFileSystem(v->fsType);
  if (label != nullptr) {
    label->clear();
    // udev's by-label links name the volume; without udev there is no label to show.
    if (const auto names = m_sys.listDirectory(path("/dev/disk/by-label"))) {
      for (const std::string& name : *names) {
        const auto target = m_sys.realPath(path("/dev/disk/by-label/" + name));
        const auto source = m_sys.realPath(path(v->source));
        if (target && source && *target == *source) *label = unescapeMountField(name);
      }
    }
  }
  setLastError(ERROR_SUCCESS);
  return true;
}

VolumeName LinuxPlatform::volumeName(char letter) {
  std::lock_guard lock(m_mutex);
  rescan();
  VolumeName name;
  name.mountPoint = true;
  if (const std::optional<Volume> v = volumeOf(letter)) {
    name.name = shownMountPoint(v->mountPoint);
    name.fileSystem = shownMountPoint(v->fsType);
  } else {
    // Gone since the letter was listed: its root is all there is to show.
    name.name = std::string(1, letter) + ":\\";
    name.mountPoint = false;
  }
  return name;
}

bool LinuxPlatform::diskSpace(const std::string& root, uint64_t* totalBytes, uint64_t* freeBytes) {
  std::lock_guard lock(m_mutex);
  const char letter = rootLetter(root);
  rescan();
  const std::optional<Volume> v = letter != 0 ? volumeOf(letter) : std::nullopt;
  if (!v) return fail(ERROR_PATH_NOT_FOUND);
  struct statvfs info {};
  const int r = m_sys.statvfs(v->mountPoint, &info);
  if (r < 0) return fail(HostFiles::errorFromErrno(-r));
  if (totalBytes != nullptr) *totalBytes = static_cast<uint64_t>(info.f_blocks) * info.f_frsize;
  if (freeBytes != nullptr) *freeBytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  setLastError(ERROR_SUCCESS);
  return true;
}

void LinuxPlatform::sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::vector<TopLevelWindow> LinuxPlatform::topLevelWindows() {
  // Other programs' windows are not ours to list here.
  return {};
}

std::unique_ptr<Platform> makeLinuxPlatform() {
  // One set of system calls serves every platform the process makes.
  static RealSysCalls calls;
  return std::make_unique<LinuxPlatform>(calls);
}

}  // namespace palvoro::real
