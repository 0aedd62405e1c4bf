#include "platform/sim/sim_platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/host_files.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "platform/sim/sim_ata.h"
#include "platform/sim/sim_scsi.h"

namespace palvoro::sim {
namespace {

constexpr uint32_t kHeaderSize = 40;  // ATA_PASS_THROUGH_EX as a driver checks it
constexpr uint16_t kKnownAtaFlags = 0x3F;

uint16_t rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t rd32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void wr32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void wr64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

TaskRegisters taskFrom(const uint8_t* p) {
  return TaskRegisters{p[0], p[1], p[2], p[3], p[4], p[5], p[6]};
}
void taskTo(uint8_t* p, const TaskRegisters& t) {
  p[0] = t.features;
  p[1] = t.count;
  p[2] = t.lbaLow;
  p[3] = t.lbaMid;
  p[4] = t.lbaHigh;
  p[5] = t.device;
  p[6] = t.command;
}

bool startsWithNoCase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

// "\\.\PhysicalDriveN" -> N, or -1.
int physicalDriveNumber(const std::string& path) {
  static const std::string prefix = "\\\\.\\PhysicalDrive";
  if (!startsWithNoCase(path, prefix) || path.size() == prefix.size() || path.size() > prefix.size() + 3) {
    return -1;
  }
  int n = 0;
  for (size_t i = prefix.size(); i < path.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(path[i]))) return -1;
    n = n * 10 + (path[i] - '0');
  }
  return n;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && startsWithNoCase(a, b);
}

// "\\.\ScsiN:" -> N, or -1.
int scsiPortNumber(const std::string& path) {
  static const std::string prefix = "\\\\.\\Scsi";
  if (!startsWithNoCase(path, prefix) || path.size() < prefix.size() + 2 || path.back() != ':') return -1;
  int n = 0;
  for (size_t i = prefix.size(); i + 1 < path.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(path[i])) || i > prefix.size() + 2) return -1;
    n = n * 10 + (path[i] - '0');
  }
  return n;
}

// "\\.\C:" -> 'C', or 0.
char volumeLetter(const std::string& path) {
  if (path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':' &&
      std::isalpha(static_cast<unsigned char>(path[4]))) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
  }
  return 0;
}

uint8_t partitionType(const std::string& fileSystem) {
  if (fileSystem == "NTFS" || fileSystem == "exFAT") return 0x07;
  if (fileSystem == "FAT32") return 0x0C;
  if (fileSystem == "FAT") return 0x06;
  return 0x83;
}

}  // namespace

SimPlatform::SimPlatform(SimMachine machine) : m_machine(std::move(machine)) {
  for (SimDrive& drive : m_machine.drives) {
    const bool hasVolumes = std::any_of(m_machine.volumes.begin(), m_machine.volumes.end(),
                                        [&](const SimVolume& v) { return v.drive == drive.number; });
    if (hasVolumes && drive.ata.units.count(0) != 0) writePartitionTable(drive);
  }
}

SimPlatform::~SimPlatform() {
  for (auto& [handle, entry] : m_handles) {
    if (entry.kind == OpenHandle::Kind::File) HostFiles::close(entry.fd);
  }
}

SimDrive& SimPlatform::drive(int number) {
  SimDrive* d = m_machine.findDrive(number);
  if (d == nullptr) throw std::out_of_range("no simulated drive " + std::to_string(number));
  return *d;
}

SimVolume& SimPlatform::volume(char letter) {
  SimVolume* v = m_machine.findVolume(letter);
  if (v == nullptr) throw std::out_of_range(std::string("no simulated volume ") + letter);
  return *v;
}

bool SimPlatform::fail(uint32_t error) {
  setLastError(error);
  return false;
}

void SimPlatform::record(const SimRequest& request) {
  // With logging off a transfer costs no allocation: long scans stay as fast as the
  // media itself.
  if (!m_logging) return;
  m_log.push_back(request);
  m_log.back().error = lastError();
  m_log.back().clockMs = m_clockMs;
}

SimPlatform::OpenHandle* SimPlatform::find(Handle handle) {
  auto it = m_handles.find(handle);
  return it == m_handles.end() ? nullptr : &it->second;
}

Handle SimPlatform::addHandle(OpenHandle entry) {
  const Handle handle = m_nextHandle;
  m_nextHandle += 4;
  m_handles.emplace(handle, std::move(entry));
  return handle;
}

// Two opens of one device must each allow what the other does, as Windows checks.
bool SimPlatform::sharingAllows(const OpenHandle& candidate) const {
  for (const auto& [handle, other] : m_handles) {
    if (other.kind != candidate.kind) continue;
    if (candidate.kind == OpenHandle::Kind::Drive && other.drive != candidate.drive) continue;
    if (candidate.kind == OpenHandle::Kind::Volume && other.letter != candidate.letter) continue;
    const auto conflicts = [](const OpenHandle& a, const OpenHandle& b) {
      return ((a.access & GENERIC_READ) != 0 && (b.shareMode & FILE_SHARE_READ) == 0) ||
             ((a.access & GENERIC_WRITE) != 0 && (b.shareMode & FILE_SHARE_WRITE) == 0);
    };
    if (conflicts(other, candidate) || conflicts(candidate, other)) return false;
  }
  return true;
}

