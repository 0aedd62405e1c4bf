#pragma once
// The drive's own record of the errors it reported: the SMART summary error log (log
// address 01h, one 512-byte page, 28-bit registers) and the extended comprehensive error
// log (log address 03h, many pages, 48-bit registers), decoded, named and put in words.
// Nothing here talks to a drive: the caller reads the pages and hands them in.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "smart/log_ring.h"

namespace palvoro {

inline constexpr uint8_t kSummaryErrorLogAddress = 0x01;          // SMART READ LOG, 1 page
inline constexpr uint8_t kExtComprehensiveErrorLogAddress = 0x03;  // READ LOG EXT, page-addressed

// One command the drive ran up to the error, oldest first.
struct AtaErrorCommand {
  uint8_t command = 0;
  uint16_t features = 0;      // 48-bit logs: 15:8 are the previous features
  uint16_t count = 0;
  uint64_t lba = 0;           // 28-bit (summary: LBA low/mid/high + device 3:0) or 48-bit
  uint8_t device = 0;
  uint8_t deviceControl = 0;
  uint32_t timestampMs = 0;   // ms since power-on, as the drive keeps it
  bool operator==(const AtaErrorCommand&) const = default;
};

// One error as the drive recorded it, with the commands that led up to it.
struct AtaErrorEntry {
  uint32_t number = 0;                    // its number in the drive's count: the newest is deviceErrorCount, ...
  std::vector<AtaErrorCommand> commands;  // oldest first; the last is the one that failed; empty slots left out
  uint8_t error = 0;                      // error register
  uint8_t status = 0;                     // status register
  uint16_t count = 0;
  uint64_t lba = 0;
  uint8_t device = 0;
  // The device state nibble: 0 unknown, 1 sleep, 2 standby, 3 active/idle, 4 off-line or self-test.
  uint8_t state = 0;
  uint16_t lifetimeHours = 0;             // power-on hours when it happened
  bool operator==(const AtaErrorEntry&) const = default;
};

struct AtaErrorLog {
  bool extended = false;               // from log 03h (48-bit registers)
  uint8_t version = 0;
  bool checksumValid = false;          // every page used had a zero checksum
  uint32_t deviceErrorCount = 0;       // errors the drive has counted in its life (may exceed the entries kept)
  std::vector<AtaErrorEntry> entries;  // newest first
};

// The summary error log (01h, 1 page): 5 error structures of 90 bytes in a ring, index byte 1
// (0: none, 1..5 newest), device error count at 452..453, checksum 511. An index above 5 yields
// no entries, and an all-zero structure ends the walk (a ring not yet full).
AtaErrorLog decodeSummaryErrorLog(const LogPage& page);

// The extended comprehensive error log (03h): 4 structures of 124 bytes per page from byte 4,
// index at 2..3 (16-bit, 1-based over the whole log, 0 none), device error count at 500..501.
// `readPage(n, out)` hands page n (false: not read); `pageCount` from the log directory (the
// ring holds 4*pageCount structures). At most `maxEntries` newest entries, walking back around
// the ring; a page that cannot be read ends the walk. Page 0 is read first for the index.
// nullopt when page 0 cannot be read.
[[nodiscard]] std::optional<AtaErrorLog> decodeExtComprehensiveErrorLog(
    const std::function<bool(uint16_t, LogPage&)>& readPage, uint16_t pageCount, size_t maxEntries);

// "READ FPDMA QUEUED", "WRITE DMA EXT", "SMART", "IDENTIFY DEVICE", ... for a command opcode;
// "Command 0xNN" otherwise.
std::string ataCommandName(uint8_t command);
// "ICRC UNC IDNF ABRT ..." for the error register bits set, highest bit first; "" for 0.
std::string ataErrorBitsText(uint8_t error);
// "Active or idle", "Standby", "Sleep", "Executing SMART off-line or self-test", "Unknown",
// "Vendor (N)", "Reserved (N)" for the state nibble.
std::string ataErrorStateText(uint8_t state);

// What the log suggests, most telling first: the errors of a drive's life and the last one,
// how many fell in the last 100 power-on hours (when `powerOnHours` is known), interface CRC
// errors, a damaged page. No hints for an empty log.
std::vector<std::string> errorLogHints(const AtaErrorLog& log, std::optional<uint32_t> powerOnHours);

}  // namespace palvoro
