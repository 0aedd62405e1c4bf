#pragma once
// The Device Statistics log (log address 04h): one 512-byte page per statistics page, page 0
// the list of the pages the drive keeps. Each statistic is a little-endian qword, its flags in
// the top byte. Decoded into named values, and what they suggest in words.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "smart/error_log.h"

namespace palvoro {

inline constexpr uint8_t kDeviceStatisticsLogAddress = 0x04;

// Page 0: the page numbers listed (byte 8 = count, then one byte each), in order; empty when
// the header is not page 0.
std::vector<uint8_t> deviceStatisticsPageList(const LogPage& page0);

struct DeviceStatistic {
  uint8_t page = 0;          // 1 general, 4 general errors, 5 temperature, ...
  uint16_t offset = 0;       // byte offset in the page
  std::string name;          // "Power-on Hours", "Current Temperature", ...; "Statistic at offset NNh" for unknown ones
  int64_t value = 0;         // bits 0..47 unsigned, except temperatures: signed byte (°C)
  bool valid = false;        // flag bit 62 ("value valid"); a temperature of 80h is never valid
  bool normalized = false;   // flag bit 61
  std::string unit;          // "°C", "minutes", "hours", "" ...
  bool operator==(const DeviceStatistic&) const = default;
};

// One statistics page: header qword (revision 15:0, page number 23:16), then qwords with flags
// in bits 56..63 (63 supported). Unsupported qwords are left out, and so is every qword of a
// page whose revision is 0 (the drive's way of saying it keeps no such page) or of page 0. An
// unrecognised page number still yields its supported entries with generic names.
std::vector<DeviceStatistic> decodeDeviceStatisticsPage(const LogPage& page);

// "General Statistics", "General Errors Statistics", "Temperature Statistics", ...;
// "Page NNh" for others.
std::string deviceStatisticsPageName(uint8_t page);

// What the statistics suggest: uncorrectable errors, reallocated and pending sectors,
// interface CRC errors, time spent too hot or too cold, a temperature above the drive's
// maximum, worn endurance.
std::vector<std::string> deviceStatisticsHints(const std::vector<DeviceStatistic>& statistics);

// The valid "Power-on Hours" statistic (page 1, offset 10h), if any.
[[nodiscard]] std::optional<uint32_t> powerOnHoursOf(const std::vector<DeviceStatistic>& statistics);

}  // namespace palvoro