Handle SimPlatform::createFile(const std::string& path, uint32_t access, uint32_t shareMode,
                               uint32_t disposition, uint32_t flags) {
  std::lock_guard lock(m_mutex);
  SimRequest req;
  req.kind = SimRequest::Kind::Open;
  req.path = path;
  req.access = access;
  req.shareMode = shareMode;
  req.disposition = disposition;
  req.flags = flags;

  const auto refuse = [&](uint32_t error) {
    setLastError(error);
    req.ok = false;
    record(req);
    return INVALID_HANDLE_VALUE;
  };

  OpenHandle entry;
  entry.path = path;
  entry.access = access;
  entry.shareMode = shareMode;
  entry.flags = flags;

  if (path.compare(0, 4, "\\\\?\\") == 0) {
    // A device interface path reaches the drive that published it.
    SimDrive* target = nullptr;
    for (SimDrive& d : m_machine.drives) {
      if (!d.present) continue;
      if (equalsNoCase(path, SimMachine::diskInterfacePath(d)) ||
          (d.transport == Transport::Raid && d.statusInterface && equalsNoCase(path, SimMachine::statusInterfacePath(d)))) {
        target = &d;
      }
    }
    if (target == nullptr) return refuse(ERROR_FILE_NOT_FOUND);
    if ((access & (GENERIC_READ | GENERIC_WRITE)) != 0 && !m_machine.administrator) return refuse(ERROR_ACCESS_DENIED);
    entry.kind = OpenHandle::Kind::Drive;
    entry.drive = target->number;
    if (!sharingAllows(entry)) return refuse(ERROR_SHARING_VIOLATION);
  } else if (path.compare(0, 4, "\\\\.\\") == 0) {
    const int number = physicalDriveNumber(path);
    const char letter = volumeLetter(path);
    const int port = scsiPortNumber(path);
    if (port >= 0) {
      // A SCSI port opens without administrator rights: its miniport's SMART interface
      // is how a limited user reaches the drives.
      if (portTargets(port).empty()) return refuse(ERROR_FILE_NOT_FOUND);
      entry.kind = OpenHandle::Kind::Port;
      entry.port = port;
      if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) return refuse(ERROR_INVALID_PARAMETER);
      const Handle handle = addHandle(entry);
      setLastError(ERROR_SUCCESS);
      req.handle = handle;
      req.ok = true;
      record(req);
      return handle;
    }
    if (number >= 0) {
      SimDrive* d = m_machine.findDrive(number);
      if (d == nullptr || !d->present) return refuse(ERROR_FILE_NOT_FOUND);
      entry.kind = OpenHandle::Kind::Drive;
      entry.drive = number;
    } else if (letter != 0) {
      SimVolume* v = m_machine.findVolume(letter);
      if (v == nullptr || v->removed) return refuse(ERROR_FILE_NOT_FOUND);
      if (v->locked) return refuse(ERROR_ACCESS_DENIED);
      entry.kind = OpenHandle::Kind::Volume;
      entry.letter = letter;
      entry.drive = v->drive;
    } else {
      return refuse(ERROR_FILE_NOT_FOUND);
    }
    if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
      return refuse(ERROR_INVALID_PARAMETER);
    }
    // Reading or writing a raw disk or volume takes an administrator; a handle without
    // access (queries only) does not.
    if ((access & (GENERIC_READ | GENERIC_WRITE)) != 0 && !m_machine.administrator) {
      return refuse(ERROR_ACCESS_DENIED);
    }
    if (!sharingAllows(entry)) return refuse(ERROR_SHARING_VIOLATION);
    if (entry.kind == OpenHandle::Kind::Volume) {
      SimVolume* v = m_machine.findVolume(letter);
      if (v->openFiles > 0 && (shareMode & FILE_SHARE_WRITE) == 0) {
        return refuse(ERROR_SHARING_VIOLATION);
      }
      // A volume comes back into use when it is opened again after a dismount.
      v->mounted = true;
    }
  } else {
    uint32_t error = 0;
    entry.kind = OpenHandle::Kind::File;
    entry.fd = HostFiles::open(path, access, disposition, error);
    if (entry.fd < 0) return refuse(error);
  }
  const Handle handle = addHandle(entry);
  setLastError(ERROR_SUCCESS);
  req.handle = handle;
  req.ok = true;
  record(req);
  return handle;
}

bool SimPlatform::closeHandle(Handle handle) {
  std::lock_guard lock(m_mutex);
  SimRequest req;
  req.kind = SimRequest::Kind::Close;
  req.handle = handle;
  OpenHandle* h = find(handle);
  if (h == nullptr) {
    fail(ERROR_INVALID_HANDLE);
    record(req);
    return false;
  }
  if (m_logging) req.path = h->path;
  if (h->kind == OpenHandle::Kind::File) HostFiles::close(h->fd);
  if (h->kind == OpenHandle::Kind::Volume && h->holdsLock) {
    if (SimVolume* v = m_machine.findVolume(h->letter)) v->locked = false;
  }
  m_handles.erase(handle);
  setLastError(ERROR_SUCCESS);
  req.ok = true;
  record(req);
  return true;
}

const SimFault* SimPlatform::matchFault(int drive, uint32_t code, int ataCommand, int ataFeatures,
                                        bool isRead, bool isWrite) {
  for (SimFault& f : m_faults) {
    if (f.remaining == 0 || f.drive != drive) continue;
    const bool specific = f.ioctl || f.command || f.onRead || f.onWrite;
    bool hit = !specific;
    if (specific) {
      if (isRead) {
        hit = f.onRead;
      } else if (isWrite) {
        hit = f.onWrite;
      } else {
        hit = (f.ioctl || f.command) && (!f.ioctl || *f.ioctl == code) &&
              (!f.command || (ataCommand >= 0 && *f.command == ataCommand &&
                              (!f.features || *f.features == ataFeatures)));
      }
    }
    if (!hit) continue;
    if (f.skip > 0) {
      --f.skip;
      continue;
    }
    if (f.remaining > 0) --f.remaining;
    return &f;
  }
  return nullptr;
}

