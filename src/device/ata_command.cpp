#include "device/ata_command.h"

#include <cstring>

#include "platform/ioctl_codes.h"

namespace palvoro {
namespace {

constexpr uint32_t kHeader = sizeof(ATA_PASS_THROUGH_EX);
constexpr uint32_t kRecord = sizeof(AtaCommandRecord);

// A command and the record sizes its direction takes: without data 40 bytes in and 40
// out; data-in 40 in and 552 out, the 512 bytes behind the header; data-out 552 in, 40 out.
AtaCommand moving(AtaDirection direction, uint16_t flags) {
  AtaCommand c;
  c.flags = flags;
  c.direction = direction;
  if (direction == AtaDirection::In) c.outSize = kRecord;
  if (direction == AtaDirection::Out) c.inSize = kRecord;
  return c;
}
AtaCommand nonData(uint16_t flags) { return moving(AtaDirection::None, flags); }
AtaCommand dataIn(uint16_t flags) { return moving(AtaDirection::In, flags); }
AtaCommand dataOut(uint16_t flags) { return moving(AtaDirection::Out, flags); }

constexpr uint16_t kFlagsNoData = ATA_FLAGS_DRDY_REQUIRED;                                         // 1
constexpr uint16_t kFlagsIn = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_IN;                         // 3
constexpr uint16_t kFlagsOut = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_OUT;                       // 5
constexpr uint16_t kFlagsNoData48 = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_48BIT_COMMAND;             // 9
constexpr uint16_t kFlagsIn48 = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_IN | ATA_FLAGS_48BIT_COMMAND;  // 11
constexpr uint16_t kFlagsDmaOut48 = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_OUT |
                                    ATA_FLAGS_48BIT_COMMAND | ATA_FLAGS_USE_DMA;                  // 29
static_assert(kFlagsNoData == 1 && kFlagsIn == 3 && kFlagsOut == 5 && kFlagsNoData48 == 9 &&
              kFlagsIn48 == 11 && kFlagsDmaOut48 == 29);

// SMART commands carry the key 4Fh/C2h in LBA mid/high.
AtaCommand smartCommand(AtaCommand c, uint8_t feature, uint8_t count, uint8_t lbaLow, uint8_t device) {
  c.current = {feature, count, lbaLow, kSmartKeyMid, kSmartKeyHigh, device, kAtaSmart};
  return c;
}

}  // namespace

void buildAtaRecord(const AtaCommand& command, const uint8_t* data, AtaCommandRecord& record) {
  std::memset(&record, 0, sizeof record);
  ATA_PASS_THROUGH_EX& h = record.header;
  h.Length = kHeader;
  h.AtaFlags = command.flags;
  h.DataTransferLength = command.direction == AtaDirection::None ? 0 : kSectorBytes;
  h.TimeOutValue = command.timeoutSeconds;
  h.DataBufferOffset = command.dataBufferOffset;
  putRegisters(h.PreviousTaskFile, command.previous);
  putRegisters(h.CurrentTaskFile, command.current);
  if (command.direction == AtaDirection::Out && data != nullptr) {
    std::memcpy(record.data, data, kSectorBytes);
  }
}

AtaReply sendAtaCommand(Platform& platform, Handle handle, const AtaCommand& command,
                        const uint8_t* dataOutBytes, uint8_t* dataInBytes) {
  AtaCommandRecord record;
  buildAtaRecord(command, dataOutBytes, record);
  uint32_t returned = 0;
  // Input and output share the record: the registers the drive returns land in it.
  AtaReply reply;
  reply.requestOk = platform.deviceIoControl(handle, IOCTL_ATA_PASS_THROUGH, &record, command.inSize, &record,
                                             command.outSize, &returned);
  reply.current = takeRegisters(record.header.CurrentTaskFile);
  reply.previous = takeRegisters(record.header.PreviousTaskFile);
  if (command.direction == AtaDirection::In && dataInBytes != nullptr) {
    std::memcpy(dataInBytes, record.data, kSectorBytes);
  }
  return reply;
}

// EC 00 | count 01, LBA 01/00/00 | device A0h OR unit; 512 in.
AtaCommand identifyDeviceCommand(uint8_t unit) {
  AtaCommand c = dataIn(kFlagsIn);
  c.current = {0x00, 0x01, 0x01, 0x00, 0x00, static_cast<uint8_t>(kAtaDeviceBase | unit), 0xEC};
  return c;
}

// Device A2h: unit 2 of a dual-unit drive (the first unit answers over the SMART path).
AtaCommand identifyDeviceUnit2Command() { return identifyDeviceCommand(2); }

// 2F 00 | count 01, LBA 30h (IDENTIFY DEVICE data log) / 03h (page) / 00 | A0h; 48-bit.
AtaCommand readLogExtIdentifyPage3Command() {
  AtaCommand c = dataIn(kFlagsIn48);
  c.current = {0x00, 0x01, 0x30, 0x03, 0x00, kAtaDeviceBase, 0x2F};
  return c;
}

// 90 00 | all zero | A0h OR unit. No data, but the whole record comes back (552 out)
// and DataBufferOffset is 0.
AtaCommand executeDeviceDiagnosticCommand(uint8_t unit) {
  AtaCommand c = nonData(kFlagsNoData);
  c.current.command = 0x90;
  c.current.device = static_cast<uint8_t>(kAtaDeviceBase | unit);
  c.dataBufferOffset = 0;
  c.outSize = kRecord;
  return c;
}

// B0 D0 | count 01, LBA 01/4F/C2 | A0h OR unit; 512 in.
AtaCommand smartReadDataCommand(uint8_t unit) {
  return smartCommand(dataIn(kFlagsIn), 0xD0, 0x01, 0x01, static_cast<uint8_t>(kAtaDeviceBase | unit));
}

// B0 D1 | count 01, LBA 01/4F/C2 | A0h OR unit; 512 in.
AtaCommand smartReadThresholdsCommand(uint8_t unit) {
  return smartCommand(dataIn(kFlagsIn), 0xD1, 0x01, 0x01, static_cast<uint8_t>(kAtaDeviceBase | unit));
}

// B0 D8 | count 00, LBA 00/4F/C2 | A0h OR unit; no data.
AtaCommand smartEnableOperationsCommand(uint8_t unit) {
  return smartCommand(nonData(kFlagsNoData), 0xD8, 0x00, 0x00, static_cast<uint8_t>(kAtaDeviceBase | unit));
}

// B0 DA | count 00, LBA 00/4F/C2 | A0h OR unit; no data. The drive answers F4h/2Ch in
// LBA mid/high when a threshold is exceeded.
AtaCommand smartReturnStatusCommand(uint8_t unit) {
  return smartCommand(nonData(kFlagsNoData), 0xDA, 0x00, 0x00, static_cast<uint8_t>(kAtaDeviceBase | unit));
}

// B0 D6 | count 01, LBA E0h (SCT command log)/4F/C2 | A0h; 512 out.
AtaCommand smartWriteLogSctCommand() { return smartCommand(dataOut(kFlagsOut), 0xD6, 0x01, 0xE0, kAtaDeviceBase); }

// B0 D5 | count 01, LBA address/4F/C2 | A0h OR unit; 512 in. SMART READ LOG has no page
// number: one page is page 0.
AtaCommand smartReadLogCommand(uint8_t unit, uint8_t address) {
  return smartCommand(dataIn(kFlagsIn), 0xD5, 0x01, address, static_cast<uint8_t>(kAtaDeviceBase | unit));
}

// 2F 00 | count 01, LBA address / page 7:0 / 00 | A0h; prev LBA mid page 15:8; 48-bit.
AtaCommand readLogExtCommand(uint8_t address, uint16_t page) {
  AtaCommand c = dataIn(kFlagsIn48);
  c.current = {0x00, 0x01, address, static_cast<uint8_t>(page & 0xFF), 0x00, kAtaDeviceBase, 0x2F};
  c.previous.lbaMid = static_cast<uint8_t>(page >> 8);
  return c;
}

// 42 00 | count 7:0, LBA 7:0 / 15:8 / 23:16 | device 00; 48-bit, no data.
// prev: count 15:8, LBA 31:24 / 00 / unit << 4. LBA bits 32 and up are not sent.
AtaCommand readVerifySectorsExtCommand(uint8_t unit, uint64_t lba, uint16_t count) {
  AtaCommand c = nonData(kFlagsNoData48);
  c.current = {0x00, static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(lba),
               static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba >> 16), 0x00, 0x42};
  c.previous = {0x00, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(lba >> 24), 0x00,
                static_cast<uint8_t>(unit << 4), 0x00, 0x00};
  return c;
}

