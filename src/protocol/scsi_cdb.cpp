#include "protocol/scsi_cdb.h"

namespace palvoro {

// INQUIRY: 12 | 00 (standard data) | 00 | 00 | allocation length | 00.
std::array<uint8_t, 6> inquiryCdb(uint8_t length) { return {kScsiInquiry, 0x00, 0x00, 0x00, length, 0x00}; }

// INQUIRY of a VPD page: 12 | 01 (EVPD) | page | 00 | allocation length | 00.
std::array<uint8_t, 6> inquiryVpdCdb(uint8_t page, uint8_t length) {
  return {kScsiInquiry, 0x01, page, 0x00, length, 0x00};
}

// RECEIVE DIAGNOSTIC RESULTS: 1C | 01 (PCV: page code valid) | page | allocation length
// 15:8 | 7:0 | 00 (control).
std::array<uint8_t, 6> receiveDiagnosticCdb(uint8_t page, uint16_t length) {
  return {kScsiReceiveDiagnostic, 0x01, page, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF),
          0x00};
}

// READ CAPACITY (10): 25 and nine zero bytes (no PMI, LBA 0).
std::array<uint8_t, 10> readCapacity10Cdb() { return {kScsiReadCapacity10, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }

// READ CAPACITY (16), a SERVICE ACTION IN (16): 9E | service action 10h | LBA (bytes 2-9)
// 0 | allocation length (bytes 10-13) 0000000Ch | 00 | 00.
std::array<uint8_t, 16> readCapacity16Cdb() {
  return {kScsiServiceActionIn16, kScsiReadCapacity16Action, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x0C, 0x00,
          0x00};
}

// TEST UNIT READY: six zero bytes but the operation code 00h.
std::array<uint8_t, 6> testUnitReadyCdb() { return {kScsiTestUnitReady, 0, 0, 0, 0, 0}; }

// REQUEST SENSE: 03 | 00 (DESC clear: fixed format) | 00 | 00 | allocation length | 00.
std::array<uint8_t, 6> requestSenseCdb(uint8_t length) { return {kScsiRequestSense, 0, 0, 0, length, 0}; }

// SANITIZE:
//   byte 0      48h
//   byte 1      IMMED (7) 1 | ZNR (6) 0 | AUSE (5) 0 | SERVICE ACTION (4:0)
//   bytes 2-6   reserved 0
//   bytes 7-8   parameter list length, most significant first
//   byte 9      control 0
// IMMED: the device answers at once and the host follows the progress through REQUEST
// SENSE, rather than holding one command open for hours. AUSE clear: a failed sanitize
// leaves the device in its failure mode rather than letting it be used half-erased.
std::array<uint8_t, 10> sanitizeCdb(SanitizeAction action, uint16_t listLength) {
  return {kScsiSanitize, static_cast<uint8_t>(0x80 | static_cast<uint8_t>(action)), 0, 0, 0, 0, 0,
          static_cast<uint8_t>(listLength >> 8), static_cast<uint8_t>(listLength & 0xFF), 0};
}

// The OVERWRITE parameter list:
//   byte 0      INVERT (7) 0 | TEST (6:5) 0 | OVERWRITE COUNT (4:0) 1
//   byte 1      reserved 0
//   bytes 2-3   initialization pattern length 0004h
//   bytes 4-7   the pattern, zeros
std::array<uint8_t, kSanitizeOverwriteListBytes> sanitizeOverwriteList() { return {0x01, 0, 0x00, 0x04, 0, 0, 0, 0}; }

// REPORT SUPPORTED OPERATION CODES, a MAINTENANCE IN:
//   byte 0      A3h
//   byte 1      service action 0Ch
//   byte 2      RCTD (7) 0 | reporting options (2:0) 011b: one command with its service action
//   byte 3      the operation code asked of
//   bytes 4-5   its service action, most significant first
//   bytes 6-9   allocation length, most significant first
//   byte 10     reserved 0
//   byte 11     control 0
std::array<uint8_t, 12> reportOpcodeCdb(uint8_t opcode, uint16_t serviceAction, uint32_t length) {
  return {kScsiMaintenanceIn,
          kScsiReportOpcodesAction,
          0x03,
          opcode,
          static_cast<uint8_t>(serviceAction >> 8),
          static_cast<uint8_t>(serviceAction & 0xFF),
          static_cast<uint8_t>(length >> 24),
          static_cast<uint8_t>(length >> 16),
          static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(length & 0xFF),
          0,
          0};
}

// SAT ATA PASS-THROUGH (12):
//   byte 0      A1h
//   byte 1      MULTIPLE_COUNT (7:5) 0 | PROTOCOL (4:1) | reserved (0) 0
//   byte 2      OFF_LINE (7:6) | CK_COND (5) | reserved (4) | T_DIR (3) | BYT_BLOK (2) |
//               T_LENGTH (1:0): `flags`
//   bytes 3-9   features, count, LBA low, LBA mid, LBA high, device, command
//   byte 10     reserved 0
//   byte 11     control 0
std::array<uint8_t, 12> ataPassThrough12Cdb(const AtaRegisters& registers, SatProtocol protocol, uint8_t flags) {
  std::array<uint8_t, 12> cdb{};
  cdb[0] = kAtaPassThrough12;
  cdb[1] = static_cast<uint8_t>(static_cast<uint8_t>(protocol) << 1);
  cdb[2] = flags;
  putRegisters(cdb.data() + kSat12RegistersAt, registers);
  return cdb;
}

// SAT ATA PASS-THROUGH (16):
//   byte 0   85h
//   byte 1   MULTIPLE_COUNT (7:5) 0 | PROTOCOL (4:1) | EXTEND (0)
//   byte 2   OFF_LINE | CK_COND | T_DIR | BYT_BLOK | T_LENGTH: `flags`
//   byte 3   features 15:8     byte 4   features 7:0
//   byte 5   count 15:8        byte 6   count 7:0
//   byte 7   LBA 31:24         byte 8   LBA 7:0
//   byte 9   LBA 39:32         byte 10  LBA 15:8
//   byte 11  LBA 47:40         byte 12  LBA 23:16
//   byte 13  device            byte 14  command
//   byte 15  control 0
// The high-order bytes go as given: a 28-bit command leaves them zero.
std::array<uint8_t, 16> ataPassThrough16Cdb(const AtaRegisters48& registers, SatProtocol protocol, uint8_t flags,
                                            bool extend) {
  const AtaRegisters& low = registers.current;
  const AtaRegisters& high = registers.previous;
  std::array<uint8_t, 16> cdb{};
  cdb[0] = kAtaPassThrough16;
  cdb[1] = static_cast<uint8_t>((static_cast<uint8_t>(protocol) << 1) | (extend ? 1 : 0));
  cdb[2] = flags;
  cdb[3] = high.features;
  cdb[4] = low.features;
  cdb[5] = high.count;
  cdb[6] = low.count;
  cdb[7] = high.lbaLow;
  cdb[8] = low.lbaLow;
  cdb[9] = high.lbaMid;
  cdb[10] = low.lbaMid;
  cdb[11] = high.lbaHigh;
  cdb[12] = low.lbaHigh;
  cdb[13] = low.device;
  cdb[14] = low.command;
  return cdb;
}

AtaRegisters registersOfPassThrough12(const uint8_t* cdb) { return takeRegisters(cdb + kSat12RegistersAt); }

AtaRegisters48 registersOfPassThrough16(const uint8_t* cdb) {
  AtaRegisters48 r;
  r.current = {cdb[4], cdb[6], cdb[8], cdb[10], cdb[12], cdb[13], cdb[14]};
  r.previous = {cdb[3], cdb[5], cdb[7], cdb[9], cdb[11], 0, 0};
  return r;
}

}  // namespace palvoro
