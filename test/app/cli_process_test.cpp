// The palvoro-cli program itself, run as a child: its progress on a pseudo-terminal and
// into a pipe, and Ctrl-C during an extended scan.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "results/result_page.h"

extern char** environ;

namespace palvoro {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// No child may hang a test run: past this it is killed and the test fails.
constexpr auto kChildDeadline = std::chrono::seconds(90);

std::vector<char*> argvOf(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

struct Child {
  int status = -1;  // the exit status, or -1 when it did not exit by itself
  std::string out;
  std::string err;
};

// Runs palvoro-cli with standard output and error on pipes. `onErrLine` sees each line of
// standard error as it arrives, with the child's pid.
Child runPiped(std::vector<std::string> args, const std::function<void(const std::string&, pid_t)>& onErrLine = {}) {
  args.insert(args.begin(), PALVORO_CLI_PATH);
  int outPipe[2], errPipe[2];
  EXPECT_EQ(pipe2(outPipe, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  std::vector<char*> argv = argvOf(args);
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  Child child;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return child;
  }
  std::string pendingLine;
  const auto deadline = Clock::now() + kChildDeadline;
  bool outOpen = true, errOpen = true;
  while ((outOpen || errOpen) && Clock::now() < deadline) {
    pollfd fds[2] = {{outPipe[0], static_cast<short>(outOpen ? POLLIN : 0), 0},
                     {errPipe[0], static_cast<short>(errOpen ? POLLIN : 0), 0}};
    if (poll(fds, 2, 200) <= 0) continue;
    char buffer[4096];
    if (fds[0].revents != 0) {
      const ssize_t n = read(outPipe[0], buffer, sizeof buffer);
      if (n <= 0) outOpen = false; else child.out.append(buffer, static_cast<size_t>(n));
    }
    if (fds[1].revents != 0) {
      const ssize_t n = read(errPipe[0], buffer, sizeof buffer);
      if (n <= 0) {
        errOpen = false;
      } else {
        child.err.append(buffer, static_cast<size_t>(n));
        pendingLine.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pendingLine.find('\n')) != std::string::npos;) {
          if (onErrLine) onErrLine(pendingLine.substr(0, end), pid);
          pendingLine.erase(0, end + 1);
        }
      }
    }
  }
  if (outOpen || errOpen) {
    ADD_FAILURE() << "palvoro-cli did not end in time";
    kill(pid, SIGKILL);
  }
  close(outPipe[0]);
  close(errPipe[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  child.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return child;
}

// Runs palvoro-cli on a pseudo-terminal 100 columns wide; everything it writes, as the
// terminal received it.
Child runOnTerminal(std::vector<std::string> args) {
  args.insert(args.begin(), PALVORO_CLI_PATH);
  std::vector<char*> argv = argvOf(args);
  winsize size = {};
  size.ws_row = 24;
  size.ws_col = 100;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  Child child;
  if (pid < 0) {
    ADD_FAILURE() << "forkpty failed";
    return child;
  }
  const auto deadline = Clock::now() + kChildDeadline;
  while (Clock::now() < deadline) {
    pollfd fd = {master, POLLIN, 0};
    if (poll(&fd, 1, 200) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the child has gone
    child.out.append(buffer, static_cast<size_t>(n));
  }
  close(master);
  // The terminal closes as the child exits; the exit itself may follow a moment later.
  int wstatus = 0;
  while (waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << "palvoro-cli did not end in time";
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  child.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return child;
}

class CliProcessTest : public ::testing::Test {
 protected:
  CliProcessTest() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() / ("palvoro-child-" + std::to_string(::getpid()) + "-" + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // The showcase machine with a Kestrel of 150 MB: its extended test ends in a moment.
    Json m = Json::parse(sim::builtinMachineDescription("showcase"));
    for (Json& d : m["drives"]) {
      if (d["number"] == 4) d["identity"]["sectors"] = 300'000;
    }
    for (Json& v : m["volumes"]) {
      if (v.contains("drive") && v["drive"] == 4) v["sectors"] = 300'000 - 4096;
    }
    machineFile = (dir / "machine.json").string();
    std::ofstream(machineFile) << m.dump();
  }
  ~CliProcessTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::filesystem::path dir;
  std::string machineFile;
};

TEST_F(CliProcessTest, ProgressIsABarOnATerminalAndLinesInAPipe) {
  const Child terminal =
      runOnTerminal({"--machine", machineFile, "--results-dir", dir.string(), "--state-dir", dir.string(), "test", "extended", "4"});
  EXPECT_EQ(terminal.status, 1);
  // Redrawn in place: a carriage return, the bar, and the rest of the line cleared.
  EXPECT_NE(terminal.out.find("\r["), std::string::npos) << terminal.out;
  EXPECT_NE(terminal.out.find("%  sector "), std::string::npos) << terminal.out;
  EXPECT_NE(terminal.out.find("\x1b[K"), std::string::npos);
  EXPECT_NE(terminal.out.find("Test found bad sectors that may be repairable."), std::string::npos);

  const Child piped = runPiped({"--machine", machineFile, "--results-dir", dir.string(), "--state-dir", dir.string(), "test", "extended", "4"});
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped.err;
  EXPECT_EQ(piped.err.find('\x1b'), std::string::npos);
  EXPECT_NE(piped.err.find("\nRunning Extended Test...\n"), std::string::npos) << piped.err;
  EXPECT_NE(piped.err.find("%  Current Sector: "), std::string::npos) << piped.err;
  EXPECT_NE(piped.err.find("\nTest found bad sectors that may be repairable.\n"), std::string::npos);
  EXPECT_NE(piped.out.find("Bad sectors: 4"), std::string::npos) << piped.out;
}

TEST_F(CliProcessTest, StandardOutputHoldsOnlyTheAnswerWhateverTheDriveLayersPrint) {
  // A bridge that says it cannot carry the vendor block makes the command layer print a
  // note of its own: it must not land in the JSON a script parses. The showcase has no
  // such bridge, so one takes drive 6's place.
  Json m = Json::parse(sim::builtinMachineDescription("showcase"));
  for (Json& d : m["drives"]) {
    if (d["number"] == 6) {
      d = Json::parse(R"({"number": 6, "transport": "usb-atacb", "atacb": {"supported": false},
          "identity": {"model": "VHT VH5K500", "serial": "VH5K0FA2209", "sectors": 976773168},
          "inquiry": {"vendor": "HP", "product": "Portable Drive", "revision": "0107"}})");
    }
  }
  std::ofstream(machineFile) << m.dump();
  const Child piped = runPiped({"--machine", machineFile, "--json", "list"});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_FALSE(Json::parse(piped.out, nullptr, false).is_discarded()) << piped.out;
  EXPECT_NE(piped.err.find("TPP device does not support ATACB"), std::string::npos) << piped.err;
}

TEST_F(CliProcessTest, CtrlCDuringAnExtendedScanEndsItAsAbortWithItsResultBlock) {
  // The 500 GB drive 3 of the showcase: its scan runs for seconds, long enough to stop.
  bool firstSent = false, secondSent = false;
  const std::vector<std::string> args = {"--builtin", "showcase", "--json", "--results-dir", dir.string(), "--state-dir", dir.string(),
                                         "test", "extended", "3"};
  const Child child = runPiped(args,
                               [&](const std::string& line, pid_t pid) {
                                 const Json event = Json::parse(line, nullptr, false);
                                 if (event.is_discarded()) return;
                                 if (!firstSent && event["event"] == "progress" && event["current_sector"] > 0 &&
                                     !event["sector_text"].get<std::string>().empty()) {
                                   kill(pid, SIGINT);
                                   firstSent = true;
                                 } else if (firstSent && !secondSent && event["event"] == "message") {
                                   kill(pid, SIGINT);  // while the run is stopping
                                   secondSent = true;
                                 }
                               });
  ASSERT_TRUE(firstSent) << child.err;
  EXPECT_EQ(child.status, 3) << child.err;
  const Json doc = Json::parse(child.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << child.out;
  EXPECT_EQ(doc["result"]["test_state"], "ABORT");
  EXPECT_TRUE(doc["result"]["stopped_by_user"]);
  EXPECT_NE(child.err.find("palvoro-cli: stopping the run"), std::string::npos);
  // The second Ctrl-C, sent while the run was stopping, did not cut the program short:
  // it exited with its status and its whole report.
  EXPECT_TRUE(secondSent);

  std::ifstream page(dir / kResultPageName);
  std::stringstream text;
  text << page.rdbuf();
  const std::vector<ResultEntry> entries = readResultEntries(text.str());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].testOption, "EXTENDED TEST");
  EXPECT_EQ(entries[0].testResult, "ABORT");
  EXPECT_EQ(entries[0].model, "VHT VHS512G");
}

TEST_F(CliProcessTest, CtrlCDuringABenchStopsEveryDriveAsAbortWithItsBlock) {
  std::set<int> running;
  bool sent = false;
  const std::vector<std::string> args = {"--builtin", "showcase", "--json", "--results-dir", dir.string(), "--state-dir", dir.string(),
                                         "test", "extended", "3", "6"};
  const Child child = runPiped(args, [&](const std::string& line, pid_t pid) {
    const Json event = Json::parse(line, nullptr, false);
    if (event.is_discarded() || event["event"] != "progress" || event["percent"] < 2) return;
    running.insert(event["drive"].get<int>());
    if (running.size() == 2 && !sent) {
      kill(pid, SIGINT);
      sent = true;
    }
  });
  ASSERT_TRUE(sent) << child.err;
  EXPECT_EQ(child.status, 3) << child.err;
  const Json doc = Json::parse(child.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << child.out;
  ASSERT_EQ(doc["drives"].size(), 2u);
  for (const Json& drive : doc["drives"]) {
    EXPECT_EQ(drive["result"]["test_state"], "ABORT") << drive.dump(2);
    EXPECT_TRUE(drive["result"]["stopped_by_user"]);
  }
  std::ifstream page(dir / kResultPageName);
  std::stringstream text;
  text << page.rdbuf();
  const std::vector<ResultEntry> entries = readResultEntries(text.str());
  ASSERT_EQ(entries.size(), 2u);
  for (const ResultEntry& entry : entries) EXPECT_EQ(entry.testResult, "ABORT");
}

}  // namespace
}  // namespace palvoro
