// palvoro-cli's runs on a variant of the showcase machine: each way a test or an erase
// can end, with its exit status, its JSON report and what it left on the drive; the
// questions answered by the command line, by a user at a terminal, or refused.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/startup.h"
#include "platform/sim/sim_platform.h"
#include "results/result_page.h"

namespace palvoro {
namespace {

using Json = nlohmann::json;

constexpr const char* kKestrelSerial = "KX10007731";
constexpr uint64_t kKestrelSectors = 300'000;

// The showcase machine with its Kestrel (drive 4) cut to 150 MB, so that a full scan or
// erase takes a moment, and every self-test a second long (the NVMe drive's short one; its
// extended one counts in minutes). `change` edits the description further.
std::string smallShowcase(const std::function<void(Json&)>& change = {}) {
  Json m = Json::parse(sim::builtinMachineDescription("showcase"));
  for (Json& d : m["drives"]) {
    if (d.value("transport", "ata") == "nvme") {
      d["nvme"]["selfTest"]["shortSeconds"] = 1;
    } else {
      d["selfTest"] = {{"shortSeconds", 1}, {"extendedSeconds", 2}, {"conveyanceSeconds", 1}};
    }
    if (d["number"] == 4) d["identity"]["sectors"] = kKestrelSectors;
  }
  for (Json& v : m["volumes"]) {
    if (v.contains("drive") && v["drive"] == 4) v["sectors"] = kKestrelSectors - 4096;
  }
  if (change) change(m);
  return m.dump();
}

// Answers typed at a terminal, one line each; the input ends after the last.
CliTerminal fastTerminal(std::vector<std::string> typed = {}, bool interactive = false) {
  CliTerminal terminal;
  terminal.timerMilliseconds = 20;
  terminal.input.interactive = interactive;
  auto lines = std::make_shared<std::vector<std::string>>(std::move(typed));
  terminal.input.readLine = [lines]() -> std::optional<std::string> {
    if (lines->empty()) return std::nullopt;
    std::string line = lines->front();
    lines->erase(lines->begin());
    return line;
  };
  return terminal;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  Json doc;
};

class CliRunTest : public ::testing::Test {
 protected:
  CliRunTest() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() / ("palvoro-cli-" + std::to_string(::getpid()) + "-" + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  ~CliRunTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  static std::unique_ptr<sim::SimPlatform> machine(const std::string& description) {
    auto platform = std::make_unique<sim::SimPlatform>(sim::loadMachine(description));
    platform->followWallClock();
    return platform;
  }

  // Runs the command line on `platform`; with --json the document is parsed.
  Outcome run(sim::SimPlatform& platform, std::vector<std::string> args, const CliTerminal& terminal) {
    args.insert(args.begin(), {"--results-dir", dir.string()});
    std::ostringstream out, err;
    Outcome o;
    o.status = runCli(args, out, err, terminal, &platform);
    o.out = out.str();
    o.err = err.str();
    if (std::find(args.begin(), args.end(), "--json") != args.end()) {
      o.doc = Json::parse(o.out, nullptr, false);
      EXPECT_FALSE(o.doc.is_discarded()) << o.out << o.err;
    }
    return o;
  }

  std::filesystem::path dir;
};

TEST_F(CliRunTest, EachWayARunEndsHasItsStatusOutcomeAndAnswers) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* outcome;
    const char* state;      // the result's test_state; "" when nothing ran
    const char* answeredBy; // how the last question was answered; "" when none was asked
    std::vector<std::string> typed = {};
    std::function<void(Json&)> change = {};
  };
  const auto notepadOpen = [](Json& m) {
    m["windows"] = {{{"title", "Notepad"}, {"visible", true}, {"style", "0x14CF0000"}}};
  };
  const Case cases[] = {
      {"QuickTestPasses", {"test", "quick", "1"}, kCliOk, "test_run", "PASS", ""},
      {"ExtendedTestFindsTheBadSectors", {"test", "extended", "--serial", kKestrelSerial}, kCliDriveFailed, "test_run",
       "FAIL", ""},
      {"RepairWithTheSerialPasses",
       {"test", "extended", "4", "--repair", "--confirm-repair", kKestrelSerial},
       kCliOk, "test_run", "PASS", "--confirm-repair"},
      {"RepairWithoutAnAnswerIsRefused", {"test", "extended", "4", "--repair"}, kCliDriveFailed, "test_run", "FAIL",
       "refused"},
      {"RepairAnsweredAtTheTerminal", {"test", "extended", "4", "--repair"}, kCliOk, "test_run", "PASS", "terminal",
       {"ok"}},
      {"EraseWithoutAnAnswerIsRefused", {"erase", "4", "--mode", "full"}, kCliRefused, "partitions_declined", "",
       "refused"},
      {"EraseWithAnotherSerialIsRefused", {"erase", "4", "--mode", "full", "--confirm-erase", "KX1000773"},
       kCliRefused, "partitions_declined", "", "refused"},
      {"YesDoesNotAnswerTheErase", {"erase", "4", "--mode", "quick", "--yes"}, kCliRefused, "partitions_declined", "",
       "refused"},
      {"EraseConfirmedAtTheTerminal", {"erase", "4", "--mode", "quick"}, kCliOk, "test_run", "COMPLETE", "terminal",
       {"y", "yes"}},
      {"EnterAtTheTerminalIsNo", {"erase", "4", "--mode", "quick"}, kCliRefused, "erase_declined", "", "terminal",
       {"y", ""}},
      {"SystemDriveIsNeverErased", {"erase", "1", "--mode", "quick", "--confirm-erase", "VH7K2A01B3C4"}, kCliRefused,
       "system_drive_refused", "", ""},
      {"ExtendedTestNeedsAdministrator", {"test", "extended", "1"}, kCliNoPrivilege, "administrator_refused", "", "",
       {}, [](Json& m) { m["administrator"] = false; }},
      {"OpenProgramsWithoutAnAnswerRefuse", {"test", "quick", "3"}, kCliRefused, "programs_open_cancelled", "",
       "refused", {}, notepadOpen},
      {"OpenProgramsAnsweredByYes", {"test", "quick", "3", "--yes"}, kCliOk, "test_run", "PASS", "--yes", {},
       notepadOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto platform = machine(smallShowcase(c.change));
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    const Outcome o = run(*platform, args, fastTerminal(c.typed, !c.typed.empty()));
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(o.doc["status"], c.status);
    EXPECT_EQ(o.doc["outcome"], c.outcome);
    if (*c.state == '\0') {
      EXPECT_TRUE(o.doc["result"].is_null());
      EXPECT_TRUE(o.doc["result_page"].is_null());
    } else {
      EXPECT_EQ(o.doc["result"]["test_state"], c.state);
      EXPECT_EQ(o.doc["result_entry"]["test_result"], c.state);
      EXPECT_EQ(o.doc["result_page"], (dir / "Tovrin.htm").string());
      EXPECT_TRUE(o.doc["result_page_refused"].is_null());
    }
    const Json& questions = o.doc["questions"];
    if (*c.answeredBy == '\0') {
      for (const Json& q : questions) EXPECT_EQ(q["answered_by"], "message") << q.dump();
    } else {
      ASSERT_FALSE(questions.empty());
      EXPECT_EQ(questions.back()["answered_by"], c.answeredBy);
    }
  }
}

// Drive 17 of the bench is a number no fixed table of eight reached: the quick test runs
// on it, and on no other drive.
TEST_F(CliRunTest, QuickTestRunsOnDrive17OfTheBench) {
  Json m = Json::parse(sim::builtinMachineDescription("bench"));
  for (Json& d : m["drives"]) {
    if (d["number"] == 16) d["selfTest"] = {{"shortSeconds", 1}, {"conveyanceSeconds", 1}};
  }
  auto platform = machine(m.dump());
  const Outcome o = run(*platform, {"--json", "--quiet", "test", "quick", "17"}, fastTerminal());
  ASSERT_EQ(o.status, kCliOk) << o.err;
  EXPECT_EQ(o.doc["drive"]["number"], 17);
  EXPECT_EQ(o.doc["drive"]["serial"], "VH7B40000016");
  EXPECT_EQ(o.doc["result"]["test_state"], "PASS");
  for (const sim::SimDrive& d : platform->machine().drives) {
    if (d.transport != sim::Transport::Ata) continue;
    EXPECT_EQ(d.ata.units.at(0).logs.selfTests.empty(), d.number != 16) << d.number;
  }
}

// A results folder others can change gets no page, and the answer says why.
TEST_F(CliRunTest, AFolderOthersCanChangeGetsNoPageAndTheReasonIsTold) {
  std::filesystem::permissions(dir, std::filesystem::perms::all);
  auto platform = machine(smallShowcase());
  const Outcome o = run(*platform, {"--json", "--quiet", "test", "quick", "3"}, fastTerminal());
  EXPECT_EQ(o.status, kCliOk) << o.err;
  EXPECT_TRUE(o.doc["result_page"].is_null());
  EXPECT_EQ(o.doc["result_page_refused"], "Files are not written into " + dir.string() +
                                              "/: other users can create, replace or remove files in it (mode 0777).");
  EXPECT_FALSE(std::filesystem::exists(dir / "Tovrin.htm"));
}

TEST_F(CliRunTest, FailingDriveListsItsBadSectorsAndItsError) {
  auto platform = machine(smallShowcase());
  const Outcome o = run(*platform, {"--json", "--quiet", "test", "extended", "4"}, fastTerminal());
  ASSERT_EQ(o.status, kCliDriveFailed) << o.err;
  const Json& result = o.doc["result"];
  EXPECT_EQ(result["error"]["code"], 8);
  EXPECT_EQ(result["error"]["message"], "Extended Test::Read sector error!");
  EXPECT_EQ(result["bad_sector_count"], 4);
  ASSERT_EQ(result["bad_sectors"].size(), 4u);
  for (uint64_t i = 0; i < 4; ++i) EXPECT_EQ(result["bad_sectors"][i]["sector"], 123456 + i);
  EXPECT_TRUE(result["repair_offered"]);
  EXPECT_FALSE(result["repair_run"]);
  EXPECT_TRUE(o.err.empty()) << o.err;  // --quiet

  // The same run for people, and the page it left read back by `results`.
  auto again = machine(smallShowcase());
  const Outcome text = run(*again, {"test", "extended", "--serial", kKestrelSerial}, fastTerminal());
  EXPECT_EQ(text.status, kCliDriveFailed);
  for (const char* line : {"EXTENDED TEST of drive 4, Kestrel KX1000 (serial KX10007731): FAIL",
                           "Test Error Code: 08-Extended Test::Read sector error!", "Bad sectors: 4",
                           "    123459  (error 23)", "run the test again with --repair"}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
  }
  const Outcome page = run(*again, {"results"}, fastTerminal());
  for (const char* line : {"EXTENDED TEST: FAIL", "  Unit Serial Number: KX10007731", "  Test Error Code:    08-",
                           "1 run(s)."}) {
    EXPECT_NE(page.out.find(line), std::string::npos) << line << "\n" << page.out;
  }
  const Outcome results = run(*again, {"--json", "results"}, fastTerminal());
  EXPECT_EQ(results.status, kCliOk);
  EXPECT_TRUE(results.doc["exists"]);
  ASSERT_EQ(results.doc["entries"].size(), 1u);
  EXPECT_EQ(results.doc["entries"][0]["test_option"], "EXTENDED TEST");
  EXPECT_EQ(results.doc["entries"][0]["serial"], kKestrelSerial);
  EXPECT_EQ(results.doc["entries"][0]["error"]["code"], 8);
}

// Slow blocks do not change the verdict; the run tells them beside it. (The Kestrel's bad
// sectors are taken away: a random read that met them would end the test before its scan.)
TEST_F(CliRunTest, ExtendedTestTellsTheBlockTimesBesideThePass) {
  const auto withoutBadSectors = [](Json& m) {
    for (Json& d : m["drives"]) {
      if (d["number"] == 4) d.erase("unreadable");
    }
  };
  auto platform = machine(smallShowcase(withoutBadSectors));
  const Outcome o = run(*platform, {"--json", "--quiet", "test", "extended", "4"}, fastTerminal());
  ASSERT_EQ(o.status, kCliOk) << o.err;
  const Json& latency = o.doc["result"]["latency"];
  ASSERT_TRUE(latency.is_object()) << o.doc.dump(2);
  EXPECT_EQ(latency["blocks"], 1172);  // 300,000 sectors in blocks of 256
  std::vector<uint64_t> histogram;
  for (const Json& bucket : latency["histogram"]) histogram.push_back(bucket["blocks"]);
  EXPECT_EQ(histogram, (std::vector<uint64_t>{1155, 0, 0, 0, 9, 8, 0}));
  EXPECT_EQ(latency["histogram"][4]["below_microseconds"], 500000);
  EXPECT_EQ(latency["histogram"][5]["below_microseconds"], nullptr);
  EXPECT_EQ(latency["slowest"][0], (Json{{"sector", 122880}, {"microseconds", 620000}}));
  EXPECT_EQ(latency["slowest"][7], (Json{{"sector", 124672}, {"microseconds", 620000}}));
  ASSERT_EQ(latency["stripes"].size(), 1000u);  // 300 sectors each
  EXPECT_EQ(latency["stripes"][409]["worst_microseconds"], 620000);
  EXPECT_EQ(latency["stripes"][408]["worst_microseconds"], 0);
  EXPECT_EQ(latency["stripes"][832]["worst_microseconds"], 180000);
  EXPECT_EQ(latency["hints"],
            Json::array({"8 blocks took 500 ms or more to read: the drive is retrying; back up its data.",
                         "9 blocks took 150 to 500 ms to read: the drive may be starting to retry; test it again "
                         "before long."}));
  // The result page carries the same hints, and what the drive's own logs add to them.
  std::ifstream pageFile(o.doc["result_page"].get<std::string>());
  const std::string page((std::istreambuf_iterator<char>(pageFile)), std::istreambuf_iterator<char>());
  EXPECT_NE(page.find("<td><font color=0000ff>Hints:</font></td><td>8 blocks took 500 ms or more to read"),
            std::string::npos) << page;
  EXPECT_NE(page.find("<br>The drive's own last failed self-test (extended offline, at 14187 power-on hours) found a "
                      "read failure at sector 123456.<br>"),
            std::string::npos) << page;

  auto again = machine(smallShowcase(withoutBadSectors));
  const Outcome text = run(*again, {"test", "extended", "4"}, fastTerminal());
  EXPECT_EQ(text.status, kCliOk);
  for (const char* line : {"EXTENDED TEST of drive 4, Kestrel KX1000 (serial KX10007731): PASS",
                           "  Block read times (1172 blocks): < 5 ms: 1155, < 20 ms: 0, < 50 ms: 0, < 150 ms: 0, "
                           "< 500 ms: 9, 500 ms or more: 8, unreadable: 0",
                           "  Slowest blocks:\n    sector 122880  620.000 ms\n    sector 123136  620.000 ms",
                           "  8 blocks took 500 ms or more to read: the drive is retrying; back up its data."}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
  }
}

TEST_F(CliRunTest, EraseTouchesTheDriveOnlyWithItsOwnSerial) {
  auto platform = machine(smallShowcase());
  sim::SimMedia& media = platform->drive(4).disk();
  const std::vector<uint8_t> data(512, 0x5A);
  ASSERT_TRUE(media.write(1000, 1, data.data()));
  ASSERT_TRUE(media.write(kKestrelSectors - 1, 1, data.data()));

  const Outcome refused =
      run(*platform, {"--json", "erase", "4", "--mode", "full", "--confirm-erase", "KX10007732"}, fastTerminal());
  EXPECT_EQ(refused.status, kCliRefused);
  EXPECT_TRUE(media.anyData(1000, 1));
  EXPECT_TRUE(media.anyData(kKestrelSectors - 1, 1));

  const Outcome told = run(*platform, {"erase", "4", "--mode", "full"}, fastTerminal());
  EXPECT_EQ(told.out, "ERASE of drive 4, Kestrel KX1000 (serial KX10007731): not started: the question about its "
                      "partitions was answered No.\n");
  EXPECT_NE(told.err.find("--confirm-erase SERIAL answers it."), std::string::npos) << told.err;

  // The quick erase: a fifth of the drive at each end, where both marks lie.
  const Outcome erased =
      run(*platform, {"--json", "erase", "4", "--mode", "quick", "--confirm-erase", kKestrelSerial}, fastTerminal());
  ASSERT_EQ(erased.status, kCliOk) << erased.err;
  EXPECT_EQ(erased.doc["result"]["test_state"], "COMPLETE");
  EXPECT_EQ(erased.doc["erase_mode"], "quick");
  EXPECT_FALSE(media.anyData(0, kKestrelSectors / 5));
  EXPECT_FALSE(media.anyData(kKestrelSectors - kKestrelSectors / 5, kKestrelSectors / 5));
  // Both erase questions went to the serial given, none to a default, and each says that
  // its yes destroyed the data of drive 4.
  std::vector<std::string> by;
  for (const Json& q : erased.doc["questions"]) {
    by.push_back(q["answered_by"].get<std::string>() + " " + q["purpose"].get<std::string>() + " " + q["drive"].dump());
  }
  EXPECT_EQ(by, (std::vector<std::string>{"--confirm-erase destroys_data 4", "--confirm-erase destroys_data 4"}));
}

// Drive 0 of the showcase, its Kestrel as drive 4, and the Kestrel's twin as drive 5: two
// cheap enclosures that report one serial number, "0000000000", for the same model and
// size. Listed as drives 1, 2 and 3; a program is open, so every run asks about it first.
std::string twinMachine() {
  Json m = Json::parse(sim::builtinMachineDescription("showcase"));
  Json drives = Json::array();
  for (Json d : m["drives"]) {
    if (d["number"] == 0) drives.push_back(d);
    if (d["number"] != 4) continue;
    d["identity"]["sectors"] = kKestrelSectors;
    d["identity"]["serial"] = "0000000000";
    drives.push_back(d);
    d["number"] = 5;
    drives.push_back(d);
  }
  m["drives"] = drives;
  Json volumes = Json::array();
  for (const Json& v : m["volumes"]) {
    if (v.value("drive", -1) == 0) volumes.push_back(v);
  }
  m["volumes"] = volumes;
  m["windows"] = {{{"title", "Notepad"}, {"visible", true}, {"style", "0x14CF0000"}}};
  return m.dump();
}

TEST_F(CliRunTest, TwinSerialNumbersNameNoDriveAndTheConfirmationIsBoundToTheDriveOpened) {
  const std::string twin = "3:Kestrel KX1000:153 MB";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    bool kestrelErased;  // physical drive 4, listed as 2
    bool twinErased;     // physical drive 5, listed as 3
    std::vector<std::string> told;  // on standard error
    bool replugAtFirstQuestion = false;
  };
  const Case cases[] = {
      {"SerialNamesNoDrive", {"info", "--serial", "0000000000"}, kCliUsage, false, false,
       {"the serial number \"0000000000\" does not name one drive: 2 drives report it (drive 2 (Kestrel KX1000, "
        "153 MB), drive 3 (Kestrel KX1000, 153 MB)). Name the drive by its number N instead",
        "--confirm-erase \"3:Kestrel KX1000:153 MB\""}},
      {"SerialErasesNothing", {"erase", "--serial", "0000000000", "--mode", "quick", "--confirm-erase", "0000000000",
       "--yes"}, kCliUsage, false, false, {"drive 2 (Kestrel KX1000, 153 MB), drive 3"}},
      {"ConfirmationBySerialErasesNothing", {"erase", "3", "--mode", "quick", "--confirm-erase", "0000000000",
       "--yes"}, kCliUsage, false, false, {"--confirm-erase: the serial number \"0000000000\" does not name one"}},
      {"BlankConfirmationErasesNothing", {"erase", "3", "--mode", "quick", "--confirm-erase", "   ", "--yes"},
       kCliUsage, false, false, {"the serial number \"\" does not name one drive: it is empty."}},
      {"OneCharacterSerialNamesNoDrive", {"info", "--serial", "  7777  "}, kCliUsage, false, false,
       {"it is one character repeated."}},
      {"ConfirmationOfTheTwinErasesNothing", {"erase", "3", "--mode", "quick", "--confirm-erase",
       "2:Kestrel KX1000:153 MB", "--yes"}, kCliRefused, false, false,
       {"--confirm-erase \"2:Kestrel KX1000:153 MB\" names drive 2, not drive 3; nothing is done."}},
      {"ConfirmationOfAnotherSizeErasesNothing", {"erase", "3", "--mode", "quick", "--confirm-erase",
       "3:Kestrel KX1000:1,000.20 GB", "--yes"}, kCliRefused, false, false,
       {"does not describe drive 3, which is Kestrel KX1000 with 153 MB; nothing is done."}},
      {"NumberModelAndCapacityEraseThatDriveOnly", {"erase", "3", "--mode", "quick", "--confirm-erase", twin, "--yes"},
       kCliOk, false, true, {}},
      {"ADriveRepluggedAfterTheChoiceIsNotErased", {"erase", "3", "--mode", "quick", "--confirm-erase", twin},
       kCliRefused, false, false,
       {"drive 3 is no longer the drive --confirm-erase named: it was pulled out or replaced since"},
       true},
  };
  const std::vector<uint8_t> data(512, 0x5A);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto platform = machine(twinMachine());
    for (const int drive : {4, 5}) {
      for (const uint64_t sector : {uint64_t{1000}, kKestrelSectors - 1}) {
        ASSERT_TRUE(platform->drive(drive).disk().write(sector, 1, data.data()));
      }
    }
    CliTerminal terminal = fastTerminal();
    if (c.replugAtFirstQuestion) {
      // The user pulls the twin out and puts it back while the program asks about the
      // open programs, then answers OK.
      terminal.input.interactive = true;
      terminal.input.readLine = [&platform]() -> std::optional<std::string> {
        platform->machine().plug(5, false);
        platform->machine().plug(5, true);
        return "ok";
      };
    }
    const Outcome o = run(*platform, c.args, terminal);
    EXPECT_EQ(o.status, c.status) << o.err;
    for (const std::string& told : c.told) EXPECT_NE(o.err.find(told), std::string::npos) << told << "\n" << o.err;
    for (const int drive : {4, 5}) {
      const bool erased = drive == 4 ? c.kestrelErased : c.twinErased;
      EXPECT_EQ(platform->drive(drive).disk().anyData(1000, 1), !erased) << drive;
      EXPECT_EQ(platform->drive(drive).disk().anyData(kKestrelSectors - 1, 1), !erased) << drive;
    }
  }
}

