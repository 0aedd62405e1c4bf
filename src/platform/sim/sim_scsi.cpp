#include "platform/sim/sim_scsi.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "platform/sim/sim_ata.h"
#include "protocol/byte_order.h"

namespace palvoro::sim {
namespace {

constexpr uint8_t kGood = 0x00;
constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kAbortedCommand = 0x0B;
constexpr uint8_t kNotReady = 0x02;

// Operation codes the simulated devices answer (SPC, SBC, SAT).
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kSanitize = 0x48;
constexpr uint8_t kMaintenanceIn = 0xA3;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReceiveDiagnosticResults = 0x1C;
constexpr uint8_t kReadCapacity10 = 0x25;
constexpr uint8_t kServiceActionIn16 = 0x9E;
constexpr uint8_t kAtaPassThrough12 = 0xA1;
constexpr uint8_t kAtaPassThrough16 = 0x85;

// Byte 0 of every block is the operation code.
constexpr size_t kOpcode = 0;

// INQUIRY and RECEIVE DIAGNOSTIC RESULTS: byte 1 bit 0 EVPD (PCV), byte 2 the page, bytes
// 3-4 the allocation length, most significant first.
constexpr size_t kPageValid = 1;
constexpr size_t kPageCode = 2;
constexpr size_t kAllocationLength16 = 3;

// READ CAPACITY (16): byte 1 the service action in bits 4:0, bytes 10-13 the allocation
// length, most significant first.
constexpr size_t kServiceAction = 1;
constexpr uint8_t kReadCapacity16Action = 0x10;
constexpr size_t kAllocationLength32 = 10;

// ATA PASS-THROUGH (12) and (16) share bytes 1 and 2: PROTOCOL in bits 4:1 and EXTEND
// ((16) only) in bit 0; CK_COND bit 5, T_DIR bit 3, BYT_BLOK bit 2, T_LENGTH bits 1:0.
constexpr size_t kSatProtocol = 1;
constexpr size_t kSatFlags = 2;
constexpr uint8_t kCkCond = 0x20;
constexpr uint8_t kTDir = 0x08;
constexpr uint8_t kBytBlok = 0x04;
constexpr uint8_t kTLength = 0x03;
// SAT protocols this bridge knows.
constexpr uint8_t kProtocolHardReset = 0;
constexpr uint8_t kProtocolSoftReset = 1;
constexpr uint8_t kProtocolNonData = 3;
constexpr uint8_t kProtocolPioIn = 4;
constexpr uint8_t kProtocolPioOut = 5;
constexpr uint8_t kProtocolDma = 6;
constexpr uint8_t kProtocolUdmaIn = 10;
constexpr uint8_t kProtocolUdmaOut = 11;
constexpr uint8_t kProtocolResponse = 15;  // return response information
// T_LENGTH: where the transfer length is.
constexpr uint8_t kLengthInFeatures = 1;
constexpr uint8_t kLengthInCount = 2;
constexpr uint8_t kLengthInStpsiu = 3;  // not supported here

// ATA PASS-THROUGH (12): the task file from byte 3 in the IDE order.
constexpr size_t kSat12TaskFile = 3;

// ATA PASS-THROUGH (16): each register's high-order byte right before its low one.
constexpr size_t kSat16FeaturesHigh = 3;
constexpr size_t kSat16FeaturesLow = 4;
constexpr size_t kSat16CountHigh = 5;
constexpr size_t kSat16CountLow = 6;
constexpr size_t kSat16Lba31to24 = 7;
constexpr size_t kSat16Lba7to0 = 8;
constexpr size_t kSat16Lba39to32 = 9;
constexpr size_t kSat16Lba15to8 = 10;
constexpr size_t kSat16Lba47to40 = 11;
constexpr size_t kSat16Lba23to16 = 12;
constexpr size_t kSat16Device = 13;
constexpr size_t kSat16Command = 14;

// The vendor ATA command block: bytes 0-1 the bridge's signature, byte 3 the register
// select (BEh: every task-file register written), byte 4 the transfer block count, the
// task file from byte 6 in the IDE order.
constexpr size_t kAtacbSignature = 0;
constexpr size_t kAtacbRegisterSelect = 3;
constexpr uint8_t kAtacbAllRegisters = 0xBE;
constexpr size_t kAtacbBlockCount = 4;
constexpr size_t kAtacbTaskFile = 6;
constexpr uint8_t kAtacbMinimumLength = kAtacbTaskFile + 7;

// ATA commands whose data the vendor bridge moves by DMA: DATA SET MANAGEMENT and its XL form.
constexpr uint8_t kAtaDataSetManagement = 0x06;
constexpr uint8_t kAtaDataSetManagementXl = 0x07;

constexpr uint32_t kBlockBytes = 512;

ScsiReply check(uint8_t key, uint8_t asc, uint8_t ascq = 0) {
  ScsiReply r;
  r.status = kCheckCondition;
  r.senseKey = key;
  r.asc = asc;
  r.ascq = ascq;
  return r;
}
ScsiReply invalidOpcode() { return check(kIllegalRequest, 0x20); }
ScsiReply invalidField() { return check(kIllegalRequest, 0x24); }

ScsiReply dataReply(std::vector<uint8_t> bytes, uint32_t allocation, const ScsiCommand& c) {
  if (c.dataIn != kScsiDataIn) return invalidField();
  ScsiReply r;
  const size_t n = std::min<size_t>({bytes.size(), allocation, c.inCapacity});
  bytes.resize(n);
  r.data = std::move(bytes);
  return r;
}

bool pageValid(const uint8_t* cdb) { return (cdb[kPageValid] & 0x01) != 0; }

uint8_t peripheral(const SimDrive& d) { return d.scsi.inquiry.empty() ? 0 : static_cast<uint8_t>(d.scsi.inquiry[0] & 0x1F); }

ScsiReply inquiry(SimDrive& d, const ScsiCommand& c) {
  const uint8_t* cdb = c.cdb;
  const uint32_t allocation = loadBe16(cdb + kAllocationLength16);
  if (!pageValid(cdb)) {
    if (cdb[kPageCode] != 0) return invalidField();
    return dataReply(d.scsi.inquiry, allocation, c);
  }
  const uint8_t page = cdb[kPageCode];
  if (page == 0x00) {
    // Supported pages: 00h itself, then every page the device has, ascending.
    size_t count = 1;
    for (const auto& entry : d.scsi.vpd) count += entry.first != 0x00 ? 1 : 0;
    std::vector<uint8_t> list(4 + count, 0);
    list[0] = peripheral(d);
    list[3] = static_cast<uint8_t>(count);
    size_t at = 5;
    for (const auto& entry : d.scsi.vpd) {
      if (entry.first != 0x00) list[at++] = entry.first;
    }
    return dataReply(list, allocation, c);
  }
  const auto it = d.scsi.vpd.find(page);
  if (it == d.scsi.vpd.end()) return invalidField();
  return dataReply(it->second, allocation, c);
}

ScsiReply readCapacity10(SimDrive& d, const ScsiCommand& c) {
  if (d.scsi.readCapacityFails) return check(kNotReady, 0x3A);  // medium not present
  if (!d.scsi.capacity10Reply.empty()) return dataReply(d.scsi.capacity10Reply, 8, c);
  const SimMedia& m = d.disk();
  std::vector<uint8_t> data(8, 0);
  const uint64_t last = m.hostSectors() - 1;
  storeBe(&data[0], last > 0xFFFFFFFFull ? 0xFFFFFFFFull : last, 4);
  storeBe(&data[4], m.sectorSize(), 4);
  return dataReply(data, 8, c);
}

ScsiReply readCapacity16(SimDrive& d, const ScsiCommand& c) {
  if ((c.cdb[kServiceAction] & 0x1F) != kReadCapacity16Action) return invalidField();
  if (!d.scsi.readCapacity16) return invalidOpcode();
  if (d.scsi.readCapacity16Fails) return check(kNotReady, 0x3A);
  const uint32_t allocation = loadBe32(c.cdb + kAllocationLength32);
  if (!d.scsi.capacity16Reply.empty()) return dataReply(d.scsi.capacity16Reply, allocation, c);
  const SimMedia& m = d.disk();
  std::vector<uint8_t> data(32, 0);
  storeBe(&data[0], m.hostSectors() - 1, 8);
  storeBe(&data[8], m.sectorSize(), 4);
  return dataReply(data, allocation, c);
}

ScsiReply receiveDiagnostic(SimDrive& d, const ScsiCommand& c) {
  if (!pageValid(c.cdb)) return invalidField();
  const uint32_t allocation = loadBe16(c.cdb + kAllocationLength16);
  const auto it = d.scsi.diagnostic.find(c.cdb[kPageCode]);
  if (it == d.scsi.diagnostic.end()) return invalidField();
  return dataReply(it->second, allocation, c);
}

// The drive a carried ATA command reaches. In the RAID enclosure the device byte picks
// the member: bit 4 clear member A, set member B.
SimAtaDrive* carriedDrive(SimDrive& d, uint8_t device, TaskRegisters& current) {
  if (d.memberB) {
    if ((device & 0x10) != 0) {
      current.device = static_cast<uint8_t>(device & ~0x10);
      return &*d.memberB;
    }
    return &d.ata;
  }
  return &d.ata;
}

// Runs a carried ATA command and turns its outcome into a SCSI status: ERR becomes CHECK
// CONDITION with ABORTED COMMAND and "ATA pass-through information available".
ScsiReply runCarried(SimDrive& d, AtaExchange& x, uint8_t injectedError, uint32_t inLength) {
  SimAtaDrive* drive = carriedDrive(d, x.current.device, x.current);
  AtaResult r = executeAta(*drive, x, injectedError);
  if (r.protocolError) return check(kAbortedCommand, 0x47, 0x03);  // transfer failed
  if ((r.current.command & 0x01) != 0) return check(kAbortedCommand, 0x00, 0x1D);
  ScsiReply reply;
  if (x.dataIn) {
    reply.data = std::move(r.inData);
    reply.data.resize(inLength);
  }
  return reply;
}

// The registers of ATA PASS-THROUGH (16): the low-order bytes, and the high-order ones
// of a 48-bit command.
TaskRegisters sat16Current(const uint8_t* cdb) {
  return {cdb[kSat16FeaturesLow], cdb[kSat16CountLow], cdb[kSat16Lba7to0], cdb[kSat16Lba15to8],
          cdb[kSat16Lba23to16],   cdb[kSat16Device],   cdb[kSat16Command]};
}
TaskRegisters sat16Previous(const uint8_t* cdb) {
  return {cdb[kSat16FeaturesHigh], cdb[kSat16CountHigh], cdb[kSat16Lba31to24], cdb[kSat16Lba39to32],
          cdb[kSat16Lba47to40],    0,                    0};
}

// A block in the vendor layout is told apart by the bridge's own signature.
bool carriesAtacbSignature(const SimDrive& d, const uint8_t* cdb) {
  const std::array<uint8_t, 2>& signature = d.scsi.atacbDriver.signature;
  return d.scsi.atacb && cdb[kAtacbSignature] == signature[0] && cdb[kAtacbSignature + 1] == signature[1];
}

// ATA commands that read or write a log, whose log address is in LBA low: SMART READ LOG
// and SMART WRITE LOG, READ LOG EXT, READ LOG DMA EXT, WRITE LOG EXT and WRITE LOG DMA EXT.
bool logCommand(const TaskRegisters& r) {
  if (r.command == 0xB0) return r.features == 0xD5 || r.features == 0xD6;
  return r.command == 0x2F || r.command == 0x47 || r.command == 0x3F || r.command == 0x57;
}

// A bridge that will not carry a log's commands answers them as any command it does not
// pass, before the drive sees them.
bool refusesLog(const SimDrive& d, const TaskRegisters& r) {
  return logCommand(r) && d.scsi.refusedLogs.count(r.lbaLow) != 0;
}

// SECURITY (F1h..F6h) and SANITIZE DEVICE (B4h): the commands a bridge that refuses the
// drive's own erase will not pass.
bool refusesPurge(const SimDrive& d, const TaskRegisters& r) {
  return d.scsi.refusesPurge && (r.command == 0xB4 || (r.command >= 0xF1 && r.command <= 0xF6));
}

// ATA PASS-THROUGH (12) and (16) as a SAT bridge decodes them.
ScsiReply satPassThrough(SimDrive& d, const ScsiCommand& c) {
  const uint8_t* cdb = c.cdb;
  const bool sixteen = cdb[kOpcode] == kAtaPassThrough16;
  const uint8_t protocol = (cdb[kSatProtocol] >> 1) & 0x0F;
  const bool extend = sixteen && (cdb[kSatProtocol] & 0x01) != 0;
  const uint8_t tLength = cdb[kSatFlags] & kTLength;
  const bool bytBlok = (cdb[kSatFlags] & kBytBlok) != 0;
  const bool tDir = (cdb[kSatFlags] & kTDir) != 0;
  const bool ckCond = (cdb[kSatFlags] & kCkCond) != 0;

  AtaExchange x;
  x.nowMs = c.nowMs;
  if (sixteen) {
    x.current = sat16Current(cdb);
    if (extend) x.previous = sat16Previous(cdb);
  } else {
    x.current = readTaskFile(cdb + kSat12TaskFile);
  }

  if (protocol == kProtocolResponse) {
    // Return response information: this bridge hands back the registers of the last
    // command of the addressed drive in a 512-byte block.
    if (c.dataIn != kScsiDataIn || c.inCapacity < kBlockBytes) return invalidField();
    TaskRegisters cur = x.current;
    SimAtaDrive* drive = carriedDrive(d, x.current.device, cur);
    ScsiReply reply;
    reply.data.assign(kBlockBytes, 0);
    std::copy(drive->lastReturn.begin(), drive->lastReturn.end(), reply.data.begin());
    std::copy(drive->lastReturnHigh.begin(), drive->lastReturnHigh.end(), reply.data.begin() + 7);
    return reply;
  }
  if (refusesLog(d, x.current) || refusesPurge(d, x.current)) return invalidField();

  uint32_t length = 0;
  if (tLength != 0) {
    uint32_t field = 0;
    if (tLength == kLengthInFeatures) field = static_cast<uint32_t>(x.current.features | (x.previous.features << 8));
    if (tLength == kLengthInCount) field = static_cast<uint32_t>(x.current.count | (x.previous.count << 8));
    if (tLength == kLengthInStpsiu) return invalidField();
    length = bytBlok ? field * kBlockBytes : field;
  }
  switch (protocol) {
    case kProtocolHardReset:
    case kProtocolSoftReset:  // nothing to carry
      return ScsiReply{};
    case kProtocolNonData: break;
    case kProtocolPioIn:
    case kProtocolUdmaIn:
      if (!tDir || length == 0) return invalidField();
      break;
    case kProtocolPioOut:
    case kProtocolUdmaOut:
      if (tDir || length == 0) return invalidField();
      break;
    case kProtocolDma: break;
    default: return invalidField();
  }
  const bool in = length > 0 && tDir;
  const bool out = length > 0 && !tDir;
  if (in && (c.dataIn != kScsiDataIn || c.inCapacity < length)) return invalidField();
  if (out && (c.dataIn != kScsiDataOut || c.outLength < length)) return invalidField();
  if (protocol == kProtocolNonData && length != 0) return invalidField();
  x.dataIn = in;
  x.dataOut = out;
  x.dma = protocol == kProtocolDma || protocol == kProtocolUdmaIn || protocol == kProtocolUdmaOut;
  x.inCapacity = in ? length : 0;
  x.outData = out ? c.outData : nullptr;
  x.outLength = out ? length : 0;
  ScsiReply reply = runCarried(d, x, c.injectedAtaError, length);
  if (ckCond && reply.status == kGood) return check(0x01, 0x00, 0x1D);  // registers requested
  return reply;
}

// The vendor ATA command block as the bridge decodes it.
ScsiReply atacb(SimDrive& d, const ScsiCommand& c) {
  const uint8_t* cdb = c.cdb;
  if (c.cdbLength < kAtacbMinimumLength || (cdb[kAtacbRegisterSelect] & kAtacbAllRegisters) != kAtacbAllRegisters) {
    return invalidField();
  }
  AtaExchange x;
  x.nowMs = c.nowMs;
  x.current = readTaskFile(cdb + kAtacbTaskFile);
  if (refusesLog(d, x.current) || refusesPurge(d, x.current)) return invalidField();
  const uint32_t length = cdb[kAtacbBlockCount] * kBlockBytes;
  const bool in = length > 0 && c.dataIn == kScsiDataIn;
  const bool out = length > 0 && c.dataIn == kScsiDataOut;
  if (length > 0 && !in && !out) return invalidField();
  if (in && c.inCapacity < length) return invalidField();
  if (out && c.outLength < length) return invalidField();
  x.dataIn = in;
  x.dataOut = out;
  // The bridge knows which commands move their data by DMA.
  x.dma = out && (x.current.command == kAtaDataSetManagement || x.current.command == kAtaDataSetManagementXl);
  x.inCapacity = in ? length : 0;
  x.outData = out ? c.outData : nullptr;
  x.outLength = out ? length : 0;
  return runCarried(d, x, c.injectedAtaError, length);
}


// ---- SANITIZE ----

// SANITIZE: byte 1 bits 4:0 the service action, bit 7 IMMED, bit 5 AUSE; bytes 7-8 the
// parameter list length. OVERWRITE's list: byte 0 bits 4:0 the count, bytes 2-3 the
// pattern length, the pattern from byte 4.
constexpr uint8_t kSanitizeActionMask = 0x1F;
constexpr uint8_t kSanitizeImmediate = 0x80;
constexpr size_t kSanitizeListLength = 7;
constexpr uint8_t kActionOverwrite = 1;
constexpr uint8_t kActionBlock = 2;
constexpr uint8_t kActionCrypto = 3;
constexpr uint8_t kActionExitFailure = 0x1F;
constexpr size_t kOverwriteHeader = 4;
// REPORT SUPPORTED OPERATION CODES: MAINTENANCE IN with service action 0Ch, byte 2 bits
// 2:0 the reporting options (3: one command with its service action), byte 3 the
// operation code, bytes 4-5 the service action, bytes 6-9 the allocation length. The
// reply: byte 1 bits 2:0 SUPPORT (1 not supported, 3 supported), bytes 2-3 the CDB size.
constexpr uint8_t kReportOpcodesAction = 0x0C;
constexpr uint8_t kOneCommandWithAction = 3;
constexpr uint8_t kSupportNo = 1;
constexpr uint8_t kSupportYes = 3;
// Fixed sense data of REQUEST SENSE: 18 bytes; SKSV byte 15 bit 7, progress 16-17.
constexpr size_t kFixedSenseBytes = 18;
constexpr uint64_t kProgressUnits = 65536;

// Ends a sanitize whose time is up: the media as the action leaves it, or, when the drive
// is to fail, untouched and the drive in its failure mode.
void updateSanitize(SimDrive& d, uint64_t nowMs) {
  SimScsiSanitize& z = *d.scsi.sanitize;
  if (!z.running || nowMs - z.startedMs < uint64_t{z.seconds} * 1000) return;
  z.running = false;
  z.failed = z.fails;
  if (z.failed) return;
  switch (z.action) {
    case kActionOverwrite: d.disk().fillAll(z.pattern); break;
    case kActionBlock: d.disk().fillAll(0); break;
    case kActionCrypto: d.disk().scrambleAll(++z.cryptoErases); break;
    default: break;
  }
}

ScsiReply sanitize(SimDrive& d, const ScsiCommand& c) {
  SimScsiSanitize& z = *d.scsi.sanitize;
  const uint8_t action = c.cdb[kServiceAction] & kSanitizeActionMask;
  const uint32_t listLength = loadBe16(c.cdb + kSanitizeListLength);
  if (z.running) return check(kNotReady, 0x04, 0x1B);  // sanitize in progress
  if (action == kActionExitFailure) {
    z.failed = false;
    return ScsiReply{};
  }
  if ((z.actions & (1u << action)) == 0 || action == 0) return invalidField();
  uint32_t pattern = 0;
  if (action == kActionOverwrite) {
    // One pass or more, a pattern of 1 to a block's bytes, all of it sent.
    if (listLength < kOverwriteHeader || c.dataIn != kScsiDataOut || c.outLength < listLength) return invalidField();
    const uint8_t* list = c.outData;
    const uint32_t patternLength = loadBe16(list + 2);
    if ((list[0] & 0x1F) == 0 || patternLength == 0 || patternLength > d.disk().sectorSize() ||
        kOverwriteHeader + patternLength != listLength) {
      return check(kIllegalRequest, 0x26);  // invalid field in parameter list
    }
    for (uint32_t i = 0; i < 4; ++i) pattern |= uint32_t{list[kOverwriteHeader + i % patternLength]} << (8 * i);
  } else if (listLength != 0) {
    return invalidField();
  }
  z.running = true;
  z.action = action;
  z.pattern = pattern;
  z.startedMs = c.nowMs;
  // Without IMMED the command returns when the sanitize is done.
  if ((c.cdb[kServiceAction] & kSanitizeImmediate) == 0) updateSanitize(d, c.nowMs + uint64_t{z.seconds} * 1000);
  return ScsiReply{};
}

ScsiReply reportOpcodes(SimDrive& d, const ScsiCommand& c) {
  if ((c.cdb[kServiceAction] & 0x1F) != kReportOpcodesAction) return invalidOpcode();
  if ((c.cdb[kSatFlags] & 0x07) != kOneCommandWithAction) return invalidField();
  const uint8_t opcode = c.cdb[3];
  const uint16_t action = loadBe16(c.cdb + 4);
  const bool supported = opcode == kSanitize && action < 8 && (d.scsi.sanitize->actions & (1u << action)) != 0;
  std::vector<uint8_t> reply(4 + 10, 0);
  reply[1] = supported ? kSupportYes : kSupportNo;
  if (supported) {
    storeBe(&reply[2], 10, 2);
    reply[4] = kSanitize;  // the usage map: the bits the device looks at
    reply[5] = 0xBF;
    reply[11] = 0xFF;
    reply[12] = 0xFF;
  }
  return dataReply(reply, loadBe32(c.cdb + 6), c);
}

// REQUEST SENSE: what a sanitize under way or failed leaves, else no sense.
ScsiReply requestSense(SimDrive& d, const ScsiCommand& c) {
  std::vector<uint8_t> sense(kFixedSenseBytes, 0);
  sense[0] = 0x70;
  sense[7] = kFixedSenseBytes - 8;
  const SimScsiSanitize* z = d.scsi.sanitize ? &*d.scsi.sanitize : nullptr;
  if (z != nullptr && z->running) {
    sense[2] = kNotReady;
    sense[12] = 0x04;
    sense[13] = 0x1B;
    const uint64_t total = uint64_t{z->seconds} * 1000;
    const uint64_t done = total == 0 ? 0 : std::min(kProgressUnits - 1, (c.nowMs - z->startedMs) * kProgressUnits / total);
    sense[15] = 0x80;  // SKSV: the progress indication is valid
    storeBe(&sense[16], done, 2);
  } else if (z != nullptr && z->failed) {
    sense[2] = 0x03;  // MEDIUM ERROR: sanitize command failed
    sense[12] = 0x31;
    sense[13] = 0x03;
  }
  return dataReply(sense, c.cdb[4], c);
}

ScsiReply testUnitReady(SimDrive& d) {
  const SimScsiSanitize* z = d.scsi.sanitize ? &*d.scsi.sanitize : nullptr;
  if (z != nullptr && z->running) return check(kNotReady, 0x04, 0x1B);
  if (z != nullptr && z->failed) return check(0x03, 0x31, 0x03);
  return ScsiReply{};
}

}  // namespace

ScsiReply executeScsi(SimDrive& d, const ScsiCommand& c) {
  const uint8_t op = c.cdb[kOpcode];
  const auto needs = [&](uint8_t length) { return c.cdbLength >= length; };
  if (needs(16) && carriesAtacbSignature(d, c.cdb)) return atacb(d, c);
  if (d.scsi.sanitize) updateSanitize(d, c.nowMs);
  switch (op) {
    case kTestUnitReady: return needs(6) ? testUnitReady(d) : invalidOpcode();
    case kRequestSense: return needs(6) ? requestSense(d, c) : invalidOpcode();
    case kSanitize:
      if (!d.scsi.sanitize || d.scsi.sanitize->bridgeRefuses || !needs(10)) return invalidOpcode();
      return sanitize(d, c);
    case kMaintenanceIn:
      if (!d.scsi.sanitize || !d.scsi.sanitize->reportsOpcodes || !needs(12)) return invalidOpcode();
      return reportOpcodes(d, c);
    case kInquiry: return needs(6) ? inquiry(d, c) : invalidOpcode();
    case kReceiveDiagnosticResults: return needs(6) ? receiveDiagnostic(d, c) : invalidOpcode();
    case kReadCapacity10: return needs(10) ? readCapacity10(d, c) : invalidOpcode();
    case kServiceActionIn16: return needs(16) ? readCapacity16(d, c) : invalidOpcode();
    case kAtaPassThrough12:
      if (!d.scsi.sat12 || !needs(12)) return invalidOpcode();
      return satPassThrough(d, c);
    case kAtaPassThrough16:
      if (!d.scsi.sat16 || !needs(16)) return invalidOpcode();
      return satPassThrough(d, c);
    default: return invalidOpcode();
  }
}

bool carriedTaskRegisters(const SimDrive& d, const uint8_t* cdb, TaskRegisters& registers) {
  if (cdb[kOpcode] == kAtaPassThrough12) {
    registers = readTaskFile(cdb + kSat12TaskFile);
  } else if (cdb[kOpcode] == kAtaPassThrough16) {
    registers = sat16Current(cdb);
  } else if (carriesAtacbSignature(d, cdb)) {
    registers = readTaskFile(cdb + kAtacbTaskFile);
  } else {
    return false;
  }
  return true;
}

std::vector<uint8_t> makeInquiry(uint8_t peripheralType, const std::string& vendor, const std::string& product,
                                 const std::string& revision) {
  std::vector<uint8_t> data(96, 0);
  data[0] = peripheralType;
  data[2] = 0x05;  // SPC-3
  data[3] = 0x02;  // response data format
  data[4] = 91;    // additional length: 96 bytes in all
  putInquiryText(data, 8, 8, vendor);
  putInquiryText(data, 16, 16, product);
  putInquiryText(data, 32, 4, revision);
  return data;
}

void putInquiryText(std::vector<uint8_t>& inquiry, size_t offset, size_t width, const std::string& text) {
  if (inquiry.size() < offset + width) inquiry.resize(offset + width, 0);
  for (size_t i = 0; i < width; ++i) inquiry[offset + i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}

std::vector<uint8_t> makeSerialPage(uint8_t peripheralType, const std::string& serial) {
  const size_t n = std::min<size_t>(serial.size(), 251);
  std::vector<uint8_t> page(4 + n, 0);
  page[0] = peripheralType;
  page[1] = 0x80;
  page[3] = static_cast<uint8_t>(n);
  for (size_t i = 0; i < n; ++i) page[4 + i] = static_cast<uint8_t>(serial[i]);
  return page;
}

std::string identifyText(const IdentifyWords& words, int firstWord, int wordCount) {
  std::string text;
  for (int i = 0; i < wordCount; ++i) {
    const uint16_t w = words[static_cast<size_t>(firstWord + i)];
    text.push_back(static_cast<char>(w >> 8));
    text.push_back(static_cast<char>(w & 0xFF));
  }
  return text;
}

}  // namespace palvoro::sim
