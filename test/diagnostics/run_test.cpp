// The test run: the message table, the dialog's start, the worker's order on the
// simulated machine, the timer handler on a clock moved by hand, Cancel and Close, and
// one run with the worker on its own thread while ticks and Cancel come from this one.

#include "diagnostics/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "diagnostics/quick_test.h"
#include "diagnostics/run_messages.h"
#include "support/case_name.h"
#include "discovery/detection.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using diagtest::ManualClock;
using diagtest::Prompt;
using diagtest::RecordingRunEvents;
using diagtest::RecordingPrompter;
using diagtest::EventCall;
using Strings = std::vector<std::string>;

// ---------------------------------------------------------------------------------------
// The message table

struct MessageCase {
  int code;
  const char* expected;  // with the prefix "Erase::" and drive 3
};

const MessageCase kMessages[] = {
    {-1, "Erase::Unknown error!"},
    {0, "Erase::Unknown error!"},
    {1, "Erase::SMART Return Status error!"},
    {2, "Erase::Unknown error!"},
    {3, "Erase::Read SMART Attribute command error on drive 3!"},
    {4, "Erase::Cannot communicate with drive 3! Check device connection."},
    {5, "Erase::Unknown error!"},
    {6, "Erase::SMART self-test did not complete on drive 3!"},
    {7, "Erase::SMART Offline Immediate command error on drive 3!"},
    {8, "Erase::Read sector error!"},
    {9, "Erase::Write sector error!"},
    {10, "Erase::Set file pointer error!"},
    {11, "Erase::Unknown error!"},
    {12, "Too many bad sectors detected."},
    {13, "Unable to repair bad sectors."},
    {14, "Erase::Unknown error!"},
    {15, "Erase::Read diagnostics sector error!"},
    {16, "Erase::Unknown error!"},
    {17, "Erase::Erase error!"},
    {18, "Erase::Read Verify Sector Ext error!"},
    {19, "Erase::SMART Enable Operation error!"},
    {20, "Erase::Delete Partitions error!"},
    {21, "Erase::Trim command failed!"},
    {22, "Erase::Sanitize Device command is not supported!"},
    {23, "Erase::Sanitize Device Status failed!"},
    {24, "Erase::Sanitize Device Overwrite failed!"},
    {25, "Erase::A Sanitize Device operation is already in progress!"},
    {26, "Erase::Drive 3 reports a sector size that cannot be tested!"},
    {27, "Erase::The size of drive 3 could not be used!"},
    {28, "Erase::Drive 3 does not offer this erase method!"},
    {31, "Erase::Drive 3 reported that its own erase failed!"},
    {32, "Erase::Drive 3 still holds data the erase should have removed!"},
    {33, "Erase::Unknown error!"},
    {1000, "Erase::Unknown error!"},
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << "code " << c.code; }

class MessageTableTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MessageTableTest, EveryCodeHasItsMessage) {
  EXPECT_EQ(formatTestError(GetParam().code, "Erase::", 3), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, MessageTableTest, ::testing::ValuesIn(kMessages));

TEST(MessageTable, NoPrefixLeavesOneBlank) {
  EXPECT_EQ(formatTestError(4, "", 1), " Cannot communicate with drive 1! Check device connection.");
  EXPECT_EQ(formatTestError(16, "", 1), " Unknown error!");
  EXPECT_EQ(formatTestError(12, "", 1), "Too many bad sectors detected.");
}

TEST(MessageTable, PrefixIsTakenLiterally) {
  // The self-test failure prefix carries the drive's own words; a % in it stays a %.
  EXPECT_EQ(formatTestError(6, "Quick Test 100% %s %d: ", 2),
            "Quick Test 100% %s %d: SMART self-test did not complete on drive 2!");
}

// ---------------------------------------------------------------------------------------
// A run on the simulated machine

// One plain ATA drive at physical number 0 with a volume, 200,000 sectors, its self-test
// taking a day on the simulated clock.
std::string machineJson(bool smart, const std::string& capability = "0x5B", const std::string& word133 = "0") {
  const std::string on = smart ? "true" : "false";
  return R"({"drives": [{"number": 0, "transport": "ata",
    "identity": {"model": "VARN TR", "serial": "S1", "firmware": "F1", "sectors": 200000,
                 "smart": )" + on + R"(, "word133": ")" + word133 + R"("},
    "smart": {"enabled": )" + on + R"(,
              "attributes": [{"id": 1, "flags": 11, "value": 100, "worst": 100, "threshold": 16}]},
    "selfTest": {"shortSeconds": 86400},
    "offlineCapability": ")" + capability + R"(", "pollMinutes": {"short": 2}}],
    "volumes": [{"letter": "E", "drive": 0, "start": 2048, "sectors": 100000}]})";
}

