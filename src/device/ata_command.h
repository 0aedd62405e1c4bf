#pragma once
// The ATA command record and every ATA command the system sends through ATA
// pass-through, register by register. Each builder below maps its registers; the
// senders apply the result rules (request only, ERR, the 4Fh/C2h SMART signature).

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/device_status.h"
#include "platform/platform.h"
#include "platform/records.h"
#include "protocol/ata_commands.h"
#include "protocol/ata_registers.h"

namespace palvoro {

inline constexpr uint32_t kSectorBytes = 512;
inline constexpr uint32_t kAtaTimeoutSeconds = 30;

// ATA_PASS_THROUGH_EX immediately followed by one 512-byte data area.
struct AtaCommandRecord {
  ATA_PASS_THROUGH_EX header;
  uint8_t data[kSectorBytes];
};
static_assert(sizeof(AtaCommandRecord) == 552);
static_assert(offsetof(AtaCommandRecord, data) == 40);

enum class AtaDirection { None, In, Out };

// One command as it goes into the record.
struct AtaCommand {
  AtaRegisters current;
  AtaRegisters previous;       // the high-order bytes of 48-bit commands
  uint16_t flags = ATA_FLAGS_DRDY_REQUIRED;
  AtaDirection direction = AtaDirection::None;
  uint32_t dataBufferOffset = sizeof(ATA_PASS_THROUGH_EX);
  uint32_t inSize = sizeof(ATA_PASS_THROUGH_EX);
  uint32_t outSize = sizeof(ATA_PASS_THROUGH_EX);
  uint32_t timeoutSeconds = kAtaTimeoutSeconds;  // longer for an erase the drive does in one command
};

// What came back: whether the request went through, and the returned registers
// (command holds the status, features the error register).
struct AtaReply {
  bool requestOk = false;
  AtaRegisters current;
  AtaRegisters previous;
  bool errSet() const { return (current.command & 0x01) != 0; }
  bool smartSignature() const { return current.lbaMid == kSmartKeyMid && current.lbaHigh == kSmartKeyHigh; }
  // SMART RETURN STATUS's answer when the drive says a threshold is exceeded.
  bool smartThresholdExceeded() const {
    return current.lbaMid == kSmartExceededMid && current.lbaHigh == kSmartExceededHigh;
  }
};

// Fills a zeroed record from `command` (and the data area for data-out commands).
void buildAtaRecord(const AtaCommand& command, const uint8_t* dataOut, AtaCommandRecord& record);
// Sends one command with IOCTL_ATA_PASS_THROUGH; data-in commands copy the 512 data bytes
// to `dataIn`.
[[nodiscard]] AtaReply sendAtaCommand(Platform& platform, Handle handle, const AtaCommand& command,
                                      const uint8_t* dataOut = nullptr, uint8_t* dataIn = nullptr);

// Builders, one per command (registers in hexadecimal as ACS and the maker define them).
AtaCommand identifyDeviceCommand(uint8_t unit);
AtaCommand identifyDeviceUnit2Command();
AtaCommand readLogExtIdentifyPage3Command();
AtaCommand executeDeviceDiagnosticCommand(uint8_t unit);
AtaCommand smartReadDataCommand(uint8_t unit);
AtaCommand smartReadThresholdsCommand(uint8_t unit);
AtaCommand smartEnableOperationsCommand(uint8_t unit);
AtaCommand smartReturnStatusCommand(uint8_t unit);
AtaCommand smartWriteLogSctCommand();
AtaCommand smartReadLogCommand(uint8_t unit, uint8_t address);
AtaCommand readLogExtCommand(uint8_t address, uint16_t page);
AtaCommand readVerifySectorsExtCommand(uint8_t unit, uint64_t lba, uint16_t count);
AtaCommand sanitizeBlockEraseExtCommand(uint8_t unit);
AtaCommand sanitizeStatusExtCommand(uint8_t unit);
AtaCommand dataSetManagementCommand(uint8_t opcode, uint8_t unit);

inline constexpr uint8_t kDsmTrim = 0x06;    // DATA SET MANAGEMENT, 8-byte range entries
inline constexpr uint8_t kDsmXl = 0x07;      // DATA SET MANAGEMENT XL, 16-byte range entries

// IDENTIFY DEVICE of `unit` through ATA pass-through; request only.
[[nodiscard]] bool ataIdentify(Platform& platform, Handle handle, uint8_t unit, uint8_t (&reply)[kSectorBytes]);
// IDENTIFY DEVICE with device register A2h (the second unit of a dual-unit drive).
// Fails only when the request itself fails.
[[nodiscard]] bool ataIdentifyUnit2(Platform& platform, Handle handle, uint8_t (&reply)[kSectorBytes]);
// READ LOG EXT of the IDENTIFY DEVICE data log, page 3. Fails only when the request fails.
[[nodiscard]] bool ataReadIdentifyDataLog(Platform& platform, Handle handle, uint8_t (&page)[kSectorBytes]);
// EXECUTE DEVICE DIAGNOSTIC: true when the request succeeds and LBA mid/high come back
// CDh/ABh, the answer of a bridge rather than a drive.
[[nodiscard]] bool ataDiagnosticSignatureIsBridge(Platform& platform, Handle handle, uint8_t unit);
// SMART READ DATA (ERR checked) and READ THRESHOLDS (ERR and signature checked).
[[nodiscard]] bool ataSmartReadData(Platform& platform, Handle handle, uint8_t unit, uint8_t (&page)[kSectorBytes]);
[[nodiscard]] bool ataSmartReadThresholds(Platform& platform, Handle handle, uint8_t unit,
                                          uint8_t (&page)[kSectorBytes]);
// SMART RETURN STATUS through pass-through: Undetermined when the request fails or ERR is set.
[[nodiscard]] SmartReturnStatus ataSmartReturnStatusTri(Platform& platform, Handle handle, uint8_t unit);
// One page of a drive log: SMART READ LOG (page 0 of `address`) and READ LOG EXT (page
// `page`), and SMART WRITE LOG of an SCT command to E0h. Each fails when the request fails
// or the drive sets ERR, since a refused log would otherwise read as an empty one.
[[nodiscard]] bool ataSmartReadLog(Platform& platform, Handle handle, uint8_t unit, uint8_t address,
                                   uint8_t (&page)[kSectorBytes]);
[[nodiscard]] bool ataReadLogExt(Platform& platform, Handle handle, uint8_t address, uint16_t page,
                                 uint8_t (&out)[kSectorBytes]);
[[nodiscard]] bool ataSctCommand(Platform& platform, Handle handle, const uint8_t (&command)[kSectorBytes]);

}  // namespace palvoro