bool SimPlatform::deviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize,
                                  void* out, uint32_t outSize, uint32_t* bytesReturned) {
  std::lock_guard lock(m_mutex);
  // Input and output may share one buffer: take the input before anything is written.
  std::vector<uint8_t> input;
  if (in != nullptr && inSize > 0) {
    const auto* bytes = static_cast<const uint8_t*>(in);
    input.assign(bytes, bytes + inSize);
  }
  SimRequest req;
  req.kind = SimRequest::Kind::Ioctl;
  req.handle = handle;
  req.code = code;
  req.input = input;
  req.inSize = inSize;
  req.outSize = outSize;
  if (bytesReturned != nullptr) *bytesReturned = 0;

  const auto finish = [&](bool ok) {
    req.ok = ok;
    if (ok) setLastError(ERROR_SUCCESS);
    record(req);
    return ok;
  };

  OpenHandle* h = find(handle);
  if (h == nullptr) return finish(fail(ERROR_INVALID_HANDLE));
  if (m_logging) req.path = h->path;
  if ((in == nullptr && inSize > 0) || (out == nullptr && outSize > 0)) {
    return finish(fail(ERROR_INVALID_PARAMETER));
  }
  if (h->kind == OpenHandle::Kind::File) return finish(fail(ERROR_INVALID_FUNCTION));
  if (h->kind == OpenHandle::Kind::Volume) {
    return finish(volumeControl(handle, *h, code, static_cast<uint8_t*>(out), outSize, bytesReturned));
  }
  if (h->kind == OpenHandle::Kind::Port) {
    if (code != IOCTL_SCSI_MINIPORT) return finish(fail(ERROR_INVALID_FUNCTION));
    return finish(miniportControl(*h, input, static_cast<uint8_t*>(out), outSize, bytesReturned));
  }

  SimDrive* d = m_machine.findDrive(h->drive);
  if (d == nullptr || !d->present) return finish(fail(ERROR_DEVICE_NOT_CONNECTED));
  int ataCommand = -1;
  int ataFeatures = -1;
  if (code == IOCTL_ATA_PASS_THROUGH && input.size() >= kHeaderSize) {
    ataCommand = input[32 + 6];
    ataFeatures = input[32 + 0];
  }
  if ((code == SMART_RCV_DRIVE_DATA || code == SMART_SEND_DRIVE_COMMAND) && input.size() >= 12) {
    ataCommand = input[4 + 6];
    ataFeatures = input[4 + 0];
  }
  if (code == IOCTL_SCSI_PASS_THROUGH && input.size() >= 44) {
    const uint8_t* cdb = input.data() + 28;
    if (cdb[0] == 0xA1) {
      ataCommand = cdb[9];
      ataFeatures = cdb[3];
    } else if (cdb[0] == 0x85) {
      ataCommand = cdb[14];
      ataFeatures = cdb[4];
    } else if (d->scsi.atacb && cdb[0] == d->scsi.atacbDriver.signature[0] &&
               cdb[1] == d->scsi.atacbDriver.signature[1]) {
      ataCommand = cdb[12];
      ataFeatures = cdb[6];
    }
  }
  if (const SimFault* f = matchFault(d->number, code, ataCommand, ataFeatures, false, false)) {
    if (f->kind == SimFault::Kind::Vanish) {
      d->present = false;
      return finish(fail(ERROR_DEVICE_NOT_CONNECTED));
    }
    if (f->kind == SimFault::Kind::FailRequest) return finish(fail(f->error));
    // An ATA error is the drive's answer: pass the request on with it.
    if (code == IOCTL_ATA_PASS_THROUGH || code == SMART_RCV_DRIVE_DATA || code == SMART_SEND_DRIVE_COMMAND ||
        code == IOCTL_SCSI_PASS_THROUGH) {
      if (f->kind == SimFault::Kind::AtaError) m_pendingAtaError = f->ataError;
      if (f->kind == SimFault::Kind::Registers) m_pendingRegisters = f;
    }
  }
  bool ok = false;
  auto* outBytes = static_cast<uint8_t*>(out);
  switch (code) {
    case IOCTL_ATA_PASS_THROUGH:
      ok = d->ataPassThrough ? ataPassThrough(*h, *d, input, outBytes, outSize, bytesReturned)
                             : fail(ERROR_NOT_SUPPORTED);
      break;
    case SMART_GET_VERSION:
    case SMART_RCV_DRIVE_DATA:
    case SMART_SEND_DRIVE_COMMAND:
      ok = smartDriverControl(*d, code, input, outBytes, outSize, bytesReturned);
      break;
    case IOCTL_SCSI_PASS_THROUGH:
      ok = scsiPassThrough(*h, *d, input, outBytes, outSize, bytesReturned);
      break;
    case IOCTL_BRIDGE_CAPABILITIES:
    case IOCTL_BRIDGE_ATACB_SIGNATURE:
      ok = bridgeControl(*d, code, outBytes, outSize, bytesReturned);
      break;
    case IOCTL_STORAGE_QUERY_PROPERTY:
      ok = queryProperty(*d, input, outBytes, outSize, bytesReturned);
      break;
    default:
      ok = diskControl(*h, *d, code, outBytes, outSize, bytesReturned);
      break;
  }
  m_pendingAtaError = 0;
  m_pendingRegisters = nullptr;
  return finish(ok);
}

bool SimPlatform::ataPassThrough(OpenHandle& h, SimDrive& drive, const std::vector<uint8_t>& in,
                                 uint8_t* out, uint32_t outSize, uint32_t* bytesReturned) {
  // The request needs a handle opened for reading and writing.
  if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE)) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (in.size() < kHeaderSize) return fail(ERROR_INVALID_PARAMETER);
  if (outSize < kHeaderSize) return fail(ERROR_INSUFFICIENT_BUFFER);
  const uint8_t* hdr = in.data();
  const uint16_t length = rd16(hdr + 0);
  const uint16_t flags = rd16(hdr + 2);
  const uint32_t transferLength = rd32(hdr + 8);
  const uint32_t timeout = rd32(hdr + 12);
  const uint32_t dataOffset = rd32(hdr + 20);
  if (length != kHeaderSize) return fail(ERROR_INVALID_PARAMETER);
  if ((flags & ~kKnownAtaFlags) != 0) return fail(ERROR_INVALID_PARAMETER);
  const bool dataIn = (flags & 0x02) != 0;
  const bool dataOut = (flags & 0x04) != 0;
  if (dataIn && dataOut) return fail(ERROR_INVALID_PARAMETER);
  if (transferLength > 0) {
    if (!dataIn && !dataOut) return fail(ERROR_INVALID_PARAMETER);
    if (dataOffset < kHeaderSize) return fail(ERROR_INVALID_PARAMETER);
    const uint64_t end = static_cast<uint64_t>(dataOffset) + transferLength;
    if (dataIn && end > outSize) return fail(ERROR_INVALID_PARAMETER);
    if (dataOut && end > in.size()) return fail(ERROR_INVALID_PARAMETER);
  }
  if (timeout == 0) return fail(ERROR_INVALID_PARAMETER);

  AtaExchange x;
  x.current = taskFrom(hdr + 32);
  if ((flags & 0x08) != 0) x.previous = taskFrom(hdr + 24);
  x.dma = (flags & 0x10) != 0;
  x.nowMs = m_clockMs;
  x.dataIn = dataIn && transferLength > 0;
  x.dataOut = dataOut && transferLength > 0;
  if (x.dataOut) {
    x.outData = in.data() + dataOffset;
    x.outLength = transferLength;
  }
  if (x.dataIn) x.inCapacity = transferLength;

  AtaResult r = executeAta(drive.ata, x, m_pendingAtaError);
  if (r.protocolError) return fail(ERROR_IO_DEVICE);
  if (m_pendingRegisters != nullptr) {
    r.current.lbaMid = m_pendingRegisters->lbaMid;
    r.current.lbaHigh = m_pendingRegisters->lbaHigh;
  }

  // The header goes back with the registers the drive returned.
  std::memcpy(out, hdr, kHeaderSize);
  taskTo(out + 32, r.current);
  if ((flags & 0x08) != 0) taskTo(out + 24, r.previous);
  uint32_t returned = kHeaderSize;
  if (x.dataIn) {
    const uint32_t n = std::min<uint32_t>(transferLength, static_cast<uint32_t>(r.inData.size()));
    if (n > 0) std::memcpy(out + dataOffset, r.inData.data(), n);
    returned = dataOffset + transferLength;
  }
  if (bytesReturned != nullptr) *bytesReturned = returned;
  return true;
}