class TestRunTest : public ::testing::Test {
 protected:
  void SetUp() override { load(machineJson(true)); }

  void load(const std::string& json) {
    run.reset();
    context.reset();
    platform = std::make_unique<sim::SimPlatform>(sim::loadMachine(json));
    context = std::make_unique<AppContext>(*platform, prompter);
    context->startup().osIsVistaOrLater = 1;
    detectDrives(context->probeEnvironment(), context->driveTable());
    ASSERT_EQ(context->driveTable().driveCount(), 1);
    context->driveTable().selectedDrive = 0;
    start(kTestKindQuick);
  }

  // As the option dialog opens the progress dialog: values set, then the dialog's start.
  void start(int32_t kind) {
    values().testKind = kind;
    values().testState = kTestStateRunning;
    values().testError = kTestErrorNone;
    run = std::make_unique<TestRun>(context->testRunEnvironment(), view, clock);
    run->begin();
    view.clear();
    prompter.clear();
    platform->clearLog();
  }

  TestRunValues& values() { return context->testRun(); }
  size_t reads() const {
    size_t n = 0;
    for (const sim::SimRequest& r : platform->log()) n += r.kind == sim::SimRequest::Kind::Read ? 1 : 0;
    return n;
  }

  RecordingPrompter prompter;
  RecordingRunEvents view;
  ManualClock clock{50'000};
  std::unique_ptr<sim::SimPlatform> platform;
  std::unique_ptr<AppContext> context;
  std::unique_ptr<TestRun> run;
};

TEST_F(TestRunTest, BeginShowsTheKindAndDriveAndHidesTheLaterControls) {
  context->driveTable().records.resize(2);
  context->driveTable().selectedDrive = 1;
  // A run works on the drive selected when it is made.
  run = std::make_unique<TestRun>(context->testRunEnvironment(), view, clock);
  values().stopRequest = 1;
  values().setLastErrorMessage("old");
  run->sectorsPerBlock = 32;
  values().testKind = kTestKindExtended;
  run->begin();

  EXPECT_EQ(view.callsOf(EventCall::Kind::Started).at(0).start, (RunStarted{kTestKindExtended, 2}));
  EXPECT_EQ(values().stopRequest.load(), 0);
  EXPECT_EQ(values().lastErrorMessage(), "");
  EXPECT_EQ(run->sectorsPerBlock, 256);
  EXPECT_TRUE(run->schedule().armedTimers().empty());
}

TEST_F(TestRunTest, TitleOfEveryKindAndOfACorruptedOne) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "PALVORO - QUICK TEST"}, {1, "PALVORO - EXTENDED TEST"}, {2, "PALVORO - ERASE"},
      {3, "PALVORO - VIEW TEST RESULT"}, {4, "PALVORO - "}, {-1, "PALVORO - "}, {1 << 30, "PALVORO - "}};
  for (const auto& [kind, title] : cases) {
    view.clear();
    values().testKind = kind;
    run->begin();
    EXPECT_EQ(runTitleText(view.callsOf(EventCall::Kind::Started).at(0).start.kind), title) << kind;
  }
}

