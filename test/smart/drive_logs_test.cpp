// The drive logs read from the showcase machine through each carrier: what arrives, what a
// drive or bridge does not hand over, and the hints the whole gives.

#include "smart/drive_logs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "discovery/compliance_table.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "smart/smart_pages.h"

namespace palvoro {
namespace {

class QuietPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string&, const std::string&, PromptIcon, PromptButtons, PromptAnswer) override {
    return PromptAnswer::Ok;
  }
};

struct Showcase {
  Showcase() : platform(sim::builtinMachine("showcase")) {
    EXPECT_TRUE(loadComplianceTable(compliance));
    ProbeEnvironment env{platform, prompter, false, &compliance, 0xA0, &smartAttributesPass};
    detectDrives(env, table);
  }
  ~Showcase() { freeComplianceTable(compliance); }
  const DriveRecord& drive(const char* model) const {
    for (int i = 0; i < table.driveCount; ++i) {
      if (std::string(table.records[i].model) == model) return table.records[i];
    }
    ADD_FAILURE() << model;
    return table.records[0];
  }
  sim::SimPlatform platform;
  QuietPrompter prompter;
  ComplianceTable compliance;
  DriveTable table{};
};

bool hintHas(const std::vector<std::string>& hints, const std::string& text) {
  return std::any_of(hints.begin(), hints.end(), [&](const std::string& h) { return h.find(text) != std::string::npos; });
}

TEST(DriveLogsTest, EachCarrierHandsOverWhatItCarriesAndNamesTheRest) {
  Showcase showcase;
  struct Case {
    const char* model;
    bool miniport;
    bool opened;
    std::vector<std::string> notRead;
  };
  const std::vector<std::string> everyAtaLog{kSelfTestLogName, kSummaryErrorLogName, kComprehensiveErrorLogName,
                                             kDeviceStatisticsName, kSctStatusName, kTemperatureHistoryName};
  const Case cases[] = {
      {"VHT VH7SAB200", false, true, {}},
      // The miniport has no log request at all.
      {"VHT VH7SAB200", true, true, everyAtaLog},
      // The bridge refuses the device statistics; the rest passes.
      {"Kestrel KX1000", false, true, {kDeviceStatisticsName}},
      {"Sabik NV2 1TB", false, true, {}},
      {"SEAGATE ST6000NM0034", false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + (c.miniport ? " (miniport)" : ""));
    const DriveLogs logs = readDriveLogs(showcase.platform, showcase.drive(c.model), c.miniport, 0xA0);
    EXPECT_EQ(logs.opened, c.opened);
    EXPECT_EQ(logs.notRead, c.notRead);
    EXPECT_EQ(logs.anyRead(), c.opened && c.notRead != everyAtaLog);
  }
}

TEST(DriveLogsTest, TheFailingDriveBehindItsBridgeTellsItsStory) {
  Showcase showcase;
  const DriveLogs logs = readDriveLogs(showcase.platform, showcase.drive("Kestrel KX1000"), false, 0xA0);
  ASSERT_TRUE(logs.selfTests);
  ASSERT_FALSE(logs.selfTests->entries.empty());
  EXPECT_EQ(logs.selfTests->entries[0].status, 7);
  EXPECT_EQ(logs.selfTests->entries[0].failingLba, 123456u);
  ASSERT_TRUE(logs.comprehensiveErrors && logs.summaryErrors);
  EXPECT_EQ(logs.comprehensiveErrors->entries.size(), logs.summaryErrors->entries.size());
  EXPECT_EQ(logs.comprehensiveErrors->entries[0].lba, logs.summaryErrors->entries[0].lba);
  ASSERT_TRUE(logs.powerOnHours);
  const std::vector<std::string> hints = driveLogHints(logs);
  EXPECT_TRUE(hintHas(hints, "found a read failure at sector 123456")) << ::testing::PrintToString(hints);
  EXPECT_TRUE(hintHas(hints, "errors logged in the last 100 power-on hours")) << ::testing::PrintToString(hints);
  EXPECT_TRUE(logs.temperatureHistory);
}

}  // namespace
}  // namespace palvoro
