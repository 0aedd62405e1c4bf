#include "smart/error_log.h"

#include <algorithm>
#include <cstdio>

#include "protocol/byte_order.h"

namespace palvoro {

namespace {

// Summary error log (T13 ACS, log 01h): version 0, index 1, five 90-byte error structures
// from byte 2, device error count at 452..453, checksum 511. Each structure holds five
// 12-byte command structures (oldest first, the fifth the one that failed) and a 30-byte
// error structure.
constexpr size_t kSummaryStructures = 5;
constexpr size_t kSummaryStructureBytes = 90;
constexpr size_t kSummaryFirstStructure = 2;
constexpr size_t kSummaryCountOffset = 452;
constexpr size_t kSummaryCommandBytes = 12;
constexpr size_t kSummaryErrorOffset = 60;

// Extended comprehensive error log (log 03h): version 0, index 2..3, four 124-byte error
// structures per page from byte 4, device error count at 500..501, checksum 511 of each page.
// Each structure holds five 18-byte command structures and a 34-byte error structure.
constexpr size_t kExtStructuresPerPage = 4;
constexpr size_t kExtStructureBytes = 124;
constexpr size_t kExtFirstStructure = 4;
constexpr size_t kExtCountOffset = 500;
constexpr size_t kExtCommandBytes = 18;
constexpr size_t kExtErrorOffset = 90;

constexpr size_t kCommandsPerStructure = 5;

constexpr LogRing kSummaryRing{kSummaryFirstStructure, kSummaryStructureBytes, kSummaryStructures};
constexpr LogRing kExtRing{kExtFirstStructure, kExtStructureBytes, kExtStructuresPerPage};

// A 28-bit address: LBA low, mid, high and the device register's low nibble (bits 27:24).
uint64_t lba28(uint8_t low, uint8_t mid, uint8_t high, uint8_t device) {
  return static_cast<uint64_t>(low) | (static_cast<uint64_t>(mid) << 8) | (static_cast<uint64_t>(high) << 16) |
         (static_cast<uint64_t>(device & 0x0F) << 24);
}

// A 48-bit address as the extended structures interleave it: low, low (previous), mid, mid
// (previous), high, high (previous), i.e. bits 7:0, 31:24, 15:8, 39:32, 23:16, 47:40.
uint64_t lba48(const uint8_t* b) {
  return static_cast<uint64_t>(b[0]) | (static_cast<uint64_t>(b[1]) << 24) | (static_cast<uint64_t>(b[2]) << 8) |
         (static_cast<uint64_t>(b[3]) << 32) | (static_cast<uint64_t>(b[4]) << 16) |
         (static_cast<uint64_t>(b[5]) << 40);
}

uint32_t numberBack(uint32_t newest, size_t back) {
  return newest > back ? static_cast<uint32_t>(newest - back) : 0;
}

// Summary command structure: device control, features, count, LBA low, mid, high, device,
// command, timestamp (4 bytes, ms).
AtaErrorCommand summaryCommand(const uint8_t* c) {
  AtaErrorCommand command;
  command.deviceControl = c[0];
  command.features = c[1];
  command.count = c[2];
  command.lba = lba28(c[3], c[4], c[5], c[6]);
  command.device = c[6];
  command.command = c[7];
  command.timestampMs = loadLe32(c + 8);
  return command;
}

// The command structures in front of an error structure, oldest first; the slots of a
// drive that ran fewer commands before the error stay zero and are left out.
std::vector<AtaErrorCommand> commandsOf(const uint8_t* s, size_t commandBytes,
                                        AtaErrorCommand (*decode)(const uint8_t*)) {
  std::vector<AtaErrorCommand> commands;
  for (size_t i = 0; i < kCommandsPerStructure; ++i) {
    const uint8_t* c = s + i * commandBytes;
    if (!allZero(c, commandBytes)) commands.push_back(decode(c));
  }
  return commands;
}

// Summary error structure: reserved, error, count, LBA low, mid, high, device, status,
// 19 bytes of extended error information, state, life timestamp (2 bytes, hours).
AtaErrorEntry summaryEntry(const uint8_t* s) {
  AtaErrorEntry entry;
  entry.commands = commandsOf(s, kSummaryCommandBytes, summaryCommand);
  const uint8_t* e = s + kSummaryErrorOffset;
  entry.error = e[1];
  entry.count = e[2];
  entry.lba = lba28(e[3], e[4], e[5], e[6]);
  entry.device = e[6];
  entry.status = e[7];
  entry.state = static_cast<uint8_t>(e[27] & 0x0F);  // the upper nibble is the vendor's
  entry.lifetimeHours = loadLe16(e + 28);
  return entry;
}

// Extended command structure: device control, features 7:0, 15:8, count 7:0, 15:8, the
// six LBA bytes, device, command, reserved, timestamp (4 bytes, ms).
AtaErrorCommand extCommand(const uint8_t* c) {
  AtaErrorCommand command;
  command.deviceControl = c[0];
  command.features = loadLe16(c + 1);
  command.count = loadLe16(c + 3);
  command.lba = lba48(c + 5);
  command.device = c[11];
  command.command = c[12];
  command.timestampMs = loadLe32(c + 14);
  return command;
}

// Extended error structure: transport specific, error, count 7:0, 15:8, the six LBA bytes,
// device, status, 19 bytes of extended error information, state, life timestamp (hours).
AtaErrorEntry extEntry(const uint8_t* s) {
  AtaErrorEntry entry;
  entry.commands = commandsOf(s, kExtCommandBytes, extCommand);
  const uint8_t* e = s + kExtErrorOffset;
  entry.error = e[1];
  entry.count = loadLe16(e + 2);
  entry.lba = lba48(e + 4);
  entry.device = e[10];
  entry.status = e[11];
  entry.state = static_cast<uint8_t>(e[31] & 0x0F);
  entry.lifetimeHours = loadLe16(e + 32);
  return entry;
}

// Error register bits.
constexpr uint8_t kErrorIcrc = 0x80;
constexpr uint8_t kErrorUnc = 0x40;
constexpr uint8_t kErrorIdnf = 0x10;
constexpr uint8_t kErrorAbrt = 0x04;

enum class Transfer { kRead, kWrite, kOther };

// Which commands move sectors, so that an error's LBA means a place on the disk.
Transfer transferOf(uint8_t command) {
  switch (command) {
    case 0x20: case 0x24: case 0x25: case 0x29: case 0x40: case 0x42: case 0x60: case 0xC4: case 0xC8:
      return Transfer::kRead;
    case 0x30: case 0x34: case 0x35: case 0x39: case 0x3D: case 0x61: case 0xC5: case 0xCA: case 0xCE:
      return Transfer::kWrite;
    default:
      return Transfer::kOther;
  }
}

// "an uncorrectable read (READ FPDMA QUEUED at sector 12345)" for an entry.
std::string describeError(const AtaErrorEntry& entry) {
  const Transfer transfer = entry.commands.empty() ? Transfer::kOther : transferOf(entry.commands.back().command);
  std::string text;
  if (entry.error & kErrorIcrc) {
    text = "an interface CRC error";
  } else if (entry.error & kErrorUnc) {
    text = transfer == Transfer::kRead    ? "an uncorrectable read"
           : transfer == Transfer::kWrite ? "an uncorrectable write"
                                          : "an uncorrectable data error";
  } else if (entry.error & kErrorIdnf) {
    text = "a sector the drive could not find";
  } else if (entry.error & kErrorAbrt) {
    text = "an aborted command";
  } else {
    text = "an error";
  }
  if (entry.commands.empty()) return text;
  text += " (" + ataCommandName(entry.commands.back().command);
  if (transfer != Transfer::kOther) text += " at sector " + std::to_string(entry.lba);
  return text + ")";
}

std::string plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

AtaErrorLog decodeSummaryErrorLog(const LogPage& page) {
  AtaErrorLog log;
  log.version = page[0];
  log.checksumValid = checksumZero(page);
  log.deviceErrorCount = loadLe16(page.data() + kSummaryCountOffset);
  walkLogRing(kSummaryRing, page, 1, page[1], kSummaryStructures, nullptr, log.checksumValid,
              [&log](const uint8_t* structure, size_t back) {
                AtaErrorEntry entry = summaryEntry(structure);
                entry.number = numberBack(log.deviceErrorCount, back);
                log.entries.push_back(std::move(entry));
              });
  return log;
}

std::optional<AtaErrorLog> decodeExtComprehensiveErrorLog(const std::function<bool(uint16_t, LogPage&)>& readPage,
                                                          uint16_t pageCount, size_t maxEntries) {
  if (pageCount == 0) return std::nullopt;  // the directory lists no such log
  LogPage first{};
  if (!readPage(0, first)) return std::nullopt;
  AtaErrorLog log;
  log.extended = true;
  log.version = first[0];
  log.checksumValid = checksumZero(first);
  log.deviceErrorCount = loadLe16(first.data() + kExtCountOffset);
  walkLogRing(kExtRing, first, pageCount, loadLe16(first.data() + 2), maxEntries, readPage, log.checksumValid,
              [&log](const uint8_t* structure, size_t back) {
                AtaErrorEntry entry = extEntry(structure);
                entry.number = numberBack(log.deviceErrorCount, back);
                log.entries.push_back(std::move(entry));
              });
  return log;
}

std::string ataCommandName(uint8_t command) {
  switch (command) {
    case 0x00: return "NOP";
    case 0x06: return "DATA SET MANAGEMENT";
    case 0x08: return "DEVICE RESET";
    case 0x0B: return "REQUEST SENSE DATA EXT";
    case 0x20: return "READ SECTOR(S)";
    case 0x24: return "READ SECTOR(S) EXT";
    case 0x25: return "READ DMA EXT";
    case 0x27: return "READ NATIVE MAX ADDRESS EXT";
    case 0x29: return "READ MULTIPLE EXT";
    case 0x2F: return "READ LOG EXT";
    case 0x30: return "WRITE SECTOR(S)";
    case 0x34: return "WRITE SECTOR(S) EXT";
    case 0x35: return "WRITE DMA EXT";
    case 0x37: return "SET MAX ADDRESS EXT";
    case 0x39: return "WRITE MULTIPLE EXT";
    case 0x3D: return "WRITE DMA FUA EXT";
    case 0x3F: return "WRITE LOG EXT";
    case 0x40: return "READ VERIFY SECTOR(S)";
    case 0x42: return "READ VERIFY SECTOR(S) EXT";
    case 0x45: return "WRITE UNCORRECTABLE EXT";
    case 0x47: return "READ LOG DMA EXT";
    case 0x57: return "WRITE LOG DMA EXT";
    case 0x5B: return "TRUSTED NON-DATA";
    case 0x5C: return "TRUSTED RECEIVE";
    case 0x5E: return "TRUSTED SEND";
    case 0x60: return "READ FPDMA QUEUED";
    case 0x61: return "WRITE FPDMA QUEUED";
    case 0x63: return "NCQ NON-DATA";
    case 0x64: return "SEND FPDMA QUEUED";
    case 0x65: return "RECEIVE FPDMA QUEUED";
    case 0x70: return "SEEK";
    case 0x90: return "EXECUTE DEVICE DIAGNOSTIC";
    case 0x91: return "INITIALIZE DEVICE PARAMETERS";
    case 0x92: return "DOWNLOAD MICROCODE";
    case 0x93: return "DOWNLOAD MICROCODE DMA";
    case 0xA0: return "PACKET";
    case 0xA1: return "IDENTIFY PACKET DEVICE";
    case 0xB0: return "SMART";
    case 0xB1: return "DEVICE CONFIGURATION OVERLAY";
    case 0xB4: return "SANITIZE DEVICE";
    case 0xC4: return "READ MULTIPLE";
    case 0xC5: return "WRITE MULTIPLE";
    case 0xC6: return "SET MULTIPLE MODE";
    case 0xC8: return "READ DMA";
    case 0xCA: return "WRITE DMA";
    case 0xCE: return "WRITE MULTIPLE FUA EXT";
    case 0xE0: return "STANDBY IMMEDIATE";
    case 0xE1: return "IDLE IMMEDIATE";
    case 0xE2: return "STANDBY";
    case 0xE3: return "IDLE";
    case 0xE4: return "READ BUFFER";
    case 0xE5: return "CHECK POWER MODE";
    case 0xE6: return "SLEEP";
    case 0xE7: return "FLUSH CACHE";
    case 0xE8: return "WRITE BUFFER";
    case 0xEA: return "FLUSH CACHE EXT";
    case 0xEC: return "IDENTIFY DEVICE";
    case 0xEF: return "SET FEATURES";
    case 0xF1: return "SECURITY SET PASSWORD";
    case 0xF2: return "SECURITY UNLOCK";
    case 0xF3: return "SECURITY ERASE PREPARE";
    case 0xF4: return "SECURITY ERASE UNIT";
    case 0xF5: return "SECURITY FREEZE LOCK";
    case 0xF6: return "SECURITY DISABLE PASSWORD";
    case 0xF8: return "READ NATIVE MAX ADDRESS";
    case 0xF9: return "SET MAX ADDRESS";
    default: break;
  }
  char text[16];
  std::snprintf(text, sizeof text, "Command 0x%02X", command);
  return text;
}

std::string ataErrorBitsText(uint8_t error) {
  // Bit 7 down to bit 0. MC, MCR and AMNF are obsolete, but old drives still set them.
  static constexpr const char* kBits[8] = {"AMNF", "NM", "ABRT", "MCR", "IDNF", "MC", "UNC", "ICRC"};
  std::string text;
  for (int bit = 7; bit >= 0; --bit) {
    if (!(error & (1u << bit))) continue;
    if (!text.empty()) text += ' ';
    text += kBits[bit];
  }
  return text;
}

std::string ataErrorStateText(uint8_t state) {
  switch (state) {
    case 0: return "Unknown";
    case 1: return "Sleep";
    case 2: return "Standby";
    case 3: return "Active or idle";
    case 4: return "Executing SMART off-line or self-test";
    default: break;
  }
  if (state >= 0x0B && state <= 0x0F) return "Vendor (" + std::to_string(state) + ")";
  return "Reserved (" + std::to_string(state) + ")";
}

std::vector<std::string> errorLogHints(const AtaErrorLog& log, std::optional<uint32_t> powerOnHours) {
  if (log.entries.empty()) return {};
  std::vector<std::string> hints;
  const size_t total = std::max<size_t>(log.deviceErrorCount, log.entries.size());
  const std::string last = describeError(log.entries.front());
  hints.push_back("The drive has logged " + plural(total, "error", "errors") + " in its life; " +
                  (total == 1 ? "it was " : "the last was ") + last + ".");

  if (powerOnHours) {
    // The log keeps 16 bits of power-on hours: measure back from the current hours taken the
    // same way, so a count that wrapped still gives the true (small) distance.
    constexpr uint32_t kWindowHours = 100;
    const uint32_t now = *powerOnHours % 65536;
    const auto recent = std::count_if(log.entries.begin(), log.entries.end(), [&](const AtaErrorEntry& entry) {
      return (now + 65536 - entry.lifetimeHours) % 65536 < kWindowHours;
    });
    if (recent > 0) {
      hints.push_back(plural(static_cast<size_t>(recent), "error", "errors") + " logged in the last " +
                      std::to_string(kWindowHours) + " power-on hours.");
    }
  }

  const auto crc = static_cast<size_t>(std::count_if(log.entries.begin(), log.entries.end(),
                                                     [](const AtaErrorEntry& e) { return e.error & kErrorIcrc; }));
  if (crc == 1) {
    hints.push_back("1 logged error is an interface CRC error, which points to the cable or connector rather "
                    "than the disk.");
  } else if (crc > 1) {
    hints.push_back(std::to_string(crc) + " logged errors are interface CRC errors, which point to the cable or "
                    "connector rather than the disk.");
  }

  if (!log.checksumValid) hints.push_back("The error log failed its checksum, so its entries may be damaged.");
  return hints;
}

}  // namespace palvoro
