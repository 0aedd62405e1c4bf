#include "device/scsi_transport.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/ioctl_codes.h"
#include "platform/records.h"

namespace palvoro {
namespace {

constexpr uint32_t kSptSize = sizeof(SCSI_PASS_THROUGH);  // 44
constexpr uint32_t kAllocationSizeAt = kSptSize;           // the 32-bit total size field
constexpr uint32_t kSenseAt = kSptSize + 4;                 // 48
constexpr uint8_t kSenseLength = 22;                        // of the 24 bytes reserved
constexpr uint32_t kScsiTimeoutSeconds = 20;
constexpr uint32_t kBlockBytes = 512;
static_assert(kSenseAt + 24 == kScsiSenseRequestHeader);

constexpr uint8_t kSmartCommand = 0xB0;
constexpr uint8_t kSmartKeyMid = 0x4F;
constexpr uint8_t kSmartKeyHigh = 0xC2;
constexpr uint8_t kIdentifyDevice = 0xEC;

// The vendor block carries "$$" when the bridge driver names no signature of its own.
constexpr uint8_t kDefaultAtacbSignature = 0x24;
constexpr uint32_t kAtacbCapabilityWordAt = 16;
constexpr uint32_t kAtacbCapabilityBit = 0x40000;  // bit 18: carries the ATA command block
constexpr uint32_t kBridgeCapabilitiesSize = 512;

void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t getLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint32_t getBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}

void reportIoctlError(Platform& platform) {
  std::printf("error sending IOCTL (%d)\n", static_cast<int>(platform.lastError()));
  std::fflush(stdout);
}

// The SCSI_PASS_THROUGH fields both request forms share. PathId, TargetId and Lun stay 0:
// the handle already names the device.
void putPassThroughHeader(uint8_t* p, uint8_t cdbLength, uint8_t senseLength, uint8_t dataIn,
                          uint32_t dataLength, uint32_t dataOffset, uint32_t senseOffset) {
  SCSI_PASS_THROUGH h{};
  h.Length = static_cast<uint16_t>(kSptSize);
  h.CdbLength = cdbLength;
  h.SenseInfoLength = senseLength;
  h.DataIn = dataIn;
  h.DataTransferLength = dataLength;
  h.TimeOutValue = kScsiTimeoutSeconds;
  h.DataBufferOffset = dataOffset;
  h.SenseInfoOffset = senseOffset;
  std::memcpy(p, &h, kSptSize);
}

// One request with a sense area: SCSI_PASS_THROUGH, the 32-bit total allocation size,
// 24 bytes of sense, then the data, all zeroed first. The whole allocation goes in and
// comes back.
class SenseRequest {
 public:
  explicit SenseRequest(uint32_t dataLength) : m_bytes(kScsiSenseRequestHeader + dataLength, 0) {}

  template <size_t N>
  void setCdb(const std::array<uint8_t, N>& cdb, uint8_t dataIn, uint32_t dataLength) {
    static_assert(N <= 16);
    putPassThroughHeader(m_bytes.data(), static_cast<uint8_t>(N), kSenseLength, dataIn, dataLength,
                         kScsiSenseRequestHeader, kSenseAt);
    std::memcpy(m_bytes.data() + offsetof(SCSI_PASS_THROUGH, Cdb), cdb.data(), N);
    putLe32(m_bytes.data() + kAllocationSizeAt, size());
  }
  uint8_t* data() { return m_bytes.data() + kScsiSenseRequestHeader; }
  uint32_t size() const { return static_cast<uint32_t>(m_bytes.size()); }
  uint8_t scsiStatus() const { return m_bytes[offsetof(SCSI_PASS_THROUGH, ScsiStatus)]; }
  uint32_t returnedTransferLength() const {
    return getLe32(m_bytes.data() + offsetof(SCSI_PASS_THROUGH, DataTransferLength));
  }
  const uint8_t* cdb() const { return m_bytes.data() + offsetof(SCSI_PASS_THROUGH, Cdb); }

  // Sends the request; true when the platform call succeeds. `returned` gets the count.
  bool send(Platform& platform, Handle handle, uint32_t* returned) {
    *returned = 0;
    return platform.deviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH, m_bytes.data(), size(), m_bytes.data(), size(),
                                    returned);
  }

 private:
  std::vector<uint8_t> m_bytes;
};