bool SimPlatform::volumeControl(Handle handle, OpenHandle& h, uint32_t code, uint8_t* out,
                                uint32_t outSize, uint32_t* bytesReturned) {
  SimVolume* v = m_machine.findVolume(h.letter);
  if (v == nullptr || v->removed) return fail(ERROR_DEVICE_NOT_CONNECTED);
  switch (code) {
    case FSCTL_LOCK_VOLUME: {
      if ((h.access & (GENERIC_READ | GENERIC_WRITE)) == 0) return fail(ERROR_ACCESS_DENIED);
      if (v->locked || v->openFiles > 0) return fail(ERROR_ACCESS_DENIED);
      // Any other open handle on the volume keeps it from being locked.
      for (const auto& [other, entry] : m_handles) {
        if (other != handle && entry.kind == OpenHandle::Kind::Volume && entry.letter == h.letter) {
          return fail(ERROR_ACCESS_DENIED);
        }
      }
      v->locked = true;
      h.holdsLock = true;
      return true;
    }
    case FSCTL_DISMOUNT_VOLUME:
      if ((h.access & (GENERIC_READ | GENERIC_WRITE)) == 0) return fail(ERROR_ACCESS_DENIED);
      v->mounted = false;
      return true;
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
      if (v->drive < 0) return fail(ERROR_INVALID_FUNCTION);
      if (outSize < 12) return fail(ERROR_INSUFFICIENT_BUFFER);
      wr32(out + 0, FILE_DEVICE_DISK);
      wr32(out + 4, static_cast<uint32_t>(v->drive));
      wr32(out + 8, v->partitionNumber);
      if (bytesReturned != nullptr) *bytesReturned = 12;
      return true;
    }
    default: return fail(ERROR_INVALID_FUNCTION);
  }
}

bool SimPlatform::diskControl(OpenHandle& h, SimDrive& drive, uint32_t code, uint8_t* out,
                              uint32_t outSize, uint32_t* bytesReturned) {
  switch (code) {
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      if (outSize < 12) return fail(ERROR_INSUFFICIENT_BUFFER);
      wr32(out + 0, FILE_DEVICE_DISK);
      wr32(out + 4, static_cast<uint32_t>(drive.number));
      wr32(out + 8, 0);
      if (bytesReturned != nullptr) *bytesReturned = 12;
      return true;
    case IOCTL_DISK_GET_DRIVE_LAYOUT: {
      if ((h.access & GENERIC_READ) == 0) return fail(ERROR_ACCESS_DENIED);
      constexpr uint32_t kEntries = 4;  // an MBR disk always reports its four slots
      constexpr uint32_t kNeeded = 8 + kEntries * 32;
      if (outSize < kNeeded) return fail(ERROR_INSUFFICIENT_BUFFER);
      std::vector<uint8_t> mbr(drive.disk().sectorSize());
      if (!drive.disk().read(0, 1, mbr.data())) return fail(ERROR_CRC);
      std::memset(out, 0, kNeeded);
      const bool valid = mbr[510] == 0x55 && mbr[511] == 0xAA;
      wr32(out + 0, valid ? kEntries : 0);
      wr32(out + 4, valid ? rd32(mbr.data() + 440) : 0);
      for (uint32_t i = 0; valid && i < kEntries; ++i) {
        const uint8_t* e = mbr.data() + 446 + 16 * i;
        uint8_t* p = out + 8 + 32 * i;
        const uint32_t start = rd32(e + 8);
        const uint32_t size = rd32(e + 12);
        const uint64_t ss = drive.disk().sectorSize();
        wr64(p + 0, start * ss);
        wr64(p + 8, size * ss);
        wr32(p + 16, start);
        wr32(p + 20, e[4] != 0 ? i + 1 : 0);
        p[24] = e[4];
        p[25] = e[0] == 0x80 ? 1 : 0;
        p[26] = e[4] != 0 ? 1 : 0;
      }
      if (bytesReturned != nullptr) *bytesReturned = kNeeded;
      return true;
    }
    case IOCTL_DISK_DELETE_DRIVE_LAYOUT: {
      if ((h.access & GENERIC_WRITE) == 0) return fail(ERROR_ACCESS_DENIED);
      std::vector<uint8_t> mbr(drive.disk().sectorSize());
      if (!drive.disk().read(0, 1, mbr.data())) return fail(ERROR_CRC);
      // The partition table and the boot signature go; the boot code stays.
      std::fill(mbr.begin() + 446, mbr.begin() + 512, 0);
      if (!drive.disk().write(0, 1, mbr.data())) return fail(ERROR_WRITE_FAULT);
      refreshVolumesFromPartitionTable(drive);
      return true;
    }
    case IOCTL_DISK_UPDATE_PROPERTIES:
      refreshVolumesFromPartitionTable(drive);
      return true;
    default: return fail(ERROR_INVALID_FUNCTION);
  }
}

void SimPlatform::writePartitionTable(SimDrive& drive) {
  SimMedia& disk = drive.disk();
  std::vector<uint8_t> mbr(disk.sectorSize(), 0);
  disk.read(0, 1, mbr.data());
  wr32(mbr.data() + 440, 0x5A5A0000u + static_cast<uint32_t>(drive.number));
  for (const SimVolume& v : m_machine.volumes) {
    if (v.drive != drive.number || v.partitionNumber < 1 || v.partitionNumber > 4) continue;
    uint8_t* e = mbr.data() + 446 + 16 * (v.partitionNumber - 1);
    e[0] = v.partitionNumber == 1 ? 0x80 : 0x00;
    e[4] = partitionType(v.fileSystem);
    wr32(e + 8, static_cast<uint32_t>(v.startSector));
    wr32(e + 12, static_cast<uint32_t>(v.sectorCount));
  }
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  disk.write(0, 1, mbr.data());
}

void SimPlatform::refreshVolumesFromPartitionTable(SimDrive& drive) {
  std::vector<uint8_t> mbr(drive.disk().sectorSize(), 0);
  const bool readable = drive.disk().read(0, 1, mbr.data());
  const bool valid = readable && mbr[510] == 0x55 && mbr[511] == 0xAA;
  for (SimVolume& v : m_machine.volumes) {
    if (v.drive != drive.number) continue;
    bool present = false;
    if (valid && v.partitionNumber >= 1 && v.partitionNumber <= 4) {
      present = mbr[446 + 16 * (v.partitionNumber - 1) + 4] != 0;
    }
    v.removed = !present;
  }
}

uint32_t SimPlatform::setFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                                     uint32_t moveMethod) {
  std::lock_guard lock(m_mutex);
  SimRequest req;
  req.kind = SimRequest::Kind::Seek;
  req.handle = handle;
  const int64_t distance =
      distanceHigh != nullptr
          ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                 static_cast<uint32_t>(distanceLow))
          : static_cast<int64_t>(distanceLow);
  OpenHandle* h = find(handle);
  const auto refuse = [&](uint32_t error) {
    fail(error);
    record(req);
    return INVALID_SET_FILE_POINTER;
  };
  if (h == nullptr) return refuse(ERROR_INVALID_HANDLE);
  if (m_logging) req.path = h->path;
  uint64_t position = 0;
  if (h->kind == OpenHandle::Kind::File) {
    uint32_t error = 0;
    if (!HostFiles::seek(h->fd, distance, moveMethod, position, error)) return refuse(error);
  } else if (h->kind == OpenHandle::Kind::Drive) {
    SimDrive* d = m_machine.findDrive(h->drive);
    if (d == nullptr || !d->present) return refuse(ERROR_DEVICE_NOT_CONNECTED);
    int64_t base = 0;
    if (moveMethod == FILE_CURRENT) {
      base = static_cast<int64_t>(h->position);
    } else if (moveMethod == FILE_END) {
      base = static_cast<int64_t>(d->disk().sectorCount() * d->disk().sectorSize());
    } else if (moveMethod != FILE_BEGIN) {
      return refuse(ERROR_INVALID_PARAMETER);
    }
    if (base + distance < 0) return refuse(ERROR_NEGATIVE_SEEK);
    h->position = static_cast<uint64_t>(base + distance);
    position = h->position;
  } else {
    return refuse(ERROR_INVALID_FUNCTION);
  }
  if (distanceHigh != nullptr) *distanceHigh = static_cast<int32_t>(position >> 32);
  setLastError(ERROR_SUCCESS);
  req.ok = true;
  req.position = position;
  record(req);
  return static_cast<uint32_t>(position & 0xFFFFFFFFu);
}

