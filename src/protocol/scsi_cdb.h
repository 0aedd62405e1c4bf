#pragma once
// SCSI command blocks (SPC, SBC) and the two SAT blocks that carry an ATA command
// (T10 SAT ATA PASS-THROUGH (12) and (16)): one builder per block, each block's bytes
// mapped above its builder in scsi_cdb.cpp. The command layer and the Linux backend both
// build from here; the simulator reads what it receives with its own code.

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/ata_registers.h"

namespace palvoro {

// Operation codes.
inline constexpr uint8_t kScsiInquiry = 0x12;
inline constexpr uint8_t kScsiReceiveDiagnostic = 0x1C;
inline constexpr uint8_t kScsiReadCapacity10 = 0x25;
inline constexpr uint8_t kScsiServiceActionIn16 = 0x9E;
inline constexpr uint8_t kScsiReadCapacity16Action = 0x10;  // SERVICE ACTION IN (16) byte 1
inline constexpr uint8_t kAtaPassThrough12 = 0xA1;
inline constexpr uint8_t kAtaPassThrough16 = 0x85;
inline constexpr uint8_t kScsiTestUnitReady = 0x00;
inline constexpr uint8_t kScsiRequestSense = 0x03;
inline constexpr uint8_t kScsiSanitize = 0x48;
inline constexpr uint8_t kScsiMaintenanceIn = 0xA3;
inline constexpr uint8_t kScsiReportOpcodesAction = 0x0C;  // MAINTENANCE IN byte 1

// SANITIZE service actions (byte 1 bits 4:0).
enum class SanitizeAction : uint8_t {
  Overwrite = 0x01,
  BlockErase = 0x02,
  CryptoErase = 0x03,
  ExitFailureMode = 0x1F,
};
// The OVERWRITE parameter list the program sends: one pass of a four-byte pattern of zeros.
inline constexpr uint16_t kSanitizeOverwriteListBytes = 8;
// REPORT SUPPORTED OPERATION CODES, one command: byte 1 bits 2:0 SUPPORT; 3 and 5 mean the
// device supports it as asked.
inline constexpr uint8_t kOpcodeSupportMask = 0x07;
inline constexpr uint8_t kOpcodeSupported = 3;
inline constexpr uint8_t kOpcodeSupportedVendor = 5;
inline constexpr uint16_t kReportOpcodeBytes = 16;  // 4 bytes of header and a 10-byte usage map
// Fixed sense data as REQUEST SENSE returns it: SKSV (byte 15 bit 7) marks bytes 16-17 as
// a progress indication of 65536ths.
inline constexpr uint8_t kRequestSenseBytes = 18;
inline constexpr size_t kSenseKeySpecific = 15;
inline constexpr uint8_t kSenseKeySpecificValid = 0x80;
// Additional sense codes (ASC << 8 | ASCQ) a sanitize is told by.
inline constexpr uint16_t kAscSanitizeInProgress = 0x041B;
inline constexpr uint16_t kAscSanitizeFailed = 0x3103;
inline constexpr uint16_t kAscInvalidOpcode = 0x2000;

// The PROTOCOL field of both SAT blocks (byte 1, bits 4:1).
enum class SatProtocol : uint8_t {
  NonData = 3,
  PioIn = 4,
  PioOut = 5,
  Dma = 6,
  UdmaIn = 10,
  UdmaOut = 11,
  ReturnResponse = 15,  // the registers of the device's last command
};

// Byte 2 of both SAT blocks.
inline constexpr uint8_t kSatCheckCondition = 0x20;  // CK_COND: the registers come back on success too
inline constexpr uint8_t kSatFromDevice = 0x08;      // T_DIR
inline constexpr uint8_t kSatLengthInBlocks = 0x04;  // BYT_BLOK
inline constexpr uint8_t kSatLengthInCount = 0x02;   // T_LENGTH 2: the length is in the count register

// Where ATA PASS-THROUGH (12) holds its seven registers, in the IDE order.
inline constexpr size_t kSat12RegistersAt = 3;

// INQUIRY of the standard data, `length` bytes.
std::array<uint8_t, 6> inquiryCdb(uint8_t length);
// INQUIRY of vital product data page `page`, `length` bytes.
std::array<uint8_t, 6> inquiryVpdCdb(uint8_t page, uint8_t length);
// RECEIVE DIAGNOSTIC RESULTS of `page` (page code valid), `length` bytes.
std::array<uint8_t, 6> receiveDiagnosticCdb(uint8_t page, uint16_t length);
// READ CAPACITY (10) and (16).
std::array<uint8_t, 10> readCapacity10Cdb();
std::array<uint8_t, 16> readCapacity16Cdb();
// TEST UNIT READY; REQUEST SENSE of `length` bytes of fixed-format sense data.
std::array<uint8_t, 6> testUnitReadyCdb();
std::array<uint8_t, 6> requestSenseCdb(uint8_t length);
// SANITIZE with IMMED set and AUSE clear: `action`, a parameter list of `listLength` bytes.
std::array<uint8_t, 10> sanitizeCdb(SanitizeAction action, uint16_t listLength);
// The OVERWRITE parameter list: one pass, no inversion, a four-byte pattern of zeros.
std::array<uint8_t, kSanitizeOverwriteListBytes> sanitizeOverwriteList();
// REPORT SUPPORTED OPERATION CODES of one command and service action, `length` bytes.
std::array<uint8_t, 12> reportOpcodeCdb(uint8_t opcode, uint16_t serviceAction, uint32_t length);
// ATA PASS-THROUGH (12) of a 28-bit command; `flags` is byte 2.
std::array<uint8_t, 12> ataPassThrough12Cdb(const AtaRegisters& registers, SatProtocol protocol, uint8_t flags);
// ATA PASS-THROUGH (16); `extend` marks a 48-bit command, `flags` is byte 2.
std::array<uint8_t, 16> ataPassThrough16Cdb(const AtaRegisters48& registers, SatProtocol protocol, uint8_t flags,
                                            bool extend);
// The registers a SAT block carries: the low-order set of either block, and the 48-bit
// set of the (16) block. `cdb` holds at least the block's length.
AtaRegisters registersOfPassThrough12(const uint8_t* cdb);
AtaRegisters48 registersOfPassThrough16(const uint8_t* cdb);

}  // namespace palvoro
