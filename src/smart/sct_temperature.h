#pragma once
// The drive's temperatures through SMART Command Transport (T13 ACS, SCT): the SCT status
// page (read from log E0h) with the current and extreme temperatures, the request that asks
// for the temperature history table (written to E0h), and that table (read from E1h). Pure
// decoding: the caller does the reads and writes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/ata_commands.h"
#include "smart/error_log.h"

namespace palvoro {

inline constexpr uint8_t kSctDataLogAddress = 0xE1;

struct SctStatus {
  uint16_t formatVersion = 0, sctVersion = 0;
  std::optional<int> currentCelsius, minCelsius, maxCelsius, lifetimeMinCelsius, lifetimeMaxCelsius;  // 80h: none
  uint32_t overLimitCount = 0, underLimitCount = 0;
  bool operator==(const SctStatus&) const = default;
};

// The SCT status page (read from E0h): format version 0..1 (must be 2 or 3 else nullopt), SCT
// version 2..3, temperatures at 200..204 (signed), over-limit count 206..209, under-limit
// 210..213.
[[nodiscard]] std::optional<SctStatus> decodeSctStatus(const LogPage& page);

// The 512-byte SCT command that asks for the temperature history table: action code 5 (data
// table), function code 1 (read table), table ID 2 (temperature history), all little-endian
// words, the rest zero.
LogPage sctTemperatureHistoryRequest();

struct SctTemperatureHistory {
  uint16_t formatVersion = 0;
  uint16_t samplingPeriodMinutes = 0, intervalMinutes = 0;
  std::optional<int> maxOperating, overLimit, minOperating, underLimit;  // the limits (signed, 80h none)
  std::vector<std::optional<int>> samples;  // oldest first, unrolled from the ring; 80h entries stay nullopt
  bool operator==(const SctTemperatureHistory&) const = default;
};

// The table read from E1h after that request: limits at 6..9, ring size at 30..31, index of
// the newest at 32..33, samples from 34. nullopt when the format version is not 2 or the sizes
// are impossible (an empty ring, one larger than the page, an index outside it).
[[nodiscard]] std::optional<SctTemperatureHistory> decodeSctTemperatureHistory(const LogPage& page);

// What the temperatures suggest: a recorded or lifetime peak above the drive's maximum
// operating temperature, the drive now above or near it (within 10 °C) or below its minimum,
// the drive's own over- and under-limit counts.
std::vector<std::string> temperatureHints(const std::optional<SctStatus>& status,
                                          const std::optional<SctTemperatureHistory>& history);

}  // namespace palvoro