// --verify reads back what an erase that completed zeroed: a drive that acknowledges writes
// it never stores passes the erase and fails the run with its sectors named. Nothing is
// read back after an erase that did not run or did not complete, and the output says why.
TEST_F(CliRunTest, VerifyReadsTheErasedSectorsBack) {
  struct Case {
    const char* name;
    std::vector<std::string> args;  // after "erase 4"
    std::vector<uint64_t> lost;     // sectors holding data whose writes never reach the media
    bool unwritable;                // sector 100 refuses writes
    int status;
    std::vector<std::string> lines;
    Json checked;                   // the read-back's sectors_checked and non_zero_sectors; null when none
    Json nonZero;
    Json skipped;
  };
  const std::string serial = kKestrelSerial;
  const Case cases[] = {
      // Regions of 60,000 sectors, the first written in 235 blocks of 256.
      {"QuickPasses", {"--mode", "quick", "--confirm-erase", serial, "--verify"}, {}, false, kCliOk,
       {": COMPLETE\n", "  Method: overwrite, quick (None)\n",
        "  Transfers: simulated queue, 128 KiB x 1 in flight\n  Verification: ran, PASSED\n"
        "    Sectors checked: 120160 of 120160\n    All zero.\n"},
       120160,
       Json::array(), nullptr},
      {"FullFindsTheSectorsThatKeptTheirData", {"--mode", "full", "--confirm-erase", serial, "--verify"},
       {1000, kKestrelSectors - 1}, false, kCliDriveFailed,
       {": COMPLETE\n", "  Method: overwrite, full (Clear)\n",
        "  Transfers: simulated queue, 128 KiB x 1 in flight\n  Verification: ran, FAILED\n"
        "    Sectors checked: 300000 of 300000\n"
        "    Sectors not zero: 2 (first: 1000 299999)\n"},
       kKestrelSectors, {1000, kKestrelSectors - 1}, nullptr},
      {"RefusedEraseIsNotReadBack", {"--mode", "full", "--verify"}, {}, false, kCliRefused,
       {"answered No.\n  Verification: not run: the erase was not started.\n"}, nullptr, nullptr,
       "the erase was not started"},
      {"FailedEraseIsNotReadBack", {"--mode", "quick", "--confirm-erase", serial, "--verify"}, {}, true,
       kCliDriveFailed, {": FAIL\n", "  Verification: not run: the erase did not complete.\n"}, nullptr, nullptr,
       "the erase did not complete"},
  };
  const std::vector<uint8_t> data(512, 0x5A);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool json : {false, true}) {
      auto platform = machine(smallShowcase());
      sim::SimMedia& media = platform->drive(4).disk();
      for (uint64_t s : c.lost) {
        ASSERT_TRUE(media.write(s, 1, data.data()));
        media.markLostWrites(s, s);
      }
      if (c.unwritable) media.markUnwritable(100);
      std::vector<std::string> args = {"erase", "4"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      if (json) args.insert(args.begin(), "--json");
      const Outcome o = run(*platform, args, fastTerminal());
      EXPECT_EQ(o.status, c.status) << o.out << o.err;
      if (!json) {
        for (const std::string& line : c.lines) EXPECT_NE(o.out.find(line), std::string::npos) << line << o.out;
        continue;
      }
      const Json& v = o.doc["verification"];
      EXPECT_EQ(v.is_null(), c.checked.is_null()) << v.dump();
      EXPECT_EQ(o.doc["verification_skipped"], c.skipped);
      if (v.is_null()) continue;
      EXPECT_EQ(v["passed"], c.status == kCliOk);
      EXPECT_EQ(v["sectors_checked"], c.checked);
      EXPECT_EQ(v["non_zero_sectors"], c.nonZero);
      EXPECT_EQ(v["unreadable_sector_count"], 0);
      // The result page keeps the read-back beside the erase's own result.
      EXPECT_EQ(o.doc["result_entry"]["verification"]["passed"], c.status == kCliOk);
      EXPECT_EQ(o.doc["result_entry"]["verification"]["non_zero_sector_count"], c.nonZero.size());
    }
  }
}

