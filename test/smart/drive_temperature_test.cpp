// The limits a run is held to when a drive names both, one or none of them, and the
// temperature a SMART data page gives.

#include "smart/drive_temperature.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>

namespace palvoro {
namespace {

TEST(DriveTemperature, LimitsTakeWhatTheDriveNamesAndKeepWarningBelowCritical) {
  struct Case {
    const char* name;
    std::optional<int> warning, critical;
    TemperatureLimits expected;
  };
  const Case cases[] = {
      {"Both", 60, 65, {60, 65, true}},
      {"CriticalOnly", std::nullopt, 65, {60, 65, true}},
      {"WarningOnly", 70, std::nullopt, {70, 75, true}},
      {"WarningNotBelowCritical", 70, 70, {65, 70, true}},
      {"UnsetFieldsAreNoLimits", 0, -3, kAtaDefaultLimits},
      {"None", std::nullopt, std::nullopt, kAtaDefaultLimits},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(temperatureLimits(c.warning, c.critical, kAtaDefaultLimits), c.expected) << c.name;
  }
  // WCTEMP 343 K and CCTEMP 0: the critical limit follows the warning one.
  EXPECT_EQ(nvmeTemperatureLimits(343, 0), (TemperatureLimits{70, 75, true}));
  EXPECT_EQ(nvmeTemperatureLimits(0, 0), kNvmeDefaultLimits);
}

TEST(DriveTemperature, AttributesGiveTheLowByteOf194ElseOf190) {
  struct Case {
    const char* name;
    std::array<uint8_t, 2> ids;
    std::array<uint64_t, 2> raws;
    std::optional<int> expected;
  };
  const Case cases[] = {
      // 194 keeps its minimum and maximum above the lowest byte.
      {"Temperature", {194, 190}, {0x0000'1437'002Aull, 38}, 42},
      {"AirflowWhereTemperatureSaysNothing", {194, 190}, {0, 38}, 38},
      {"AirflowAlone", {5, 190}, {0, 0x26}, 38},
      {"Neither", {5, 9}, {40, 40}, std::nullopt},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 512> page{};
    for (size_t i = 0; i < 2; ++i) {
      uint8_t* entry = page.data() + kSmartFirstEntryOffset + i * kSmartEntryBytes;
      entry[0] = c.ids[i];
      for (size_t b = 0; b < 6; ++b) entry[5 + b] = static_cast<uint8_t>(c.raws[i] >> (8 * b));
    }
    EXPECT_EQ(attributeCelsius(SmartPage(page.data(), page.size())), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace palvoro