bool SimPlatform::writeBlockedByVolume(const SimDrive& drive, uint64_t lba, uint64_t count) const {
  // From Windows Vista on, raw writes into a volume that is still mounted and not locked
  // are refused, so a careless test cannot pull a file system away. (Whoever holds the
  // lock is not checked: in this system the writer is always the one that locked it.)
  if (m_machine.osMajor < 6) return false;
  for (const SimVolume& v : m_machine.volumes) {
    if (v.drive != drive.number || v.removed || !v.mounted || v.locked) continue;
    if (lba < v.startSector + v.sectorCount && v.startSector < lba + count) return true;
  }
  return false;
}

bool SimPlatform::readFile(Handle handle, void* buffer, uint32_t size, uint32_t* bytesRead) {
  std::lock_guard lock(m_mutex);
  SimRequest req;
  req.kind = SimRequest::Kind::Read;
  req.handle = handle;
  req.outSize = size;
  if (bytesRead != nullptr) *bytesRead = 0;
  const auto finish = [&](bool ok) {
    req.ok = ok;
    if (ok) setLastError(ERROR_SUCCESS);
    record(req);
    return ok;
  };
  OpenHandle* h = find(handle);
  if (h == nullptr) return finish(fail(ERROR_INVALID_HANDLE));
  if (m_logging) req.path = h->path;
  if (buffer == nullptr && size > 0) return finish(fail(ERROR_INVALID_PARAMETER));
  if (h->kind == OpenHandle::Kind::File) {
    uint32_t error = 0;
    const bool ok = HostFiles::read(h->fd, buffer, size, bytesRead, error);
    if (!ok) fail(error);
    return finish(ok);
  }
  if (h->kind != OpenHandle::Kind::Drive) return finish(fail(ERROR_INVALID_FUNCTION));
  if ((h->access & GENERIC_READ) == 0) return finish(fail(ERROR_ACCESS_DENIED));
  SimDrive* d = m_machine.findDrive(h->drive);
  if (d == nullptr || !d->present) return finish(fail(ERROR_DEVICE_NOT_CONNECTED));
  req.position = h->position;
  if (const SimFault* f = matchFault(d->number, 0, -1, -1, true, false)) {
    if (f->kind == SimFault::Kind::Vanish) d->present = false;
    return finish(fail(f->kind == SimFault::Kind::Vanish ? ERROR_DEVICE_NOT_CONNECTED : f->error));
  }
  SimMedia& disk = d->disk();
  const uint32_t ss = disk.sectorSize();
  if (h->position % ss != 0 || size % ss != 0) return finish(fail(ERROR_INVALID_PARAMETER));
  const uint64_t lba = h->position / ss;
  const uint64_t count = size / ss;
  if (lba > disk.sectorCount() || count > disk.sectorCount() - lba) {
    return finish(fail(ERROR_SECTOR_NOT_FOUND));
  }
  if (!disk.read(lba, count, static_cast<uint8_t*>(buffer))) return finish(fail(ERROR_CRC));
  h->position += size;
  if (bytesRead != nullptr) *bytesRead = size;
  return finish(true);
}

bool SimPlatform::writeFile(Handle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
  std::lock_guard lock(m_mutex);
  SimRequest req;
  req.kind = SimRequest::Kind::Write;
  req.handle = handle;
  req.outSize = size;
  if (bytesWritten != nullptr) *bytesWritten = 0;
  const auto finish = [&](bool ok) {
    req.ok = ok;
    if (ok) setLastError(ERROR_SUCCESS);
    record(req);
    return ok;
  };
  OpenHandle* h = find(handle);
  if (h == nullptr) return finish(fail(ERROR_INVALID_HANDLE));
  if (m_logging) req.path = h->path;
  if (buffer == nullptr && size > 0) return finish(fail(ERROR_INVALID_PARAMETER));
  if (m_logging && size > 0) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    req.input.assign(bytes, bytes + size);
  }
  if (h->kind == OpenHandle::Kind::File) {
    uint32_t error = 0;
    const bool ok = HostFiles::write(h->fd, buffer, size, bytesWritten, error);
    if (!ok) fail(error);
    return finish(ok);
  }
  if (h->kind != OpenHandle::Kind::Drive) return finish(fail(ERROR_INVALID_FUNCTION));
  if ((h->access & GENERIC_WRITE) == 0) return finish(fail(ERROR_ACCESS_DENIED));
  SimDrive* d = m_machine.findDrive(h->drive);
  if (d == nullptr || !d->present) return finish(fail(ERROR_DEVICE_NOT_CONNECTED));
  req.position = h->position;
  if (const SimFault* f = matchFault(d->number, 0, -1, -1, false, true)) {
    if (f->kind == SimFault::Kind::Vanish) d->present = false;
    return finish(fail(f->kind == SimFault::Kind::Vanish ? ERROR_DEVICE_NOT_CONNECTED : f->error));
  }
  SimMedia& disk = d->disk();
  const uint32_t ss = disk.sectorSize();
  if (h->position % ss != 0 || size % ss != 0) return finish(fail(ERROR_INVALID_PARAMETER));
  const uint64_t lba = h->position / ss;
  const uint64_t count = size / ss;
  if (lba > disk.sectorCount() || count > disk.sectorCount() - lba) {
    return finish(fail(ERROR_SECTOR_NOT_FOUND));
  }
  if (writeBlockedByVolume(*d, lba, count)) return finish(fail(ERROR_ACCESS_DENIED));
  if (!disk.write(lba, count, static_cast<const uint8_t*>(buffer))) {
    return finish(fail(ERROR_WRITE_FAULT));
  }
  h->position += size;
  if (bytesWritten != nullptr) *bytesWritten = size;
  return finish(true);
}

uint32_t SimPlatform::logicalDrives() {
  std::lock_guard lock(m_mutex);
  uint32_t mask = 0;
  for (const SimVolume& v : m_machine.volumes) {
    if (!v.removed && v.letter >= 'A' && v.letter <= 'Z') mask |= 1u << (v.letter - 'A');
  }
  return mask;
}

