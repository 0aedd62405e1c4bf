// The NVMe health log: where each field is read from, the verdict over every
// critical-warning bit, and the texts the window and the command line show.

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "smart/nvme_health.h"

namespace palvoro {
namespace {

using Page = std::array<uint8_t, 512>;

void put(Page& p, size_t at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) p[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A page with a distinct value in every field, at the offsets of the log's definition.
Page described() {
  Page p{};
  put(p, 1, 311, 2);  // 38 Celsius
  p[3] = 97;
  p[4] = 10;
  p[5] = 4;
  for (int i = 0; i < 10; ++i) put(p, 32 + 16 * static_cast<size_t>(i), 1000 + static_cast<uint64_t>(i), 8);
  put(p, 192, 7, 4);
  put(p, 196, 2, 4);
  put(p, 202, 300, 2);  // sensor 2
  return p;
}

TEST(NvmeHealth, ReadsEveryFieldFromItsOffset) {
  const Page p = described();
  const NvmeHealth h = parseNvmeHealth(NvmeHealthPage(p.data(), p.size()));
  EXPECT_EQ(h.temperatureKelvin, 311);
  EXPECT_EQ(h.availableSpare, 97);
  EXPECT_EQ(h.availableSpareThreshold, 10);
  EXPECT_EQ(h.percentageUsed, 4);
  const NvmeCounter* counters[] = {&h.dataUnitsRead,   &h.dataUnitsWritten, &h.hostReadCommands,
                                   &h.hostWriteCommands, &h.controllerBusyMinutes, &h.powerCycles,
                                   &h.powerOnHours,    &h.unsafeShutdowns,  &h.mediaErrors, &h.errorLogEntries};
  for (uint64_t i = 0; i < 10; ++i) EXPECT_EQ(counters[i]->low, 1000 + i) << "counter " << i;
  EXPECT_EQ(h.warningTemperatureMinutes, 7u);
  EXPECT_EQ(h.criticalTemperatureMinutes, 2u);
  EXPECT_EQ(h.sensorKelvin[0], 0);
  EXPECT_EQ(h.sensorKelvin[1], 300);
  EXPECT_TRUE(h.passing());
}

TEST(NvmeHealth, EveryCriticalWarningBitFailsTheDriveAndIsNamed) {
  const struct {
    int bit;
    const char* text;
  } cases[] = {
      {0, "Available spare capacity has fallen below the threshold"},
      {1, "Temperature is above or below a threshold"},
      {2, "NVM subsystem reliability is degraded by media or internal errors"},
      {3, "Media has been placed in read-only mode"},
      {4, "Volatile memory backup device has failed"},
      {5, "Persistent memory region has become read-only or unreliable"},
      {6, "Reserved warning bit"},
      {7, "Reserved warning bit"},
  };
  for (const auto& c : cases) {
    Page p = described();
    p[0] = static_cast<uint8_t>(1u << c.bit);
    const NvmeHealth h = parseNvmeHealth(NvmeHealthPage(p.data(), p.size()));
    const SmartVerdict verdict = nvmeHealthVerdict(h);
    EXPECT_FALSE(verdict.passing) << c.bit;
    EXPECT_EQ(verdict.smartHealthy, 0) << c.bit;
    EXPECT_STREQ(verdict.smartColumnText, " FAIL");
    EXPECT_EQ(verdict.textColour, kFailRed);
    const auto rows = nvmeHealthRows(h);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "Critical Warning");
    EXPECT_TRUE(rows[0].failed);
    EXPECT_EQ(rows[1].name, c.text) << c.bit;
    EXPECT_EQ(rows[1].value, "Bit " + std::to_string(c.bit));
    EXPECT_TRUE(rows[1].failed);
  }
  Page clean = described();
  const SmartVerdict pass = nvmeHealthVerdict(parseNvmeHealth(NvmeHealthPage(clean.data(), clean.size())));
  EXPECT_TRUE(pass.passing);
  EXPECT_STREQ(pass.smartColumnText, " PASS");
  EXPECT_EQ(nvmeCriticalWarnings(0x29), (std::vector<std::string>{nvmeCriticalWarningText(0), nvmeCriticalWarningText(3),
                                                                   nvmeCriticalWarningText(5)}));
}

TEST(NvmeHealth, CountersBeyondSixtyFourBitsKeepEveryDigit) {
  const struct {
    uint64_t high, low;
    const char* digits;
  } cases[] = {
      {0, 0, "0"},
      {0, UINT64_MAX, "18446744073709551615"},
      {1, 0, "18446744073709551616"},
      {UINT64_MAX, UINT64_MAX, "340282366920938463463374607431768211455"},
  };
  for (const auto& c : cases) EXPECT_EQ((NvmeCounter{c.low, c.high}.decimal()), c.digits);
}

TEST(NvmeHealth, RowTexts) {
  Page p = described();
  put(p, 32, 12345678, 8);  // data units read: 6.32 TB
  put(p, 144, 0, 8);        // unsafe shutdowns
  put(p, 145 + 15 - 1, 0x01, 1);  // and its high half non-zero: 2^120
  const auto rows = nvmeHealthRows(parseNvmeHealth(NvmeHealthPage(p.data(), p.size())));
  auto value = [&](const std::string& name) {
    for (const auto& row : rows) {
      if (row.name == name) return row.value;
    }
    return std::string("(missing)");
  };
  EXPECT_EQ(value("Critical Warning"), "0x00");
  EXPECT_EQ(value("Temperature"), "38 Celsius");
  EXPECT_EQ(value("Available Spare"), "97%");
  EXPECT_EQ(value("Available Spare Threshold"), "10%");
  EXPECT_EQ(value("Percentage Used"), "4%");
  EXPECT_EQ(value("Data Units Read"), "12,345,678 [6.32 TB]");
  EXPECT_EQ(value("Data Units Written"), "1,001 [512.51 MB]");
  EXPECT_EQ(value("Controller Busy Time"), "1,004 minutes");
  EXPECT_EQ(value("Unsafe Shutdowns"), "1,329,227,995,784,915,872,903,807,060,280,344,576");
  EXPECT_EQ(value("Warning Comp. Temperature Time"), "7 minutes");
  EXPECT_EQ(value("Temperature Sensor 2"), "27 Celsius");
  EXPECT_EQ(value("Temperature Sensor 1"), "(missing)");
  Page cold{};
  EXPECT_EQ(nvmeHealthRows(parseNvmeHealth(NvmeHealthPage(cold.data(), cold.size())))[1].value, "Not reported");
}

}  // namespace
}  // namespace palvoro