TEST_F(TestRunTest, ShowTestErrorKeepsTheTextAndShowsAStopBox) {
  context->driveTable().selectedDrive = 0;
  run->showTestError(kTestErrorReadSmart, "Quick Test::");
  EXPECT_EQ(prompter.prompts(),
            (std::vector<Prompt>{{"Quick Test::Read SMART Attribute command error on drive 1!",
                                  "PALVORO for Windows", PromptIcon::Stop, PromptButtons::Ok}}));
  EXPECT_EQ(values().lastErrorMessage(), "Quick Test::Read SMART Attribute command error on drive 1!");
}

TEST_F(TestRunTest, CableFailureAndUserStopShowNoBox) {
  values().setLastErrorMessage("Erase::Write sector error!");
  run->showTestError(kTestErrorCable, "Erase::");
  run->showTestError(kTestErrorStopped);
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(values().lastErrorMessage(), "Erase::Write sector error!");
}

TEST_F(TestRunTest, FailedCableTestShowsTheCableTextAndRunsNoTest) {
  platform->drive(0).present = false;  // unplugged after detection

  run->runWorker();

  EXPECT_EQ(view.texts(diagtest::Shown::Status), (Strings{"Running Cable Test...", "Test stopped with error(s)."}));
  EXPECT_EQ(view.texts(diagtest::Shown::Elapsed), Strings{"Cable test failed! Please check the drive's cables/connections."});
  EXPECT_EQ(view.ends().size(), 1u);
  EXPECT_EQ(view.activities(), std::vector<RunActivity>{RunActivity::Failure});
  EXPECT_EQ(view.percents(), (std::vector<int>{1, 0}));
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_EQ(values().testError.load(), kTestErrorCable);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(reads(), 0u);
  // The cable test has said why; the worker adds no box of its own for code 11.
  for (const std::string& text : prompter.texts()) EXPECT_EQ(text.find("Unknown error!"), std::string::npos) << text;

  // Close keeps the failure.
  EXPECT_TRUE(run->onCancel());
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(view.closes(), 1u);
}

TEST_F(TestRunTest, QuickTestStartsTheSelfTestWhenTheDriveOffersIt) {
  run->runWorker();
  EXPECT_EQ(view.texts(diagtest::Shown::Status), (Strings{"Running Cable Test...", "Running Quick SMART Test..."}));
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{kTimerSelfTest});
  EXPECT_EQ(reads(), 0u);
  EXPECT_TRUE(platform->drive(0).ata.units.at(0).selfTest.running);
  EXPECT_FALSE(run->cancelReadsClose());
}

TEST_F(TestRunTest, CancelDuringTheSelfTestAbortsItOnTheDriveAndClosesWithAbort) {
  run->runWorker();
  ASSERT_TRUE(platform->drive(0).ata.units.at(0).selfTest.running);
  EXPECT_FALSE(run->onCancel());  // still running: the request waits for the next tick
  EXPECT_EQ(values().stopRequest.load(), 1);
  run->onTimer(kTimerSelfTest);
  // SMART EXECUTE OFF-LINE IMMEDIATE with sub-command 7Fh reached the drive.
  EXPECT_FALSE(platform->drive(0).ata.units.at(0).selfTest.running);
  EXPECT_EQ(platform->drive(0).ata.units.at(0).selfTest.lastStatus, 0x10);
  EXPECT_EQ(view.texts(diagtest::Shown::Status).back(), "Test suspended!\n");
  EXPECT_EQ(values().testState.load(), kTestStateAbort);
  EXPECT_EQ(values().stopRequest.load(), 0);
  EXPECT_EQ(view.closes(), 1u);
  EXPECT_TRUE(prompter.prompts().empty());
}