// Sends a SCSI command that reads `length` bytes, and copies them to `out` on success
// (platform call succeeded, ScsiStatus GOOD).
template <size_t N>
bool scsiDataIn(Platform& platform, Handle handle, const std::array<uint8_t, N>& cdb, uint32_t length, uint8_t* out) {
  SenseRequest request(length);
  request.setCdb(cdb, SCSI_IOCTL_DATA_IN, length);
  uint32_t returned = 0;
  if (!request.send(platform, handle, &returned) || request.scsiStatus() != 0) return false;
  if (length != 0 && out != nullptr) std::memcpy(out, request.data(), length);
  return true;
}

// ---- SCSI command blocks (SPC / SBC) ----

// INQUIRY: 12 | 00 (standard data) | 00 | 00 | allocation length 4Ah (74) | 00.
std::array<uint8_t, 6> inquiryCdb() { return {0x12, 0x00, 0x00, 0x00, 74, 0x00}; }

// INQUIRY of a VPD page: 12 | 01 (EVPD) | page | 00 | allocation length | 00.
std::array<uint8_t, 6> inquiryVpdCdb(uint8_t page, uint8_t length) {
  return {0x12, 0x01, page, 0x00, length, 0x00};
}

// RECEIVE DIAGNOSTIC RESULTS: 1C | 01 (PCV: page code valid) | page | allocation length
// 15:8 | 7:0 | 00 (control).
std::array<uint8_t, 6> receiveDiagnosticCdb(uint8_t page, uint16_t length) {
  return {0x1C, 0x01, page, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF), 0x00};
}

// READ CAPACITY (10): 25 and nine zero bytes (no PMI, LBA 0).
std::array<uint8_t, 10> readCapacity10Cdb() { return {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }

// READ CAPACITY (16), a SERVICE ACTION IN (16): 9E | service action 10h | LBA (bytes 2-9)
// 0 | allocation length (bytes 10-13) 0000000Ch | 00 | 00.
std::array<uint8_t, 16> readCapacity16Cdb() {
  return {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00};
}

// ---- ATA carriers ----

// SAT ATA PASS-THROUGH (12):
//   0  A1
//   1  protocol in bits 4:1 (3 non-data; with data 4 PIO data-in for directions 1 and 2,
//      5 PIO data-out for 0, 6 DMA for 6), MULTIPLE_COUNT 0, bit 0 0
//   2  OFF_LINE 0 | CK_COND 0 | T_DIR (bit 3) = direction bit 0 | BYT_BLOK (bit 2) 1 but
//      for direction 2 | T_LENGTH (bits 1:0) 2, the sector count, with data, else 0
//   3..9  features, count, LBA low, LBA mid, LBA high, device, command
//   10, 11  0
std::array<uint8_t, 12> satPassThrough12Cdb(uint8_t features, uint8_t count, uint8_t lbaLow, uint8_t lbaMid,
                                            uint8_t lbaHigh, uint8_t device, uint8_t command, int direction,
                                            bool withData) {
  uint8_t protocol = 3;
  if (withData) {
    if (direction == 1 || direction == 2) {
      protocol = 4;
    } else if (direction == 0) {
      protocol = 5;
    } else if (direction == 6) {
      protocol = 6;
    }
  }
  uint8_t flags = 0;
  if (withData) flags |= 0x02;                       // T_LENGTH: sector count
  if (direction != 2) flags |= 0x04;                 // BYT_BLOK: blocks
  if ((direction & 1) != 0) flags |= 0x08;           // T_DIR: from the device
  return {0xA1, static_cast<uint8_t>(protocol << 1), flags, features, count, lbaLow, lbaMid, lbaHigh,
          device, command, 0x00, 0x00};
}

// SAT ATA PASS-THROUGH (16), from the 16-byte register record (0 device, 1/2 features
// 7:0/15:8, 3/4 count 7:0/15:8, 5..10 LBA 7:0 .. 47:40, 13 command):
//   0  85
//   1  protocol in bits 4:1 | EXTEND in bit 0
//   2  OFF_LINE 0 | CK_COND 0 | T_DIR | BYT_BLOK | T_LENGTH (0Eh PIO in, 06h UDMA out)
//   3, 4  features 15:8, 7:0    5, 6  count 15:8, 7:0
//   7, 8  LBA 31:24, 7:0        9, 10  LBA 39:32, 15:8    11, 12  LBA 47:40, 23:16
//   13  device   14  command   15  0
std::array<uint8_t, 16> satPassThrough16Cdb(const uint8_t (&r)[16], uint8_t protocol, uint8_t byte2, int extend) {
  return {0x85, static_cast<uint8_t>((protocol << 1) | (extend & 1)), byte2, r[2], r[1], r[4], r[3], r[8], r[5],
          r[9], r[6], r[10], r[7], r[0], r[13], 0x00};
}

// The bridge vendor ATA command block:
//   0, 1  the signature the bridge driver names ("$$" by default)
//   2     0
//   3     BEh: register select, every task-file register below is written
//   4     transfer block count (the sector count)
//   5     0
//   6..12 features, count, LBA low, LBA mid, LBA high, device, command
//   13..15 0
std::array<uint8_t, 16> atacbCdb(const uint8_t (&signature)[2], uint8_t features, uint8_t count, uint8_t lbaLow,
                                 uint8_t lbaMid, uint8_t lbaHigh, uint8_t device, uint8_t command) {
  std::array<uint8_t, 16> cdb{};
  cdb[0] = signature[0];
  cdb[1] = signature[1];
  cdb[3] |= 0xBE;
  cdb[4] = count;
  cdb[6] = features;
  cdb[7] = count;
  cdb[8] = lbaLow;
  cdb[9] = lbaMid;
  cdb[10] = lbaHigh;
  cdb[11] = device;
  cdb[12] = command;
  return cdb;
}

// The ATA return block of a RAID enclosure member, over SAT ATA PASS-THROUGH (12):
// A1 | 1E (protocol 15, the response of the last command) | 0E (T_DIR, BYT_BLOK,
// T_LENGTH 2) | 00 x5 | device (A0h member A, B0h member B) | 00 x3.
std::array<uint8_t, 12> memberProbeCdb(uint8_t device) {
  return {0xA1, 0x1E, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, device, 0x00, 0x00, 0x00};
}

// The two signature bytes of the vendor block, after the capability check. False when
// the bridge says it cannot carry the block.
bool atacbSignature(Platform& platform, Handle handle, uint8_t (&signature)[2]) {
  signature[0] = kDefaultAtacbSignature;
  signature[1] = kDefaultAtacbSignature;
  uint8_t capabilities[kBridgeCapabilitiesSize] = {};
  uint32_t returned = 0;
  const bool asked = platform.deviceIoControl(handle, IOCTL_BRIDGE_CAPABILITIES, nullptr, 0, capabilities,
                                              sizeof capabilities, &returned);
  // A bridge driver that does not answer is still tried with the default signature.
  if (!asked || returned == 0) return true;
  if ((getLe32(capabilities + kAtacbCapabilityWordAt) & kAtacbCapabilityBit) == 0) {
    std::printf("  TPP device does not support ATACB\n");
    std::fflush(stdout);
    return false;
  }
  uint8_t named[2] = {kDefaultAtacbSignature, kDefaultAtacbSignature};
  if (platform.deviceIoControl(handle, IOCTL_BRIDGE_ATACB_SIGNATURE, nullptr, 0, named, sizeof named, &returned)) {
    signature[0] = named[0];
    signature[1] = named[1];
  }
  return true;
}

}  // namespace

