#include "platform/linux/write_guard.h"

#include <optional>

#include "platform/records.h"
#include "protocol/ata_commands.h"
#include "protocol/nvme_command.h"

namespace palvoro::real {
namespace {
// The ATA command inside an ATA PASS-THROUGH (12) or (16) block, or nothing for another
// block or one too short to hold it. The high-order bytes count only where the block says
// the command is 48-bit (EXTEND); a 28-bit command never sends them.
[[nodiscard]] std::optional<AtaRegisters48> passThroughRegisters(const uint8_t* cdb, size_t length) {
  if (cdb[0] == kAtaPassThrough16 && length >= 16) {
    AtaRegisters48 r = registersOfPassThrough16(cdb);
    if ((cdb[1] & 0x01) == 0) r.previous = AtaRegisters{};
    return r;
  }
  if (cdb[0] == kAtaPassThrough12 && length >= 12) {
    return AtaRegisters48{.current = registersOfPassThrough12(cdb)};
  }
  return std::nullopt;
}
}  // namespace

WriteRefusal checkWrite(const WriteGuardFacts& facts, uint64_t offset, uint64_t length, std::string* detail) {
  const auto refuse = [detail](WriteRefusal refusal, const std::string& name) {
    if (detail != nullptr) *detail = name;
    return refusal;
  };
  if (!facts.privileged) return refuse(WriteRefusal::NotPrivileged, "");
  if (facts.systemMount) return refuse(WriteRefusal::SystemDisk, facts.systemMountPoint);
  if (facts.activeSwap) return refuse(WriteRefusal::ActiveSwap, facts.swapArea);
  if (facts.runningProgram) return refuse(WriteRefusal::RunningProgram, facts.programPath);
  if (facts.holders) return refuse(WriteRefusal::Holders, facts.holder);
  if (!facts.users.empty()) return refuse(WriteRefusal::InUse, describeUser(facts.users.front()));
  if (!facts.unknown.empty()) return refuse(WriteRefusal::CannotTell, facts.unknown);
  if (facts.exclusiveOpenFailed) return refuse(WriteRefusal::Busy, "");
  const uint64_t end = length == 0 || offset + length < offset ? UINT64_MAX : offset + length;
  const uint64_t start = length == 0 ? 0 : offset;
  for (size_t i = 0; i < facts.mountedRanges.size(); ++i) {
    const auto& [first, stop] = facts.mountedRanges[i];
    if (start < stop && first < end) {
      return refuse(WriteRefusal::MountedRange, i < facts.mountedPoints.size() ? facts.mountedPoints[i] : "");
    }
  }
  return refuse(WriteRefusal::None, "");
}

std::string refusalMessage(const std::string& device, WriteRefusal refusal, const std::string& detail) {
  const auto named = [&detail](const std::string& text, const std::string& before, const std::string& after) {
    return detail.empty() ? text : text + before + detail + after;
  };
  std::string why;
  switch (refusal) {
    case WriteRefusal::None: return "";
    case WriteRefusal::NotPrivileged: why = "writing to a disk takes administrator rights"; break;
    case WriteRefusal::SystemDisk: why = named("the disk holds the running system", " (mounted at ", ")"); break;
    case WriteRefusal::ActiveSwap: why = named("the disk holds swap space in use", " (", ")"); break;
    case WriteRefusal::RunningProgram: why = named("the disk holds this program", " (", ")"); break;
    case WriteRefusal::Holders:
      why = named("a volume manager, RAID or encrypted volume uses the disk", " (", ")");
      break;
    case WriteRefusal::InUse: why = detail.empty() ? "something else uses the disk" : detail; break;
    case WriteRefusal::CannotTell: why = named("what else uses the disk cannot be seen", ": ", ""); break;
    case WriteRefusal::Busy:
      why = detail.empty() ? "another program holds the disk open exclusively"
                           : "the file system mounted at " + detail + " holds the disk";
      break;
    case WriteRefusal::MountedRange:
      why = named("the sectors belong to a mounted file system", " (mounted at ", ")");
      break;
    case WriteRefusal::UnmountFailed:
      why = named("a file system of the disk could not be unmounted", " (", ")");
      break;
  }
  // Names come from mount points, file names and command names, which users choose: no
  // control character of theirs reaches a terminal.
  for (char& c : why) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return "Writing to " + device + " was refused: " + why + ".";
}

std::string describeUser(const DiskUser& user) {
  const std::string what = user.uses.empty() ? "it" : user.file ? user.uses + ", a file on it" : user.uses;
  if (user.kind == DiskUser::Kind::Program) {
    return "the program " + user.name + " (pid " + std::to_string(user.pid) + ") has " + what + " open";
  }
  if (user.kind == DiskUser::Kind::Export) return user.name + " exports " + what;
  return "the loop device " + user.name + " reads " + what +
         (user.mountPoint.empty() ? "" : " (mounted at " + user.mountPoint + ")");
}

namespace {

constexpr uint8_t kTrim = 0x01;  // DATA SET MANAGEMENT features bit 0

// The drive's own erase commands and their steps.
constexpr uint8_t kSecuritySetPassword = 0xF1;
constexpr uint8_t kSecurityUnlock = 0xF2;
constexpr uint8_t kSecurityErasePrepare = 0xF3;
constexpr uint8_t kSecurityEraseUnit = 0xF4;
constexpr uint8_t kSecurityFreezeLock = 0xF5;
constexpr uint8_t kSecurityDisablePassword = 0xF6;
constexpr uint8_t kSetMaxAddress = 0xF9;
constexpr uint8_t kSetMaxAddressExt = 0x37;
constexpr uint8_t kDeviceConfiguration = 0xB1;
constexpr uint8_t kDcoIdentify = 0xC2;
constexpr uint8_t kSetMaxVolatileBit = 0x01;  // count bit 0 (VV): set, the new maximum outlives a power cycle
// SANITIZE sub-commands (features 7:0) and the key each carries in LBA.
constexpr uint8_t kSanitizeStatus = 0x00;
constexpr uint8_t kSanitizeCryptoScramble = 0x11;
constexpr uint8_t kSanitizeBlockErase = 0x12;
constexpr uint8_t kSanitizeOverwrite = 0x14;
constexpr uint32_t kCryptoScrambleKey = 0x43727970;  // LBA 31:0
constexpr uint32_t kBlockEraseKey = 0x426B4572;      // LBA 31:0
constexpr uint16_t kOverwriteKey = 0x4F57;           // LBA 47:32; 31:0 carry the pattern

[[nodiscard]] uint64_t lbaOf(const AtaRegisters48& r) {
  return uint64_t{r.current.lbaLow} | uint64_t{r.current.lbaMid} << 8 | uint64_t{r.current.lbaHigh} << 16 |
         uint64_t{r.previous.lbaLow} << 24 | uint64_t{r.previous.lbaMid} << 32 | uint64_t{r.previous.lbaHigh} << 40;
}

// SANITIZE: its status reads; the three erases pass only with their keys (a drive aborts
// one without, and a block that carries none was not built to erase); the freeze locks,
// the antifreeze and the rest are refused.
CommandKind sanitizeKind(const AtaRegisters48& r) {
  // Features 15:8 are left to the caller: the command layer names a dual-unit drive's unit
  // there, and the sub-command is features 7:0 alone.
  const uint64_t lba = lbaOf(r);
  switch (r.current.features) {
    case kSanitizeStatus: return CommandKind::Reads;
    case kSanitizeCryptoScramble:
      return (lba & 0xFFFFFFFF) == kCryptoScrambleKey ? CommandKind::Purges : CommandKind::Refused;
    case kSanitizeBlockErase:
      return (lba & 0xFFFFFFFF) == kBlockEraseKey ? CommandKind::Purges : CommandKind::Refused;
    case kSanitizeOverwrite: return (lba >> 32) == kOverwriteKey ? CommandKind::Purges : CommandKind::Refused;
    default: return CommandKind::Refused;
  }
}

// The security set, whose commands carry a 512-byte password block (ERASE PREPARE
// carries none): word 0 bit 0 names the master password, which stays refused: a master
// password set by this program would outlive it on the drive.
CommandKind securityKind(const AtaRegisters& r, const uint8_t* data, size_t length) {
  if (r.command == kSecurityErasePrepare) return CommandKind::Purges;
  if (data == nullptr || length != 512) return CommandKind::Refused;
  if (r.command == kSecuritySetPassword && (data[0] & 0x01) != 0) return CommandKind::Refused;
  return CommandKind::Purges;
}

// What an SCT request written to the command log asks for, by its 512 bytes.
CommandKind sctKind(const uint8_t* data, size_t length) {
  if (data == nullptr || length != 512) return CommandKind::Refused;
  const auto word = [data](size_t at) { return static_cast<uint16_t>(data[at] | (data[at + 1] << 8)); };
  // Data table, read, the temperature history table: the drive answers in log E1h.
  if (word(0) == 0x0005 && word(2) == 0x0001 && word(4) == 0x0002) return CommandKind::Reads;
  // The maker's switch of what a dual-unit drive reports, exactly as this program sends it.
  if (word(0) == 0xC013 && data[2] <= 1) {
    for (size_t i = 3; i < length; ++i) {
      if (data[i] != 0) return CommandKind::Refused;
    }
    return CommandKind::Writes;
  }
  return CommandKind::Refused;
}

CommandKind smartKind(const AtaRegisters& r) {
  // Without its key a SMART command is no SMART command; the drive would abort it anyway.
  if (r.lbaMid != 0x4F || r.lbaHigh != 0xC2) return CommandKind::Refused;
  switch (r.features) {
    case 0xD0:  // READ DATA
    case 0xD1:  // READ THRESHOLDS
    case 0xD5:  // READ LOG
    case 0xDA:  // RETURN STATUS
    // ENABLE OPERATIONS: detection sends it before reading a drive that has SMART off;
    // it touches no data, and the drive only starts keeping its counters.
    case 0xD8:
      return CommandKind::Reads;
    case kSmartExecuteOffline:
      // The off-line collection, the short, extended, conveyance and selective self-tests
      // and the abort, all in the background. The captive forms (81h-84h) hold the drive
      // for the whole test under the kernel's feet; the other codes are the makers' own.
      switch (r.lbaLow) {
        case 0x00: case 0x01: case 0x02: case 0x03: case 0x04: case 0x7F:
          return CommandKind::Reads;
        default:
          return CommandKind::Refused;
      }
    default:  // DISABLE OPERATIONS, attribute autosave, save attributes, auto off-line, ...
      return CommandKind::Refused;
  }
}

// The ATA command alone, before the data it carries is looked at.
CommandKind ataKind(const AtaRegisters48& r48) {
  const AtaRegisters& r = r48.current;
  switch (r.command) {
    case 0x00:  // NOP: the drive aborts it whatever the sub-command
    case 0xEC:  // IDENTIFY DEVICE
    case 0xA1:  // IDENTIFY PACKET DEVICE
    case 0xE5:  // CHECK POWER MODE
    case 0x40:  // READ VERIFY SECTOR(S)
    case 0x42:  // READ VERIFY SECTOR(S) EXT
    case 0x20:  // READ SECTOR(S)
    case 0x24:  // READ SECTOR(S) EXT
    case 0xC8:  // READ DMA
    case 0x25:  // READ DMA EXT
    case 0x60:  // READ FPDMA QUEUED
    case 0x2F:  // READ LOG EXT
    case 0x47:  // READ LOG DMA EXT
    case 0xF8:  // READ NATIVE MAX ADDRESS
    case 0x27:  // READ NATIVE MAX ADDRESS EXT
      return CommandKind::Reads;
    case 0x30:  // WRITE SECTOR(S)
    case 0x34:  // WRITE SECTOR(S) EXT
    case 0x3C:  // WRITE VERIFY
    case 0xC5:  // WRITE MULTIPLE
    case 0x39:  // WRITE MULTIPLE EXT
    case 0xCE:  // WRITE MULTIPLE FUA EXT
    case 0xCA:  // WRITE DMA
    case 0x35:  // WRITE DMA EXT
    case 0x3D:  // WRITE DMA FUA EXT
    case 0x61:  // WRITE FPDMA QUEUED
      return CommandKind::Writes;
    case 0x06:  // DATA SET MANAGEMENT
    case 0x07:  // DATA SET MANAGEMENT XL
      return r.features == kTrim ? CommandKind::Writes : CommandKind::Refused;
    case kAtaSanitize:
      return sanitizeKind(r48);
    case kDeviceConfiguration:  // IDENTIFY only: RESTORE, FREEZE LOCK and SET change the drive
      return r.features == kDcoIdentify ? CommandKind::Reads : CommandKind::Refused;
    case kSetMaxAddress:     // features 0 only: 01h-04h are its password, lock and freeze extensions
    case kSetMaxAddressExt:
      return (r.command == kSetMaxAddressExt || r.features == 0) && (r.count & kSetMaxVolatileBit) == 0
                 ? CommandKind::Purges
                 : CommandKind::Refused;
    case kAtaSmart:
      return smartKind(r);
    default:
      return CommandKind::Refused;
  }
}

// SEND DIAGNOSTIC: the default self-test and the background short and extended self-tests
// and their abort, without a parameter list. UNITOFFL and DEVOFFL give the device leave to
// write to the medium while it tests, and the foreground self-tests hold the disk under
// the kernel's feet as the captive ATA ones do.
CommandKind sendDiagnosticKind(const uint8_t* cdb, size_t length) {
  if (length < 6 || cdb[3] != 0 || cdb[4] != 0 || (cdb[1] & 0x03) != 0) return CommandKind::Refused;
  const bool selfTest = (cdb[1] & 0x04) != 0;
  switch (cdb[1] >> 5) {
    case 0: return selfTest ? CommandKind::Reads : CommandKind::Refused;  // the default self-test
    case 1:                                                                // background short
    case 2:                                                                // background extended
    case 4: return selfTest ? CommandKind::Refused : CommandKind::Reads;   // abort the background one
    default: return CommandKind::Refused;
  }
}

// The SCSI command alone, an ATA PASS-THROUGH block aside.
CommandKind scsiKind(const uint8_t* cdb, size_t length) {
  switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
    case 0x03:  // REQUEST SENSE
    case 0x12:  // INQUIRY
    case 0x1A:  // MODE SENSE (6)
    case 0x5A:  // MODE SENSE (10)
    case 0x1C:  // RECEIVE DIAGNOSTIC RESULTS
    case 0x25:  // READ CAPACITY (10)
    case 0x08:  // READ (6)
    case 0x28:  // READ (10)
    case 0x88:  // READ (16)
    case 0xA8:  // READ (12)
    case 0x2F:  // VERIFY (10)
    case 0xAF:  // VERIFY (12)
    case 0x8F:  // VERIFY (16)
    case 0x4D:  // LOG SENSE
    case 0xA0:  // REPORT LUNS
      return CommandKind::Reads;
    case 0x9E:  // SERVICE ACTION IN: READ CAPACITY (16) only
      return length >= 2 && (cdb[1] & 0x1F) == 0x10 ? CommandKind::Reads : CommandKind::Refused;
    case 0x1D:  // SEND DIAGNOSTIC
      return sendDiagnosticKind(cdb, length);
    case 0x0A:  // WRITE (6)
    case 0x2A:  // WRITE (10)
    case 0xAA:  // WRITE (12)
    case 0x8A:  // WRITE (16)
    case 0x2E:  // WRITE AND VERIFY (10)
    case 0xAE:  // WRITE AND VERIFY (12)
    case 0x8E:  // WRITE AND VERIFY (16)
    case 0x41:  // WRITE SAME (10)
    case 0x93:  // WRITE SAME (16)
    case 0x42:  // UNMAP
      return CommandKind::Writes;
    case 0xA3:  // MAINTENANCE IN: REPORT SUPPORTED OPERATION CODES only
      return length >= 12 && (cdb[1] & 0x1F) == 0x0C ? CommandKind::Reads : CommandKind::Refused;
    case 0x48:  // SANITIZE: overwrite, block erase, cryptographic erase, exit failure mode
      switch (length >= 2 ? cdb[1] & 0x1F : 0) {
        case 0x01: case 0x02: case 0x03: case 0x1F: return CommandKind::Purges;
        default: return CommandKind::Refused;
      }
    // FORMAT UNIT, MODE SELECT, WRITE BUFFER (the firmware), SECURITY PROTOCOL OUT,
    // REASSIGN BLOCKS, WRITE LONG and every vendor opcode: never sent.
    default:
      return CommandKind::Refused;
  }
}

[[nodiscard]] bool carriesData(const uint8_t* data, size_t length) { return data != nullptr && length > 0; }

}  // namespace