TEST_F(TestRunTest, QuickTestScansWhenSelfTestsAreNotTheWay) {
  struct Case {
    const char* name;
    std::string json;
    int32_t smartAvailable;
  };
  const Case cases[] = {
      {"no SMART", machineJson(false), 0},
      {"maker's word 5Eh", machineJson(true, "0x5B", "0x125E"), 1},
      {"no self-test bit", machineJson(true, "0x4B"), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    view.clear();
    load(c.json);
    ASSERT_EQ(context->selectedRecord().smartAvailable, c.smartAvailable);
    run->runWorker();
    const Strings status = view.texts(diagtest::Shown::Status);
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status[1], "Running Quick SMART Test...");
    EXPECT_NE(std::find(status.begin(), status.end(), "Running Quick Media Scan Test..."), status.end());
    EXPECT_FALSE(platform->drive(0).ata.units.at(0).selfTest.running);
    EXPECT_GT(reads(), 0u);
  }
}

TEST_F(TestRunTest, AnyOtherKindIsAnInvalidSelection) {
  for (const int32_t kind : {int32_t{kTestKindViewResult}, int32_t{9}}) {
    SCOPED_TRACE(kind);
    start(kind);
    run->runWorker();
    ASSERT_EQ(prompter.texts().size(), 1u);
    EXPECT_EQ(prompter.prompts()[0].text, "Invalid test selection!");
    EXPECT_EQ(prompter.prompts()[0].caption, "PALVORO for Windows");
    EXPECT_EQ(view.texts(diagtest::Shown::Status), (Strings{"Running Cable Test...", "Test stopped with error(s)."}));
    EXPECT_EQ(reads(), 0u);
    EXPECT_TRUE(run->schedule().armedTimers().empty());
    // Nothing runs that could end the run, so Close must be there to end it.
    EXPECT_TRUE(run->cancelReadsClose());
  }
}

// ---------------------------------------------------------------------------------------
// Cancel and Close

struct CancelCase {
  const char* name;
  bool closeLabel;
  int32_t state;
  int32_t error;
  bool repairing;
  bool closes;
  int32_t stateAfter;
  int32_t stopAfter;
  bool repairBox;
};

const CancelCase kCancelCases[] = {
    {"cancel while running asks the step to stop", false, 4, 0, false, false, 4, 1, false},
    {"cancel after the run closes", false, 0, 0, false, true, 0, 0, false},
    {"cancel after an abort closes", false, 2, 14, false, true, 2, 0, false},
    {"close after a pass keeps it", true, 0, 0, false, true, 0, 0, false},
    {"close after an error fails the run", true, 0, 8, false, true, 1, 0, false},
    {"close during a repair warns first", true, 1, 0, true, true, 1, 0, true},
};

void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

class CancelTest : public TestRunTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, FollowsTheButtonAndTheState) {
  const CancelCase& c = GetParam();
  if (c.closeLabel) run->relabelClose();
  values().testState = c.state;
  values().testError = c.error;
  run->repairInProgress = c.repairing;

  EXPECT_EQ(run->onCancel(), c.closes);
  EXPECT_EQ(view.closes(), c.closes ? 1u : 0u);
  EXPECT_EQ(values().testState.load(), c.stateAfter);
  EXPECT_EQ(values().stopRequest.load(), c.stopAfter);
  EXPECT_TRUE(run->stopRepair.load());
  if (c.repairBox) {
    EXPECT_EQ(prompter.prompts(),
              (std::vector<Prompt>{{"Stop repairing bad sectors!", "Repair", PromptIcon::Warning, PromptButtons::Ok}}));
  } else {
    EXPECT_TRUE(prompter.prompts().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Rules, CancelTest, ::testing::ValuesIn(kCancelCases),
                         testsupport::caseName<CancelCase>);

// ---------------------------------------------------------------------------------------
// The timer handler

// A tick of `timer` with a stop request pending, from the state the run is in.
struct StopCase {
  int timer;
  int32_t state;
  bool closes;  // else the tick goes on and the timer is re-armed
};

const StopCase kStopCases[] = {
    {kTimerSelfTest, 4, true},  {kTimerSecondUnitVerify, 4, true}, {5, 4, true},
    {kTimerMediaScan, 4, false}, {kTimerMediaScan, 2, true},         {kTimerErase, 4, false},
    {kTimerErase, 2, true},      {kTimerSecondUnitErase, 4, false},  {kTimerSecondUnitErase, 2, true},
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << "timer " << c.timer << ", state " << c.state; }

class StopTickTest : public TestRunTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopTickTest, ClosesOrLetsTheLoopStop) {
  const StopCase& c = GetParam();
  start(kTestKindExtended);  // no self-test to abort on the drive: only the bar moves
  values().testState = c.state;
  values().stopRequest = 1;