bool scsiInquiry(Platform& platform, Handle handle, uint8_t (&out)[74]) {
  return scsiDataIn(platform, handle, inquiryCdb(), sizeof out, out);
}

bool scsiInquiryVpd(Platform& platform, Handle handle, uint8_t page, uint8_t length, uint8_t* out) {
  return scsiDataIn(platform, handle, inquiryVpdCdb(page, length), length, out);
}

bool scsiReceiveDiagnostic(Platform& platform, Handle handle, uint8_t page, uint16_t length, uint8_t* out) {
  return scsiDataIn(platform, handle, receiveDiagnosticCdb(page, length), length, out);
}

bool scsiReadCapacity10(Platform& platform, Handle handle, uint32_t* lastLba, uint32_t* blockLength) {
  uint8_t reply[8] = {};
  if (!scsiDataIn(platform, handle, readCapacity10Cdb(), sizeof reply, reply)) return false;
  // Both fields come big-endian.
  if (lastLba != nullptr) *lastLba = getBe32(reply);
  if (blockLength != nullptr) *blockLength = getBe32(reply + 4);
  return true;
}

bool scsiReadCapacity16(Platform& platform, Handle handle, uint64_t* lastLba) {
  uint8_t reply[12] = {};
  if (!scsiDataIn(platform, handle, readCapacity16Cdb(), sizeof reply, reply)) return false;
  if (lastLba != nullptr) *lastLba = static_cast<uint64_t>(getBe32(reply)) << 32 | getBe32(reply + 4);
  return true;
}