uint32_t SimPlatform::driveType(const std::string& root) {
  std::lock_guard lock(m_mutex);
  if (root.size() < 2 || root[1] != ':') return DRIVE_NO_ROOT_DIR;
  const SimVolume* v = m_machine.findVolume(root[0]);
  if (v == nullptr || v->removed) return DRIVE_NO_ROOT_DIR;
  return v->driveType;
}

std::string SimPlatform::windowsDirectory() {
  std::lock_guard lock(m_mutex);
  return m_machine.windowsDirectory;
}

uint32_t SimPlatform::version() {
  std::lock_guard lock(m_mutex);
  return (m_machine.osMajor & 0xFF) | ((m_machine.osMinor & 0xFF) << 8);
}

bool SimPlatform::userIsAdministrator() {
  std::lock_guard lock(m_mutex);
  return m_machine.administrator;
}

void SimPlatform::sleep(uint32_t milliseconds) { advanceClock(milliseconds); }

std::vector<TopLevelWindow> SimPlatform::topLevelWindows() {
  std::lock_guard lock(m_mutex);
  return m_machine.windows;
}

std::vector<std::string> SimPlatform::deviceInterfaces(const std::string& classGuid) {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> paths;
  const bool disks = equalsNoCase(classGuid, GUID_DEVINTERFACE_DISK);
  const bool raid = equalsNoCase(classGuid, GUID_RAID_STATUS_INTERFACE);
  for (const SimDrive& d : m_machine.drives) {
    if (!d.present) continue;
    if (disks && d.transport != Transport::Optical) paths.push_back(SimMachine::diskInterfacePath(d));
    if (raid && d.transport == Transport::Raid && d.statusInterface) paths.push_back(SimMachine::statusInterfacePath(d));
  }
  return paths;
}

namespace {
const SimVolume* volumeAt(SimMachine& m, const std::string& root) {
  if (root.size() < 2 || root[1] != ':') return nullptr;
  const SimVolume* v = m.findVolume(root[0]);
  if (v == nullptr || v->removed || !v->mediaPresent) return nullptr;
  return v;
}
}  // namespace

bool SimPlatform::volumeInformation(const std::string& root, std::string* label, std::string* fileSystem) {
  std::lock_guard lock(m_mutex);
  const SimVolume* v = volumeAt(m_machine, root);
  if (v == nullptr) return fail(ERROR_NOT_READY);
  if (label != nullptr) *label = v->label;
  if (fileSystem != nullptr) *fileSystem = v->fileSystem;
  setLastError(ERROR_SUCCESS);
  return true;
}

bool SimPlatform::diskSpace(const std::string& root, uint64_t* totalBytes, uint64_t* freeBytes) {
  std::lock_guard lock(m_mutex);
  const SimVolume* v = volumeAt(m_machine, root);
  if (v == nullptr) return fail(ERROR_NOT_READY);
  uint64_t total = v->sizeBytes;
  if (v->drive >= 0) {
    const SimDrive* d = m_machine.findDrive(v->drive);
    const uint32_t ss = d != nullptr && d->ata.units.count(0) != 0 ? d->ata.units.at(0).media.sectorSize() : 512;
    total = v->sectorCount * ss;
  }
  if (totalBytes != nullptr) *totalBytes = total;
  if (freeBytes != nullptr) *freeBytes = std::min(v->freeBytes, total);
  setLastError(ERROR_SUCCESS);
  return true;
}

std::vector<SimRequest> SimPlatform::log() const {
  std::lock_guard lock(m_mutex);
  return m_log;
}

std::vector<SimRequest> SimPlatform::ioctls(uint32_t code) const {
  std::lock_guard lock(m_mutex);
  std::vector<SimRequest> out;
  for (const SimRequest& r : m_log) {
    if (r.kind == SimRequest::Kind::Ioctl && r.code == code) out.push_back(r);
  }
  return out;
}

void SimPlatform::clearLog() {
  std::lock_guard lock(m_mutex);
  m_log.clear();
}

void SimPlatform::setLogging(bool enabled) {
  std::lock_guard lock(m_mutex);
  m_logging = enabled;
}

void SimPlatform::injectFault(const SimFault& fault) {
  std::lock_guard lock(m_mutex);
  m_faults.push_back(fault);
}

void SimPlatform::clearFaults() {
  std::lock_guard lock(m_mutex);
  m_faults.clear();
}

uint64_t SimPlatform::clockMs() const {
  std::lock_guard lock(m_mutex);
  return m_clockMs;
}

void SimPlatform::advanceClock(uint64_t milliseconds) {
  std::lock_guard lock(m_mutex);
  m_clockMs += milliseconds;
}

size_t SimPlatform::openHandleCount() const {
  std::lock_guard lock(m_mutex);
  return m_handles.size();
}

namespace {
TaskRegisters registersFromIdeRegs(const uint8_t* r) { return TaskRegisters{r[0], r[1], r[2], r[3], r[4], r[5], r[6]}; }

// Which SMART sub-commands travel with which request, as the disk driver checks them.
bool receiveFeature(uint8_t f) { return f == 0xD0 || f == 0xD1 || f == 0xD5; }
bool sendFeature(uint8_t f) { return f == 0xD2 || f == 0xD3 || f == 0xD4 || f == 0xD8 || f == 0xD9 || f == 0xDA; }
}  // namespace