  run->onTimer(c.timer);

  if (c.closes) {
    EXPECT_EQ(view.closes(), 1u);
    EXPECT_EQ(values().testState.load(), kTestStateAbort);
    EXPECT_TRUE(run->schedule().armedTimers().empty());
    EXPECT_TRUE(view.texts(diagtest::Shown::Elapsed).empty());
    // The self-test timers abort it (the bar goes to 0) and take the request back.
    const bool selfTest = c.timer == kTimerSelfTest || c.timer == kTimerSecondUnitVerify;
    EXPECT_EQ(view.percents(), selfTest ? std::vector<int>{0} : std::vector<int>{});
    EXPECT_EQ(values().stopRequest.load(), c.timer == 5 ? 1 : 0);
  } else {
    EXPECT_TRUE(view.closes() == 0);
    EXPECT_EQ(values().testState.load(), kTestStateRunning);
    EXPECT_EQ(values().stopRequest.load(), 1);
    EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{c.timer});
  }
  EXPECT_EQ(view.ends().size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Timers, StopTickTest, ::testing::ValuesIn(kStopCases),
                         [](const auto& p) {
                           return "Timer" + std::to_string(p.param.timer) + "State" + std::to_string(p.param.state);
                         });

TEST_F(TestRunTest, EachTickTurnsTheActivityAndRearmsUntilTheRunHasEnded) {
  start(kTestKindExtended);
  for (int i = 0; i < 3; ++i) run->onTimer(kTimerSecondUnitVerify);
  EXPECT_EQ(view.activities(), std::vector<RunActivity>(3, RunActivity::Running));
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{kTimerSecondUnitVerify});

  // A tick behind the step's end still shows, but arms nothing again.
  run->relabelClose();
  run->onTimer(kTimerSecondUnitVerify);
  EXPECT_EQ(view.activities().size(), 4u);
  EXPECT_TRUE(run->schedule().armedTimers().empty());
}

TEST_F(TestRunTest, TimerIdsOutsideTheTestTimersAreNotTheRunsToHandle) {
  for (const int id : {0, 8, 1000}) run->onTimer(id);
  EXPECT_TRUE(view.calls().empty());
}

struct ElapsedCase {
  int64_t seconds;
  const char* line;
};

TEST_F(TestRunTest, ElapsedTimeShowsHoursWithinTheDay) {
  const ElapsedCase cases[] = {
      {0, "Elapsed Time: 00:00:00"},      {59, "Elapsed Time: 00:00:59"},
      {3725, "Elapsed Time: 01:02:05"},   {86399, "Elapsed Time: 23:59:59"},
      {86400, "Elapsed Time: 00:00:00"},  {90000, "Elapsed Time: 01:00:00"},
      {3 * 86400 + 45296, "Elapsed Time: 12:34:56"},
  };
  start(kTestKindErase);
  run->startTime = 1'000'000;
  for (const ElapsedCase& c : cases) {
    clock.set(1'000'000 + c.seconds);
    run->onTimer(kTimerSecondUnitErase);
    EXPECT_EQ(view.lastText(diagtest::Shown::Elapsed), c.line) << c.seconds;
  }
}

// The remaining-time estimate: elapsed x (total / done - 1), truncated.
struct EstimateCase {
  const char* name;
  int32_t kind;
  int timer;
  int32_t eraseMode;
  uint64_t first, end, region, current;
  int64_t elapsed;
  const char* line;  // nullptr: no estimate shown
};

