// palvoro-cli on many drives at once: each drive's outcome and the worst of them as the
// exit status, the confirmation each erase needs, a drive pulled out during the run, and
// the rows on a terminal and into a pipe.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/cli_bench.h"
#include "app/console_bench.h"
#include "platform/sim/sim_platform.h"
#include "results/result_page.h"

namespace palvoro {
namespace {

using Json = nlohmann::json;

// The showcase with the drives listed as 3, 4 (the Kestrel, four unreadable sectors) and 6
// (machine numbers 2, 4 and 7) cut to a few hundred thousand sectors, so that their scans
// take a moment; with `twinSerials` drive 3 reports the Kestrel's serial number.
std::unique_ptr<sim::SimPlatform> smallShowcase(bool twinSerials = false) {
  Json m = Json::parse(sim::builtinMachineDescription("showcase"));
  for (Json& d : m["drives"]) {
    const int number = d["number"];
    if (number == 2 || number == 4 || number == 7) d["identity"]["sectors"] = 300'000;
    if (twinSerials && number == 2) d["identity"]["serial"] = "KX10007731";
  }
  for (Json& v : m["volumes"]) {
    if (v.contains("drive") && (v["drive"] == 2 || v["drive"] == 4)) v["sectors"] = 300'000 - 4096;
  }
  auto platform = std::make_unique<sim::SimPlatform>(sim::loadMachine(m.dump()));
  platform->followWallClock();
  return platform;
}

class CliBenchTest : public ::testing::Test {
 protected:
  CliBenchTest() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() / ("palvoro-bench-" + std::to_string(::getpid()) + "-" + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  ~CliBenchTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  int run(sim::SimPlatform& platform, std::vector<std::string> args, Json& doc, std::string& err) {
    args.insert(args.begin(), {"--results-dir", dir.string(), "--json"});
    std::ostringstream out, errors;
    CliTerminal terminal;
    terminal.timerMilliseconds = 20;
    const int status = runCli(args, out, errors, terminal, &platform);
    doc = Json::parse(out.str(), nullptr, false);
    err = errors.str();
    EXPECT_FALSE(doc.is_discarded()) << out.str() << err;
    return status;
  }

  std::vector<ResultEntry> pageEntries() const {
    std::ifstream page(dir / kResultPageName);
    std::stringstream text;
    text << page.rdbuf();
    return readResultEntries(text.str());
  }

  std::filesystem::path dir;
};

TEST(BenchStatus, TheWorstOfTheDrivesStatusesIsTheBenchs) {
  struct Case {
    std::vector<int> statuses;
    int worst;
  };
  const Case cases[] = {
      {{kCliOk, kCliOk}, kCliOk},
      {{kCliOk, kCliRefused}, kCliRefused},
      {{kCliRefused, kCliNoPrivilege}, kCliNoPrivilege},
      {{kCliNotFound, kCliRefused, kCliOk}, kCliNotFound},
      {{kCliOk, kCliNotFound, kCliDriveFailed, kCliRefused}, kCliDriveFailed},
      {{kCliDriveFailed, kCliNotFound}, kCliDriveFailed},
  };
  for (const Case& c : cases) EXPECT_EQ(cli::worstStatus(c.statuses), c.worst) << ::testing::PrintToString(c.statuses);
}

TEST_F(CliBenchTest, EachDriveEndsAloneAPulledOneFailsAndTheOthersGoOn) {
  auto platform = smallShowcase();
  // Drive 6 is pulled out partway through its scan.
  sim::SimFault pulled;
  pulled.kind = sim::SimFault::Kind::Vanish;
  pulled.drive = 7;
  pulled.onRead = true;
  pulled.skip = 200;
  platform->injectFault(pulled);
  Json doc;
  std::string err;
  const int status = run(*platform, {"test", "extended", "3", "4", "6"}, doc, err);

  EXPECT_EQ(status, kCliDriveFailed) << err;
  ASSERT_EQ(doc["drives"].size(), 3u) << doc.dump(2);
  struct Expected {
    int number;
    const char* state;
    int status;
    size_t badSectors;
  };
  // A drive pulled out reads as every sector failing: its run ends on too many bad sectors.
  const Expected expected[] = {{3, "PASS", kCliOk, 0}, {4, "FAIL", kCliDriveFailed, 4}, {6, "FAIL", kCliDriveFailed, 200}};
  for (size_t i = 0; i < 3; ++i) {
    const Json& drive = doc["drives"][i];
    EXPECT_EQ(drive["drive"]["number"], expected[i].number);
    EXPECT_EQ(drive["result"]["test_state"], expected[i].state) << drive.dump(2);
    EXPECT_EQ(drive["status"], expected[i].status) << drive.dump(2);
    // The Kestrel's sectors are its own: no other drive reports them.
    EXPECT_EQ(drive["result"]["bad_sectors"].size(), expected[i].badSectors) << drive.dump(2);
    EXPECT_FALSE(drive["result_entry"].is_null()) << drive.dump(2);
  }
  EXPECT_EQ(pageEntries().size(), 3u);
  // Each drive's lines into a pipe are tagged with it.
  EXPECT_NE(err.find("\"drive\":4"), std::string::npos) << err;
  EXPECT_NE(err.find("\"event\":\"ended\""), std::string::npos) << err;
}

TEST_F(CliBenchTest, ManyErasesStartOnlyWhenEachDriveIsConfirmedByItsOwnSerial) {
  struct Case {
    const char* name;
    std::vector<std::string> confirmations;
    bool twins;
    int status;
    const char* says;  // in the refusal; "" when the erases run
  };
  const Case cases[] = {
      {"Missing", {"KX10007731"}, false, kCliUsage, "drive 3 (VHT VHS512G, 153 MB, serial VHS5120042) is not confirmed"},
      {"Wrong", {"KX10007731", "VHS5120042", "FW800S0001"}, false, kCliUsage, "which is not among the drives to erase"},
      {"TwinSerial", {"KX10007731"}, true, kCliUsage, "does not name one drive"},
      {"EachConfirmed", {"KX10007731", "VHS5120042"}, false, kCliOk, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto platform = smallShowcase(c.twins);
    std::vector<std::string> args = {"erase", "3", "4", "--mode", "quick"};
    for (const std::string& serial : c.confirmations) args.insert(args.end(), {"--confirm-erase", serial});
    Json doc;
    std::string err;
    EXPECT_EQ(run(*platform, args, doc, err), c.status) << err;
    size_t writes = 0;
    for (const sim::SimRequest& r : platform->log()) writes += r.kind == sim::SimRequest::Kind::Write;
    if (*c.says != '\0') {
      EXPECT_NE(err.find(c.says), std::string::npos) << err;
      EXPECT_EQ(writes, 0u);
      continue;
    }
    EXPECT_GT(writes, 0u);
    ASSERT_EQ(doc["drives"].size(), 2u);
    for (const Json& drive : doc["drives"]) {
      EXPECT_EQ(drive["result"]["test_state"], "COMPLETE") << drive.dump(2);
      EXPECT_EQ(drive["questions"].back()["answered_by"], "--confirm-erase");
    }
  }
}

TEST_F(CliBenchTest, WatchErasesADrivePluggedInOnlyWhenItsSerialWasNamedAndNothingMounted) {
  auto platform = smallShowcase();
  // Plugged in once the watch has begun: the FireWire drive (named), the NVMe drive (not
  // named) and the VHS512G, which holds a file system.
  for (const int number : {2, 6, 7}) platform->plug(number, false);
  Json doc;
  std::string err;
  int status = -1;
  std::thread bench([&] {
    status = run(*platform, {"erase", "--watch", "--mode", "quick", "--confirm-erase", "FW800S0001"}, doc, err);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (const int number : {2, 6, 7}) platform->plug(number, true);
  // The named drive's block reaches the page once its erase has ended; Ctrl-C ends the watch.
  for (int i = 0; i < 200 && pageEntries().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::raise(SIGINT);
  bench.join();

  EXPECT_EQ(status, kCliOk) << err;
  ASSERT_EQ(doc["drives"].size(), 1u) << err;
  EXPECT_EQ(doc["drives"][0]["drive"]["serial"], "FW800S0001");
  EXPECT_EQ(doc["drives"][0]["result"]["test_state"], "COMPLETE");
  EXPECT_NE(err.find("serial SBK2N1T0A4471); it is not erased: no --confirm-erase named its serial number"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("serial VHS5120042); it is not started: it holds mounted file systems (G)"), std::string::npos);
  std::map<std::string, size_t> writes;
  for (const sim::SimRequest& r : platform->log()) {
    if (r.kind == sim::SimRequest::Kind::Write) ++writes[r.path];
  }
  EXPECT_EQ(writes.size(), 1u);
  EXPECT_GT(writes["\\\\.\\PhysicalDrive7"], 0u) << ::testing::PrintToString(writes);
}

TEST(BenchScreen, TerminalRowsAreRedrawnInPlaceAndCutPipeLinesAreTagged) {
  BenchLine scanning{3, "Kestrel KX1000", "KX10007731", {}};
  scanning.state.phase = BenchPhase::Running;
  scanning.state.stage = "Running Extended Test...";
  scanning.state.percent = 42;
  scanning.state.bytesPerSecond = 153.24e6;
  scanning.state.remainingSeconds = 723;
  scanning.state.badSectors = 4;
  scanning.state.temperatureCelsius = 41;
  BenchLine ended{12, "A model name longer than its column", "S\x1b[2J", {}};
  ended.state.phase = BenchPhase::Ended;
  ended.state.outcome = "PASS";

  EXPECT_EQ(benchLiveLine(scanning, 200),
            "  3  Kestrel KX1000        KX10007731         42%  Running Extended Test...  153.2 MB/s  00:12:03 left  4 bad"
            "  41 \xC2\xB0" "C");
  EXPECT_EQ(benchLiveLine(scanning, 41), "  3  Kestrel KX1000        KX10007731   ");
  EXPECT_EQ(benchLiveLine(ended, 80), " 12  A model name longer   S?[2J             PASS");
  EXPECT_EQ(benchTaggedLine(scanning),
            "drive 3 (Kestrel KX1000, KX10007731): 42%  Running Extended Test...  153.2 MB/s  00:12:03 left  4 bad"
            "  41 \xC2\xB0" "C");

  double now = 0;
  std::ostringstream terminal;
  BenchScreen bar(terminal, ProgressStyle::Bar, 60, [&now] { return now; });
  bar.update({scanning, ended}, true);
  bar.say("drive 3: [Extended Test] a message");
  const std::string drawn = terminal.str();
  // The second drawing goes back up over the two rows after the message cleared them.
  EXPECT_NE(drawn.find("\x1b[2A\r\x1b[Jdrive 3: [Extended Test] a message\n\r\x1b[2K"), std::string::npos) << drawn;
  for (const char* line : {"  3  Kestrel", " 12  A model"}) EXPECT_NE(drawn.find(line), std::string::npos);

  std::ostringstream pipe;
  BenchScreen lines(pipe, ProgressStyle::Lines, 80, [&now] { return now; });
  lines.update({scanning}, false);
  scanning.state.percent = 43;
  now = 1;
  lines.update({scanning}, false);  // only the figures moved, and too soon
  now = 6;
  lines.update({scanning}, false);
  EXPECT_EQ(pipe.str(),
            "drive 3 (Kestrel KX1000, KX10007731): 42%  Running Extended Test...  153.2 MB/s  00:12:03 left  4 bad  41 "
            "\xC2\xB0" "C\n"
            "drive 3 (Kestrel KX1000, KX10007731): 43%  Running Extended Test...  153.2 MB/s  00:12:03 left  4 bad  41 "
            "\xC2\xB0" "C\n");
}

}  // namespace
}  // namespace palvoro
