// `palvoro-cli history` and the history the runs leave, on the showcase machine: two runs
// of one drive both listed; a history folder that cannot be written costs a run nothing.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/cli.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using Json = nlohmann::json;

// The showcase's failing drive: machine number 4, listed 4th, with unreadable sectors.
constexpr int kKestrelNumber = 4;

class CliHistoryTest : public ::testing::Test {
 protected:
  CliHistoryTest() {
    dir = std::filesystem::temp_directory_path() / ("palvoro-history-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "results");
    // Self-tests of a second, so that a quick test is quick.
    Json m = Json::parse(sim::builtinMachineDescription("showcase"));
    for (Json& d : m["drives"]) {
      if (d.value("transport", "ata") == "nvme") d["nvme"]["selfTest"]["shortSeconds"] = 1;
      else d["selfTest"] = {{"shortSeconds", 1}, {"extendedSeconds", 2}, {"conveyanceSeconds", 1}};
      // The failing Kestrel small enough for an extended scan to be quick, large enough for
      // its random reads to miss the unreadable sectors the scan then meets.
      if (d["number"] == kKestrelNumber) d["identity"]["sectors"] = 1'000'000;
    }
    for (Json& v : m["volumes"]) {
      if (v.value("drive", -1) == kKestrelNumber) v["sectors"] = 300'000;
    }
    platform = std::make_unique<sim::SimPlatform>(sim::loadMachine(m.dump()));
    platform->followWallClock();
  }
  ~CliHistoryTest() override {
    chmod((dir / "state").c_str(), 0700);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  int run(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
    args.insert(args.begin(), {"--quiet", "--results-dir", (dir / "results").string(), "--state-dir",
                               (dir / "state").string()});
    std::ostringstream o, e;
    CliTerminal terminal;
    terminal.timerMilliseconds = 20;
    const int status = runCli(args, o, e, terminal, platform.get());
    if (out != nullptr) *out = o.str();
    if (err != nullptr) *err = e.str();
    return status;
  }

  std::filesystem::path dir;
  std::unique_ptr<sim::SimPlatform> platform;
};

TEST_F(CliHistoryTest, TwoRunsOfOneDriveAreBothInItsHistory) {
  std::string out, err;
  ASSERT_EQ(run({"--json", "test", "quick", "1"}, &out, &err), kCliOk) << err;
  const std::string serial = Json::parse(out)["drive"]["serial"];
  ASSERT_EQ(run({"test", "quick", "1"}, nullptr, &err), kCliOk) << err;

  ASSERT_EQ(run({"--json", "history"}, &out, &err), kCliOk) << err;
  const Json all = Json::parse(out);
  ASSERT_EQ(all["drives"].size(), 1u) << out;
  EXPECT_EQ(all["drives"][0]["serial"], serial);
  EXPECT_EQ(all["drives"][0]["run_count"], 2);
  EXPECT_EQ(all["drives"][0]["last_run"]["outcome"], "PASS");

  ASSERT_EQ(run({"history", "--serial", serial, "--json"}, &out, &err), kCliOk) << err;
  const Json runs = Json::parse(out)["drives"][0]["runs"];
  ASSERT_EQ(runs.size(), 2u) << out;
  for (const Json& r : runs) EXPECT_EQ(r["kind"], "quick");
  EXPECT_EQ(run({"history", "--serial", "NO-SUCH-SERIAL"}), kCliNotFound);
}

// Two extended tests of the failing drive, its pending sectors risen between them: the
// second run and the history both name the change.
TEST_F(CliHistoryTest, ARiseBetweenTwoScansIsToldByTheRunAndTheHistory) {
  std::string out, err;
  ASSERT_EQ(run({"--json", "test", "extended", "4"}, &out, &err), kCliDriveFailed) << err;
  EXPECT_EQ(Json::parse(out)["changes"], Json::array());
  ASSERT_EQ(run({"--json", "--sim-attribute", "4:197=9", "test", "extended", "4"}, &out, &err), kCliDriveFailed) << err;
  const Json changes = Json::parse(out)["changes"];
  ASSERT_EQ(changes.size(), 1u) << out;
  EXPECT_EQ(changes[0]["key"], "pending_sectors");
  EXPECT_EQ(changes[0]["severity"], "warning");
  EXPECT_EQ(changes[0]["from"], 4);
  EXPECT_EQ(changes[0]["to"], 9);

  ASSERT_EQ(run({"history", "--serial", "KX10007731"}, &out, &err), kCliOk) << err;
  EXPECT_NE(out.find("Current pending sectors rose from 4 to 9 since "), std::string::npos) << out;
  ASSERT_EQ(run({"--json", "history", "--serial", "KX10007731"}, &out, &err), kCliOk) << err;
  const Json drive = Json::parse(out)["drives"][0];
  EXPECT_EQ(drive["runs"].size(), 2u);
  EXPECT_EQ(drive["readings"].size(), 2u);
  EXPECT_EQ(drive["changes"].size(), 1u);
  EXPECT_TRUE(drive["runs"][1]["latency_p99_ms"].is_number()) << drive["runs"][1];

  // What --sim-attribute takes, and where.
  for (const std::string bad : {"4:197", "x:197=1", "99:197=1", "6:197=1"}) {
    EXPECT_EQ(run({"--sim-attribute", bad, "list"}, nullptr, &err), kCliUsage) << bad;
    EXPECT_NE(err.find("--sim-attribute " + bad), std::string::npos) << err;
  }
}

// A folder the user may not write, and (what even root cannot get past) a file where the
// folder should be: the run and its page are kept all the same.
TEST_F(CliHistoryTest, AHistoryFolderThatCannotBeWrittenCostsTheRunNothing) {
  for (const bool readOnly : {true, false}) {
    SCOPED_TRACE(readOnly ? "read-only folder" : "a file in its place");
    if (readOnly && geteuid() == 0) continue;  // root writes into a read-only folder
    std::filesystem::remove_all(dir / "state");
    std::filesystem::remove(dir / "results" / "Tovrin.htm");
    if (readOnly) {
      std::filesystem::create_directories(dir / "state");
      ASSERT_EQ(chmod((dir / "state").c_str(), 0500), 0);
    } else {
      std::ofstream(dir / "state") << "not a folder";
    }
    std::string err;
    EXPECT_EQ(run({"test", "quick", "1"}, nullptr, &err), kCliOk) << err;
    EXPECT_NE(err.find("cannot be made or written"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::exists(dir / "results" / "Tovrin.htm"));
    chmod((dir / "state").c_str(), 0700);
  }
}

}  // namespace
}  // namespace palvoro