CommandKind judgeAtaCommand(const AtaRegisters48& registers, const uint8_t* dataOut, size_t length) {
  const AtaRegisters& r = registers.current;
  if (r.command == kAtaSmart && r.features == kSmartWriteLog) {
    const bool sctLog = r.count == 0x01 && r.lbaLow == kSctCommandLog && r.lbaMid == 0x4F && r.lbaHigh == 0xC2;
    return sctLog ? sctKind(dataOut, length) : CommandKind::Refused;
  }
  switch (r.command) {
    case kSecuritySetPassword:
    case kSecurityUnlock:
    case kSecurityErasePrepare:
    case kSecurityEraseUnit:
    case kSecurityDisablePassword:
      return securityKind(r, dataOut, length);
    case kSecurityFreezeLock:  // leaves the drive unable to erase itself until it powers off
    default:
      break;
  }
  const CommandKind kind = ataKind(registers);
  return kind == CommandKind::Reads && carriesData(dataOut, length) ? CommandKind::Refused : kind;
}

CommandKind judgeScsiCommand(const uint8_t* cdb, size_t cdbLength, const uint8_t* dataOut, size_t length) {
  if (cdb == nullptr || cdbLength == 0) return CommandKind::Refused;
  if (cdb[0] != kAtaPassThrough16 && cdb[0] != kAtaPassThrough12) {
    const CommandKind kind = scsiKind(cdb, cdbLength);
    return kind == CommandKind::Reads && carriesData(dataOut, length) ? CommandKind::Refused : kind;
  }
  const std::optional<AtaRegisters48> ata = passThroughRegisters(cdb, cdbLength);
  if (!ata) return CommandKind::Refused;
  const CommandKind kind = judgeAtaCommand(*ata, dataOut, length);
  switch ((cdb[1] >> 1) & 0x0F) {
    case 3:   // non-data
    case 4:   // PIO data-in
    case 5:   // PIO data-out
    case 6:   // DMA
    case 10:  // UDMA data-in
    case 11:  // UDMA data-out
    case 12:  // NCQ (FPDMA)
      return kind;
    case static_cast<uint8_t>(SatProtocol::ReturnResponse):
      // Sends nothing to a translation that knows it; one that does not would send what
      // the block carries.
      return kind == CommandKind::Reads ? CommandKind::Reads : CommandKind::Refused;
    default:  // the resets (0, 1, 9), EXECUTE DEVICE DIAGNOSTIC (8), DMA queued, reserved
      return CommandKind::Refused;
  }
}

