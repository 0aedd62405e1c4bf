#pragma once
// The SCSI side of a simulated drive: what answers IOCTL_SCSI_PASS_THROUGH. A disk
// stack or a bridge answers INQUIRY, VPD pages, READ CAPACITY and RECEIVE DIAGNOSTIC
// RESULTS; bridges that translate ATA PASS-THROUGH (12)/(16) or carry the vendor ATA
// command block hand the ATA command to the drive behind them.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim_ata.h"
#include "platform/sim/sim_machine.h"

namespace palvoro::sim {

// The DataIn values of a SCSI pass-through request.
inline constexpr uint8_t kScsiDataOut = 0;
inline constexpr uint8_t kScsiDataIn = 1;
inline constexpr uint8_t kScsiDataUnspecified = 2;

struct ScsiCommand {
  const uint8_t* cdb = nullptr;
  uint8_t cdbLength = 0;
  uint8_t dataIn = kScsiDataUnspecified;
  const uint8_t* outData = nullptr;
  uint32_t outLength = 0;           // data the host sends
  uint32_t inCapacity = 0;          // room the host gave for data in
  uint64_t nowMs = 0;
  uint8_t injectedAtaError = 0;     // an armed ATA error for a carried ATA command
};

struct ScsiReply {
  uint8_t status = 0;               // 0 GOOD, 2 CHECK CONDITION
  uint8_t senseKey = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  std::vector<uint8_t> data;        // data for the host
};

ScsiReply executeScsi(SimDrive& drive, const ScsiCommand& command);

// The registers of the ATA command a block carries (ATA PASS-THROUGH (12) or (16), or the
// vendor block of a bridge that takes one), so that a fault can match that command. False
// for any other block. `cdb` holds 16 bytes.
bool carriedTaskRegisters(const SimDrive& drive, const uint8_t* cdb, TaskRegisters& registers);

// Standard INQUIRY data (96 bytes): peripheral type, then vendor (8), product (16) and
// revision (4), blank padded.
std::vector<uint8_t> makeInquiry(uint8_t peripheralType, const std::string& vendor, const std::string& product,
                                 const std::string& revision);
// Writes `text` into INQUIRY data at `offset`, blank padded to `width`.
void putInquiryText(std::vector<uint8_t>& inquiry, size_t offset, size_t width, const std::string& text);
// VPD page 80h (unit serial number) holding `serial`.
std::vector<uint8_t> makeSerialPage(uint8_t peripheralType, const std::string& serial);
// ATA text from IDENTIFY words (byte-swapped, blanks kept).
std::string identifyText(const IdentifyWords& words, int firstWord, int wordCount);

}  // namespace palvoro::sim