int satPassThrough12(Platform& platform, Handle handle, uint8_t features, uint8_t count, uint8_t lbaLow,
                     uint8_t lbaMid, uint8_t lbaHigh, uint8_t device, uint8_t command, int direction,
                     uint8_t* data) {
  const bool withData = data != nullptr;
  const uint32_t length = withData ? count * kBlockBytes : 0;
  // Direction 6 (DMA out) travels as SCSI data-out; 0, 1 and 2 are the SCSI values themselves.
  const uint8_t dataIn = direction == 6 ? SCSI_IOCTL_DATA_OUT : static_cast<uint8_t>(direction);
  SenseRequest request(length);
  request.setCdb(satPassThrough12Cdb(features, count, lbaLow, lbaMid, lbaHigh, device, command, direction, withData),
                 dataIn, length);
  if (direction == 6 && length != 0) std::memcpy(request.data(), data, length);
  uint32_t returned = 0;
  if (!request.send(platform, handle, &returned) || request.scsiStatus() != 0) return 0;
  // The count includes the 72-byte header, so a data command must bring back more than
  // its sectors' worth.
  if (returned <= static_cast<uint32_t>(count) * kBlockBytes) return 0;
  if (length != 0) std::memcpy(data, request.data(), length);
  return 1;
}

int satPassThrough16(Platform& platform, Handle handle, const uint8_t (&registers)[16], int protocolSelector,
                     int extend, uint8_t* data, uint32_t length) {
  uint8_t protocol = 0;
  uint8_t byte2 = 0;
  uint8_t dataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
  if (protocolSelector == 1) {
    protocol = 4;   // PIO data-in
    byte2 = 0x0E;   // T_DIR, BYT_BLOK, T_LENGTH 2
    dataIn = SCSI_IOCTL_DATA_IN;
  } else if (protocolSelector == 4) {
    protocol = 11;  // UDMA data-out
    byte2 = 0x06;   // BYT_BLOK, T_LENGTH 2
    dataIn = SCSI_IOCTL_DATA_OUT;
  } else {
    std::printf("PassThru_SAT_16: invalid protocol\n");
    std::fflush(stdout);
    return 0;
  }
  if (data == nullptr) length = 0;
  const bool in = length != 0 && dataIn == SCSI_IOCTL_DATA_IN;
  const bool out = length != 0 && dataIn == SCSI_IOCTL_DATA_OUT;

  // No sense area here: the data follows the 44-byte structure directly.
  std::vector<uint8_t> request(kSptSize + length, 0);
  putPassThroughHeader(request.data(), 16, 0, dataIn, length, kSptSize, 0);
  const std::array<uint8_t, 16> cdb = satPassThrough16Cdb(registers, protocol, byte2, extend);
  std::memcpy(request.data() + offsetof(SCSI_PASS_THROUGH, Cdb), cdb.data(), cdb.size());
  if (out) std::memcpy(request.data() + kSptSize, data, length);

  const uint32_t inSize = out ? kSptSize + length : kSptSize;
  const uint32_t outSize = in ? kSptSize + length : kSptSize;
  uint32_t returned = 0;
  if (!platform.deviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH, request.data(), inSize, request.data(), outSize,
                                &returned)) {
    reportIoctlError(platform);
    return 0;
  }
  if (request[offsetof(SCSI_PASS_THROUGH, ScsiStatus)] != 0) return 0;
  if (in) std::memcpy(data, request.data() + kSptSize, length);
  return 1;
}

int atacbCommand(Platform& platform, Handle handle, uint8_t features, uint8_t count, uint8_t lbaLow,
                 uint8_t lbaMid, uint8_t lbaHigh, uint8_t device, uint8_t command, int direction, uint8_t* data) {
  uint8_t signature[2];
  if (!atacbSignature(platform, handle, signature)) return 0;
  const uint32_t length = data != nullptr ? count * kBlockBytes : 0;
  const uint8_t dataIn = static_cast<uint8_t>(direction);
  SenseRequest request(length);
  request.setCdb(atacbCdb(signature, features, count, lbaLow, lbaMid, lbaHigh, device, command), dataIn, length);
  uint32_t returned = 0;
  if (!request.send(platform, handle, &returned)) {
    reportIoctlError(platform);
    return 0;
  }
  if (returned == 0 || request.scsiStatus() != 0) return 0;
  // A SMART command only counts when the bridge hands the key back in LBA mid/high.
  if (command == kSmartCommand && (request.cdb()[9] != kSmartKeyMid || request.cdb()[10] != kSmartKeyHigh)) {
    return 0;
  }
  if (count != 0) {
    if (data == nullptr) return 0;
    // The bridge may report fewer bytes than asked for, never more than the area holds.
    uint32_t copy = request.returnedTransferLength();
    if (copy > length) copy = length;
    std::memcpy(data, request.data(), copy);
  }
  return 1;
}