// B4 12 (BLOCK ERASE EXT) | count 00, LBA 72/45/6B | 00; prev: features unit << 4,
// LBA low 42. The LBA 426B4572h is the signature the sub-command requires.
AtaCommand sanitizeBlockEraseExtCommand(uint8_t unit) {
  AtaCommand c = nonData(kFlagsNoData48);
  c.current = {0x12, 0x00, 0x72, 0x45, 0x6B, 0x00, 0xB4};
  c.previous = {static_cast<uint8_t>(unit << 4), 0x00, 0x42, 0x00, 0x00, 0x00, 0x00};
  return c;
}

// B4 00 (SANITIZE STATUS EXT) | all zero | device = unit (no A0h); prev features unit << 4.
AtaCommand sanitizeStatusExtCommand(uint8_t unit) {
  AtaCommand c = nonData(kFlagsNoData48);
  c.current = {0x00, 0x00, 0x00, 0x00, 0x00, unit, 0xB4};
  c.previous.features = static_cast<uint8_t>(unit << 4);
  return c;
}

// 06 or 07, features 01 (TRIM) | count 01 (one 512-byte block), LBA 0 | 00; DMA out.
// prev: features E0h, LBA high unit << 4.
AtaCommand dataSetManagementCommand(uint8_t opcode, uint8_t unit) {
  AtaCommand c = dataOut(kFlagsDmaOut48);
  c.current = {0x01, 0x01, 0x00, 0x00, 0x00, 0x00, opcode};
  c.previous = {0xE0, 0x00, 0x00, 0x00, static_cast<uint8_t>(unit << 4), 0x00, 0x00};
  return c;
}

