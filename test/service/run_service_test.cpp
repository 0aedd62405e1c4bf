// The run service: runs on two drives of one session at once, each with its own values,
// and a request that names no drive, or a drive that is no longer the one chosen.

#include "service/run_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "diagnostics/diagnostics_test_support.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

// Drive 1 reads cleanly; drive 2 cannot read sector 40,000.
constexpr const char* kMachine = R"({"name": "two", "drives": [
  {"number": 0, "identity": {"model": "VHT VH7SAB100", "serial": "CLEAN00001", "firmware": "A5C0", "sectors": 200000}},
  {"number": 1, "identity": {"model": "VHT VH7SAB300", "serial": "FAULTY0001", "firmware": "A5C0", "sectors": 300000},
   "unreadable": [40000]}]})";


// Both front ends wait here until every run has started: a service that ran one drive
// after the other would keep the second out until the timeout.
class StartLine {
 public:
  explicit StartLine(int runs) : m_waiting(runs) {}
  bool arriveAndWait() {
    std::unique_lock lock(m_mutex);
    if (--m_waiting == 0) m_all.notify_all();
    return m_all.wait_for(lock, std::chrono::seconds(20), [this] { return m_waiting == 0; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_all;
  int m_waiting;
};

// Runs the worker on the calling thread: nothing shows, nothing is asked.
class HeadlessFrontEnd : public RunFrontEnd {
 public:
  explicit HeadlessFrontEnd(StartLine* line = nullptr) : m_line(line) {}
  PromptAnswer ask(const RunPrompt& prompt) override {
    asked.push_back(prompt.text);
    return PromptAnswer::Cancel;
  }
  std::optional<int32_t> chooseErase(bool) override { return std::nullopt; }
  RunSighting watchRun(const RunRequest&, const TestRunEnvironment& environment) override {
    if (m_line != nullptr) metAll = m_line->arriveAndWait();
    UnwatchedRunEvents view;
    TestRun run(environment, view, clock);
    run.begin();
    run.runWorker();
    // Close, as the user does once the run has ended.
    if (run.cancelReadsClose()) (void)run.onCancel();
    RunSighting seen;
    const size_t listed = std::min<uint64_t>(environment.values.badSectorCount.load(), run.badSectors.size());
    seen.badSectors.assign(run.badSectors.begin(), run.badSectors.begin() + static_cast<long>(listed));
    return seen;
  }

  diagtest::ManualClock clock;
  std::vector<std::string> asked;
  bool metAll = false;

 private:
  StartLine* m_line;
};

class RunServiceTest : public testing::Test {
 protected:
  RunServiceTest() : platform(sim::loadMachine(kMachine)), session(platform, prompter) {
    (void)detectDrives(session.probeEnvironment(), session.driveTable());
  }
  RunRequest extended(int index) {
    RunRequest request;
    request.driveIndex = index;
    request.identity = driveInstanceAt(platform, session.driveTable().records[index].physicalDriveNumber);
    request.kind = kTestKindExtended;
    return request;
  }

  diagtest::RecordingPrompter prompter;
  sim::SimPlatform platform;
  Session session;
  SystemTestClock clock;
};

TEST_F(RunServiceTest, TwoDrivesRunAtOnceEachWithItsOwnOutcome) {
  ASSERT_EQ(session.driveTable().driveCount(), 2);
  StartLine line(2);
  HeadlessFrontEnd first(&line);
  HeadlessFrontEnd second(&line);
  RunService service(session, clock);
  RunOutcome outcomes[2];
  std::thread other([&] { outcomes[1] = service.run(extended(1), second); });
  outcomes[0] = RunService(session, clock).run(extended(0), first);
  other.join();

  EXPECT_TRUE(first.metAll && second.metAll) << "the runs did not overlap";
  EXPECT_EQ(outcomes[0].end, StartEnd::TestRun);
  EXPECT_EQ(outcomes[0].state, kTestStatePass);
  EXPECT_EQ(outcomes[0].badSectorCount, 0u);
  EXPECT_EQ(outcomes[1].end, StartEnd::TestRun);
  EXPECT_EQ(outcomes[1].state, kTestStateFail);
  ASSERT_EQ(outcomes[1].seen.badSectors.size(), 1u);
  EXPECT_EQ(outcomes[1].seen.badSectors[0].sector, 40000u);
  // Each block names its own drive, and both reached the page.
  auto blockNames = [](const RunOutcome& o, const char* serial) {
    std::string all;
    for (const std::string& text : o.resultBlock) all += text;
    return all.find(serial) != std::string::npos;
  };
  EXPECT_TRUE(blockNames(outcomes[0], "CLEAN00001"));
  EXPECT_TRUE(blockNames(outcomes[1], "FAULTY0001"));
  EXPECT_EQ(session.resultLines().count(), outcomes[0].resultBlock.size() + outcomes[1].resultBlock.size());
  EXPECT_NE(session.scanMapOf(session.driveTable().records[1]), nullptr);
  // The windows' own values are not a run's.
  EXPECT_EQ(session.testRun().testState.load(), kTestStatePass);
  EXPECT_EQ(session.testRun().badSectorCount.load(), 0u);
}

TEST_F(RunServiceTest, ARequestReachesOnlyTheDriveItNames) {
  struct Case {
    const char* name;
    int index;
    int identityOf;  // the row whose identity the request carries
    StartEnd end;
    int32_t error;
  };
  const Case cases[] = {
      {"no such row", 5, 0, StartEnd::NoSuchDrive, kTestErrorNone},
      {"no row", -1, 0, StartEnd::NoSuchDrive, kTestErrorNone},
      // The first open finds another drive: the cable test fails without touching it.
      {"another drive at that row now", 1, 0, StartEnd::TestRun, kTestErrorCable},
  };
  for (const Case& c : cases) {
    HeadlessFrontEnd frontEnd;
    RunRequest request = extended(c.identityOf);
    request.driveIndex = c.index;
    const RunOutcome outcome = RunService(session, clock).run(request, frontEnd);
    EXPECT_EQ(outcome.end, c.end) << c.name;
    EXPECT_EQ(outcome.error, c.error) << c.name;
    EXPECT_TRUE(frontEnd.asked.empty()) << c.name;
  }
}

}  // namespace
}  // namespace palvoro
