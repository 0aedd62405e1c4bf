#include "smart/nvme_health.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "device/nvme_transport.h"
#include "platform/records.h"
#include "protocol/byte_order.h"
#include "protocol/nvme_command.h"

namespace palvoro {
namespace {

constexpr size_t kCriticalWarning = 0;
constexpr size_t kCompositeTemperature = 1;
constexpr size_t kAvailableSpare = 3;
constexpr size_t kAvailableSpareThreshold = 4;
constexpr size_t kPercentageUsed = 5;
constexpr size_t kDataUnitsRead = 32;
constexpr size_t kCounterBytes = 16;  // the counters follow one another from here
constexpr size_t kWarningTemperatureTime = 192;
constexpr size_t kCriticalTemperatureTime = 196;
constexpr size_t kSensors = 200;

NvmeCounter counter(NvmeHealthPage p, int index) {
  const size_t at = kDataUnitsRead + kCounterBytes * static_cast<size_t>(index);
  return {loadLe(p.data() + at, 8), loadLe(p.data() + at + 8, 8)};
}

std::string grouped(const std::string& digits) {
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string count(const NvmeCounter& c) { return grouped(c.decimal()); }

// A data unit is 1,000 sectors of 512 bytes; the amount in the largest decimal unit that
// keeps it at or above 1, as drive makers count.
std::string dataUnits(const NvmeCounter& c) {
  std::string text = count(c);
  if (!c.fits64() || c.low > UINT64_MAX / 512000) return text;
  double bytes = static_cast<double>(c.low) * 512000.0;
  static constexpr const char* kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  size_t unit = 0;
  while (bytes >= 1000.0 && unit + 1 < std::size(kUnits)) {
    bytes /= 1000.0;
    ++unit;
  }
  char amount[48];
  std::snprintf(amount, sizeof amount, " [%.2f %s]", bytes, kUnits[unit]);
  return text + amount;
}

std::string number(uint64_t value) { return grouped(std::to_string(value)); }

std::string temperature(uint16_t kelvin) {
  if (kelvin == 0) return "Not reported";
  return std::to_string(NvmeHealth::celsius(kelvin)) + " Celsius";
}

}  // namespace

std::string NvmeCounter::decimal() const {
  if (high == 0) return std::to_string(low);
  // Long division of the 128-bit value by 10, 32 bits at a time.
  uint32_t parts[4] = {static_cast<uint32_t>(high >> 32), static_cast<uint32_t>(high),
                       static_cast<uint32_t>(low >> 32), static_cast<uint32_t>(low)};
  std::string digits;
  while (parts[0] != 0 || parts[1] != 0 || parts[2] != 0 || parts[3] != 0) {
    uint64_t remainder = 0;
    for (uint32_t& part : parts) {
      const uint64_t current = (remainder << 32) | part;
      part = static_cast<uint32_t>(current / 10);
      remainder = current % 10;
    }
    digits.push_back(static_cast<char>('0' + remainder));
  }
  std::reverse(digits.begin(), digits.end());
  return digits;
}

NvmeHealth parseNvmeHealth(NvmeHealthPage page) {
  NvmeHealth h;
  h.criticalWarning = page[kCriticalWarning];
  h.temperatureKelvin = static_cast<uint16_t>(loadLe(page.data() + kCompositeTemperature, 2));
  h.availableSpare = page[kAvailableSpare];
  h.availableSpareThreshold = page[kAvailableSpareThreshold];
  h.percentageUsed = page[kPercentageUsed];
  NvmeCounter* counters[] = {&h.dataUnitsRead,   &h.dataUnitsWritten, &h.hostReadCommands, &h.hostWriteCommands,
                             &h.controllerBusyMinutes, &h.powerCycles, &h.powerOnHours, &h.unsafeShutdowns,
                             &h.mediaErrors,     &h.errorLogEntries};
  for (size_t i = 0; i < std::size(counters); ++i) *counters[i] = counter(page, static_cast<int>(i));
  h.warningTemperatureMinutes = static_cast<uint32_t>(loadLe(page.data() + kWarningTemperatureTime, 4));
  h.criticalTemperatureMinutes = static_cast<uint32_t>(loadLe(page.data() + kCriticalTemperatureTime, 4));
  for (size_t i = 0; i < std::size(h.sensorKelvin); ++i) {
    h.sensorKelvin[i] = static_cast<uint16_t>(loadLe(page.data() + kSensors + 2 * i, 2));
  }
  return h;
}

const char* nvmeCriticalWarningText(int bit) {
  static constexpr const char* kTexts[kNvmeCriticalWarningBits] = {
      "Available spare capacity has fallen below the threshold",
      "Temperature is above or below a threshold",
      "NVM subsystem reliability is degraded by media or internal errors",
      "Media has been placed in read-only mode",
      "Volatile memory backup device has failed",
      "Persistent memory region has become read-only or unreliable",
  };
  if (bit >= 0 && bit < kNvmeCriticalWarningBits) return kTexts[bit];
  return "Reserved warning bit";
}

std::vector<std::string> nvmeCriticalWarnings(uint8_t criticalWarning) {
  std::vector<std::string> texts;
  for (int bit = 0; bit < 8; ++bit) {
    if ((criticalWarning & (1u << bit)) != 0) texts.emplace_back(nvmeCriticalWarningText(bit));
  }
  return texts;
}

std::vector<NvmeHealthRow> nvmeHealthRows(const NvmeHealth& h) {
  char warning[8];
  std::snprintf(warning, sizeof warning, "0x%02X", h.criticalWarning);
  std::vector<NvmeHealthRow> rows = {
      {"Critical Warning", warning, !h.passing()},
  };
  for (int bit = 0; bit < 8; ++bit) {
    if ((h.criticalWarning & (1u << bit)) != 0) {
      rows.push_back({nvmeCriticalWarningText(bit), "Bit " + std::to_string(bit), true});
    }
  }
  const std::vector<NvmeHealthRow> fields = {
      {"Temperature", temperature(h.temperatureKelvin)},
      {"Available Spare", std::to_string(h.availableSpare) + "%", h.availableSpare < h.availableSpareThreshold},
      {"Available Spare Threshold", std::to_string(h.availableSpareThreshold) + "%"},
      {"Percentage Used", std::to_string(h.percentageUsed) + "%"},
      {"Data Units Read", dataUnits(h.dataUnitsRead)},
      {"Data Units Written", dataUnits(h.dataUnitsWritten)},
      {"Host Read Commands", count(h.hostReadCommands)},
      {"Host Write Commands", count(h.hostWriteCommands)},
      {"Controller Busy Time", count(h.controllerBusyMinutes) + " minutes"},
      {"Power Cycles", count(h.powerCycles)},
      {"Power On Hours", count(h.powerOnHours)},
      {"Unsafe Shutdowns", count(h.unsafeShutdowns)},
      {"Media and Data Integrity Errors", count(h.mediaErrors)},
      {"Error Information Log Entries", count(h.errorLogEntries)},
      {"Warning Comp. Temperature Time", number(h.warningTemperatureMinutes) + " minutes"},
      {"Critical Comp. Temperature Time", number(h.criticalTemperatureMinutes) + " minutes"},
  };
  rows.insert(rows.end(), fields.begin(), fields.end());
  for (size_t i = 0; i < std::size(h.sensorKelvin); ++i) {
    if (h.sensorKelvin[i] != 0) {
      rows.push_back({"Temperature Sensor " + std::to_string(i + 1), temperature(h.sensorKelvin[i])});
    }
  }
  return rows;
}

SmartVerdict nvmeHealthVerdict(const NvmeHealth& health) {
  SmartVerdict verdict;
  verdict.passing = health.passing();
  verdict.anyFailed = !verdict.passing;
  verdict.smartHealthy = verdict.passing ? 1 : 0;
  verdict.row = verdict.passing ? SmartRowChange::Pass : SmartRowChange::Fail;
  verdict.smartColumnText = verdict.passing ? " PASS" : " FAIL";
  verdict.image = verdict.passing ? kRowImagePass : kRowImageFail;
  verdict.textColour = verdict.passing ? kPassBlue : kFailRed;
  return verdict;
}

std::optional<NvmeHealth> readNvmeHealth(Platform& platform, Handle handle) {
  uint8_t page[kNvmeHealthLogBytes] = {};
  if (!nvmeGetLogPage(platform, handle, kNvmeLogHealth, sizeof page, page)) return std::nullopt;
  return parseNvmeHealth(NvmeHealthPage(page, sizeof page));
}

}  // namespace palvoro
