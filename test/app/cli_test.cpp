// palvoro-cli on the showcase machine: each command's JSON parsed and checked field by
// field, the text form's lines, drive selection by number and by serial, and the exit
// statuses of every way a command line can go wrong.

#include "app/cli.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "ui/model/main_window_model.h"
#include "service/smart_window_model.h"

namespace palvoro {
namespace {

using Json = nlohmann::json;

class QuietPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string&, const std::string&, PromptIcon, PromptButtons, PromptAnswer,
                   PromptPurpose) override {
    return PromptAnswer::Ok;
  }
};

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

CliRun cli(std::vector<std::string> args) {
  std::ostringstream out, err;
  CliRun run;
  run.status = runCli(args, out, err, CliTerminal{});
  run.out = out.str();
  run.err = err.str();
  return run;
}

Json json(const CliRun& run) {
  Json doc = Json::parse(run.out, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << run.out;
  return doc;
}

TEST(CliTest, ListAsJsonHasEveryDriveWithItsFields) {
  const CliRun run = cli({"--builtin", "showcase", "--json", "list"});
  ASSERT_EQ(run.status, kCliOk) << run.err;
  const Json doc = json(run);
  EXPECT_EQ(doc["schema_version"], 1);
  const Json& drives = doc["drives"];
  ASSERT_EQ(drives.size(), 8u);
  const char* models[] = {"VHT VH7SAB200",  "VHT VHH7S100516AB2C3D1", "VHT VHS512G",          "Kestrel KX1000",
                          "Sabik NV2 1TB",  "VH FireWire 800",        "SEAGATE ST6000NM0034", "VH Nodrik Duo"};
  for (size_t i = 0; i < drives.size(); ++i) {
    SCOPED_TRACE(i);
    const Json& d = drives[i];
    EXPECT_EQ(d["number"], i + 1);
    EXPECT_EQ(d["model"], models[i]);
    EXPECT_TRUE(d["sectors"].is_number_unsigned());
    EXPECT_EQ(d["capacity_bytes"].get<uint64_t>(), d["sectors"].get<uint64_t>() * d["sector_size"].get<uint64_t>());
    EXPECT_TRUE(d["smart"]["available"].is_boolean());
    EXPECT_EQ(d["raid"].is_null(), i != 7);
  }
  // The system drive holds C: and D:; the enclosure is rebuilding.
  EXPECT_EQ(drives[0]["volumes"], (Json{"C", "D"}));
  EXPECT_EQ(drives[0]["bus"], "SATA");
  EXPECT_EQ(drives[0]["reached_as"], "ATA");
  EXPECT_EQ(drives[2]["smart"]["text"], "Not Supported");
  EXPECT_EQ(drives[7]["raid"]["rebuild_percent"], 42);
  EXPECT_EQ(drives[7]["reached_as"], "RAID enclosure");
  // The options may follow the command too, as a script writes them.
  EXPECT_EQ(cli({"--builtin", "showcase", "list", "--json"}).out, run.out);
}

TEST(CliTest, ListAsTextHasAHeaderARowEachAndTheCount) {
  const CliRun run = cli({"--builtin", "showcase", "list"});
  ASSERT_EQ(run.status, kCliOk) << run.err;
  std::istringstream lines(run.out);
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) all.push_back(line);
  ASSERT_EQ(all.size(), 10u);
  EXPECT_EQ(all[0].rfind("#   Model", 0), 0u);
  EXPECT_EQ(all[4].rfind("4   Kestrel KX1000", 0), 0u);
  EXPECT_EQ(all[9], "8 drive(s) found.");
}