const EstimateCase kEstimates[] = {
    // 250 of 1000 done after 100 s: 300 s to go.
    {"ExtendedQuarterDone", 1, kTimerMediaScan, 0, 0, 1000, 0, 250, 100, "Estimated Time Remaining: 00:05:00"},
    // The range of a second unit begins at S: done counts from there.
    {"ExtendedFromS", 1, kTimerMediaScan, 0, 5000, 6000, 0, 5250, 100, "Estimated Time Remaining: 00:05:00"},
    // 7 x (1000 / 300 - 1) = 16.33: truncated.
    {"ExtendedTruncates", 1, kTimerMediaScan, 0, 0, 1000, 0, 300, 7, "Estimated Time Remaining: 00:00:16"},
    // 3600 x (10,000,000 / 100,000 - 1) = 356,400 s = 99 h.
    {"ExtendedHours", 1, kTimerMediaScan, 0, 0, 10'000'000, 0, 100'000, 3600,
     "Estimated Time Remaining: 99:00:00"},
    // Quick form, R = 200,000 of 1,000,000: first region, 100,000 of 400,000 after 60 s.
    {"QuickFirstRegion", 0, kTimerMediaScan, 0, 0, 1'000'000, 200'000, 100'000, 60,
     "Estimated Time Remaining: 00:03:00"},
    // Second region: done = 400,000 - 1,000,000 + 900,000 + 1 = 300,001;
    // 300 x (400,000 / 300,001 - 1) = 99.999: 99 s.
    {"QuickSecondRegion", 0, kTimerMediaScan, 0, 0, 1'000'000, 200'000, 900'000, 300,
     "Estimated Time Remaining: 00:01:39"},
    // Last sector of the first region still counts as the first region.
    {"QuickRegionEdge", 0, kTimerMediaScan, 0, 0, 1'000'000, 200'000, 200'000, 20,
     "Estimated Time Remaining: 00:00:20"},
    // The last block of the first region ends past it, before the second begins: the
    // second region's formula gives a negative amount done, so no estimate.
    {"QuickBetweenRegions", 0, kTimerMediaScan, 0, 0, 1'000'000, 200'000, 200'191, 80, nullptr},
    // Nothing done yet: no division by zero, no estimate.
    {"ExtendedNothingDone", 1, kTimerMediaScan, 0, 0, 1000, 0, 0, 10, nullptr},
    {"QuickNothingDone", 0, kTimerMediaScan, 0, 4000, 1'004'000, 200'000, 4000, 10, nullptr},
    {"EmptyRange", 1, kTimerMediaScan, 0, 0, 0, 0, 0, 10, nullptr},
    // Timer 4: the full erase counts as the extended form, the quick erase by regions.
    {"FullErase", 2, kTimerErase, 1, 0, 1000, 0, 500, 40, "Estimated Time Remaining: 00:00:40"},
    {"QuickErase", 2, kTimerErase, 0, 0, 1'000'000, 200'000, 900'000, 300, "Estimated Time Remaining: 00:01:39"},
    // Timer 2 outside a scan shows none.
    {"Timer2DuringErase", 2, kTimerMediaScan, 1, 0, 1000, 0, 500, 40, nullptr},
    {"OtherTimer", 1, kTimerSecondUnitVerify, 0, 0, 1000, 0, 500, 40, nullptr},
};

void PrintTo(const EstimateCase& c, std::ostream* os) { *os << c.name; }

class EstimateTest : public TestRunTest, public ::testing::WithParamInterface<EstimateCase> {};

TEST_P(EstimateTest, RemainingTime) {
  const EstimateCase& c = GetParam();
  start(c.kind);
  values().eraseMode = c.eraseMode;
  values().regionLength = c.region;
  run->firstSector = c.first;
  run->endSector = c.end;
  run->currentSector = c.current;
  run->startTime = 1'000'000;
  clock.set(1'000'000 + c.elapsed);

  run->onTimer(c.timer);

  EXPECT_EQ(view.texts(diagtest::Shown::Estimate), c.line != nullptr ? Strings{c.line} : Strings{});
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{c.timer});
}