int carrierCommand(Platform& platform, Handle handle, int carrier, uint8_t features, uint8_t count,
                   uint8_t lbaLow, uint8_t lbaMid, uint8_t lbaHigh, uint8_t device, uint8_t command, int direction,
                   uint8_t* data) {
  switch (carrier) {
    case kCarrierAtacb:
      return atacbCommand(platform, handle, features, count, lbaLow, lbaMid, lbaHigh, device, command, direction,
                          data);
    case kCarrierSat12:
      return satPassThrough12(platform, handle, features, count, lbaLow, lbaMid, lbaHigh, device, command, direction,
                              data);
    default:
      return 0;
  }
}

// B0 | D8 | count 0, LBA 00/4F/C2 | device; direction 1, no data.
int carrierSmartEnable(Platform& platform, Handle handle, int carrier, uint8_t device) {
  return carrierCommand(platform, handle, carrier, 0xD8, 0, 0, kSmartKeyMid, kSmartKeyHigh, device, kSmartCommand, 1,
                        nullptr);
}

// B0 | D0 (data) or D1 (thresholds) | count 1, LBA 00/4F/C2 | device; 512 bytes in.
int carrierSmartRead(Platform& platform, Handle handle, int carrier, uint8_t feature, uint8_t device,
                     uint8_t (&out)[512]) {
  return carrierCommand(platform, handle, carrier, feature, 1, 0, kSmartKeyMid, kSmartKeyHigh, device, kSmartCommand,
                        1, out);
}

// B0 | D4 | count 0, LBA sub-command/4F/C2 | device; direction 0, no data.
int carrierSmartExecuteOffline(Platform& platform, Handle handle, int carrier, uint8_t device, uint8_t subcommand) {
  return carrierCommand(platform, handle, carrier, 0xD4, 0, subcommand, kSmartKeyMid, kSmartKeyHigh, device,
                        kSmartCommand, 0, nullptr);
}

int probeCarrier(Platform& platform, Handle handle, uint8_t device, uint8_t (&identify)[512]) {
  // IDENTIFY DEVICE: EC | 00 | count 1, LBA 0 | device; 512 bytes in.
  if (satPassThrough12(platform, handle, 0x00, 1, 0, 0, 0, device, kIdentifyDevice, 1, identify) != 0) {
    satPassThrough12(platform, handle, 0xD8, 0, 0, kSmartKeyMid, kSmartKeyHigh, device, kSmartCommand, 1, nullptr);
    return kCarrierSat12;
  }
  // Bridges with the vendor block answer for the drive behind them as device A0h.
  if (atacbCommand(platform, handle, 0x00, 1, 0, 0, 0, 0xA0, kIdentifyDevice, 1, identify) != 0) {
    return kCarrierAtacb;
  }
  return kCarrierNone;
}

bool satMemberProbe(Platform& platform, Handle handle, int member, uint8_t (&block)[512]) {
  SenseRequest request(sizeof block);
  request.setCdb(memberProbeCdb(member != 0 ? kRaidMemberB : kRaidMemberA), SCSI_IOCTL_DATA_IN, sizeof block);
  uint32_t returned = 0;
  if (!request.send(platform, handle, &returned)) {
    reportIoctlError(platform);
    return false;
  }
  if (request.scsiStatus() != 0 || returned <= sizeof block) return false;
  std::memcpy(block, request.data(), sizeof block);
  return true;
}

bool satReadIdentifyDataLog(Platform& platform, Handle handle, uint8_t (&page)[512]) {
  // READ LOG EXT: count 1, LBA 7:0 30h (IDENTIFY DEVICE data log), LBA 15:8 03h (page 3),
  // command 2Fh; device 0.
  uint8_t registers[16] = {};
  registers[3] = 0x01;
  registers[5] = 0x30;
  registers[6] = 0x03;
  registers[13] = 0x2F;
  return satPassThrough16(platform, handle, registers, 1, 1, page, sizeof page) != 0;
}

int satDataSetManagement(Platform& platform, Handle handle, uint8_t opcode, const uint8_t (&block)[512]) {
  // DATA SET MANAGEMENT: features 7:0 01h (TRIM), count 1 (one block of ranges), command
  // 06h or 07h (XL); device 0.
  uint8_t registers[16] = {};
  registers[1] = 0x01;
  registers[3] = 0x01;
  registers[13] = opcode;
  // The data-out path only reads the block; the copy keeps the caller's array const.
  uint8_t copy[512];
  std::memcpy(copy, block, sizeof copy);
  return satPassThrough16(platform, handle, registers, 4, 1, copy, sizeof copy) != 0 ? 0 : 21;
}

}  // namespace palvoro
