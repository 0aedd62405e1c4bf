#include "device/scsi_transport.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "protocol/ata_commands.h"
#include "protocol/byte_order.h"
#include "protocol/scsi_cdb.h"
#include "protocol/sense.h"

namespace palvoro {
namespace {

constexpr uint32_t kSptSize = sizeof(SCSI_PASS_THROUGH);  // 44
constexpr uint32_t kAllocationSizeAt = kSptSize;           // the 32-bit total size field
constexpr uint32_t kSenseAt = kSptSize + 4;                 // 48
constexpr uint8_t kSenseLength = 22;                        // of the 24 bytes reserved
constexpr uint32_t kScsiTimeoutSeconds = kCarrierTimeoutSeconds;
constexpr uint32_t kBlockBytes = 512;
static_assert(kSenseAt + 24 == kScsiSenseRequestHeader);
static_assert(static_cast<uint8_t>(ScsiData::Out) == SCSI_IOCTL_DATA_OUT);
static_assert(static_cast<uint8_t>(ScsiData::In) == SCSI_IOCTL_DATA_IN);
static_assert(static_cast<uint8_t>(ScsiData::None) == SCSI_IOCTL_DATA_UNSPECIFIED);

// SMART (T13 ACS): command B0h, the sub-command in features, the key 4Fh/C2h in LBA
// mid/high.
// The device byte a vendor-block bridge answers for the drive behind it.
constexpr uint8_t kBridgedDevice = 0xA0;

// The vendor block carries "$$" when the bridge driver names no signature of its own.
constexpr uint8_t kDefaultAtacbSignature = 0x24;
constexpr uint32_t kAtacbCapabilityWordAt = 16;
constexpr uint32_t kAtacbCapabilityBit = 0x40000;  // bit 18: carries the ATA command block
constexpr uint32_t kBridgeCapabilitiesSize = 512;

void reportIoctlError(Platform& platform) {
  std::printf("error sending IOCTL (%d)\n", static_cast<int>(platform.lastError()));
  std::fflush(stdout);
}

// The SCSI_PASS_THROUGH fields both request forms share. PathId, TargetId and Lun stay 0:
// the handle already names the device.
void putPassThroughHeader(uint8_t* p, uint8_t cdbLength, uint8_t senseLength, uint8_t dataIn,
                          uint32_t dataLength, uint32_t dataOffset, uint32_t senseOffset,
                          uint32_t timeoutSeconds = kScsiTimeoutSeconds) {
  SCSI_PASS_THROUGH h{};
  h.Length = static_cast<uint16_t>(kSptSize);
  h.CdbLength = cdbLength;
  h.SenseInfoLength = senseLength;
  h.DataIn = dataIn;
  h.DataTransferLength = dataLength;
  h.TimeOutValue = timeoutSeconds;
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
  void setCdb(const std::array<uint8_t, N>& cdb, uint8_t dataIn, uint32_t dataLength,
              uint32_t timeoutSeconds = kScsiTimeoutSeconds) {
    static_assert(N <= 16);
    setCdb(cdb.data(), static_cast<uint8_t>(N), dataIn, dataLength, timeoutSeconds);
  }
  void setCdb(const uint8_t* cdb, uint8_t cdbLength, uint8_t dataIn, uint32_t dataLength, uint32_t timeoutSeconds) {
    putPassThroughHeader(m_bytes.data(), cdbLength, kSenseLength, dataIn, dataLength, kScsiSenseRequestHeader,
                         kSenseAt, timeoutSeconds);
    std::memcpy(m_bytes.data() + offsetof(SCSI_PASS_THROUGH, Cdb), cdb, cdbLength);
    storeLe32(m_bytes.data() + kAllocationSizeAt, size());
  }
  // The sense data that came back: as many bytes as the header says were written.
  Sense sense() const {
    const uint8_t length = std::min<uint8_t>(m_bytes[offsetof(SCSI_PASS_THROUGH, SenseInfoLength)], kSenseLength);
    return decodeSense(m_bytes.data() + kSenseAt, length);
  }
  uint8_t* data() { return m_bytes.data() + kScsiSenseRequestHeader; }
  uint32_t size() const { return static_cast<uint32_t>(m_bytes.size()); }
  uint8_t scsiStatus() const { return m_bytes[offsetof(SCSI_PASS_THROUGH, ScsiStatus)]; }
  uint32_t returnedTransferLength() const {
    return loadLe32(m_bytes.data() + offsetof(SCSI_PASS_THROUGH, DataTransferLength));
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
[[nodiscard]] bool scsiDataIn(Platform& platform, Handle handle, const std::array<uint8_t, N>& cdb, uint32_t length,
                              uint8_t* out) {
  SenseRequest request(length);
  request.setCdb(cdb, SCSI_IOCTL_DATA_IN, length);
  uint32_t returned = 0;
  if (!request.send(platform, handle, &returned) || request.scsiStatus() != 0) return false;
  if (length != 0 && out != nullptr) std::memcpy(out, request.data(), length);
  return true;
}

}  // namespace

ScsiOutcome scsiCommand(Platform& platform, Handle handle, const uint8_t* cdb, uint8_t cdbLength, ScsiData direction,
                        uint8_t* data, uint32_t length, uint32_t timeoutSeconds) {
  ScsiOutcome outcome;
  if (cdbLength == 0 || cdbLength > 16 || (direction == ScsiData::None && length != 0)) return outcome;
  SenseRequest request(length);
  request.setCdb(cdb, cdbLength, static_cast<uint8_t>(direction), length, timeoutSeconds);
  if (direction == ScsiData::Out && length != 0) std::memcpy(request.data(), data, length);
  uint32_t returned = 0;
  if (!request.send(platform, handle, &returned)) {
    outcome.lastError = platform.lastError();
    return outcome;
  }
  outcome.delivered = true;
  outcome.status = request.scsiStatus();
  if (outcome.status != 0) outcome.sense = request.sense();
  if (direction == ScsiData::In && length != 0 && outcome.status == 0) std::memcpy(data, request.data(), length);
  return outcome;
}

namespace {

// ---- ATA carriers ----

// Where the vendor block holds its seven task-file registers, in the IDE order.
constexpr size_t kAtacbRegistersAt = 6;

// The PROTOCOL field of ATA PASS-THROUGH (12): non-data without data, else by direction.
SatProtocol sat12Protocol(CarrierDirection direction, bool withData) {
  if (!withData) return SatProtocol::NonData;
  switch (direction) {
    case CarrierDirection::In:
    case CarrierDirection::Unspecified:
      return SatProtocol::PioIn;
    case CarrierDirection::Out:
      return SatProtocol::PioOut;
    case CarrierDirection::DmaOut:
      return SatProtocol::Dma;
  }
  return SatProtocol::NonData;
}

// ATA PASS-THROUGH (12) of a carrier command: T_DIR set for data-in, BYT_BLOK set but for
// the unspecified direction, T_LENGTH 2 (the sector count) with data, else 0.
std::array<uint8_t, 12> satPassThrough12Cdb(const AtaRegisters& registers, CarrierDirection direction,
                                            bool withData) {
  uint8_t flags = 0;
  if (direction == CarrierDirection::In) flags |= kSatFromDevice;
  if (direction != CarrierDirection::Unspecified) flags |= kSatLengthInBlocks;
  if (withData) flags |= kSatLengthInCount;
  return ataPassThrough12Cdb(registers, sat12Protocol(direction, withData), flags);
}

// The bridge vendor ATA command block:
//   bytes 0-1    the signature the bridge driver names ("$$" by default)
//   byte 2       0
//   byte 3       BEh: register select, every task-file register below is written
//   byte 4       transfer block count (the sector count)
//   byte 5       0
//   bytes 6-12   features, count, LBA low, LBA mid, LBA high, device, command
//   bytes 13-15  0
std::array<uint8_t, 16> atacbCdb(const uint8_t (&signature)[2], const AtaRegisters& registers) {
  std::array<uint8_t, 16> cdb{};
  cdb[0] = signature[0];
  cdb[1] = signature[1];
  cdb[3] = 0xBE;
  cdb[4] = registers.count;
  putRegisters(cdb.data() + kAtacbRegistersAt, registers);
  return cdb;
}

// The result block of a RAID enclosure member, an ATA PASS-THROUGH (12) with PROTOCOL 15
// (the response of the addressed drive's last command), T_DIR, BYT_BLOK and T_LENGTH 2,
// every register 0 but the device: A0h member A, B0h member B.
std::array<uint8_t, 12> memberProbeCdb(uint8_t device) {
  return ataPassThrough12Cdb({.device = device}, SatProtocol::ReturnResponse,
                             kSatFromDevice | kSatLengthInBlocks | kSatLengthInCount);
}

// The two signature bytes of the vendor block, after the capability check. False when
// the bridge says it cannot carry the block.
[[nodiscard]] bool atacbSignature(Platform& platform, Handle handle, uint8_t (&signature)[2]) {
  signature[0] = kDefaultAtacbSignature;
  signature[1] = kDefaultAtacbSignature;
  uint8_t capabilities[kBridgeCapabilitiesSize] = {};
  uint32_t returned = 0;
  const bool asked = platform.deviceIoControl(handle, IOCTL_BRIDGE_CAPABILITIES, nullptr, 0, capabilities,
                                              sizeof capabilities, &returned);
  // A bridge driver that does not answer is still tried with the default signature.
  if (!asked || returned == 0) return true;
  if ((loadLe32(capabilities + kAtacbCapabilityWordAt) & kAtacbCapabilityBit) == 0) {
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

// A SMART command to `device`: `feature` names the sub-command.
AtaRegisters smartRegisters(uint8_t feature, uint8_t count, uint8_t lbaLow, uint8_t device) {
  return {.features = feature,
          .count = count,
          .lbaLow = lbaLow,
          .lbaMid = kSmartKeyMid,
          .lbaHigh = kSmartKeyHigh,
          .device = device,
          .command = kAtaSmart};
}

}  // namespace

bool scsiInquiry(Platform& platform, Handle handle, uint8_t (&out)[74]) {
  return scsiDataIn(platform, handle, inquiryCdb(sizeof out), sizeof out, out);
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
  if (lastLba != nullptr) *lastLba = loadBe32(reply);
  if (blockLength != nullptr) *blockLength = loadBe32(reply + 4);
  return true;
}

bool scsiReadCapacity16(Platform& platform, Handle handle, uint64_t* lastLba) {
  uint8_t reply[12] = {};
  if (!scsiDataIn(platform, handle, readCapacity16Cdb(), sizeof reply, reply)) return false;
  if (lastLba != nullptr) *lastLba = loadBe64(reply);
  return true;
}

bool satPassThrough12(Platform& platform, Handle handle, const AtaRegisters& registers, CarrierDirection direction,
                      uint8_t* data, uint32_t timeoutSeconds) {
  const bool withData = data != nullptr;
  const uint32_t length = withData ? registers.count * kBlockBytes : 0;
  // DMA out travels as SCSI data-out; the other directions are the SCSI values themselves.
  const uint8_t dataIn =
      direction == CarrierDirection::DmaOut ? SCSI_IOCTL_DATA_OUT : static_cast<uint8_t>(direction);
  SenseRequest request(length);
  request.setCdb(satPassThrough12Cdb(registers, direction, withData), dataIn, length, timeoutSeconds);
  const bool out = direction == CarrierDirection::DmaOut || direction == CarrierDirection::Out;
  if (out && length != 0) std::memcpy(request.data(), data, length);
  uint32_t returned = 0;
  if (!request.send(platform, handle, &returned) || request.scsiStatus() != 0) return false;
  // The count includes the 72-byte header, so a data-in command must bring back more than
  // its sectors' worth; a data-out one brings back the header alone.
  if (out) return true;
  if (returned <= static_cast<uint32_t>(registers.count) * kBlockBytes) return false;
  if (length != 0) std::memcpy(data, request.data(), length);
  return true;
}

bool satPassThrough16(Platform& platform, Handle handle, const AtaRegisters48& registers, Sat16Protocol protocol,
                      int extend, uint8_t* data, uint32_t length, uint32_t timeoutSeconds) {
  SatProtocol protocolField = SatProtocol::NonData;
  uint8_t flags = 0;
  uint8_t dataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
  if (protocol == Sat16Protocol::PioIn) {
    protocolField = SatProtocol::PioIn;
    flags = kSatFromDevice | kSatLengthInBlocks | kSatLengthInCount;
    dataIn = SCSI_IOCTL_DATA_IN;
  } else if (protocol == Sat16Protocol::UdmaOut) {
    protocolField = SatProtocol::UdmaOut;
    flags = kSatLengthInBlocks | kSatLengthInCount;
    dataIn = SCSI_IOCTL_DATA_OUT;
  } else if (protocol == Sat16Protocol::PioOut) {
    protocolField = SatProtocol::PioOut;
    flags = kSatLengthInBlocks | kSatLengthInCount;
    dataIn = SCSI_IOCTL_DATA_OUT;
  } else if (protocol == Sat16Protocol::NonData) {
    data = nullptr;  // no transfer, T_LENGTH 0
  } else {
    std::printf("PassThru_SAT_16: invalid protocol\n");
    std::fflush(stdout);
    return false;
  }
  if (data == nullptr) length = 0;
  const bool in = length != 0 && dataIn == SCSI_IOCTL_DATA_IN;
  const bool out = length != 0 && dataIn == SCSI_IOCTL_DATA_OUT;

  // No sense area here: the data follows the 44-byte structure directly.
  std::vector<uint8_t> request(kSptSize + length, 0);
  putPassThroughHeader(request.data(), 16, 0, dataIn, length, kSptSize, 0, timeoutSeconds);
  const std::array<uint8_t, 16> cdb = ataPassThrough16Cdb(registers, protocolField, flags, (extend & 1) != 0);
  std::memcpy(request.data() + offsetof(SCSI_PASS_THROUGH, Cdb), cdb.data(), cdb.size());
  if (out) std::memcpy(request.data() + kSptSize, data, length);

  const uint32_t inSize = out ? kSptSize + length : kSptSize;
  const uint32_t outSize = in ? kSptSize + length : kSptSize;
  uint32_t returned = 0;
  if (!platform.deviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH, request.data(), inSize, request.data(), outSize,
                                &returned)) {
    reportIoctlError(platform);
    return false;
  }
  if (request[offsetof(SCSI_PASS_THROUGH, ScsiStatus)] != 0) return false;
  if (in) std::memcpy(data, request.data() + kSptSize, length);
  return true;
}

bool atacbCommand(Platform& platform, Handle handle, const AtaRegisters& registers, CarrierDirection direction,
                  uint8_t* data, uint32_t timeoutSeconds) {
  uint8_t signature[2];
  if (!atacbSignature(platform, handle, signature)) return false;
  const uint32_t length = data != nullptr ? registers.count * kBlockBytes : 0;
  // The direction goes as it is, DMA out included.
  const uint8_t dataIn = static_cast<uint8_t>(direction);
  SenseRequest request(length);
  request.setCdb(atacbCdb(signature, registers), dataIn, length, timeoutSeconds);
  const bool out = direction == CarrierDirection::DmaOut || direction == CarrierDirection::Out;
  if (out && length != 0) std::memcpy(request.data(), data, length);
  uint32_t returned = 0;
  if (!request.send(platform, handle, &returned)) {
    reportIoctlError(platform);
    return false;
  }
  if (returned == 0 || request.scsiStatus() != 0) return false;
  // A SMART command only counts when the bridge hands the key back in LBA mid/high.
  const AtaRegisters returnedRegisters = takeRegisters(request.cdb() + kAtacbRegistersAt);
  if (registers.command == kAtaSmart &&
      (returnedRegisters.lbaMid != kSmartKeyMid || returnedRegisters.lbaHigh != kSmartKeyHigh)) {
    return false;
  }
  if (registers.count != 0) {
    if (data == nullptr) return false;
    // The bridge may report fewer bytes than asked for, never more than the area holds.
    uint32_t copy = request.returnedTransferLength();
    if (copy > length) copy = length;
    std::memcpy(data, request.data(), copy);
  }
  return true;
}

bool carrierCommand(Platform& platform, Handle handle, AtaCarrier carrier, const AtaRegisters& registers,
                    CarrierDirection direction, uint8_t* data) {
  switch (carrier) {
    case kCarrierAtacb:
      return atacbCommand(platform, handle, registers, direction, data);
    case kCarrierSat12:
      return satPassThrough12(platform, handle, registers, direction, data);
    default:
      return false;
  }
}

// B0 | D8 | count 0, LBA 00/4F/C2 | device; no data.
bool carrierSmartEnable(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device) {
  return carrierCommand(platform, handle, carrier, smartRegisters(kSmartEnableOperations, 0, 0, device),
                        CarrierDirection::In, nullptr);
}

// B0 | D0 (data) or D1 (thresholds) | count 1, LBA 00/4F/C2 | device; 512 bytes in.
bool carrierSmartRead(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t feature, uint8_t device,
                      uint8_t (&out)[512]) {
  return carrierCommand(platform, handle, carrier, smartRegisters(feature, 1, 0, device), CarrierDirection::In, out);
}

// B0 | D4 | count 0, LBA sub-command/4F/C2 | device; no data.
bool carrierSmartExecuteOffline(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device,
                                uint8_t subcommand) {
  return carrierCommand(platform, handle, carrier, smartRegisters(kSmartExecuteOffline, 0, subcommand, device),
                        CarrierDirection::Out, nullptr);
}

// B0 | D5 | count 1, LBA address/4F/C2 | device; 512 in.
bool carrierSmartReadLog(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device, uint8_t address,
                         uint8_t (&out)[512]) {
  return carrierCommand(platform, handle, carrier, smartRegisters(kSmartReadLog, 1, address, device),
                        CarrierDirection::In, out);
}

// B0 | D6 | count 1, LBA E0h/4F/C2 | device; 512 out, 28-bit in the (16) block.
bool carrierSctCommand(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device,
                       const uint8_t (&command)[512]) {
  if (carrier != kCarrierSat12) return false;
  uint8_t copy[512];
  std::memcpy(copy, command, sizeof copy);
  const AtaRegisters48 registers{.current = smartRegisters(kSmartWriteLog, 1, kSctCommandLog, device)};
  return satPassThrough16(platform, handle, registers, Sat16Protocol::PioOut, 0, copy, sizeof copy);
}

// 2F | count 1, LBA address / page 7:0, previous LBA mid page 15:8 | device; 512 in.
bool carrierReadLogExt(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device, uint8_t address,
                       uint16_t page, uint8_t (&out)[512]) {
  if (carrier != kCarrierSat12) return false;
  AtaRegisters48 registers{};
  registers.current = {.count = 0x01,
                       .lbaLow = address,
                       .lbaMid = static_cast<uint8_t>(page & 0xFF),
                       .device = device,
                       .command = kAtaReadLogExt};
  registers.previous.lbaMid = static_cast<uint8_t>(page >> 8);
  return satPassThrough16(platform, handle, registers, Sat16Protocol::PioIn, 1, out, sizeof out);
}

AtaCarrier probeCarrier(Platform& platform, Handle handle, uint8_t device, uint8_t (&identify)[512]) {
  // IDENTIFY DEVICE: EC | 00 | count 1, LBA 0 | device; 512 bytes in.
  const AtaRegisters identifyDevice{.count = 1, .device = device, .command = kAtaIdentifyDevice};
  if (satPassThrough12(platform, handle, identifyDevice, CarrierDirection::In, identify)) {
    // The bridge passed IDENTIFY, so it is the carrier whatever SMART ENABLE answers; a
    // drive that refuses it shows that when its SMART data is read.
    (void)satPassThrough12(platform, handle, smartRegisters(kSmartEnableOperations, 0, 0, device), CarrierDirection::In,
                           nullptr);
    return kCarrierSat12;
  }
  // Bridges with the vendor block answer for the drive behind them as device A0h.
  const AtaRegisters identifyBridged{.count = 1, .device = kBridgedDevice, .command = kAtaIdentifyDevice};
  if (atacbCommand(platform, handle, identifyBridged, CarrierDirection::In, identify)) {
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
  const AtaRegisters48 registers{.current = {.count = 0x01, .lbaLow = 0x30, .lbaMid = 0x03, .command = 0x2F}};
  return satPassThrough16(platform, handle, registers, Sat16Protocol::PioIn, 1, page, sizeof page);
}

DriveRequestError satDataSetManagement(Platform& platform, Handle handle, uint8_t opcode, const uint8_t (&block)[512]) {
  // DATA SET MANAGEMENT: features 7:0 01h (TRIM), count 1 (one block of ranges), command
  // 06h or 07h (XL); device 0.
  const AtaRegisters48 registers{.current = {.features = 0x01, .count = 0x01, .command = opcode}};
  // The data-out path only reads the block; the copy keeps the caller's array const.
  uint8_t copy[512];
  std::memcpy(copy, block, sizeof copy);
  return satPassThrough16(platform, handle, registers, Sat16Protocol::UdmaOut, 1, copy, sizeof copy)
             ? DriveRequestError::None
             : DriveRequestError::Trim;
}

}  // namespace palvoro
