#include "platform/sim/sim_platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/device_names.h"
#include "platform/host_files.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "platform/sim/sim_ata.h"
#include "platform/sim/sim_nvme.h"
#include "platform/sim/sim_scsi.h"
#include "protocol/byte_order.h"

namespace palvoro::sim {
namespace {

// The request and reply records are read and written at offsets written out here from the
// 32-bit Windows layout, not taken from records.h: a slip there must not reach both sides
// of the seam.

// ATA_PASS_THROUGH_EX.
constexpr uint32_t kAtaHeaderSize = 40;
constexpr size_t kAtaLength = 0;  // 16 bits
constexpr size_t kAtaFlags = 2;   // 16 bits
constexpr size_t kAtaTransferLength = 8;
constexpr size_t kAtaTimeOut = 12;
constexpr size_t kAtaDataOffset = 20;
constexpr size_t kAtaPreviousTaskFile = 24;
constexpr size_t kAtaCurrentTaskFile = 32;
// Its AtaFlags.
constexpr uint16_t kAtaFlagDataIn = 0x02;
constexpr uint16_t kAtaFlagDataOut = 0x04;
constexpr uint16_t kAtaFlag48Bit = 0x08;
constexpr uint16_t kAtaFlagDma = 0x10;
constexpr uint16_t kKnownAtaFlags = 0x3F;  // DRDY_REQUIRED up to NO_MULTIPLE

// SENDCMDINPARAMS: cBufferSize, the IDE registers, bDriveNumber. SENDCMDOUTPARAMS:
// cBufferSize, the driver status, the data from kSendCmdOutHeaderSize.
constexpr size_t kSendCmdRegisters = 4;
constexpr size_t kSendCmdDriveNumber = 12;
constexpr size_t kSendCmdOutBufferSize = 0;
// IDEREGS: the seven registers (readTaskFile's order) and a reserved byte.
constexpr uint32_t kIdeRegsSize = 8;
constexpr size_t kIdeRegsReserved = 7;

// GETVERSIONINPARAMS, the reply of SMART_GET_VERSION and of the miniport's version request.
constexpr uint32_t kVersionSize = 24;
constexpr size_t kVersionVersion = 0;
constexpr size_t kVersionRevision = 1;
constexpr size_t kVersionDeviceMap = 3;
constexpr size_t kVersionCapabilities = 4;
constexpr uint32_t kSmartCapabilities = 0x7;  // ATA IDENTIFY, ATAPI IDENTIFY and SMART commands

// SRB_IO_CONTROL, the header of a miniport request.
constexpr uint32_t kSrbSize = 28;
constexpr size_t kSrbHeaderLength = 0;
constexpr size_t kSrbSignature = 4;  // 8 bytes
constexpr size_t kSrbControlCode = 16;
constexpr size_t kSrbReturnCode = 20;
constexpr size_t kSrbLength = 24;

// SCSI_PASS_THROUGH.
constexpr uint32_t kSptSize = 44;
constexpr size_t kSptLength = 0;  // 16 bits
constexpr size_t kSptScsiStatus = 2;
constexpr size_t kSptCdbLength = 6;
constexpr size_t kSptSenseInfoLength = 7;
constexpr size_t kSptDataIn = 8;
constexpr size_t kSptDataTransferLength = 12;
constexpr size_t kSptTimeOut = 16;
constexpr size_t kSptDataBufferOffset = 20;
constexpr size_t kSptSenseInfoOffset = 24;
constexpr size_t kSptCdb = 28;  // 16 bytes
constexpr uint8_t kSptMaxCdbLength = 16;

// Fixed-format sense data (SPC): response code 70h, the sense key, the additional length
// (10: up to byte 17), ASC and ASCQ.
constexpr size_t kSenseSize = 18;
constexpr size_t kSenseResponseCode = 0;
constexpr size_t kSenseKey = 2;
constexpr size_t kSenseAdditionalLength = 7;
constexpr size_t kSenseAsc = 12;
constexpr size_t kSenseAscq = 13;

// STORAGE_DEVICE_NUMBER.
constexpr uint32_t kDeviceNumberSize = 12;
constexpr size_t kDeviceNumberType = 0;
constexpr size_t kDeviceNumberDevice = 4;
constexpr size_t kDeviceNumberPartition = 8;

// STORAGE_DEVICE_NUMBER_EX.
constexpr uint32_t kDeviceNumberExSize = 40;
constexpr size_t kDeviceNumberExVersion = 0;
constexpr size_t kDeviceNumberExSizeField = 4;
constexpr size_t kDeviceNumberExFlags = 8;
constexpr size_t kDeviceNumberExType = 12;
constexpr size_t kDeviceNumberExDevice = 16;
constexpr size_t kDeviceNumberExGuid = 20;
constexpr uint32_t kRandomGuidNoHardwareId = 0x2;

// DRIVE_LAYOUT_INFORMATION: PartitionCount and Signature, then PARTITION_INFORMATION
// entries of 32 bytes.
constexpr uint32_t kLayoutHeaderSize = 8;
constexpr size_t kLayoutCount = 0;
constexpr size_t kLayoutSignature = 4;
constexpr uint32_t kLayoutEntrySize = 32;
constexpr size_t kEntryStartingOffset = 0;
constexpr size_t kEntryLength = 8;
constexpr size_t kEntryHiddenSectors = 16;
constexpr size_t kEntryNumber = 20;
constexpr size_t kEntryType = 24;
constexpr size_t kEntryBootIndicator = 25;
constexpr size_t kEntryRecognized = 26;

// STORAGE_PROPERTY_QUERY, and the STORAGE_ADAPTER_DESCRIPTOR that answers it.
constexpr uint32_t kPropertyQuerySize = 12;
constexpr size_t kQueryPropertyId = 0;
constexpr size_t kQueryType = 4;
constexpr uint32_t kAdapterDescriptorSize = 32;
constexpr size_t kAdapterVersion = 0;
constexpr size_t kAdapterSize = 4;
constexpr size_t kAdapterMaximumTransferLength = 8;
constexpr size_t kAdapterMaximumPhysicalPages = 12;
constexpr size_t kAdapterBusType = 24;
constexpr uint32_t kAdapterHeaderSize = 8;  // the least a caller may ask for: Version and Size
// A protocol-specific query's data type and request value, inside the protocol data that
// starts at byte 8 of the query.
constexpr size_t kQueryNvmeDataType = 8 + 4;
constexpr size_t kQueryNvmeValue = 8 + 8;

// The USB bridge driver's capabilities reply: bit 18 of the word at byte 16 says it carries
// the vendor ATA command block.
constexpr uint32_t kBridgeCapabilitiesSize = 512;
constexpr size_t kBridgeCapabilityWord = 16;
constexpr uint32_t kBridgeCarriesAtacb = 0x40000;
constexpr uint32_t kBridgeSignatureSize = 2;

// The master boot record: the disk signature, four 16-byte partition entries (boot
// indicator, type, first sector, sector count) and the 55h AAh boot signature.
constexpr size_t kMbrDiskSignature = 440;
constexpr size_t kMbrPartitionTable = 446;
constexpr size_t kMbrEntrySize = 16;
constexpr size_t kMbrEntryBoot = 0;
constexpr size_t kMbrEntryType = 4;
constexpr size_t kMbrEntryStart = 8;
constexpr size_t kMbrEntrySectors = 12;
constexpr size_t kMbrBootSignature = 510;
constexpr uint8_t kMbrActive = 0x80;

constexpr uint32_t kBlockBytes = 512;  // one IDENTIFY or SMART page

// The entry of partition `number` (1 to 4) in a master boot record.
uint8_t* mbrEntry(std::vector<uint8_t>& mbr, uint32_t number) {
  return mbr.data() + kMbrPartitionTable + kMbrEntrySize * (number - 1);
}
bool hasBootSignature(const std::vector<uint8_t>& mbr) {
  return mbr[kMbrBootSignature] == 0x55 && mbr[kMbrBootSignature + 1] == 0xAA;
}

void putDeviceNumber(uint8_t* out, uint32_t drive, uint32_t partition) {
  storeLe32(out + kDeviceNumberType, FILE_DEVICE_DISK);
  storeLe32(out + kDeviceNumberDevice, drive);
  storeLe32(out + kDeviceNumberPartition, partition);
}

// Version 1.1 with the SMART capabilities; `deviceMap` has a bit for each drive served.
void putVersion(uint8_t* out, uint8_t deviceMap) {
  std::memset(out, 0, kVersionSize);
  out[kVersionVersion] = 1;
  out[kVersionRevision] = 1;
  out[kVersionDeviceMap] = deviceMap;
  storeLe32(out + kVersionCapabilities, kSmartCapabilities);
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
    // Drives copied from one another in a description or a test are still told apart.
    drive.arrival = ++m_machine.arrivals;
    const bool hasVolumes = std::any_of(m_machine.volumes.begin(), m_machine.volumes.end(),
                                        [&](const SimVolume& v) { return v.drive == drive.number; });
    if (hasVolumes && drive.ata.units.count(0) != 0) writePartitionTable(drive);
    if (drive.thermal) placeTemperature(drive, drive.thermal->start);
  }
}

SimPlatform::~SimPlatform() {
  for (auto& [handle, entry] : m_handles) {
    if (entry.kind == OpenHandle::Kind::File) HostFiles::close(entry.fd);
  }
}

SimDrive* SimPlatform::liveDrive(const OpenHandle& h) {
  SimDrive* d = m_machine.findDrive(h.drive);
  return d != nullptr && d->present && d->arrival == h.arrival ? d : nullptr;
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
  m_log.back().clockMs = nowMs();
}

bool SimPlatform::complete(SimRequest& request, bool ok) {
  request.ok = ok;
  if (ok) setLastError(ERROR_SUCCESS);
  record(request);
  return ok;
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

// Long on purpose: one branch per kind of name a program may open, each checking what the
// system would refuse for that kind, so the rules for names live in one place.
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
    entry.arrival = target->arrival;
    if (!sharingAllows(entry)) return refuse(ERROR_SHARING_VIOLATION);
  } else if (path.compare(0, 4, "\\\\.\\") == 0) {
    const int number = physicalDriveNumberOf(path);
    const char letter = volumeLetterOf(path);
    const int port = scsiPortNumberOf(path);
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
      entry.arrival = d->arrival;
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
                                        bool isRead, bool isWrite, const QueryKey& query) {
  const auto matches = [](const std::optional<uint32_t>& wanted, int64_t got) { return !wanted || *wanted == got; };
  for (SimFault& f : m_faults) {
    if (f.remaining == 0 || f.drive != drive) continue;
    const bool byQuery = f.property || f.nvmeDataType || f.nvmeValue;
    const bool specific = f.ioctl || f.command || byQuery || f.onRead || f.onWrite || f.onFlush;
    bool hit = !specific;
    if (specific) {
      if (isRead) {
        hit = f.onRead;
      } else if (isWrite) {
        hit = f.onWrite;
      } else {
        hit = (f.ioctl || f.command || byQuery) && (!f.ioctl || *f.ioctl == code) &&
              (!f.command || (ataCommand >= 0 && *f.command == ataCommand &&
                              (!f.features || *f.features == ataFeatures))) &&
              matches(f.property, query.property) && matches(f.nvmeDataType, query.nvmeDataType) &&
              matches(f.nvmeValue, query.nvmeValue);
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

// Long on purpose: the dispatch over every control code the machine answers, each case
// short, so the set of codes the simulator knows stays in one place.
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

  const auto finish = [&](bool ok) { return complete(req, ok); };

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

  SimDrive* d = liveDrive(*h);
  if (d == nullptr) return finish(fail(ERROR_DEVICE_NOT_CONNECTED));
  // Whatever the drive reports now, it has had the time since its last request to cool.
  coolDrive(*d);
  int ataCommand = -1;
  int ataFeatures = -1;
  const auto matchAta = [&](const TaskRegisters& registers) {
    ataCommand = registers.command;
    ataFeatures = registers.features;
  };
  if (code == IOCTL_ATA_PASS_THROUGH && input.size() >= kAtaHeaderSize) {
    matchAta(readTaskFile(input.data() + kAtaCurrentTaskFile));
  }
  if ((code == SMART_RCV_DRIVE_DATA || code == SMART_SEND_DRIVE_COMMAND) &&
      input.size() >= kSendCmdRegisters + kIdeRegsSize) {
    matchAta(readTaskFile(input.data() + kSendCmdRegisters));
  }
  TaskRegisters carried;
  if (code == IOCTL_SCSI_PASS_THROUGH && input.size() >= kSptSize &&
      carriedTaskRegisters(*d, input.data() + kSptCdb, carried)) {
    matchAta(carried);
  }
  QueryKey query;
  if (code == IOCTL_STORAGE_QUERY_PROPERTY && input.size() >= 4) {
    query.property = loadLe32(input.data());
    if (input.size() >= kQueryNvmeValue + 4) {
      query.nvmeDataType = loadLe32(input.data() + kQueryNvmeDataType);
      query.nvmeValue = loadLe32(input.data() + kQueryNvmeValue);
    }
  }
  std::optional<uint32_t> replyBytes;
  if (const SimFault* f = matchFault(d->number, code, ataCommand, ataFeatures, false, false, query)) {
    if (f->kind == SimFault::Kind::Vanish) {
      d->present = false;
      return finish(fail(ERROR_DEVICE_NOT_CONNECTED));
    }
    if (f->kind == SimFault::Kind::FailRequest) return finish(fail(f->error));
    if (f->kind == SimFault::Kind::ShortReply) replyBytes = f->replyBytes;
    if (f->kind == SimFault::Kind::Temperature) placeTemperature(*d, f->celsius);
    if (f->kind == SimFault::Kind::NvmeStatus && code == IOCTL_STORAGE_PROTOCOL_COMMAND) {
      m_pendingNvmeStatus = f->nvmeStatus;
    }
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
    case IOCTL_STORAGE_PROTOCOL_COMMAND:
      ok = protocolCommand(*h, *d, input, outBytes, outSize, bytesReturned);
      break;
    default:
      ok = diskControl(*h, *d, code, outBytes, outSize, bytesReturned);
      break;
  }
  m_pendingAtaError = 0;
  m_pendingRegisters = nullptr;
  m_pendingNvmeStatus.reset();
  if (ok && replyBytes && bytesReturned != nullptr && *bytesReturned > *replyBytes) {
    // What was not handed back holds zeros, as a short transfer leaves a cleared buffer.
    std::memset(outBytes + *replyBytes, 0, *bytesReturned - *replyBytes);
    *bytesReturned = *replyBytes;
  }
  return finish(ok);
}

bool SimPlatform::ataPassThrough(OpenHandle& h, SimDrive& drive, const std::vector<uint8_t>& in,
                                 uint8_t* out, uint32_t outSize, uint32_t* bytesReturned) {
  // The request needs a handle opened for reading and writing.
  if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE)) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (in.size() < kAtaHeaderSize) return fail(ERROR_INVALID_PARAMETER);
  if (outSize < kAtaHeaderSize) return fail(ERROR_INSUFFICIENT_BUFFER);
  const uint8_t* hdr = in.data();
  const uint16_t length = loadLe16(hdr + kAtaLength);
  const uint16_t flags = loadLe16(hdr + kAtaFlags);
  const uint32_t transferLength = loadLe32(hdr + kAtaTransferLength);
  const uint32_t timeout = loadLe32(hdr + kAtaTimeOut);
  const uint32_t dataOffset = loadLe32(hdr + kAtaDataOffset);
  if (length != kAtaHeaderSize) return fail(ERROR_INVALID_PARAMETER);
  if ((flags & ~kKnownAtaFlags) != 0) return fail(ERROR_INVALID_PARAMETER);
  const bool dataIn = (flags & kAtaFlagDataIn) != 0;
  const bool dataOut = (flags & kAtaFlagDataOut) != 0;
  const bool is48Bit = (flags & kAtaFlag48Bit) != 0;
  if (dataIn && dataOut) return fail(ERROR_INVALID_PARAMETER);
  if (transferLength > 0) {
    if (!dataIn && !dataOut) return fail(ERROR_INVALID_PARAMETER);
    if (dataOffset < kAtaHeaderSize) return fail(ERROR_INVALID_PARAMETER);
    const uint64_t end = static_cast<uint64_t>(dataOffset) + transferLength;
    if (dataIn && end > outSize) return fail(ERROR_INVALID_PARAMETER);
    if (dataOut && end > in.size()) return fail(ERROR_INVALID_PARAMETER);
  }
  if (timeout == 0) return fail(ERROR_INVALID_PARAMETER);

  AtaExchange x;
  x.current = readTaskFile(hdr + kAtaCurrentTaskFile);
  if (is48Bit) x.previous = readTaskFile(hdr + kAtaPreviousTaskFile);
  x.dma = (flags & kAtaFlagDma) != 0;
  x.nowMs = nowMs();
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
  std::memcpy(out, hdr, kAtaHeaderSize);
  writeTaskFile(out + kAtaCurrentTaskFile, r.current);
  if (is48Bit) writeTaskFile(out + kAtaPreviousTaskFile, r.previous);
  uint32_t returned = kAtaHeaderSize;
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
      if (outSize < kDeviceNumberSize) return fail(ERROR_INSUFFICIENT_BUFFER);
      putDeviceNumber(out, static_cast<uint32_t>(v->drive), v->partitionNumber);
      if (bytesReturned != nullptr) *bytesReturned = kDeviceNumberSize;
      return true;
    }
    default: return fail(ERROR_INVALID_FUNCTION);
  }
}