// A bench holds more drives than a desktop: every one is listed and numbered, and each
// number names its own drive.
TEST(CliTest, EveryDriveOfABenchOfTwentyIsListedAndNamedByItsNumber) {
  const Json drives = json(cli({"--builtin", "bench", "--json", "list"}))["drives"];
  ASSERT_EQ(drives.size(), 20u);
  std::set<std::string> serials;
  std::set<std::string> buses;
  for (size_t i = 0; i < drives.size(); ++i) {
    EXPECT_EQ(drives[i]["number"], i + 1);
    serials.insert(drives[i]["serial"].get<std::string>());
    buses.insert(drives[i]["bus"].get<std::string>());
  }
  EXPECT_EQ(serials.size(), 20u);
  EXPECT_EQ(buses, (std::set<std::string>{"NVMe", "SATA", "SCSI", "USB"}));
  const CliRun text = cli({"--builtin", "bench", "list"});
  EXPECT_NE(text.out.find("\n20  Sabik NV3 2TB "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\n20 drive(s) found.\n"), std::string::npos);
  const Json last = json(cli({"--builtin", "bench", "--json", "info", "20"}));
  EXPECT_EQ(last["drive"]["serial"], drives[19]["serial"]);
  const CliRun past = cli({"--builtin", "bench", "info", "21"});
  EXPECT_EQ(past.status, kCliNotFound);
  EXPECT_NE(past.err.find("there is no drive 21 (20 drive(s) found)"), std::string::npos) << past.err;
}

TEST(CliTest, InfoNamesTheDriveByNumberOrBySerial) {
  const CliRun byNumber = cli({"--builtin", "showcase", "--json", "info", "8"});
  ASSERT_EQ(byNumber.status, kCliOk) << byNumber.err;
  const Json enclosure = json(byNumber);
  EXPECT_EQ(enclosure["drive"]["model"], "VH Nodrik Duo");
  EXPECT_EQ(enclosure["device_type"], "RAID-USB");
  ASSERT_TRUE(enclosure["member_serials"].is_array());
  EXPECT_EQ(enclosure["member_serials"][1], "VHRAIDB0002");

  const std::string serial = json(cli({"--builtin", "showcase", "--json", "list"}))["drives"][0]["serial"];
  const CliRun bySerial = cli({"--builtin", "showcase", "--json", "info", "--serial", serial});
  ASSERT_EQ(bySerial.status, kCliOk) << bySerial.err;
  const Json system = json(bySerial);
  EXPECT_EQ(system["drive"]["number"], 1);
  EXPECT_EQ(system["volumes"].size(), 2u);
  EXPECT_FALSE(system.contains("member_serials"));
}

TEST(CliTest, SmartListsTheAttributesAndTheVerdict) {
  const CliRun run = cli({"--builtin", "showcase", "--json", "smart", "1"});
  ASSERT_EQ(run.status, kCliOk) << run.err;
  const Json doc = json(run);
  EXPECT_TRUE(doc["passing"].get<bool>());
  ASSERT_EQ(doc["members"].size(), 1u);
  const Json& attributes = doc["members"][0]["attributes"];
  ASSERT_FALSE(attributes.empty());
  for (const Json& a : attributes) {
    EXPECT_GT(a["id"].get<int>(), 0);
    EXPECT_FALSE(a["name"].get<std::string>().empty());
    EXPECT_FALSE(a["failed"].get<bool>());
  }

  const CliRun enclosure = cli({"--builtin", "showcase", "--json", "smart", "8"});
  const Json members = json(enclosure)["members"];
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0]["member"], "A");
  EXPECT_EQ(members[1]["member"], "B");
}

// The drive's own SMART RETURN STATUS and its attributes decide one verdict, which every
// view tells in its own words: the list and `smart` PASS or FAIL (and the exit status), the
// property page Good or Warning, the SMART window's verdict, the main list cell it writes
// and the record it writes back. A drive that says it is failing is never shown passing.
struct VerdictCase {
  const char* name;
  bool driveSaysExceeded;
  bool attributeAtThreshold;
  bool passing;
};

class SmartVerdictViewsTest : public testing::TestWithParam<VerdictCase> {};

