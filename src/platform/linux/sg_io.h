#pragma once
// One SCSI command through SG_IO, and one ATA command carried in ATA PASS-THROUGH (16).

#include <cstdint>
#include <vector>

#include "platform/linux/scsi_ata.h"
#include "platform/linux/sys_calls.h"

namespace palvoro::real {

enum class SgDirection { None, ToDevice, FromDevice };

struct SgOutcome {
  int error = 0;  // -errno of the ioctl; 0 when the command reached the device
  uint8_t status = 0;      // SCSI status
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;
  uint32_t transferred = 0;  // length minus the residue
  std::vector<uint8_t> sense;  // what the kernel wrote
};

inline constexpr uint32_t kSgSenseBytes = 64;
// A cheap bridge can hang on a command it does not know: no ordinary command waits longer.
inline constexpr uint32_t kSgTimeoutCapMs = 60000;
// A drive's own erase holds its command for as long as the erase lasts: a security erase
// of a large disk takes hours, and a drive states at most "more than 508 minutes" (IDENTIFY
// words 89 and 90). A day covers that with room; a drive silent for longer is hung, and
// without any cap the kernel would wait for it forever and the run could never say so.
inline constexpr uint32_t kPurgeTimeoutCapMs = 24u * 3600u * 1000u;
// The time a command the caller gave `seconds` gets: at least a second, at most a minute,
// or for a purge (CommandKind::Purges) at most kPurgeTimeoutCapMs.
[[nodiscard]] uint32_t commandTimeoutMs(uint32_t seconds, bool purge);

SgOutcome sgCommand(SysCalls& sys, int fd, const uint8_t* cdb, uint8_t cdbLength, SgDirection direction,
                    void* data, uint32_t length, uint32_t timeoutMs);

struct AtaOutcome {
  bool reached = false;   // the command got an answer from the drive (or from libata for it)
  uint32_t error = 0;     // the last error when it did not
  AtaRegisters current;   // returned registers: error in features, status in command
  AtaRegisters previous;  // upper bytes of a 48-bit return
  bool registersKnown = false;
};

// An ATA command on a libata disk. Non-data commands always ask for the registers back
// (CK_COND), since for them the registers are the answer.
AtaOutcome ataCommand(SysCalls& sys, int fd, const AtaRegisters& current, const AtaRegisters* previous,
                      AtaTransfer transfer, void* data, uint32_t length, uint32_t timeoutMs);

// The Windows error for an errno of a device call.
uint32_t errorFromDeviceErrno(int err);

}  // namespace palvoro::real
