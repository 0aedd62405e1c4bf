// The drive logs read from the showcase machine through each carrier: what arrives, what a
// drive or bridge does not hand over, and the hints the whole gives.

#include "smart/drive_logs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "discovery/compliance_table.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "smart/smart_pages.h"

namespace palvoro {
namespace {

class QuietPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string&, const std::string&, PromptIcon, PromptButtons, PromptAnswer,
                   PromptPurpose) override {
    return PromptAnswer::Ok;
  }
};

struct Showcase {
  explicit Showcase(sim::SimMachine machine = sim::builtinMachine("showcase")) : platform(std::move(machine)) {
    EXPECT_TRUE(loadComplianceTable(compliance));
    ProbeEnvironment env{platform, prompter, false, &compliance, 0xA0, &judgeSmartAttributes};
    detectDrives(env, table);
  }
  ~Showcase() { freeComplianceTable(compliance); }
  const DriveRecord& drive(const char* model) const {
    for (int i = 0; i < table.driveCount(); ++i) {
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

// A read failure at sector 300,000,000, past 28 bits (its low 28: 31,564,544), on a drive
// reached four ways: the extended log carries it whole wherever READ LOG EXT goes.
TEST(DriveLogsTest, AFailingSectorPast28BitsArrivesWholeWhereTheExtendedLogIsRead) {
  const auto drive = [](int number, const std::string& transport, const std::string& model, const std::string& more) {
    return R"({"number": )" + std::to_string(number) + R"(, "transport": ")" + transport +
           R"(", "identity": {"model": ")" + model + R"(", "serial": "S)" + std::to_string(number) +
           R"(", "sectors": 976773168}, "logs": {"selfTests": [{"test": 1, "status": 0, "hours": 1100},
             {"test": 2, "status": 7, "hours": 1200, "lba": 300000000}])" + more + "}}";
  };
  Showcase drives(sim::loadMachine(R"({"drives": [)" + drive(0, "ata", "ATA48", "") + ", " +
                                   drive(1, "usb-sat", "SAT48", "") + ", " + drive(2, "firewire", "FW48", "") + ", " +
                                   drive(3, "ata", "NOGPL48", R"(, "gpl": false)") + "]}"));
  const struct {
    const char* model;
    bool extended;
    uint64_t lba;
  } cases[] = {
      {"ATA48", true, 300000000},     // the driver path, READ LOG EXT by ATA pass-through
      {"SAT48", true, 300000000},     // ATA PASS-THROUGH (16)
      {"FW48", false, 31564544},      // (12) only: no READ LOG EXT, the SMART log
      {"NOGPL48", false, 31564544},   // no general purpose logging: the SMART log
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    const DriveLogs read = readDriveLogs(drives.platform, drives.drive(c.model), false, 0xA0);
    ASSERT_TRUE(read.selfTests);
    EXPECT_EQ(read.selfTests->extended, c.extended);
    ASSERT_EQ(read.selfTests->entries.size(), 2u);
    EXPECT_EQ(read.selfTests->entries[0].failingLba, c.lba);
    EXPECT_TRUE(hintHas(driveLogHints(read), "found a read failure at sector " + std::to_string(c.lba) + "."));
  }
}

}  // namespace
}  // namespace palvoro