TEST_P(SmartVerdictViewsTest, EveryViewSaysTheSame) {
  const VerdictCase& c = GetParam();
  const std::string description =
      std::string(R"({"drives": [{"number": 0, "identity": {"model": "VERDICT", "serial": "V1", "firmware": "F1",
      "sectors": 100000}, "smart": {"reportExceeded": )") +
      (c.driveSaysExceeded ? "true" : "false") +
      R"(, "attributes": [{"id": 5, "flags": 51, "value": 100, "threshold": 45, "worst": )" +
      (c.attributeAtThreshold ? "45" : "46") + "}]}}]}";
  const std::string machine = ::testing::TempDir() + "palvoro-verdict-" + c.name + ".json";
  std::ofstream(machine) << description;
  const std::string word = c.passing ? "PASS" : "FAIL";
  const int status = c.passing ? kCliOk : kCliDriveFailed;

  const CliRun list = cli({"--machine", machine, "list"});
  EXPECT_NE(list.out.find(" " + word + "\n1 drive(s) found."), std::string::npos) << list.out;
  const Json listed = json(cli({"--machine", machine, "--json", "list"}))["drives"][0]["smart"];
  EXPECT_EQ(listed["healthy"], c.passing);
  EXPECT_EQ(listed["text"], word);

  const CliRun info = cli({"--machine", machine, "info", "1"});
  EXPECT_NE(info.out.find(std::string("Health Status:     ") + (c.passing ? "Good" : "Warning") + "\n"),
            std::string::npos)
      << info.out;
  EXPECT_EQ(json(cli({"--machine", machine, "--json", "info", "1"}))["health_status"], c.passing ? "Good" : "Warning");

  const CliRun smart = cli({"--machine", machine, "smart", "1"});
  EXPECT_EQ(smart.status, status);
  EXPECT_NE(smart.out.find("SMART verdict: " + word + "\n"), std::string::npos) << smart.out;
  const CliRun smartJson = cli({"--machine", machine, "--json", "smart", "1"});
  EXPECT_EQ(smartJson.status, status);
  EXPECT_EQ(json(smartJson)["passing"], c.passing);

  // The SMART window, through its view model, on a detection of the same machine.
  sim::SimPlatform platform(sim::loadMachine(description));
  QuietPrompter prompter;
  AppContext context(platform, prompter);
  detectDrives(context.probeEnvironment(), context.driveTable());
  ASSERT_EQ(context.driveTable().driveCount(), 1);
  EXPECT_EQ(smartStatusCell(context.selectedRecord()).text, " " + word);
  SmartWindowModel window(context, context.driveTable().selectedDrive);
  ASSERT_EQ(window.fill(0), SmartFillOutcome::Filled);
  ASSERT_TRUE(window.verdict().has_value());
  EXPECT_EQ(window.verdict()->passing, c.passing);
  ASSERT_TRUE(window.mainListCell().has_value());
  EXPECT_EQ(window.mainListCell()->text, " " + word);
  EXPECT_EQ(context.selectedRecord().smartHealthy, c.passing ? 1 : 0);
  EXPECT_EQ(smartStatusCell(context.selectedRecord()).text, " " + word);
}

INSTANTIATE_TEST_SUITE_P(StatusAndAttributes, SmartVerdictViewsTest,
                         testing::Values(VerdictCase{"Healthy", false, false, true},
                                         VerdictCase{"AttributeAtThreshold", false, true, false},
                                         VerdictCase{"DriveSaysExceeded", true, false, false},
                                         VerdictCase{"Both", true, true, false}),
                         [](const testing::TestParamInfo<VerdictCase>& p) { return std::string(p.param.name); });

