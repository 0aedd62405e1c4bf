#pragma once
// The SMART / Health Information log of an NVMe controller (log page 02h, 512 bytes):
// its fields, the verdict (a drive with any critical-warning bit set has failed), and the
// rows the SMART window, the command line and the result page show, each a name and a
// value text, in the log's order.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "smart/smart_pages.h"

namespace palvoro {

using NvmeHealthPage = std::span<const uint8_t, 512>;

// A 128-bit little-endian counter of the log.
struct NvmeCounter {
  uint64_t low = 0;
  uint64_t high = 0;
  bool fits64() const { return high == 0; }
  // The decimal digits, whatever its size.
  std::string decimal() const;
};

// Critical-warning bits (byte 0).
inline constexpr int kNvmeCriticalWarningBits = 6;

struct NvmeHealth {
  uint8_t criticalWarning = 0;
  uint16_t temperatureKelvin = 0;  // composite temperature; 0 when not reported
  uint8_t availableSpare = 0;      // percent
  uint8_t availableSpareThreshold = 0;
  uint8_t percentageUsed = 0;      // may exceed 100
  NvmeCounter dataUnitsRead;       // thousands of 512-byte units
  NvmeCounter dataUnitsWritten;
  NvmeCounter hostReadCommands;
  NvmeCounter hostWriteCommands;
  NvmeCounter controllerBusyMinutes;
  NvmeCounter powerCycles;
  NvmeCounter powerOnHours;
  NvmeCounter unsafeShutdowns;
  NvmeCounter mediaErrors;
  NvmeCounter errorLogEntries;
  uint32_t warningTemperatureMinutes = 0;
  uint32_t criticalTemperatureMinutes = 0;
  uint16_t sensorKelvin[8] = {};   // 0: the sensor is not reported

  bool passing() const { return criticalWarning == 0; }
  // Degrees Celsius of a kelvin reading.
  static int celsius(uint16_t kelvin) { return static_cast<int>(kelvin) - 273; }
};

NvmeHealth parseNvmeHealth(NvmeHealthPage page);

// What bit `bit` (0..7) of the critical warning means; bits 6 and 7 are reserved.
const char* nvmeCriticalWarningText(int bit);
// The meanings of every set bit, in bit order.
std::vector<std::string> nvmeCriticalWarnings(uint8_t criticalWarning);

// One row of the health list.
struct NvmeHealthRow {
  std::string name;
  std::string value;
  bool failed = false;  // the row that makes the verdict FAIL
};
std::vector<NvmeHealthRow> nvmeHealthRows(const NvmeHealth& health);

// The SMART window's verdict on the log: the drive passes unless a critical-warning bit
// is set.
SmartVerdict nvmeHealthVerdict(const NvmeHealth& health);

// The health log of the drive behind `handle`: read, or nothing when the controller does
// not hand it over.
[[nodiscard]] std::optional<NvmeHealth> readNvmeHealth(Platform& platform, Handle handle);

}  // namespace palvoro
