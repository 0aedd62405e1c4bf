#pragma once
// SCSI sense data (SPC), read for what the command layer and the Linux backend act on:
// the sense key and additional sense code, and the ATA registers a SCSI/ATA translation
// returns, in every layout kernels have used.

#include <cstddef>
#include <cstdint>

#include "protocol/ata_registers.h"

namespace palvoro {

// What sense data says.
struct Sense {
  bool present = false;     // a known response code (70h-73h)
  bool descriptor = false;  // 72h/73h
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  bool hasRegisters = false;  // the ATA registers came back
  bool extended = false;      // the upper bytes below are valid
  AtaRegisters registers;     // error in features, status in command
  AtaRegisters upper;         // count, LBA low/mid/high of a 48-bit return
};

enum SenseKey : uint8_t {
  kNoSense = 0x0,
  kRecoveredError = 0x1,
  kNotReady = 0x2,
  kMediumError = 0x3,
  kHardwareError = 0x4,
  kIllegalRequest = 0x5,
  kUnitAttention = 0x6,
  kDataProtect = 0x7,
  kAbortedCommand = 0xB,
};

// Reads `length` bytes of sense data (what the kernel wrote, not the buffer's size).
// Three layouts carry ATA registers: descriptor format with the ATA Status Return
// descriptor (09h); the fixed format of the SCSI/ATA translation standard (error, status,
// device and count in the information field, bytes 3-6); and the fixed format older libata
// writes (those four in bytes 8-11, the LBA from byte 17, beyond the usual 18 bytes).
Sense decodeSense(const uint8_t* data, size_t length);

}  // namespace palvoro
