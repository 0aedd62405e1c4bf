#include "device/smart_transport.h"

#include <cstring>

#include "device/ata_command.h"
#include "device/drive_requests.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "protocol/ata_commands.h"
#include "protocol/byte_order.h"

namespace palvoro {
namespace {


// Offsets inside the 16-byte SENDCMDOUTPARAMS header's payload.
constexpr uint32_t kOutHeader = kSendCmdOutHeaderSize;               // 16
constexpr uint32_t kDataOutSize = kOutHeader + kSectorBytes;          // 528
constexpr uint32_t kStatusOutSize = kOutHeader + sizeof(IDEREGS);     // 24: header + returned IDEREGS
static_assert(kDataOutSize == kSmartBufferSize);
// Byte 54 of the IDENTIFY data: the first character of the model text (word 27).
constexpr uint32_t kIdentifyModelByte = 54;

// The miniport request: SRB_IO_CONTROL, then the SENDCMDINPARAMS (in) or the
// SENDCMDOUTPARAMS (out). Length counts what follows the header, plus one byte for the
// variable bBuffer the structure declares.
constexpr uint32_t kSrbHeader = sizeof(SRB_IO_CONTROL);                // 28
constexpr uint32_t kMiniportInSize = kSrbHeader + kSendCmdInSize;       // 60
constexpr uint32_t kMiniportDataLength = kDataOutSize + 1;              // 529
constexpr uint32_t kMiniportNoDataLength = kOutHeader + 1;              // 17
constexpr uint32_t kMiniportVersionLength = sizeof(GETVERSIONINPARAMS);  // 24
constexpr uint32_t kMiniportTimeoutSeconds = 10000;
constexpr char kMiniportSignature[8] = {'S', 'C', 'S', 'I', 'D', 'I', 'S', 'K'};

// What one SMART operation puts into the driver and the miniport request.
struct SmartOperation {
  IDEREGS registers{};
  bool dataIn = false;           // SMART_RCV_DRIVE_DATA with 512 data bytes back
  uint32_t miniportCode = 0;     // IOCTL_SCSI_MINIPORT_* control code
  uint32_t driverOutSize = kOutHeader;
  uint8_t driveNumber = 0;       // bDriveNumber of the driver request
};

// IDEREGS is the IDE task file: the seven registers in their order, then a reserved zero.
IDEREGS registers(const AtaRegisters& r) {
  IDEREGS out{};
  putTaskFile(reinterpret_cast<uint8_t*>(&out), r);
  return out;
}

uint8_t deviceOf(uint8_t selector) { return static_cast<uint8_t>(kAtaDeviceBase | selector); }

// IDENTIFY: command (ECh from detection) | features 00 | count 01, LBA 01/00/00 |
// device A0h OR unit. 512 bytes in; miniport 1B0501h.
SmartOperation identifyOperation(uint8_t command, uint8_t unit) {
  SmartOperation op;
  op.registers = registers({0x00, 0x01, 0x01, 0x00, 0x00, deviceOf(unit), command});
  op.dataIn = true;
  op.miniportCode = IOCTL_SCSI_MINIPORT_IDENTIFY;
  op.driverOutSize = kDataOutSize;
  return op;
}

// A SMART command that reads one 512-byte page: B0 | `feature` | count 01, LBA 01/4F/C2 |
// device A0h OR `selector`.
SmartOperation smartPageOperation(uint8_t feature, uint8_t selector, uint32_t miniportCode) {
  SmartOperation op;
  op.registers = registers({feature, 0x01, 0x01, kSmartKeyMid, kSmartKeyHigh, deviceOf(selector), kAtaSmart});
  op.dataIn = true;
  op.miniportCode = miniportCode;
  op.driverOutSize = kDataOutSize;
  return op;
}

// SMART READ DATA: feature D0, `selector` the unit on the driver path and the drive
// number on the miniport path; 1B0502h.
SmartOperation readDataOperation(uint8_t selector) {
  return smartPageOperation(0xD0, selector, IOCTL_SCSI_MINIPORT_READ_SMART_ATTRIBS);
}

// SMART READ THRESHOLDS: feature D1 on the unit; 1B0503h.
SmartOperation readThresholdsOperation(uint8_t unit) {
  return smartPageOperation(0xD1, unit, IOCTL_SCSI_MINIPORT_READ_SMART_THRESHOLDS);
}

// SMART ENABLE OPERATIONS: B0 | D8 | count 01, LBA 01/4F/C2 | A0h OR unit. No data;
// 1B0504h.
SmartOperation enableOperation(uint8_t unit) {
  SmartOperation op;
  op.registers = registers({0xD8, 0x01, 0x01, kSmartKeyMid, kSmartKeyHigh, deviceOf(unit), kAtaSmart});
  op.miniportCode = IOCTL_SCSI_MINIPORT_ENABLE_SMART;
  return op;
}

// SMART RETURN STATUS: B0 | DA | count 01, LBA 01/4F/C2 | A0h OR `selector` (unit on
// the driver path, drive number on the miniport path). The driver hands the returned
// IDEREGS back behind the header, 24 bytes in all; 1B0506h.
SmartOperation returnStatusOperation(uint8_t selector) {
  SmartOperation op;
  op.registers = registers({0xDA, 0x01, 0x01, kSmartKeyMid, kSmartKeyHigh, deviceOf(selector), kAtaSmart});
  op.miniportCode = IOCTL_SCSI_MINIPORT_RETURN_STATUS;
  op.driverOutSize = kStatusOutSize;
  return op;
}

// SMART EXECUTE OFF-LINE IMMEDIATE: B0 | D4 | count = LBA low = sub-command, LBA mid/high
// 4F/C2 | A0h OR unit. No data; the driver request alone names the drive (bDriveNumber,
// low byte of the drive number); 1B0509h.
SmartOperation executeOfflineOperation(uint8_t unit, uint8_t subcommand, int driveNumber) {
  SmartOperation op;
  op.registers =
      registers({0xD4, subcommand, subcommand, kSmartKeyMid, kSmartKeyHigh, deviceOf(unit), kAtaSmart});
  op.miniportCode = IOCTL_SCSI_MINIPORT_EXECUTE_OFFLINE_DIAGS;
  op.driveNumber = static_cast<uint8_t>(driveNumber & 0xFF);
  return op;
}

// The first 32 bytes of SENDCMDINPARAMS: cBufferSize (512 for data commands), the
// registers, bDriveNumber; the reserved fields stay zero.
void buildSendCmdIn(const SmartOperation& op, uint8_t driveNumber, uint8_t* in) {
  std::memset(in, 0, kSendCmdInSize);
  storeLe32(in + offsetof(SENDCMDINPARAMS, cBufferSize), op.dataIn ? kSectorBytes : 0);
  std::memcpy(in + offsetof(SENDCMDINPARAMS, irDriveRegs), &op.registers, sizeof(IDEREGS));
  in[offsetof(SENDCMDINPARAMS, bDriveNumber)] = driveNumber;
}

// SRB_IO_CONTROL: HeaderLength 28, "SCSIDISK" without terminator, Timeout 10000 s, the
// operation's control code, ReturnCode 0, Length of what follows.
void buildSrbHeader(uint32_t controlCode, uint32_t length, uint8_t* header) {
  std::memset(header, 0, kSrbHeader);
  storeLe32(header + offsetof(SRB_IO_CONTROL, HeaderLength), kSrbHeader);
  std::memcpy(header + offsetof(SRB_IO_CONTROL, Signature), kMiniportSignature, sizeof kMiniportSignature);
  storeLe32(header + offsetof(SRB_IO_CONTROL, Timeout), kMiniportTimeoutSeconds);
  storeLe32(header + offsetof(SRB_IO_CONTROL, ControlCode), controlCode);
  storeLe32(header + offsetof(SRB_IO_CONTROL, ReturnCode), 0);
  storeLe32(header + offsetof(SRB_IO_CONTROL, Length), length);
}

// The SMART driver request. `out` has room for op.driverOutSize bytes.
[[nodiscard]] bool sendDriverRequest(Platform& platform, Handle handle, const SmartOperation& op, uint8_t* out) {
  uint8_t in[kSendCmdInSize];
  buildSendCmdIn(op, op.driveNumber, in);
  const uint32_t code = op.dataIn ? SMART_RCV_DRIVE_DATA : SMART_SEND_DRIVE_COMMAND;
  uint32_t returned = 0;
  return platform.deviceIoControl(handle, code, in, kSendCmdInSize, out, op.driverOutSize, &returned);
}

// The miniport request. For data commands the 528 bytes behind the output header go to
// `data` whatever the result, so callers see the driver path's layout.
[[nodiscard]] bool sendMiniportRequest(Platform& platform, Handle handle, const SmartOperation& op,
                                       uint8_t (*data)[kSmartBufferSize]) {
  const uint32_t length = op.dataIn ? kMiniportDataLength : kMiniportNoDataLength;
  uint8_t in[kMiniportInSize];
  buildSrbHeader(op.miniportCode, length, in);
  // The miniport takes the unit from the device register; bDriveNumber stays 0.
  buildSendCmdIn(op, 0, in + kSrbHeader);
  uint8_t out[kSrbHeader + kMiniportDataLength] = {};
  buildSrbHeader(op.miniportCode, length, out);
  // The output takes the whole Length for data commands (557) but only the bare
  // SENDCMDOUTPARAMS header otherwise (44).
  const uint32_t outSize = op.dataIn ? kSrbHeader + kMiniportDataLength : kSrbHeader + kOutHeader;
  uint32_t returned = 0;
  const bool ok = platform.deviceIoControl(handle, IOCTL_SCSI_MINIPORT, in, kMiniportInSize, out, outSize, &returned);
  if (op.dataIn && data != nullptr) std::memcpy(*data, out + kSrbHeader, kSmartBufferSize);
  return ok;
}

// Puts a 512-byte page read through ATA pass-through behind a zeroed header.
void placeBehindHeader(const uint8_t (&page)[kSectorBytes], uint8_t (&out)[kSmartBufferSize]) {
  std::memset(out, 0, kOutHeader);
  std::memcpy(out + kOutHeader, page, kSectorBytes);
}

}  // namespace

bool smartIdentify(Platform& platform, Handle handle, bool miniportMode, uint8_t command, uint8_t unit,
                   uint8_t (&out)[kSmartBufferSize]) {
  std::memset(out, 0, sizeof out);
  const SmartOperation op = identifyOperation(command, unit);
  if (!miniportMode) return sendDriverRequest(platform, handle, op, out);
  platform.setLastError(ERROR_SUCCESS);
  const bool ok = sendMiniportRequest(platform, handle, op, &out);
  // A port with no drive behind the unit answers with empty IDENTIFY data.
  return ok && out[kOutHeader + kIdentifyModelByte] != 0;
}

bool smartReadData(Platform& platform, Handle handle, bool miniportMode, int driveNumber, uint8_t unit,
                   uint8_t (&out)[kSmartBufferSize]) {
  std::memset(out, 0, sizeof out);
  if (miniportMode) {
    return sendMiniportRequest(platform, handle, readDataOperation(static_cast<uint8_t>(driveNumber)), &out);
  }
  if (sendDriverRequest(platform, handle, readDataOperation(unit), out)) return true;
  // Drivers that refuse SMART_RCV_DRIVE_DATA still pass the command itself.
  uint8_t page[kSectorBytes] = {};
  const bool ok = ataSmartReadData(platform, handle, unit, page);
  placeBehindHeader(page, out);
  return ok;
}

bool smartReadThresholds(Platform& platform, Handle handle, bool miniportMode, int driveNumber, uint8_t unit,
                         uint8_t (&out)[kSmartBufferSize]) {
  std::memset(out, 0, sizeof out);
  const SmartOperation op = readThresholdsOperation(unit);
  if (miniportMode) return sendMiniportRequest(platform, handle, op, &out);
  if (sendDriverRequest(platform, handle, op, out)) return true;
  // The pass-through retry addresses the device as A0h OR drive number, not by unit.
  uint8_t page[kSectorBytes] = {};
  const bool ok = ataSmartReadThresholds(platform, handle, static_cast<uint8_t>(driveNumber), page);
  placeBehindHeader(page, out);
  return ok;
}

bool smartReadLog(Platform& platform, Handle handle, bool miniportMode, uint8_t unit, uint8_t address,
                  uint8_t (&out)[kSmartBufferSize]) {
  std::memset(out, 0, sizeof out);
  if (miniportMode) return false;
  SmartOperation op = smartPageOperation(0xD5, unit, 0);
  op.registers.bSectorNumberReg = address;
  if (sendDriverRequest(platform, handle, op, out)) return true;
  uint8_t page[kSectorBytes] = {};
  const bool ok = ataSmartReadLog(platform, handle, unit, address, page);
  placeBehindHeader(page, out);
  return ok;
}

bool smartEnableOperations(Platform& platform, Handle handle, bool miniportMode, uint8_t unit) {
  const SmartOperation op = enableOperation(unit);
  if (miniportMode) return sendMiniportRequest(platform, handle, op, nullptr);
  uint8_t out[kOutHeader] = {};
  return sendDriverRequest(platform, handle, op, out);
}

SmartReturnStatus smartReturnStatusTri(Platform& platform, Handle handle, bool miniportMode, int driveNumber,
                                       uint8_t unit) {
  if (miniportMode) {
    // The miniport tells a threshold exceeded only by failing without an error code.
    platform.setLastError(ERROR_SUCCESS);
    if (sendMiniportRequest(platform, handle, returnStatusOperation(static_cast<uint8_t>(driveNumber)), nullptr)) {
      return SmartReturnStatus::Healthy;
    }
    return platform.lastError() == ERROR_SUCCESS ? SmartReturnStatus::ThresholdExceeded
                                                 : SmartReturnStatus::Undetermined;
  }
  uint8_t out[kStatusOutSize] = {};
  if (sendDriverRequest(platform, handle, returnStatusOperation(unit), out)) {
    const uint8_t* returnedRegs = out + kOutHeader;
    const uint8_t mid = returnedRegs[offsetof(IDEREGS, bCylLowReg)];
    const uint8_t high = returnedRegs[offsetof(IDEREGS, bCylHighReg)];
    if (mid == kSmartKeyMid && high == kSmartKeyHigh) return SmartReturnStatus::Healthy;
    if (mid == kSmartExceededMid && high == kSmartExceededHigh) return SmartReturnStatus::ThresholdExceeded;
  }
  // The driver failed or returned registers that say nothing: ask the drive directly. Its
  // F4h/2Ch is its own verdict here as well; taken as no answer, it let the attributes
  // pass a drive that says it is failing.
  const AtaReply r = sendAtaCommand(platform, handle, smartReturnStatusCommand(unit));
  if (!r.requestOk || r.errSet()) return SmartReturnStatus::Undetermined;
  if (r.smartSignature()) return SmartReturnStatus::Healthy;
  return r.smartThresholdExceeded() ? SmartReturnStatus::ThresholdExceeded : SmartReturnStatus::Undetermined;
}

bool smartExecuteOffline(Platform& platform, Handle handle, bool miniportMode, int driveNumber, uint8_t unit,
                         uint8_t subcommand) {
  const SmartOperation op = executeOfflineOperation(unit, subcommand, driveNumber);
  if (miniportMode) return sendMiniportRequest(platform, handle, op, nullptr);
  uint8_t out[kOutHeader] = {};
  return sendDriverRequest(platform, handle, op, out);
}

int smartVersion(Platform& platform, int driveNumber, bool miniportMode) {
  const Handle handle = openSmartPath(platform, driveNumber, miniportMode);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  uint32_t returned = 0;
  uint8_t map = 0;
  if (miniportMode) {
    uint8_t in[kSrbHeader];
    buildSrbHeader(IOCTL_SCSI_MINIPORT_SMART_VERSION, kMiniportVersionLength, in);
    uint8_t out[kSrbHeader + kMiniportVersionLength] = {};
    buildSrbHeader(IOCTL_SCSI_MINIPORT_SMART_VERSION, kMiniportVersionLength, out);
    // A refused request leaves the map zeroed, as on the driver path.
    (void)platform.deviceIoControl(handle, IOCTL_SCSI_MINIPORT, in, kSrbHeader, out, sizeof out, &returned);
    map = out[kSrbHeader + offsetof(GETVERSIONINPARAMS, bIDEDeviceMap)];
  } else {
    // Zeroed first: a refused request reports an empty device map.
    uint8_t out[sizeof(GETVERSIONINPARAMS)] = {};
    (void)platform.deviceIoControl(handle, SMART_GET_VERSION, nullptr, 0, out, sizeof out, &returned);
    map = out[offsetof(GETVERSIONINPARAMS, bIDEDeviceMap)];
  }
  platform.closeHandle(handle);
  return map;
}

}  // namespace palvoro
