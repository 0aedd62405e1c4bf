#pragma once
// ATA commands carried in SCSI: the ATA PASS-THROUGH (16) command block built from the
// IDE registers of a request, and the registers read back from the sense data a SCSI/ATA
// translation returns, in every layout kernels have used.

#include <array>
#include <cstddef>
#include <cstdint>

namespace palvoro::real {

// The IDE registers in the order of the Windows task file (features/error first,
// command/status last).
struct AtaRegisters {
  uint8_t features = 0;  // error on return
  uint8_t count = 0;
  uint8_t lbaLow = 0;
  uint8_t lbaMid = 0;
  uint8_t lbaHigh = 0;
  uint8_t device = 0;
  uint8_t command = 0;  // status on return
};

// How a command moves its data: which SAT protocol, and the direction.
enum class AtaTransfer : uint8_t { None, PioIn, PioOut, DmaIn, DmaOut };

// ATA PASS-THROUGH (16). `previous` carries the upper register bytes of a 48-bit command
// (nullptr for a 28-bit one). `checkCondition` asks for the registers back even on success.
std::array<uint8_t, 16> ataPassThrough16(const AtaRegisters& current, const AtaRegisters* previous,
                                         AtaTransfer transfer, bool checkCondition);

// The opcodes of the ATA PASS-THROUGH blocks.
inline constexpr uint8_t kAtaPassThrough12 = 0xA1;
inline constexpr uint8_t kAtaPassThrough16 = 0x85;

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

}  // namespace palvoro::real
