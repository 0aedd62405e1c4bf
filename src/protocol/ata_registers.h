#pragma once
// The ATA register set as every carrier moves it: the seven task-file registers of a
// 28-bit command, and the second set that holds the high-order bytes of a 48-bit one
// (T13 ACS). The IDE order below is the order of the Windows task files (IDEREGS,
// ATA_PASS_THROUGH_EX) and of both SCSI carriers' blocks.

#include <cstdint>

namespace palvoro {

// The task-file registers in the IDE order; on return features holds the error
// register and command the status register.
struct AtaRegisters {
  uint8_t features = 0;
  uint8_t count = 0;
  uint8_t lbaLow = 0;
  uint8_t lbaMid = 0;
  uint8_t lbaHigh = 0;
  uint8_t device = 0;
  uint8_t command = 0;
};
static_assert(sizeof(AtaRegisters) == 7);

// A 48-bit command: `previous` holds the high-order bytes (features 15:8, count 15:8,
// LBA 31:24, 39:32 and 47:40); its device and command go nowhere.
struct AtaRegisters48 {
  AtaRegisters current{};
  AtaRegisters previous{};
};

// Positions inside an 8-byte IDE task file (IDEREGS, PreviousTaskFile, CurrentTaskFile).
enum TaskFileIndex : int {
  kTaskFeatures = 0,  // error register on return
  kTaskCount = 1,
  kTaskLbaLow = 2,
  kTaskLbaMid = 3,
  kTaskLbaHigh = 4,
  kTaskDevice = 5,
  kTaskCommand = 6,  // status register on return
  kTaskReserved = 7,
};

// The status register's bits a command's end is judged by, and the error register's
// ABRT.
inline constexpr uint8_t kAtaStatusError = 0x01;  // ERR
inline constexpr uint8_t kAtaStatusReady = 0x50;  // DRDY and DSC: ended without error
inline constexpr uint8_t kAtaStatusBusy = 0x80;   // BSY: the other bits mean nothing
inline constexpr uint8_t kAtaErrorAbort = 0x04;   // ABRT

// The seven registers at `at` in the IDE order (the task file's reserved byte, or
// whatever follows in a command block, is left alone).
void putRegisters(uint8_t* at, const AtaRegisters& registers);
AtaRegisters takeRegisters(const uint8_t* at);
// A whole 8-byte task file: the seven registers and the reserved byte zero.
void putTaskFile(uint8_t* taskFile, const AtaRegisters& registers);

}  // namespace palvoro