INSTANTIATE_TEST_SUITE_P(Forms, EstimateTest, ::testing::ValuesIn(kEstimates),
                         testsupport::caseName<EstimateCase>);

TEST_F(TestRunTest, SelfTestIsPolledEveryNinthTick) {
  ASSERT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 0);  // runs a day
  platform->clearLog();

  std::vector<int> pollTicks;
  for (int tick = 1; tick <= 27; ++tick) {
    const size_t before = platform->ioctls(SMART_RCV_DRIVE_DATA).size();
    run->onTimer(kTimerSelfTest);
    if (platform->ioctls(SMART_RCV_DRIVE_DATA).size() > before) pollTicks.push_back(tick);
  }
  EXPECT_EQ(pollTicks, (std::vector<int>{9, 18, 27}));
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{kTimerSelfTest});  // every tick re-armed it
}

TEST_F(TestRunTest, TickCounterIsSharedByTheTestTimers) {
  ASSERT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 0);
  platform->clearLog();
  for (int i = 0; i < 8; ++i) run->onTimer(kTimerSecondUnitVerify);
  run->onTimer(kTimerSelfTest);  // the ninth tick of the shared counter
  EXPECT_EQ(platform->ioctls(SMART_RCV_DRIVE_DATA).size(), 1u);
}

TEST_F(TestRunTest, SetProgressKeepsThePositionForThePoll) {
  run->setProgress(40);
  EXPECT_EQ(run->progressPosition(), 40);
  EXPECT_EQ(view.percents(), std::vector<int>{40});
}

// ---------------------------------------------------------------------------------------
// The worker on its own thread

// A quick media scan on a drive without SMART, cancelled half-way: the worker and the
// run's own ticker run on threads of their own while this thread, as a front end's,
// presses Cancel. The run must end ABORT through the tick that follows the loop's stop.
TEST_F(TestRunTest, CancelDuringAScanOnTheWorkerThreadAborts) {
  load(machineJson(false));
  run = std::make_unique<TestRun>(context->testRunEnvironment(), view, clock, std::chrono::milliseconds(1));

  std::mutex mutex;
  std::condition_variable changed;
  bool held = false;
  bool released = false;
  // Hold the worker once the bar passes half-way, until Cancel has been pressed.
  view.onCall = [&](const EventCall& call) {
    if (call.progress.percent.value_or(0) < 50) return;
    std::unique_lock lock(mutex);
    if (held) return;
    held = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  };

  std::thread worker([&] { run->runWorker(); });
  std::thread ticker([&] { run->runTicker([&](int) { clock.advance(1); }); });

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool cancelled = false;
  while (view.closes() == 0 && std::chrono::steady_clock::now() < deadline) {
    if (!cancelled) {
      bool atHalf = false;
      {
        std::lock_guard lock(mutex);
        atHalf = held;
      }
      if (atHalf) {
        EXPECT_FALSE(run->onCancel());
        cancelled = true;
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  run->stopTicker();
  {
    // Never leave the worker waiting, whatever went wrong above.
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  worker.join();
  ticker.join();

  EXPECT_TRUE(cancelled);
  EXPECT_EQ(view.closes(), 1u);
  EXPECT_EQ(values().testState.load(), kTestStateAbort);
  EXPECT_EQ(values().testError.load(), kTestErrorStopped);
  EXPECT_EQ(values().stopRequest.load(), 0);
  EXPECT_FALSE(run->cancelReadsClose());
  EXPECT_LT(view.percents().back(), 100);
  EXPECT_FALSE(view.texts(diagtest::Shown::Elapsed).empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

}  // namespace
}  // namespace palvoro
