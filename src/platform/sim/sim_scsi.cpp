#include "platform/sim/sim_scsi.h"

#include <algorithm>

#include "platform/sim/sim_ata.h"

namespace palvoro::sim {
namespace {

constexpr uint8_t kGood = 0x00;
constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kAbortedCommand = 0x0B;
constexpr uint8_t kNotReady = 0x02;

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
  if (c.dataIn != 1) return invalidField();
  ScsiReply r;
  const size_t n = std::min<size_t>({bytes.size(), allocation, c.inCapacity});
  bytes.resize(n);
  r.data = std::move(bytes);
  return r;
}

void putBe(std::vector<uint8_t>& v, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) v[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

uint8_t peripheral(const SimDrive& d) { return d.scsi.inquiry.empty() ? 0 : static_cast<uint8_t>(d.scsi.inquiry[0] & 0x1F); }

ScsiReply inquiry(SimDrive& d, const ScsiCommand& c) {
  const uint8_t* cdb = c.cdb;
  const uint32_t allocation = static_cast<uint32_t>((cdb[3] << 8) | cdb[4]);
  if ((cdb[1] & 0x01) == 0) {
    if (cdb[2] != 0) return invalidField();
    return dataReply(d.scsi.inquiry, allocation, c);
  }
  const uint8_t page = cdb[2];
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
  const SimMedia& m = d.disk();
  std::vector<uint8_t> data(8, 0);
  const uint64_t last = m.sectorCount() - 1;
  putBe(data, 0, last > 0xFFFFFFFFull ? 0xFFFFFFFFull : last, 4);
  putBe(data, 4, m.sectorSize(), 4);
  return dataReply(data, 8, c);
}

ScsiReply readCapacity16(SimDrive& d, const ScsiCommand& c) {
  if ((c.cdb[1] & 0x1F) != 0x10) return invalidField();
  if (!d.scsi.readCapacity16) return invalidOpcode();
  if (d.scsi.readCapacity16Fails) return check(kNotReady, 0x3A);
  const uint32_t allocation = static_cast<uint32_t>((c.cdb[10] << 24) | (c.cdb[11] << 16) | (c.cdb[12] << 8) | c.cdb[13]);
  const SimMedia& m = d.disk();
  std::vector<uint8_t> data(32, 0);
  putBe(data, 0, m.sectorCount() - 1, 8);
  putBe(data, 8, m.sectorSize(), 4);
  return dataReply(data, allocation, c);
}

ScsiReply receiveDiagnostic(SimDrive& d, const ScsiCommand& c) {
  if ((c.cdb[1] & 0x01) == 0) return invalidField();  // page code not valid
  const uint32_t allocation = static_cast<uint32_t>((c.cdb[3] << 8) | c.cdb[4]);
  const auto it = d.scsi.diagnostic.find(c.cdb[2]);
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

// ATA PASS-THROUGH (12) and (16) as a SAT bridge decodes them.
ScsiReply satPassThrough(SimDrive& d, const ScsiCommand& c) {
  const uint8_t* cdb = c.cdb;
  const bool sixteen = cdb[0] == 0x85;
  const uint8_t protocol = (cdb[1] >> 1) & 0x0F;
  const bool extend = sixteen && (cdb[1] & 0x01) != 0;
  const uint8_t tLength = cdb[2] & 0x03;
  const bool bytBlok = (cdb[2] & 0x04) != 0;
  const bool tDir = (cdb[2] & 0x08) != 0;
  const bool ckCond = (cdb[2] & 0x20) != 0;

  AtaExchange x;
  x.nowMs = c.nowMs;
  if (sixteen) {
    x.current = {cdb[4], cdb[6], cdb[8], cdb[10], cdb[12], cdb[13], cdb[14]};
    if (extend) x.previous = {cdb[3], cdb[5], cdb[7], cdb[9], cdb[11], 0, 0};
  } else {
    x.current = {cdb[3], cdb[4], cdb[5], cdb[6], cdb[7], cdb[8], cdb[9]};
  }

  if (protocol == 15) {
    // Return response information: this bridge hands back the registers of the last
    // command of the addressed drive in a 512-byte block.
    if (c.dataIn != 1 || c.inCapacity < 512) return invalidField();
    TaskRegisters cur = x.current;
    SimAtaDrive* drive = carriedDrive(d, x.current.device, cur);
    ScsiReply reply;
    reply.data.assign(512, 0);
    std::copy(drive->lastReturn.begin(), drive->lastReturn.end(), reply.data.begin());
    return reply;
  }

  uint32_t length = 0;
  if (tLength != 0) {
    uint32_t field = 0;
    if (tLength == 1) field = static_cast<uint32_t>(x.current.features | (x.previous.features << 8));
    if (tLength == 2) field = static_cast<uint32_t>(x.current.count | (x.previous.count << 8));
    if (tLength == 3) return invalidField();
    length = bytBlok ? field * 512 : field;
  }
  switch (protocol) {
    case 0:
    case 1:  // resets: nothing to carry
      return ScsiReply{};
    case 3: break;
    case 4:
    case 10:
      if (!tDir || length == 0) return invalidField();
      break;
    case 5:
    case 11:
      if (tDir || length == 0) return invalidField();
      break;
    case 6: break;
    default: return invalidField();
  }
  const bool in = length > 0 && tDir;
  const bool out = length > 0 && !tDir;
  if (in && (c.dataIn != 1 || c.inCapacity < length)) return invalidField();
  if (out && (c.dataIn != 0 || c.outLength < length)) return invalidField();
  if (protocol == 3 && length != 0) return invalidField();
  x.dataIn = in;
  x.dataOut = out;
  x.dma = protocol == 6 || protocol == 10 || protocol == 11;
  x.inCapacity = in ? length : 0;
  x.outData = out ? c.outData : nullptr;
  x.outLength = out ? length : 0;
  ScsiReply reply = runCarried(d, x, c.injectedAtaError, length);
  if (ckCond && reply.status == kGood) return check(0x01, 0x00, 0x1D);  // registers requested
  return reply;
}

// The vendor ATA command block: bytes 0-1 the bridge's signature, byte 3 the register
// select, byte 4 the transfer block count, bytes 6-12 the task file.
ScsiReply atacb(SimDrive& d, const ScsiCommand& c) {
  const uint8_t* cdb = c.cdb;
  if (c.cdbLength < 13 || (cdb[3] & 0xBE) != 0xBE) return invalidField();
  AtaExchange x;
  x.nowMs = c.nowMs;
  x.current = {cdb[6], cdb[7], cdb[8], cdb[9], cdb[10], cdb[11], cdb[12]};
  const uint32_t length = cdb[4] * 512u;
  const bool in = length > 0 && c.dataIn == 1;
  const bool out = length > 0 && c.dataIn == 0;
  if (length > 0 && !in && !out) return invalidField();
  if (in && c.inCapacity < length) return invalidField();
  if (out && c.outLength < length) return invalidField();
  x.dataIn = in;
  x.dataOut = out;
  // The bridge knows which commands move their data by DMA.
  x.dma = out && (x.current.command == 0x06 || x.current.command == 0x07);
  x.inCapacity = in ? length : 0;
  x.outData = out ? c.outData : nullptr;
  x.outLength = out ? length : 0;
  return runCarried(d, x, c.injectedAtaError, length);
}

}  // namespace

ScsiReply executeScsi(SimDrive& d, const ScsiCommand& c) {
  const uint8_t op = c.cdb[0];
  const auto needs = [&](uint8_t length) { return c.cdbLength >= length; };
  if (d.scsi.atacb && needs(16) && op == d.scsi.atacbDriver.signature[0] && c.cdb[1] == d.scsi.atacbDriver.signature[1]) {
    return atacb(d, c);
  }
  switch (op) {
    case 0x00: return needs(6) ? ScsiReply{} : invalidOpcode();  // TEST UNIT READY
    case 0x12: return needs(6) ? inquiry(d, c) : invalidOpcode();
    case 0x1C: return needs(6) ? receiveDiagnostic(d, c) : invalidOpcode();
    case 0x25: return needs(10) ? readCapacity10(d, c) : invalidOpcode();
    case 0x9E: return needs(16) ? readCapacity16(d, c) : invalidOpcode();
    case 0xA1:
      if (!d.scsi.sat12 || !needs(12)) return invalidOpcode();
      return satPassThrough(d, c);
    case 0x85:
      if (!d.scsi.sat16 || !needs(16)) return invalidOpcode();
      return satPassThrough(d, c);
    default: return invalidOpcode();
  }
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