bool ataIdentify(Platform& platform, Handle handle, uint8_t unit, uint8_t (&reply)[kSectorBytes]) {
  return sendAtaCommand(platform, handle, identifyDeviceCommand(unit), nullptr, reply).requestOk;
}

bool ataIdentifyUnit2(Platform& platform, Handle handle, uint8_t (&reply)[kSectorBytes]) {
  return sendAtaCommand(platform, handle, identifyDeviceUnit2Command(), nullptr, reply).requestOk;
}

bool ataReadIdentifyDataLog(Platform& platform, Handle handle, uint8_t (&page)[kSectorBytes]) {
  return sendAtaCommand(platform, handle, readLogExtIdentifyPage3Command(), nullptr, page).requestOk;
}

bool ataDiagnosticSignatureIsBridge(Platform& platform, Handle handle, uint8_t unit) {
  const AtaReply r = sendAtaCommand(platform, handle, executeDeviceDiagnosticCommand(unit));
  return r.requestOk && r.current.lbaMid == 0xCD && r.current.lbaHigh == 0xAB;
}

bool ataSmartReadData(Platform& platform, Handle handle, uint8_t unit, uint8_t (&page)[kSectorBytes]) {
  const AtaReply r = sendAtaCommand(platform, handle, smartReadDataCommand(unit), nullptr, page);
  return r.requestOk && !r.errSet();
}

bool ataSmartReadThresholds(Platform& platform, Handle handle, uint8_t unit,
                            uint8_t (&page)[kSectorBytes]) {
  const AtaReply r = sendAtaCommand(platform, handle, smartReadThresholdsCommand(unit), nullptr, page);
  return r.requestOk && !r.errSet() && r.smartSignature();
}

bool ataSmartReadLog(Platform& platform, Handle handle, uint8_t unit, uint8_t address,
                     uint8_t (&page)[kSectorBytes]) {
  const AtaReply r = sendAtaCommand(platform, handle, smartReadLogCommand(unit, address), nullptr, page);
  return r.requestOk && !r.errSet();
}

bool ataReadLogExt(Platform& platform, Handle handle, uint8_t address, uint16_t page,
                   uint8_t (&out)[kSectorBytes]) {
  const AtaReply r = sendAtaCommand(platform, handle, readLogExtCommand(address, page), nullptr, out);
  return r.requestOk && !r.errSet();
}

bool ataSctCommand(Platform& platform, Handle handle, const uint8_t (&command)[kSectorBytes]) {
  const AtaReply r = sendAtaCommand(platform, handle, smartWriteLogSctCommand(), command);
  return r.requestOk && !r.errSet();
}

SmartReturnStatus ataSmartReturnStatusTri(Platform& platform, Handle handle, uint8_t unit) {
  const AtaReply r = sendAtaCommand(platform, handle, smartReturnStatusCommand(unit));
  if (!r.requestOk || r.errSet()) return SmartReturnStatus::Undetermined;
  return r.smartSignature() ? SmartReturnStatus::Healthy : SmartReturnStatus::ThresholdExceeded;
}

}  // namespace palvoro
