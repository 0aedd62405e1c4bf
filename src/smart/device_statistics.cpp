#include "smart/device_statistics.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "protocol/byte_order.h"

namespace palvoro {

namespace {

constexpr size_t kQwordBytes = 8;
constexpr size_t kPageListCount = 8;  // page 0: number of entries, then the page numbers

// Flag bits of a statistic's top byte (bits 63..56 of its qword).
constexpr uint8_t kFlagSupported = 0x80;   // bit 63
constexpr uint8_t kFlagValid = 0x40;       // bit 62
constexpr uint8_t kFlagNormalized = 0x20;  // bit 61

constexpr uint8_t kNoTemperature = 0x80;  // a temperature byte of 80h: never measured

enum class Kind { kCount, kTemperature };

struct Known {
  uint8_t page;
  uint16_t offset;
  const char* name;
  const char* unit;
  Kind kind;
};

// The statistics T13 ACS defines, by page and offset.
constexpr Known kKnown[] = {
    {1, 0x08, "Lifetime Power-On Resets", "", Kind::kCount},
    {1, 0x10, "Power-on Hours", "hours", Kind::kCount},
    {1, 0x18, "Logical Sectors Written", "", Kind::kCount},
    {1, 0x20, "Number of Write Commands", "", Kind::kCount},
    {1, 0x28, "Logical Sectors Read", "", Kind::kCount},
    {1, 0x30, "Number of Read Commands", "", Kind::kCount},
    {1, 0x38, "Date and Time TimeStamp", "milliseconds", Kind::kCount},
    {1, 0x40, "Pending Error Count", "", Kind::kCount},
    {1, 0x48, "Workload Utilization", "", Kind::kCount},
    {1, 0x50, "Utilization Usage Rate", "", Kind::kCount},
    {1, 0x58, "Resource Availability", "", Kind::kCount},
    {1, 0x60, "Random Write Resources Used", "", Kind::kCount},
    {2, 0x08, "Number of Free-Fall Events Detected", "", Kind::kCount},
    {2, 0x10, "Overlimit Shock Events", "", Kind::kCount},
    {3, 0x08, "Spindle Motor Power-on Hours", "hours", Kind::kCount},
    {3, 0x10, "Head Flying Hours", "hours", Kind::kCount},
    {3, 0x18, "Head Load Events", "", Kind::kCount},
    {3, 0x20, "Number of Reallocated Logical Sectors", "", Kind::kCount},
    {3, 0x28, "Read Recovery Attempts", "", Kind::kCount},
    {3, 0x30, "Number of Mechanical Start Failures", "", Kind::kCount},
    {3, 0x38, "Number of Reallocation Candidate Logical Sectors", "", Kind::kCount},
    {3, 0x40, "Number of High Priority Unload Events", "", Kind::kCount},
    {4, 0x08, "Number of Reported Uncorrectable Errors", "", Kind::kCount},
    {4, 0x10, "Number of Resets Between Command Acceptance and Command Completion", "", Kind::kCount},
    {4, 0x18, "Physical Element Status Changed", "", Kind::kCount},
    {5, 0x08, "Current Temperature", "°C", Kind::kTemperature},
    {5, 0x10, "Average Short Term Temperature", "°C", Kind::kTemperature},
    {5, 0x18, "Average Long Term Temperature", "°C", Kind::kTemperature},
    {5, 0x20, "Highest Temperature", "°C", Kind::kTemperature},
    {5, 0x28, "Lowest Temperature", "°C", Kind::kTemperature},
    {5, 0x30, "Highest Average Short Term Temperature", "°C", Kind::kTemperature},
    {5, 0x38, "Lowest Average Short Term Temperature", "°C", Kind::kTemperature},
    {5, 0x40, "Highest Average Long Term Temperature", "°C", Kind::kTemperature},
    {5, 0x48, "Lowest Average Long Term Temperature", "°C", Kind::kTemperature},
    {5, 0x50, "Time in Over-Temperature", "minutes", Kind::kCount},
    {5, 0x58, "Specified Maximum Operating Temperature", "°C", Kind::kTemperature},
    {5, 0x60, "Time in Under-Temperature", "minutes", Kind::kCount},
    {5, 0x68, "Specified Minimum Operating Temperature", "°C", Kind::kTemperature},
    {6, 0x08, "Number of Hardware Resets", "", Kind::kCount},
    {6, 0x10, "Number of ASR Events", "", Kind::kCount},
    {6, 0x18, "Number of Interface CRC Errors", "", Kind::kCount},
    {7, 0x08, "Percentage Used Endurance Indicator", "%", Kind::kCount},
};

const Known* knownStatistic(uint8_t page, uint16_t offset) {
  for (const Known& known : kKnown) {
    if (known.page == page && known.offset == offset) return &known;
  }
  return nullptr;
}

const DeviceStatistic* validStatistic(const std::vector<DeviceStatistic>& statistics, uint8_t page, uint16_t offset) {
  for (const DeviceStatistic& s : statistics) {
    if (s.page == page && s.offset == offset && s.valid) return &s;
  }
  return nullptr;
}

// A valid count above zero, or 0.
int64_t positive(const std::vector<DeviceStatistic>& statistics, uint8_t page, uint16_t offset) {
  const DeviceStatistic* s = validStatistic(statistics, page, offset);
  return s && s->value > 0 ? s->value : 0;
}

std::string plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::vector<uint8_t> deviceStatisticsPageList(const LogPage& page0) {
  if (page0[2] != 0) return {};
  const size_t count = std::min<size_t>(page0[kPageListCount], page0.size() - kPageListCount - 1);
  return {page0.begin() + kPageListCount + 1, page0.begin() + kPageListCount + 1 + static_cast<ptrdiff_t>(count)};
}

std::vector<DeviceStatistic> decodeDeviceStatisticsPage(const LogPage& page) {
  const uint16_t revision = loadLe16(page.data());
  const uint8_t number = page[2];
  if (revision == 0 || number == 0) return {};
  std::vector<DeviceStatistic> statistics;
  for (size_t offset = kQwordBytes; offset < page.size(); offset += kQwordBytes) {
    const uint8_t* q = page.data() + offset;
    const uint8_t flags = q[7];
    if (!(flags & kFlagSupported)) continue;
    DeviceStatistic s;
    s.page = number;
    s.offset = static_cast<uint16_t>(offset);
    s.valid = (flags & kFlagValid) != 0;
    s.normalized = (flags & kFlagNormalized) != 0;
    const Known* known = knownStatistic(number, s.offset);
    if (known && known->kind == Kind::kTemperature) {
      s.value = static_cast<int8_t>(q[0]);
      if (q[0] == kNoTemperature) s.valid = false;
    } else {
      s.value = static_cast<int64_t>(loadLe48(q));
    }
    if (known) {
      s.name = known->name;
      s.unit = known->unit;
    } else {
      char name[40];
      std::snprintf(name, sizeof name, "Statistic at offset %02Xh", static_cast<unsigned>(offset));
      s.name = name;
    }
    statistics.push_back(std::move(s));
  }
  return statistics;
}

std::string deviceStatisticsPageName(uint8_t page) {
  switch (page) {
    case 0x00: return "List of Supported Pages";
    case 0x01: return "General Statistics";
    case 0x02: return "Free-Fall Statistics";
    case 0x03: return "Rotating Media Statistics";
    case 0x04: return "General Errors Statistics";
    case 0x05: return "Temperature Statistics";
    case 0x06: return "Transport Statistics";
    case 0x07: return "Solid State Device Statistics";
    case 0xFF: return "Vendor Specific Statistics";
    default: break;
  }
  char name[16];
  std::snprintf(name, sizeof name, "Page %02Xh", page);
  return name;
}

std::vector<std::string> deviceStatisticsHints(const std::vector<DeviceStatistic>& statistics) {
  std::vector<std::string> hints;
  if (const int64_t n = positive(statistics, 4, 0x08)) {
    hints.push_back("The drive has reported " + plural(n, "uncorrectable error", "uncorrectable errors") +
                    " in its life.");
  }
  if (const int64_t n = positive(statistics, 3, 0x20)) {
    hints.push_back("The drive has reallocated " + plural(n, "logical sector", "logical sectors") + ".");
  }
  if (const int64_t n = positive(statistics, 3, 0x38)) {
    hints.push_back("The drive has " + plural(n, "logical sector", "logical sectors") +
                    " waiting to be reallocated.");
  }
  if (const int64_t n = positive(statistics, 6, 0x18)) {
    hints.push_back("The drive has counted " + plural(n, "interface CRC error", "interface CRC errors") +
                    (n == 1 ? ", which points" : ", which point") + " to the cable or connector rather than the disk.");
  }
  if (const int64_t n = positive(statistics, 5, 0x50)) {
    hints.push_back("The drive has spent " + plural(n, "minute", "minutes") +
                    " above its specified maximum operating temperature.");
  }
  if (const int64_t n = positive(statistics, 5, 0x60)) {
    hints.push_back("The drive has spent " + plural(n, "minute", "minutes") +
                    " below its specified minimum operating temperature.");
  }
  const DeviceStatistic* highest = validStatistic(statistics, 5, 0x20);
  const DeviceStatistic* maximum = validStatistic(statistics, 5, 0x58);
  if (highest && maximum && highest->value > maximum->value) {
    hints.push_back("The drive's highest recorded temperature, " + std::to_string(highest->value) +
                    " °C, is above its specified maximum operating temperature of " +
                    std::to_string(maximum->value) + " °C.");
  }
  // Endurance is worth a word once most of it is spent; past 100 the drive is beyond what
  // its maker rated it for.
  if (const int64_t used = positive(statistics, 7, 0x08); used >= 80) {
    hints.push_back("The drive has used " + std::to_string(used) + "% of its rated endurance" +
                    (used >= 100 ? ", the end of its rated life." : "."));
  }
  return hints;
}

std::optional<uint32_t> powerOnHoursOf(const std::vector<DeviceStatistic>& statistics) {
  const DeviceStatistic* s = validStatistic(statistics, 1, 0x10);
  if (!s || s->value < 0 || s->value > 0xFFFFFFFF) return std::nullopt;
  return static_cast<uint32_t>(s->value);
}

}  // namespace palvoro