// An NVMe drive's health log: the showcase's healthy one, and a raw log with a critical
// warning and a counter beyond 64 bits, in JSON and as text.
TEST(CliTest, SmartOfAnNvmeDriveGivesItsHealthLog) {
  const CliRun run = cli({"--builtin", "showcase", "--json", "smart", "5"});
  ASSERT_EQ(run.status, kCliOk) << run.err;
  const Json doc = json(run);
  EXPECT_TRUE(doc["passing"].get<bool>());
  const Json& health = doc["nvme_health"];
  EXPECT_EQ(health["critical_warning"], 0);
  EXPECT_EQ(health["temperature_celsius"], 38);
  EXPECT_EQ(health["percentage_used"], 3);
  EXPECT_EQ(health["data_units_read"], 28551312);
  EXPECT_EQ(health["power_on_hours"], 3412);
  EXPECT_EQ(health["temperature_sensors_celsius"][1], 45);
  EXPECT_TRUE(health["temperature_sensors_celsius"][2].is_null());
  EXPECT_TRUE(doc["members"][0]["attributes"].empty());
  EXPECT_EQ(doc["members"][0]["health"][0]["name"], "Critical Warning");

  // Byte 0: media read-only; bytes 144..159 (unsafe shutdowns): 2^64 + 5.
  std::string page(1024, '0');
  page.replace(0, 2, "08");
  page.replace(2 * 144, 2, "05");
  page.replace(2 * 152, 2, "01");
  const std::string machine = ::testing::TempDir() + "palvoro-nvme-warning.json";
  std::ofstream(machine) << R"({"drives": [{"number": 0, "transport": "nvme", "identity": {"model": "Sabik NV9",
      "serial": "SBK9", "firmware": "1", "sectors": 100000}, "nvme": {"pages": {"health": ")" << page << R"("}}}]})";
  const CliRun failing = cli({"--machine", machine, "--json", "smart", "1"});
  EXPECT_EQ(failing.status, kCliDriveFailed) << failing.err;
  const Json bad = json(failing);
  EXPECT_FALSE(bad["passing"].get<bool>());
  EXPECT_EQ(bad["nvme_health"]["critical_warning"], 8);
  EXPECT_EQ(bad["nvme_health"]["critical_warnings"], Json::array({"Media has been placed in read-only mode"}));
  EXPECT_EQ(bad["nvme_health"]["unsafe_shutdowns"], "18446744073709551621");
  const CliRun text = cli({"--machine", machine, "smart", "1"});
  EXPECT_NE(text.out.find("Media has been placed in read-only mode"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("18,446,744,073,709,551,621"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("SMART verdict: FAIL"), std::string::npos) << text.out;
}

// --logs: the drive's own logs beside the SMART data, in JSON and in text, for a drive on
// the SMART driver path, one behind a bridge that refuses a log, and an NVMe drive.
TEST(CliTest, SmartWithLogsAddsTheDrivesOwnLogsAndHints) {
  struct Case {
    const char* drive;
    const char* key;            // a key the logs of this drive carry
    Json notRead;
    const char* textLine;
  };
  const Case cases[] = {
      {"1", "statistics", Json::array(), "    Page "},
      {"4", "comprehensive_errors", Json::array({"Device statistics"}),
       "  Not handed over by the drive or its bridge: Device statistics."},
      {"5", "error_information", Json::array(), "    Error Count  Queue"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drive);
    const CliRun run = cli({"--builtin", "showcase", "--json", "smart", c.drive, "--logs"});
    ASSERT_EQ(run.status, kCliOk) << run.err;
    const Json logs = json(run)["members"][0]["logs"];
    EXPECT_FALSE(logs[c.key].is_null()) << logs.dump();
    EXPECT_EQ(logs["not_read"], c.notRead);
    EXPECT_TRUE(logs["hints"].is_array());
    const CliRun text = cli({"--builtin", "showcase", "smart", c.drive, "--logs"});
    EXPECT_NE(text.out.find(std::string("\n") + c.textLine), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Drive logs: "), std::string::npos);
  }
  const Json kestrel = json(cli({"--builtin", "showcase", "--json", "smart", "4", "--logs"}))["members"][0]["logs"];
  EXPECT_EQ(kestrel["self_tests"]["entries"][0]["status"], 7);
  EXPECT_EQ(kestrel["self_tests"]["entries"][0]["failing_lba"], 123456);
  EXPECT_EQ(kestrel["self_tests"]["extended"], true);  // its bridge carries READ LOG EXT
  EXPECT_EQ(kestrel["comprehensive_errors"]["entries"][0]["error_bits"], "UNC");
  // Without --logs nothing of them.
  EXPECT_FALSE(json(cli({"--builtin", "showcase", "--json", "smart", "4"}))["members"][0].contains("logs"));
}

TEST(CliTest, EveryWayACommandLineGoesWrongHasItsStatus) {
  // A number no double holds: the description is refused, the program is not ended.
  const std::string hugeNumber = ::testing::TempDir() + "palvoro-huge-number.json";
  std::ofstream(hugeNumber) << R"({"name": 1e400})";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* err;  // a part of what the user is told
  };
  const Case cases[] = {
      {"NoCommand", {"--builtin", "showcase"}, kCliUsage, "palvoro-cli"},
      {"UnknownCommand", {"--builtin", "showcase", "fly"}, kCliUsage, "palvoro-cli"},
      {"NumberAndSerial", {"--builtin", "showcase", "info", "1", "--serial", "X"}, kCliUsage, "excludes"},
      {"NoDriveNamed", {"--builtin", "showcase", "info"}, kCliUsage, "palvoro-cli"},
      {"DriveNumberTooHigh", {"--builtin", "showcase", "info", "9"}, kCliNotFound, "there is no drive 9"},
      {"DriveNumberZero", {"--builtin", "showcase", "smart", "0"}, kCliNotFound, "there is no drive 0"},
      {"UnknownSerial", {"--builtin", "showcase", "info", "--serial", "NOPE"}, kCliNotFound, "NOPE"},
      {"UnknownMachine", {"--builtin", "nowhere", "list"}, kCliUsage, "nowhere"},
      {"UnreadableFile", {"--machine", "/nonexistent/machine.json", "list"}, kCliUsage, "cannot read"},
      {"NumberBeyondADouble", {"--machine", hugeNumber, "list"}, kCliUsage, "not valid JSON"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CliRun run = cli(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
}

TEST(CliTest, HelpNamesTheCommandsAndTheExitStatuses) {
  const CliRun run = cli({"--help"});
  EXPECT_EQ(run.status, kCliOk);
  // Every command's options too: the manual page is made from this text.
  for (const char* text : {"list", "info", "smart", "--json", "--builtin", "5 drive not found", "--confirm-erase", "--verify"}) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace palvoro
