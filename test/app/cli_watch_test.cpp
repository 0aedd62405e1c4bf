// `palvoro-cli watch` on the basic machine: a first watch keeps every drive's reading, a
// second is judged by its exit status, its JSON and the textfile folder it leaves.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/cli.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

struct WatchCase {
  const char* name;
  uint64_t pendingRaw;  // attribute 197 of the VH5K500 (machine drive 2) before the second watch; 5 as built
  std::vector<std::string> args;
  int status;
  std::function<void(const Json& doc, const fs::path& dir, const std::string& err)> check;
};

std::string fileText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const WatchCase kCases[] = {
    {"PendingSectorsRoseIsStatusSix", 9, {}, kCliWorsened,
     [](const Json& doc, const fs::path&, const std::string& err) {
       EXPECT_TRUE(doc["worsened"]);
       // Standard error is the journal here: the change once more, at warning priority.
       EXPECT_EQ(err, "<4>Drive 3, VHT VH5K500 (serial VH5K09F8E7D6): " +
                          doc["drives"][2]["changes"][0]["text"].get<std::string>() + "\n");
       const Json& changes = doc["drives"][2]["changes"];
       ASSERT_EQ(changes.size(), 1u) << doc.dump(2);
       EXPECT_EQ(changes[0]["key"], "pending_sectors");
       EXPECT_EQ(changes[0]["from"], 5);
       EXPECT_EQ(changes[0]["to"], 9);
     }},
    {"NothingWorsenedIsStatusZero", 5, {}, kCliOk, [](const Json& doc, const fs::path&, const std::string&) { EXPECT_FALSE(doc["worsened"]); }},
    {"TextfileWholeAndAlone", 5, {"--textfile", "prom"}, kCliOk,
     [](const Json& doc, const fs::path& dir, const std::string&) {
       EXPECT_EQ(doc["textfile"], (dir / "prom" / "palvoro.prom").string());
       // No temporary file stays beside it, and it is what `metrics` prints.
       int names = 0;
       for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir / "prom")) ++names;
       EXPECT_EQ(names, 1);
       EXPECT_NE(fileText(dir / "prom" / "palvoro.prom").find("palvoro_ata_pending_sectors{serial=\"VH5K09F8E7D6\"} 5\n"),
                 std::string::npos);
     }},
    {"TextfileFolderMissingIsANamedError", 5, {"--textfile", "none"}, kCliUsage,
     [](const Json& doc, const fs::path& dir, const std::string&) {
       EXPECT_EQ(doc["textfile"], nullptr);
       EXPECT_EQ(doc["error"], "the metrics folder " + (dir / "none").string() +
                                   " does not exist (No such file or directory); is prometheus-node-exporter installed?");
     }},
    {"TextfileOverAFileIsANamedError", 5, {"--textfile", "file"}, kCliUsage,
     [](const Json& doc, const fs::path&, const std::string&) {
       EXPECT_NE(doc["error"].get<std::string>().find("(Not a directory)"), std::string::npos);
     }},
    // The first watch started them; a day has not passed.
    {"SelfTestNotDueTwice", 5, {"--self-test-every", "1d"}, kCliOk,
     [](const Json& doc, const fs::path&, const std::string&) { EXPECT_EQ(doc["drives"][0]["self_test"], nullptr) << doc.dump(2); }},
    {"MalformedDurationIsUsage", 5, {"--self-test-every", "7x"}, kCliUsage, nullptr},
};

class CliWatchTest : public ::testing::TestWithParam<WatchCase> {};

TEST_P(CliWatchTest, SecondWatch) {
  const WatchCase& c = GetParam();
  const fs::path dir = fs::temp_directory_path() / ("palvoro-watch-" + std::to_string(::getpid()) + "-" + c.name);
  fs::remove_all(dir);
  fs::create_directories(dir / "prom");
  std::ofstream(dir / "file") << "not a folder";
  sim::SimPlatform platform(sim::loadMachine(sim::builtinMachineDescription("basic")));
  const auto watch = [&](std::vector<std::string> args, std::string& out, std::string& err) {
    for (std::string& a : args) {
      if (a == "prom" || a == "none" || a == "file") a = (dir / a).string();
    }
    args.insert(args.begin(), {"--quiet", "--json", "--state-dir", (dir / "state").string(), "watch"});
    std::ostringstream o, e;
    const int status = runCli(args, o, e, CliTerminal{}, &platform);
    out = o.str();
    err = e.str();
    return status;
  };
  std::string out, err;
  ASSERT_EQ(watch({"--self-test-every", "1d"}, out, err), kCliOk) << out;
  ASSERT_EQ(Json::parse(out)["drives"][0]["self_test"], "started") << out;
  ASSERT_TRUE(platform.setAttributeRaw(2, 197, c.pendingRaw));
  struct stat st {};
  ASSERT_EQ(fstat(2, &st), 0);
  const std::string journal = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  setenv("JOURNAL_STREAM", journal.c_str(), 1);
  // A session bus that is named but not there: a worsening's notification fails, the watch does not.
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus").string()).c_str(), 1);
  const int status = watch(c.args, out, err);
  unsetenv("JOURNAL_STREAM");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_EQ(status, c.status) << out;
  if (c.check) c.check(Json::parse(out), dir, err);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliWatchTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<WatchCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace palvoro