bool SimPlatform::diskControl(OpenHandle& h, SimDrive& drive, uint32_t code, uint8_t* out,
                              uint32_t outSize, uint32_t* bytesReturned) {
  switch (code) {
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      if (outSize < kDeviceNumberSize) return fail(ERROR_INSUFFICIENT_BUFFER);
      putDeviceNumber(out, static_cast<uint32_t>(drive.number), 0);
      if (bytesReturned != nullptr) *bytesReturned = kDeviceNumberSize;
      return true;
    case IOCTL_STORAGE_GET_DEVICE_NUMBER_EX:
      // The arrival stands for the GUID: what a system makes up for a drive whose identity
      // it cannot trust, new each time the drive is plugged in.
      if (outSize < kDeviceNumberExSize) return fail(ERROR_INSUFFICIENT_BUFFER);
      std::memset(out, 0, kDeviceNumberExSize);
      storeLe32(out + kDeviceNumberExVersion, kDeviceNumberExSize);
      storeLe32(out + kDeviceNumberExSizeField, kDeviceNumberExSize);
      storeLe32(out + kDeviceNumberExFlags, kRandomGuidNoHardwareId);
      storeLe32(out + kDeviceNumberExType, FILE_DEVICE_DISK);
      storeLe32(out + kDeviceNumberExDevice, static_cast<uint32_t>(drive.number));
      storeLe64(out + kDeviceNumberExGuid, drive.arrival);
      if (bytesReturned != nullptr) *bytesReturned = kDeviceNumberExSize;
      return true;
    case IOCTL_DISK_GET_DRIVE_LAYOUT: {
      if ((h.access & GENERIC_READ) == 0) return fail(ERROR_ACCESS_DENIED);
      constexpr uint32_t kEntries = 4;  // an MBR disk always reports its four slots
      constexpr uint32_t kNeeded = kLayoutHeaderSize + kEntries * kLayoutEntrySize;
      if (outSize < kNeeded) return fail(ERROR_INSUFFICIENT_BUFFER);
      std::vector<uint8_t> mbr(drive.disk().sectorSize());
      if (!drive.disk().read(0, 1, mbr.data())) return fail(ERROR_CRC);
      std::memset(out, 0, kNeeded);
      const bool valid = hasBootSignature(mbr);
      storeLe32(out + kLayoutCount, valid ? kEntries : 0);
      storeLe32(out + kLayoutSignature, valid ? loadLe32(mbr.data() + kMbrDiskSignature) : 0);
      for (uint32_t i = 0; valid && i < kEntries; ++i) {
        const uint8_t* e = mbrEntry(mbr, i + 1);
        uint8_t* p = out + kLayoutHeaderSize + kLayoutEntrySize * i;
        const uint32_t start = loadLe32(e + kMbrEntryStart);
        const uint32_t size = loadLe32(e + kMbrEntrySectors);
        const uint8_t type = e[kMbrEntryType];
        const uint64_t ss = drive.disk().sectorSize();
        storeLe64(p + kEntryStartingOffset, start * ss);
        storeLe64(p + kEntryLength, size * ss);
        storeLe32(p + kEntryHiddenSectors, start);
        storeLe32(p + kEntryNumber, type != 0 ? i + 1 : 0);
        p[kEntryType] = type;
        p[kEntryBootIndicator] = e[kMbrEntryBoot] == kMbrActive ? 1 : 0;
        p[kEntryRecognized] = type != 0 ? 1 : 0;
      }
      if (bytesReturned != nullptr) *bytesReturned = kNeeded;
      return true;
    }
    case IOCTL_DISK_DELETE_DRIVE_LAYOUT: {
      if ((h.access & GENERIC_WRITE) == 0) return fail(ERROR_ACCESS_DENIED);
      std::vector<uint8_t> mbr(drive.disk().sectorSize());
      if (!drive.disk().read(0, 1, mbr.data())) return fail(ERROR_CRC);
      // The partition table and the boot signature go; the boot code stays.
      std::fill(mbr.begin() + kMbrPartitionTable, mbr.begin() + kMbrBootSignature + 2, 0);
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
  storeLe32(mbr.data() + kMbrDiskSignature, 0x5A5A0000u + static_cast<uint32_t>(drive.number));
  for (const SimVolume& v : m_machine.volumes) {
    if (v.drive != drive.number || v.partitionNumber < 1 || v.partitionNumber > 4) continue;
    uint8_t* e = mbrEntry(mbr, v.partitionNumber);
    e[kMbrEntryBoot] = v.partitionNumber == 1 ? kMbrActive : 0x00;
    e[kMbrEntryType] = partitionType(v.fileSystem);
    storeLe32(e + kMbrEntryStart, static_cast<uint32_t>(v.startSector));
    storeLe32(e + kMbrEntrySectors, static_cast<uint32_t>(v.sectorCount));
  }
  mbr[kMbrBootSignature] = 0x55;
  mbr[kMbrBootSignature + 1] = 0xAA;
  disk.write(0, 1, mbr.data());
}

void SimPlatform::refreshVolumesFromPartitionTable(SimDrive& drive) {
  std::vector<uint8_t> mbr(drive.disk().sectorSize(), 0);
  const bool readable = drive.disk().read(0, 1, mbr.data());
  const bool valid = readable && hasBootSignature(mbr);
  for (SimVolume& v : m_machine.volumes) {
    if (v.drive != drive.number) continue;
    bool present = false;
    if (valid && v.partitionNumber >= 1 && v.partitionNumber <= 4) {
      present = mbrEntry(mbr, v.partitionNumber)[kMbrEntryType] != 0;
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
  const int64_t distance = seekDistance(distanceLow, distanceHigh);
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
    SimDrive* d = liveDrive(*h);
    if (d == nullptr) return refuse(ERROR_DEVICE_NOT_CONNECTED);
    const uint32_t error =
        movePosition(h->position, distance, moveMethod, d->disk().hostSectors() * d->disk().sectorSize());
    if (error != ERROR_SUCCESS) return refuse(error);
    position = h->position;
  } else {
    return refuse(ERROR_INVALID_FUNCTION);
  }
  req.ok = true;
  req.position = position;
  record(req);
  setLastError(ERROR_SUCCESS);
  return seekAnswer(position, distanceHigh);
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
  return transfer(handle, SimRequest::Kind::Read, buffer, nullptr, size, bytesRead);
}

bool SimPlatform::writeFile(Handle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
  return transfer(handle, SimRequest::Kind::Write, nullptr, buffer, size, bytesWritten);
}

bool SimPlatform::flushFileBuffers(Handle handle) {
  std::lock_guard lock(m_mutex);
  OpenHandle* h = find(handle);
  if (h == nullptr) return fail(ERROR_INVALID_HANDLE);
  if (h->kind == OpenHandle::Kind::Drive) {
    // The simulated media stores each write at once: only a drive that is gone, or one
    // whose cache a test made lose the writes, fails to confirm them.
    const SimDrive* d = liveDrive(*h);
    if (d == nullptr) return fail(ERROR_DEVICE_NOT_CONNECTED);
    for (SimFault& f : m_faults) {
      if (!f.onFlush || f.remaining == 0 || f.drive != d->number) continue;
      if (f.remaining > 0) --f.remaining;
      return fail(f.error);
    }
  } else if (h->kind == OpenHandle::Kind::File) {
    uint32_t error = 0;
    if (!HostFiles::flush(h->fd, error)) return fail(error);
  } else {
    return fail(ERROR_INVALID_FUNCTION);
  }
  setLastError(ERROR_SUCCESS);
  return true;
}

bool SimPlatform::transfer(Handle handle, SimRequest::Kind kind, void* into, const void* from, uint32_t size,
                           uint32_t* moved, const uint64_t* at, uint64_t* mediaMicroseconds) {
  std::lock_guard lock(m_mutex);
  const bool write = kind == SimRequest::Kind::Write;
  SimRequest req;
  req.kind = kind;
  req.handle = handle;
  req.outSize = size;
  if (moved != nullptr) *moved = 0;
  const auto finish = [&](bool ok) { return complete(req, ok); };
  OpenHandle* h = find(handle);
  if (h == nullptr) return finish(fail(ERROR_INVALID_HANDLE));
  if (m_logging) req.path = h->path;
  if ((write ? from : into) == nullptr && size > 0) return finish(fail(ERROR_INVALID_PARAMETER));
  if (write && m_logging && size > 0) {
    const auto* bytes = static_cast<const uint8_t*>(from);
    req.input.assign(bytes, bytes + size);
  }
  if (h->kind == OpenHandle::Kind::File) {
    uint32_t error = 0;
    const bool ok = write ? HostFiles::write(h->fd, from, size, moved, error)
                          : HostFiles::read(h->fd, into, size, moved, error);
    if (!ok) fail(error);
    return finish(ok);
  }
  if (h->kind != OpenHandle::Kind::Drive) return finish(fail(ERROR_INVALID_FUNCTION));
  if ((h->access & (write ? GENERIC_WRITE : GENERIC_READ)) == 0) return finish(fail(ERROR_ACCESS_DENIED));
  SimDrive* d = liveDrive(*h);
  if (d == nullptr) return finish(fail(ERROR_DEVICE_NOT_CONNECTED));
  const uint64_t position = at != nullptr ? *at : h->position;
  req.position = position;
  if (const SimFault* f = matchFault(d->number, 0, -1, -1, !write, write, QueryKey{})) {
    if (f->kind == SimFault::Kind::Temperature) {
      coolDrive(*d);
      placeTemperature(*d, f->celsius);
    } else {
      if (f->kind == SimFault::Kind::Vanish) d->present = false;
      return finish(fail(f->kind == SimFault::Kind::Vanish ? ERROR_DEVICE_NOT_CONNECTED : f->error));
    }
  }
  // A drive locked by its password, or busy sanitizing, answers no read or write.
  if (d->ata.security && d->ata.security->locked) return finish(fail(ERROR_IO_DEVICE));
  if (d->ata.sanitizeSet) {
    updateSanitize(d->ata, nowMs());
    if (d->ata.sanitizeSet->running) return finish(fail(ERROR_NOT_READY));
  }
  SimMedia& disk = d->disk();
  const uint32_t ss = disk.sectorSize();
  if (position % ss != 0 || size % ss != 0) return finish(fail(ERROR_INVALID_PARAMETER));
  const uint64_t lba = position / ss;
  const uint64_t count = size / ss;
  // A Host Protected Area's sectors are not there for the host until it is lifted.
  if (lba > disk.hostSectors() || count > disk.hostSectors() - lba) {
    return finish(fail(ERROR_SECTOR_NOT_FOUND));
  }
  // The time goes by whether the transfer succeeds or not: a drive that retries a weak
  // sector takes its time before it gives up.
  const uint64_t took = disk.transferMicroseconds(lba, count);
  warmDrive(*d, size);
  if (mediaMicroseconds != nullptr) {
    *mediaMicroseconds = took;
  } else if (took != 0) {
    advanceDriveTo(d->number, driveMicroseconds(d->number) + took);
  }
  if (write) {
    if (writeBlockedByVolume(*d, lba, count)) return finish(fail(ERROR_ACCESS_DENIED));
    if (!disk.write(lba, count, static_cast<const uint8_t*>(from))) return finish(fail(ERROR_WRITE_FAULT));
  } else if (!disk.read(lba, count, static_cast<uint8_t*>(into))) {
    return finish(fail(ERROR_CRC));
  }
  if (at == nullptr) h->position += size;
  if (moved != nullptr) *moved = size;
  return finish(true);
}

uint32_t SimPlatform::placementError(Handle handle) {
  std::lock_guard lock(m_mutex);
  OpenHandle* h = find(handle);
  if (h == nullptr) return ERROR_INVALID_HANDLE;
  if (h->kind == OpenHandle::Kind::Drive && liveDrive(*h) == nullptr) return ERROR_DEVICE_NOT_CONNECTED;
  return 0;
}

void SimPlatform::plug(int number, bool present) {
  std::lock_guard lock(m_mutex);
  m_machine.plug(number, present);
}

bool SimPlatform::setAttributeRaw(int number, int attrId, uint64_t raw) {
  std::lock_guard lock(m_mutex);
  SimDrive* drive = m_machine.findDrive(number);
  if (drive == nullptr || drive->nvme || attrId < 1 || attrId > 255) return false;
  const auto unit = drive->ata.units.find(0);
  if (unit == drive->ata.units.end()) return false;
  std::vector<SimAttribute>& attributes = unit->second.smart.attributes;
  const auto found = std::find_if(attributes.begin(), attributes.end(),
                                  [attrId](const SimAttribute& a) { return a.id == attrId; });
  // A SMART data page holds 30 entries: a full list takes no new one.
  if (found == attributes.end() && attributes.size() >= 30) return false;
  SimAttribute& a = found != attributes.end() ? *found : attributes.emplace_back();
  a.id = static_cast<uint8_t>(attrId);
  a.raw = raw & 0xFFFFFFFFFFFFull;
  return true;
}

uint64_t SimPlatform::driveMicroseconds(int drive) {
  std::lock_guard lock(m_mutex);
  // A drive's time begins where the machine's stands when it is first used: drives used
  // one after another take their turns, drives used at once work side by side.
  const auto own = m_driveTransfer.try_emplace(drive, m_transferMicroseconds.load()).first;
  return m_clockMs.load() * 1000 + own->second;
}

void SimPlatform::advanceDriveTo(int drive, uint64_t micros) {
  std::lock_guard lock(m_mutex);
  const uint64_t hand = m_clockMs.load() * 1000;
  if (micros <= hand) return;
  uint64_t& own = m_driveTransfer[drive];
  own = std::max(own, micros - hand);
  // Several drives of a bench work at once: the machine's clock is the latest of their
  // moments, never their sum.
  if (own > m_transferMicroseconds.load()) m_transferMicroseconds = own;
}

uint64_t SimPlatform::handMicroseconds() const { return m_clockMs.load() * 1000; }

std::vector<int> SimPlatform::physicalDriveNumbers() {
  std::lock_guard lock(m_mutex);
  std::vector<int> numbers;
  for (const SimDrive& d : m_machine.drives) {
    if (d.present) numbers.push_back(d.number);
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
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

uint64_t SimPlatform::monotonicMicroseconds() {
  // The wall time a machine someone watches also follows is left out: it is the host's
  // time, not the drive's, and would blur the drive's slow regions with the host's noise.
  return m_clockMs.load() * 1000 + m_transferMicroseconds.load();
}

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
  return nowMs();
}

uint64_t SimPlatform::nowMs() const {
  if (!m_wallStart) return m_clockMs.load();
  const auto wall = std::chrono::steady_clock::now() - *m_wallStart;
  return m_clockMs.load() + static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(wall).count());
}

void SimPlatform::followWallClock() {
  std::lock_guard lock(m_mutex);
  if (!m_wallStart) m_wallStart = std::chrono::steady_clock::now();
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

// Which SMART sub-commands travel with which request, as the disk driver checks them.
bool receiveFeature(uint8_t f) { return f == 0xD0 || f == 0xD1 || f == 0xD5; }
bool sendFeature(uint8_t f) {
  return f == 0xD2 || f == 0xD3 || f == 0xD4 || f == 0xD6 || f == 0xD8 || f == 0xD9 || f == 0xDA;
}
// The disk driver sizes the data of SMART READ LOG and SMART WRITE LOG from the sector
// count (a page each); every other data command moves one page.
constexpr uint8_t kSmartReadLog = 0xD5;
constexpr uint8_t kSmartWriteLog = 0xD6;
}  // namespace

bool SimPlatform::smartDriverControl(SimDrive& drive, uint32_t code, const std::vector<uint8_t>& in, uint8_t* out,
                                     uint32_t outSize, uint32_t* bytesReturned) {
  if (!drive.smartDriver.present) return fail(ERROR_INVALID_FUNCTION);
  if (code == SMART_GET_VERSION) {
    if (outSize < kVersionSize) return fail(ERROR_INSUFFICIENT_BUFFER);
    putVersion(out, drive.smartDriver.deviceMap);
    if (bytesReturned != nullptr) *bytesReturned = kVersionSize;
    return true;
  }
  if (in.size() < kSendCmdInSize) return fail(ERROR_INVALID_PARAMETER);
  const TaskRegisters regs = readTaskFile(in.data() + kSendCmdRegisters);
  const uint8_t command = regs.command;
  const uint8_t feature = regs.features;
  const bool receive = code == SMART_RCV_DRIVE_DATA;
  if (receive && drive.smartDriver.rejectsReceive) return fail(ERROR_INVALID_FUNCTION);
  if (command == 0xB0 && (regs.lbaMid != 0x4F || regs.lbaHigh != 0xC2)) return fail(ERROR_INVALID_PARAMETER);
  const bool logPages = command == 0xB0 && (feature == kSmartReadLog || feature == kSmartWriteLog);
  if (logPages && regs.count == 0) return fail(ERROR_INVALID_PARAMETER);
  const uint32_t dataBytes = logPages ? regs.count * kBlockBytes : kBlockBytes;
  const bool writesLog = !receive && feature == kSmartWriteLog;
  if (receive) {
    if (!(command == 0xEC || (command == 0xB0 && receiveFeature(feature)))) return fail(ERROR_INVALID_PARAMETER);
    if (outSize < kSendCmdOutHeaderSize + dataBytes) return fail(ERROR_INSUFFICIENT_BUFFER);
  } else {
    if (command != 0xB0 || !sendFeature(feature)) return fail(ERROR_INVALID_PARAMETER);
    if (writesLog && in.size() < kSendCmdInSize + dataBytes) return fail(ERROR_INVALID_PARAMETER);
    if (outSize < kSendCmdOutHeaderSize + (feature == 0xDA ? 8u : 0u)) return fail(ERROR_INSUFFICIENT_BUFFER);
    if (feature == 0xDA && drive.smartDriver.failsReturnStatus) return fail(ERROR_INVALID_FUNCTION);
  }
  AtaExchange x;
  x.current = regs;
  x.nowMs = nowMs();
  x.dataIn = receive;
  x.inCapacity = receive ? dataBytes : 0;
  // The data written follows the registers and the reserved bytes, where bBuffer begins.
  x.dataOut = writesLog;
  x.outData = writesLog ? in.data() + kSendCmdInSize : nullptr;
  x.outLength = writesLog ? dataBytes : 0;
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
    storeLe32(out + kSendCmdOutBufferSize, dataBytes);
    const size_t n = std::min<size_t>(dataBytes, r.inData.size());
    std::memset(out + kSendCmdOutHeaderSize, 0, dataBytes);
    if (n > 0) std::memcpy(out + kSendCmdOutHeaderSize, r.inData.data(), n);
    returned += dataBytes;
  } else if (feature == 0xDA) {
    // RETURN STATUS hands back the registers the drive returned.
    storeLe32(out + kSendCmdOutBufferSize, kIdeRegsSize);
    writeTaskFile(out + kSendCmdOutHeaderSize, r.current);
    out[kSendCmdOutHeaderSize + kIdeRegsReserved] = 0;
    returned += kIdeRegsSize;
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

// Long on purpose: the miniport's SRB checks come first, in the order a driver makes
// them, then one case per SMART control code; splitting it would hide that order.
bool SimPlatform::miniportControl(OpenHandle& h, const std::vector<uint8_t>& in, uint8_t* out, uint32_t outSize,
                                  uint32_t* bytesReturned) {
  if (in.size() < kSrbSize) return fail(ERROR_INVALID_PARAMETER);
  if (loadLe32(in.data() + kSrbHeaderLength) != kSrbSize) return fail(ERROR_INVALID_PARAMETER);
  if (std::memcmp(in.data() + kSrbSignature, "SCSIDISK", 8) != 0) return fail(ERROR_INVALID_PARAMETER);
  const uint32_t control = loadLe32(in.data() + kSrbControlCode);
  const uint32_t length = loadLe32(in.data() + kSrbLength);
  // The port driver copies header plus Length bytes through one system buffer as large
  // as the larger of the two buffers.
  if (static_cast<uint64_t>(kSrbSize) + length > std::max<size_t>(in.size(), outSize)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  std::vector<SimDrive*> targets = portTargets(h.port);
  if (control == IOCTL_SCSI_MINIPORT_SMART_VERSION) {
    if (outSize < kSrbSize + kVersionSize) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, in.data(), kSrbSize);
    uint8_t map = 0;
    for (size_t i = 0; i < targets.size() && i < 8; ++i) map = static_cast<uint8_t>(map | (1u << i));
    putVersion(out + kSrbSize, map);
    storeLe32(out + kSrbReturnCode, 0);
    if (bytesReturned != nullptr) *bytesReturned = kSrbSize + kVersionSize;
    return true;
  }
  if (in.size() < kSrbSize + kSendCmdInSize) return fail(ERROR_INVALID_PARAMETER);
  const uint8_t* params = in.data() + kSrbSize;
  const TaskRegisters regs = readTaskFile(params + kSendCmdRegisters);
  const uint8_t target = params[kSendCmdDriveNumber];
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
  if (regs.command != op->command || (op->command == 0xB0 && regs.features != op->feature)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const uint32_t needed = kSrbSize + kSendCmdOutHeaderSize + (op->data ? kBlockBytes : 0u);
  if (outSize < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, in.data(), kSrbSize);
  storeLe32(out + kSrbReturnCode, 0);
  std::memset(out + kSrbSize, 0, needed - kSrbSize);
  if (target >= targets.size()) {
    // No device at that target: the miniport answers IDENTIFY with empty data.
    if (op->command != 0xEC) return fail(ERROR_GEN_FAILURE);
    if (bytesReturned != nullptr) *bytesReturned = std::min<uint32_t>(outSize, kSrbSize + length);
    return true;
  }
  SimDrive& drive = *targets[target];
  AtaExchange x;
  x.current = regs;
  x.nowMs = nowMs();
  x.dataIn = op->data;
  x.inCapacity = op->data ? kBlockBytes : 0;
  AtaResult r = executeAta(drive.ata, x, 0);
  if (r.protocolError || (r.current.command & 0x01) != 0) return fail(ERROR_IO_DEVICE);
  if (op->data) {
    uint8_t* sendCmdOut = out + kSrbSize;
    storeLe32(sendCmdOut + kSendCmdOutBufferSize, kBlockBytes);
    if (!r.inData.empty()) {
      std::memcpy(sendCmdOut + kSendCmdOutHeaderSize, r.inData.data(), std::min<size_t>(kBlockBytes, r.inData.size()));
    }
  }
  if (op->feature == 0xDA && op->command == 0xB0) {
    // This miniport completes RETURN STATUS with an error but no system error code when
    // the drive reports a threshold exceeded.
    if (!(r.current.lbaMid == 0x4F && r.current.lbaHigh == 0xC2)) return fail(ERROR_SUCCESS);
  }
  // The port driver hands back the header and the Length bytes the request declared.
  if (bytesReturned != nullptr) *bytesReturned = std::min<uint32_t>(outSize, kSrbSize + length);
  return true;
}

bool SimPlatform::scsiPassThrough(OpenHandle& h, SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out,
                                  uint32_t outSize, uint32_t* bytesReturned) {
  if ((h.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE)) return fail(ERROR_ACCESS_DENIED);
  if (in.size() < kSptSize) return fail(ERROR_INVALID_PARAMETER);
  if (outSize < kSptSize) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (!drive.scsi.present) return fail(ERROR_INVALID_FUNCTION);
  const uint8_t* hdr = in.data();
  const uint16_t length = loadLe16(hdr + kSptLength);
  const uint8_t cdbLength = hdr[kSptCdbLength];
  const uint8_t senseLength = hdr[kSptSenseInfoLength];
  const uint8_t dataIn = hdr[kSptDataIn];
  const uint32_t transferLength = loadLe32(hdr + kSptDataTransferLength);
  const uint32_t timeout = loadLe32(hdr + kSptTimeOut);
  const uint32_t dataOffset = loadLe32(hdr + kSptDataBufferOffset);
  const uint32_t senseOffset = loadLe32(hdr + kSptSenseInfoOffset);
  if (length != kSptSize || cdbLength == 0 || cdbLength > kSptMaxCdbLength || dataIn > kScsiDataUnspecified ||
      timeout == 0) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (transferLength > 0) {
    if (dataOffset < kSptSize) return fail(ERROR_INVALID_PARAMETER);
    const uint64_t end = static_cast<uint64_t>(dataOffset) + transferLength;
    if (dataIn == kScsiDataIn && end > outSize) return fail(ERROR_INVALID_PARAMETER);
    if (dataIn == kScsiDataOut && end > in.size()) return fail(ERROR_INVALID_PARAMETER);
    if (dataIn == kScsiDataUnspecified) return fail(ERROR_INVALID_PARAMETER);
  }
  if (senseLength > 0) {
    const uint64_t end = static_cast<uint64_t>(senseOffset) + senseLength;
    if (senseOffset < kSptSize || end > outSize) return fail(ERROR_INVALID_PARAMETER);
  }
  ScsiCommand c;
  c.cdb = hdr + kSptCdb;
  c.cdbLength = cdbLength;
  c.dataIn = dataIn;
  c.outData = dataIn == kScsiDataOut && transferLength > 0 ? in.data() + dataOffset : nullptr;
  c.outLength = dataIn == kScsiDataOut ? transferLength : 0;
  c.inCapacity = dataIn == kScsiDataIn ? transferLength : 0;
  c.nowMs = nowMs();
  c.injectedAtaError = m_pendingAtaError;
  const ScsiReply reply = executeScsi(drive, c);

  // The request comes back through the same buffer with the status, the actual transfer
  // length, the sense data and the data.
  std::memcpy(out, in.data(), std::min<size_t>(in.size(), outSize));
  out[kSptScsiStatus] = reply.status;
  const uint32_t moved =
      dataIn == kScsiDataIn ? static_cast<uint32_t>(reply.data.size()) : (reply.status == 0 ? transferLength : 0);
  storeLe32(out + kSptDataTransferLength, moved);
  uint32_t returned = kSptSize;
  if (dataIn == kScsiDataIn && !reply.data.empty()) {
    std::memcpy(out + dataOffset, reply.data.data(), reply.data.size());
    returned = dataOffset + static_cast<uint32_t>(reply.data.size());
  }
  uint8_t senseWritten = 0;
  if (reply.status != 0 && senseLength > 0) {
    uint8_t sense[kSenseSize] = {};
    sense[kSenseResponseCode] = 0x70;
    sense[kSenseKey] = reply.senseKey;
    sense[kSenseAdditionalLength] = kSenseSize - (kSenseAdditionalLength + 1);
    sense[kSenseAsc] = reply.asc;
    sense[kSenseAscq] = reply.ascq;
    senseWritten = static_cast<uint8_t>(std::min<uint32_t>(senseLength, sizeof sense));
    std::memcpy(out + senseOffset, sense, senseWritten);
    returned = std::max(returned, senseOffset + senseWritten);
  }
  out[kSptSenseInfoLength] = senseWritten;
  if (bytesReturned != nullptr) *bytesReturned = returned;
  return true;
}

bool SimPlatform::bridgeControl(SimDrive& drive, uint32_t code, uint8_t* out, uint32_t outSize, uint32_t* bytesReturned) {
  if (!drive.scsi.atacb) return fail(ERROR_INVALID_FUNCTION);
  const SimAtacb& bridge = drive.scsi.atacbDriver;
  if (code == IOCTL_BRIDGE_CAPABILITIES) {
    if (bridge.capabilitiesFail) return fail(ERROR_GEN_FAILURE);
    if (outSize < kBridgeCapabilitiesSize) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memset(out, 0, kBridgeCapabilitiesSize);
    if (!bridge.capabilityAnswer.empty()) {
      std::memcpy(out, bridge.capabilityAnswer.data(),
                  std::min<size_t>(kBridgeCapabilitiesSize, bridge.capabilityAnswer.size()));
    } else {
      storeLe32(out + kBridgeCapabilityWord, bridge.supported ? kBridgeCarriesAtacb : 0u);
    }
    if (bytesReturned != nullptr) *bytesReturned = kBridgeCapabilitiesSize;
    return true;
  }
  if (bridge.signatureFails) return fail(ERROR_GEN_FAILURE);
  if (outSize < kBridgeSignatureSize) return fail(ERROR_INSUFFICIENT_BUFFER);
  out[0] = bridge.signature[0];
  out[1] = bridge.signature[1];
  if (bytesReturned != nullptr) *bytesReturned = kBridgeSignatureSize;
  return true;
}

bool SimPlatform::queryProperty(SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out, uint32_t outSize,
                                uint32_t* bytesReturned) {
  if (in.size() < kPropertyQuerySize) return fail(ERROR_INVALID_PARAMETER);
  const uint32_t property = loadLe32(in.data() + kQueryPropertyId);
  const uint32_t query = loadLe32(in.data() + kQueryType);
  if (drive.nvme && (property == kAdapterProtocolProperty || property == kDeviceProtocolProperty)) {
    const NvmeOutcome outcome = nvmeQueryProperty(drive, in, out, outSize, nowMs());
    if (outcome.error != ERROR_SUCCESS) return fail(outcome.error);
    if (bytesReturned != nullptr) *bytesReturned = outcome.bytesReturned;
    return true;
  }
  if (query != 0 || property != 1) return fail(ERROR_NOT_SUPPORTED);  // only the adapter's standard query
  // The adapter: version and size, transfer limits (128 KiB, 33 pages), the bus type.
  uint8_t descriptor[kAdapterDescriptorSize] = {};
  storeLe32(descriptor + kAdapterVersion, kAdapterDescriptorSize);
  storeLe32(descriptor + kAdapterSize, kAdapterDescriptorSize);
  storeLe32(descriptor + kAdapterMaximumTransferLength, 128 * 1024);
  storeLe32(descriptor + kAdapterMaximumPhysicalPages, 33);
  descriptor[kAdapterBusType] = static_cast<uint8_t>(drive.busType);
  if (outSize < kAdapterHeaderSize) return fail(ERROR_INSUFFICIENT_BUFFER);
  const uint32_t n = std::min<uint32_t>(outSize, sizeof descriptor);
  std::memcpy(out, descriptor, n);
  if (bytesReturned != nullptr) *bytesReturned = n;
  return true;
}

// Only an NVMe controller's driver takes protocol commands; any other disk's stack knows
// the control code no more than any other it does not handle.
bool SimPlatform::protocolCommand(OpenHandle& h, SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out,
                                  uint32_t outSize, uint32_t* bytesReturned) {
  if (!drive.nvme) return fail(ERROR_INVALID_FUNCTION);
  const NvmeOutcome outcome = nvmeProtocolCommand(drive, h.access, in, out, outSize, nowMs(), m_pendingNvmeStatus);
  if (outcome.error != ERROR_SUCCESS) return fail(outcome.error);
  if (bytesReturned != nullptr) *bytesReturned = outcome.bytesReturned;
  return true;
}

}  // namespace palvoro::sim