bool SimPlatform::smartDriverControl(SimDrive& drive, uint32_t code, const std::vector<uint8_t>& in, uint8_t* out,
                                     uint32_t outSize, uint32_t* bytesReturned) {
  if (!drive.smartDriver.present) return fail(ERROR_INVALID_FUNCTION);
  if (code == SMART_GET_VERSION) {
    if (outSize < 24) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memset(out, 0, 24);
    out[0] = 1;  // version
    out[1] = 1;  // revision
    out[3] = drive.smartDriver.deviceMap;
    wr32(out + 4, 0x7);  // ATA IDENTIFY, ATAPI IDENTIFY and SMART commands
    if (bytesReturned != nullptr) *bytesReturned = 24;
    return true;
  }
  if (in.size() < kSendCmdInSize) return fail(ERROR_INVALID_PARAMETER);
  const uint8_t* regs = in.data() + 4;
  const uint8_t command = regs[6];
  const uint8_t feature = regs[0];
  const bool receive = code == SMART_RCV_DRIVE_DATA;
  if (receive && drive.smartDriver.rejectsReceive) return fail(ERROR_INVALID_FUNCTION);
  if (command == 0xB0 && (regs[3] != 0x4F || regs[4] != 0xC2)) return fail(ERROR_INVALID_PARAMETER);
  if (receive) {
    if (!(command == 0xEC || (command == 0xB0 && receiveFeature(feature)))) return fail(ERROR_INVALID_PARAMETER);
    if (outSize < kSendCmdOutHeaderSize + 512) return fail(ERROR_INSUFFICIENT_BUFFER);
  } else {
    if (command != 0xB0 || !sendFeature(feature)) return fail(ERROR_INVALID_PARAMETER);
    if (outSize < kSendCmdOutHeaderSize + (feature == 0xDA ? 8u : 0u)) return fail(ERROR_INSUFFICIENT_BUFFER);
    if (feature == 0xDA && drive.smartDriver.failsReturnStatus) return fail(ERROR_INVALID_FUNCTION);
  }
  AtaExchange x;
  x.current = registersFromIdeRegs(regs);
  x.nowMs = m_clockMs;
  x.dataIn = receive;
  x.inCapacity = receive ? 512 : 0;
  AtaResult r = executeAta(drive.ata, x, m_pendingAtaError);
  if (r.protocolError) return fail(ERROR_IO_DEVICE);
  if ((r.current.command & 0x01) != 0) return fail(ERROR_IO_DEVICE);  // the driver reports the drive's error
  if (m_pendingRegisters != nullptr) {
    r.current.lbaMid = m_pendingRegisters->lbaMid;
    r.current.lbaHigh = m_pendingRegisters->lbaHigh;
  }
  std::memset(out, 0, kSendCmdOutHeaderSize);
  uint32_t returned = kSendCmdOutHeaderSize;
  if (receive) {
    wr32(out, 512);
    const size_t n = std::min<size_t>(512, r.inData.size());
    std::memset(out + kSendCmdOutHeaderSize, 0, 512);
    if (n > 0) std::memcpy(out + kSendCmdOutHeaderSize, r.inData.data(), n);
    returned += 512;
  } else if (feature == 0xDA) {
    wr32(out, 8);
    taskTo(out + kSendCmdOutHeaderSize, r.current);
    out[kSendCmdOutHeaderSize + 7] = 0;
    returned += 8;
  }
  if (bytesReturned != nullptr) *bytesReturned = returned;
  return true;
}

// The drives behind SCSI port N, in the order the miniport numbers its targets: two per
// channel, the port being bit 1 of the drive number.
std::vector<SimDrive*> SimPlatform::portTargets(int port) {
  std::vector<SimDrive*> targets;
  for (SimDrive& d : m_machine.drives) {
    if (d.present && d.smartDriver.present && ((d.number >> 1) & 1) == port) targets.push_back(&d);
  }
  std::sort(targets.begin(), targets.end(), [](const SimDrive* a, const SimDrive* b) { return a->number < b->number; });
  return targets;
}

bool SimPlatform::miniportControl(OpenHandle& h, const std::vector<uint8_t>& in, uint8_t* out, uint32_t outSize,
                                  uint32_t* bytesReturned) {
  constexpr uint32_t kSrb = 28;
  if (in.size() < kSrb) return fail(ERROR_INVALID_PARAMETER);
  if (rd32(in.data()) != kSrb) return fail(ERROR_INVALID_PARAMETER);
  if (std::memcmp(in.data() + 4, "SCSIDISK", 8) != 0) return fail(ERROR_INVALID_PARAMETER);
  const uint32_t control = rd32(in.data() + 16);
  const uint32_t length = rd32(in.data() + 24);
  // The port driver copies header plus Length bytes through one system buffer as large
  // as the larger of the two buffers.
  if (static_cast<uint64_t>(kSrb) + length > std::max<size_t>(in.size(), outSize)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  std::vector<SimDrive*> targets = portTargets(h.port);
  if (control == IOCTL_SCSI_MINIPORT_SMART_VERSION) {
    if (outSize < kSrb + 24) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, in.data(), kSrb);
    std::memset(out + kSrb, 0, 24);
    out[kSrb + 0] = 1;
    out[kSrb + 1] = 1;
    uint8_t map = 0;
    for (size_t i = 0; i < targets.size() && i < 8; ++i) map = static_cast<uint8_t>(map | (1u << i));
    out[kSrb + 3] = map;
    wr32(out + kSrb + 4, 0x7);
    wr32(out + 20, 0);  // ReturnCode
    if (bytesReturned != nullptr) *bytesReturned = kSrb + 24;
    return true;
  }
  if (in.size() < kSrb + kSendCmdInSize) return fail(ERROR_INVALID_PARAMETER);
  const uint8_t* params = in.data() + kSrb;
  const uint8_t* regs = params + 4;
  const uint8_t target = params[12];
  struct Expected {
    uint32_t control;
    uint8_t command;
    uint8_t feature;
    bool data;
  };
  static constexpr Expected kCodes[] = {
      {IOCTL_SCSI_MINIPORT_IDENTIFY, 0xEC, 0x00, true},
      {IOCTL_SCSI_MINIPORT_READ_SMART_ATTRIBS, 0xB0, 0xD0, true},
      {IOCTL_SCSI_MINIPORT_READ_SMART_THRESHOLDS, 0xB0, 0xD1, true},
      {IOCTL_SCSI_MINIPORT_ENABLE_SMART, 0xB0, 0xD8, false},
      {IOCTL_SCSI_MINIPORT_DISABLE_SMART, 0xB0, 0xD9, false},
      {IOCTL_SCSI_MINIPORT_RETURN_STATUS, 0xB0, 0xDA, false},
      {IOCTL_SCSI_MINIPORT_ENABLE_DISABLE_AUTOSAVE, 0xB0, 0xD2, false},
      {IOCTL_SCSI_MINIPORT_SAVE_ATTRIBUTE_VALUES, 0xB0, 0xD3, false},
      {IOCTL_SCSI_MINIPORT_EXECUTE_OFFLINE_DIAGS, 0xB0, 0xD4, false},
  };
  const Expected* op = nullptr;
  for (const Expected& e : kCodes) {
    if (e.control == control) op = &e;
  }
  if (op == nullptr) return fail(ERROR_INVALID_FUNCTION);
  // The miniport sends the registers it is given but refuses a request whose registers
  // do not belong to its control code.
  if (regs[6] != op->command || (op->command == 0xB0 && regs[0] != op->feature)) return fail(ERROR_INVALID_PARAMETER);
  const uint32_t needed = kSrb + kSendCmdOutHeaderSize + (op->data ? 512u : 0u);
  if (outSize < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, in.data(), kSrb);
  wr32(out + 20, 0);  // ReturnCode
  std::memset(out + kSrb, 0, needed - kSrb);
  if (target >= targets.size()) {
    // No device at that target: the miniport answers IDENTIFY with empty data.
    if (op->command != 0xEC) return fail(ERROR_GEN_FAILURE);
    if (bytesReturned != nullptr) *bytesReturned = std::min<uint32_t>(outSize, kSrb + length);
    return true;
  }
  SimDrive& drive = *targets[target];
  AtaExchange x;
  x.current = registersFromIdeRegs(regs);
  x.nowMs = m_clockMs;
  x.dataIn = op->data;
  x.inCapacity = op->data ? 512 : 0;
  AtaResult r = executeAta(drive.ata, x, 0);
  if (r.protocolError || (r.current.command & 0x01) != 0) return fail(ERROR_IO_DEVICE);
  if (op->data) {
    wr32(out + kSrb, 512);
    if (!r.inData.empty()) std::memcpy(out + kSrb + kSendCmdOutHeaderSize, r.inData.data(), std::min<size_t>(512, r.inData.size()));
  }
  if (op->feature == 0xDA && op->command == 0xB0) {
    // This miniport completes RETURN STATUS with an error but no system error code when
    // the drive reports a threshold exceeded.
    if (!(r.current.lbaMid == 0x4F && r.current.lbaHigh == 0xC2)) return fail(ERROR_SUCCESS);
  }
  // The port driver hands back the header and the Length bytes the request declared.
  if (bytesReturned != nullptr) *bytesReturned = std::min<uint32_t>(outSize, kSrb + length);
  return true;
}