// Without --machine or --builtin the commands work on this computer's drives, for which a
// test's machine stands in here. A user without rights there is told once what that costs
// and how to get the rights, and no test runs: the quick test would only fail on a healthy
// drive. A named simulated machine's user has what its description says; nothing to tell.
TEST_F(CliRunTest, WithoutRightsOnThisComputerTheNoteComesOnceAndNoTestRuns) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool administrator;
    int status;
    int notes;
  };
  const Case cases[] = {
      {"List", {"list"}, false, kCliOk, 1},
      {"ListAsJson", {"--json", "list"}, false, kCliOk, 1},
      {"ListAsAdministrator", {"list"}, true, kCliOk, 0},
      {"ListOnANamedMachine", {"--builtin", "showcase", "list"}, false, kCliOk, 0},
      {"QuickTest", {"test", "quick", "1"}, false, kCliNoPrivilege, 1},
      {"ExtendedTest", {"test", "extended", "2"}, false, kCliNoPrivilege, 1},
      {"Erase", {"erase", "2", "--mode", "quick"}, false, kCliNoPrivilege, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto platform = machine(smallShowcase([&c](Json& m) { m["administrator"] = c.administrator; }));
    const Outcome o = run(*platform, c.args, fastTerminal());
    EXPECT_EQ(o.status, c.status) << o.err;
    int notes = 0;
    for (size_t at = o.err.find(kNoRightsNoteCli); at != std::string::npos; at = o.err.find(kNoRightsNoteCli, at + 1)) {
      ++notes;
    }
    EXPECT_EQ(notes, c.notes) << o.err;
    if (c.status == kCliNoPrivilege) {
      EXPECT_NE(o.out.find("not started: administrator privilege is required."), std::string::npos) << o.out;
    }
  }
}

}  // namespace
}  // namespace palvoro