bool ataCommandErases(const AtaRegisters& r) {
  switch (r.command) {
    case 0x06:  // DATA SET MANAGEMENT (TRIM)
    case 0x07:  // DATA SET MANAGEMENT XL
    case kSecuritySetPassword:
    case kSecurityUnlock:
    case kSecurityErasePrepare:
    case kSecurityEraseUnit:
    case kSecurityDisablePassword:
    case kSetMaxAddress:
    case kSetMaxAddressExt:
      return true;
    case kAtaSanitize:  // other than its status
      return r.features != kSanitizeStatus;
    default:
      return false;
  }
}

bool ataCommandChangesCapacity(const AtaRegisters& r) {
  return r.command == kSetMaxAddress || r.command == kSetMaxAddressExt;
}

bool scsiCommandErases(const uint8_t* cdb, size_t length) {
  if (cdb == nullptr || length == 0) return false;
  switch (cdb[0]) {
    case 0x41:  // WRITE SAME (10)
    case 0x42:  // UNMAP
    case 0x48:  // SANITIZE
    case 0x93:  // WRITE SAME (16)
      return true;
    case kAtaPassThrough16:
    case kAtaPassThrough12: {
      const std::optional<AtaRegisters48> ata = passThroughRegisters(cdb, length);
      return ata && ataCommandErases(ata->current);
    }
    default:
      return false;
  }
}