bool SimPlatform::scsiPassThrough(OpenHandle& h, SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out,
                                  uint32_t outSize, uint32_t* bytesReturned) {
  constexpr uint32_t kSpt = 44;
  if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE)) return fail(ERROR_ACCESS_DENIED);
  if (in.size() < kSpt) return fail(ERROR_INVALID_PARAMETER);
  if (outSize < kSpt) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (!drive.scsi.present) return fail(ERROR_INVALID_FUNCTION);
  const uint8_t* hdr = in.data();
  const uint16_t length = rd16(hdr);
  const uint8_t cdbLength = hdr[6];
  const uint8_t senseLength = hdr[7];
  const uint8_t dataIn = hdr[8];
  const uint32_t transferLength = rd32(hdr + 12);
  const uint32_t timeout = rd32(hdr + 16);
  const uint32_t dataOffset = rd32(hdr + 20);
  const uint32_t senseOffset = rd32(hdr + 24);
  if (length != kSpt || cdbLength == 0 || cdbLength > 16 || dataIn > 2 || timeout == 0) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (transferLength > 0) {
    if (dataOffset < kSpt) return fail(ERROR_INVALID_PARAMETER);
    const uint64_t end = static_cast<uint64_t>(dataOffset) + transferLength;
    if (dataIn == 1 && end > outSize) return fail(ERROR_INVALID_PARAMETER);
    if (dataIn == 0 && end > in.size()) return fail(ERROR_INVALID_PARAMETER);
    if (dataIn == 2) return fail(ERROR_INVALID_PARAMETER);
  }
  if (senseLength > 0) {
    const uint64_t end = static_cast<uint64_t>(senseOffset) + senseLength;
    if (senseOffset < kSpt || end > outSize) return fail(ERROR_INVALID_PARAMETER);
  }
  ScsiCommand c;
  c.cdb = hdr + 28;
  c.cdbLength = cdbLength;
  c.dataIn = dataIn;
  c.outData = dataIn == 0 && transferLength > 0 ? in.data() + dataOffset : nullptr;
  c.outLength = dataIn == 0 ? transferLength : 0;
  c.inCapacity = dataIn == 1 ? transferLength : 0;
  c.nowMs = m_clockMs;
  c.injectedAtaError = m_pendingAtaError;
  const ScsiReply reply = executeScsi(drive, c);

  // The request comes back through the same buffer with the status, the actual transfer
  // length, the sense data and the data.
  std::memcpy(out, in.data(), std::min<size_t>(in.size(), outSize));
  out[2] = reply.status;
  const uint32_t moved = dataIn == 1 ? static_cast<uint32_t>(reply.data.size()) : (reply.status == 0 ? transferLength : 0);
  wr32(out + 12, moved);
  uint32_t returned = kSpt;
  if (dataIn == 1 && !reply.data.empty()) {
    std::memcpy(out + dataOffset, reply.data.data(), reply.data.size());
    returned = dataOffset + static_cast<uint32_t>(reply.data.size());
  }
  uint8_t senseWritten = 0;
  if (reply.status != 0 && senseLength > 0) {
    uint8_t sense[18] = {0x70, 0, reply.senseKey, 0, 0, 0, 0, 10, 0, 0, 0, 0, reply.asc, reply.ascq, 0, 0, 0, 0};
    senseWritten = static_cast<uint8_t>(std::min<uint32_t>(senseLength, sizeof sense));
    std::memcpy(out + senseOffset, sense, senseWritten);
    returned = std::max(returned, senseOffset + senseWritten);
  }
  out[7] = senseWritten;
  if (bytesReturned != nullptr) *bytesReturned = returned;
  return true;
}

bool SimPlatform::bridgeControl(SimDrive& drive, uint32_t code, uint8_t* out, uint32_t outSize, uint32_t* bytesReturned) {
  if (!drive.scsi.atacb) return fail(ERROR_INVALID_FUNCTION);
  const SimAtacb& bridge = drive.scsi.atacbDriver;
  if (code == IOCTL_BRIDGE_CAPABILITIES) {
    if (bridge.capabilitiesFail) return fail(ERROR_GEN_FAILURE);
    if (outSize < 512) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memset(out, 0, 512);
    if (!bridge.capabilityAnswer.empty()) {
      std::memcpy(out, bridge.capabilityAnswer.data(), std::min<size_t>(512, bridge.capabilityAnswer.size()));
    } else {
      wr32(out + 16, bridge.supported ? 0x40000u : 0u);
    }
    if (bytesReturned != nullptr) *bytesReturned = 512;
    return true;
  }
  if (bridge.signatureFails) return fail(ERROR_GEN_FAILURE);
  if (outSize < 2) return fail(ERROR_INSUFFICIENT_BUFFER);
  out[0] = bridge.signature[0];
  out[1] = bridge.signature[1];
  if (bytesReturned != nullptr) *bytesReturned = 2;
  return true;
}

bool SimPlatform::queryProperty(SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out, uint32_t outSize,
                                uint32_t* bytesReturned) {
  if (in.size() < 12) return fail(ERROR_INVALID_PARAMETER);
  const uint32_t property = rd32(in.data());
  const uint32_t query = rd32(in.data() + 4);
  if (query != 0 || property != 1) return fail(ERROR_NOT_SUPPORTED);
  // STORAGE_ADAPTER_DESCRIPTOR: version and size, transfer limits, the bus type at 24.
  uint8_t descriptor[32] = {};
  wr32(descriptor + 0, 32);
  wr32(descriptor + 4, 32);
  wr32(descriptor + 8, 128 * 1024);
  wr32(descriptor + 12, 33);
  descriptor[24] = static_cast<uint8_t>(drive.busType);
  if (outSize < 8) return fail(ERROR_INSUFFICIENT_BUFFER);
  const uint32_t n = std::min<uint32_t>(outSize, sizeof descriptor);
  std::memcpy(out, descriptor, n);
  if (bytesReturned != nullptr) *bytesReturned = n;
  return true;
}

}  // namespace palvoro::sim