bool scsiCommandChangesCapacity(const uint8_t* cdb, size_t length) {
  if (cdb == nullptr || length == 0) return false;
  const std::optional<AtaRegisters48> ata = passThroughRegisters(cdb, length);
  return ata && ataCommandChangesCapacity(ata->current);
}

CommandKind judgeNvmeAdminCommand(uint8_t opcode, uint32_t nsid, uint32_t cdw10) {
  switch (opcode) {
    case kNvmeAdminDeviceSelfTest:
      // Bits 3:0 are the self-test code (Eh is the maker's own); nothing else of CDW10 is
      // defined.
      return cdw10 == kNvmeSelfTestShort || cdw10 == kNvmeSelfTestExtended || cdw10 == kNvmeSelfTestAbort
                 ? CommandKind::Reads
                 : CommandKind::Refused;
    case kNvmeAdminFormatNvm: {
      // CDW10: LBA format 3:0 and 13:12, metadata 4, protection 8:5, Secure Erase
      // Settings 11:9; 31:14 reserved. All namespaces at once is never asked from here.
      const uint32_t settings = (cdw10 >> 9) & 0x7;
      const bool erases = settings == 1 || settings == 2;
      return erases && (cdw10 >> 14) == 0 && nsid != kNvmeNamespaceAll ? CommandKind::Purges : CommandKind::Refused;
    }
    case kNvmeAdminSanitize: {
      // CDW10: action 2:0, AUSE 3, overwrite passes 7:4, invert 8, no-deallocate 9;
      // 31:10 reserved here.
      const uint32_t action = cdw10 & 0x7;
      return action >= 1 && action <= 4 && (cdw10 >> 10) == 0 ? CommandKind::Purges : CommandKind::Refused;
    }
    default:
      return CommandKind::Refused;
  }
}

}  // namespace palvoro::real
