// The quick test against the simulated machine: the drive runs its self-test on the
// simulator's clock, and the probe, start, poll and abort are judged by what the drive
// received and what the dialog and the message boxes showed.

#include "diagnostics/quick_test.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "discovery/detection.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using diagtest::ManualClock;
using diagtest::RecordingRunEvents;
using diagtest::RecordingPrompter;

// One drive at physical number 2, so it is table entry 0: messages name "drive 1".
std::string machine(const std::string& transport) {
  return R"({"drives": [{"number": 2, "transport": ")" + transport + R"(",
    "identity": {"model": "VARN QT", "serial": "S1", "firmware": "F1", "sectors": 100000},
    "smart": {"attributes": [{"id": 1, "flags": 11, "value": 100, "worst": 100, "threshold": 16}]},
    "selfTest": {"shortSeconds": 100, "conveyanceSeconds": 300},
    "offlineCapability": "0x5B", "pollMinutes": {"short": 2, "conveyance": 7}}]})";
}

constexpr int kDrive = 2;

class QuickTestTest : public ::testing::Test {
 protected:
  void SetUp() override { load("ata"); }

  void load(const std::string& transport) {
    run.reset();
    context.reset();
    platform = std::make_unique<sim::SimPlatform>(sim::loadMachine(machine(transport)));
    context = std::make_unique<AppContext>(*platform, prompter);
    detectDrives(context->probeEnvironment(), context->driveTable());
    ASSERT_EQ(context->driveTable().driveCount(), 1);
    context->driveTable().selectedDrive = 0;
    ASSERT_EQ(record().smartAvailable, 1);
    context->testRun().testKind = kTestKindQuick;
    context->testRun().testState = kTestStateRunning;
    run = std::make_unique<TestRun>(context->testRunEnvironment(), view, clock);
    platform->clearLog();
  }

  DriveRecord& record() { return context->selectedRecord(); }
  sim::SimUnit& unit() { return platform->drive(kDrive).ata.units.at(0); }
  TestRunValues& values() { return context->testRun(); }
  void runFor(int seconds) { platform->advanceClock(static_cast<uint64_t>(seconds) * 1000); }

  // Every EXECUTE OFF-LINE IMMEDIATE the SMART driver carried: its subcommand (LBA low),
  // in the order sent. SENDCMDINPARAMS holds features at byte 4, LBA low at 6, command at 10.
  std::vector<int> subcommandsSent() const {
    std::vector<int> out;
    for (const sim::SimRequest& r : platform->ioctls(SMART_SEND_DRIVE_COMMAND)) {
      if (r.input.size() > 10 && r.input[10] == 0xB0 && r.input[4] == 0xD4) out.push_back(r.input[6]);
    }
    return out;
  }

  // The drive refuses EXECUTE OFF-LINE IMMEDIATE `times` times (-1 always).
  void refuseSelfTests(int times) {
    sim::SimFault f;
    f.kind = sim::SimFault::Kind::AtaError;
    f.drive = kDrive;
    f.command = 0xB0;
    f.features = 0xD4;
    f.remaining = times;
    platform->injectFault(f);
  }
  // The drive is gone before it is opened again.
  void unplug() { platform->drive(kDrive).present = false; }
  // The drive disappears at its next command: it still opens, but answers nothing more.
  void vanishAtNextCommand() {
    sim::SimFault f;
    f.kind = sim::SimFault::Kind::Vanish;
    f.drive = kDrive;
    platform->injectFault(f);
  }

  // The run ended failed with `code` and this message box; the bar went back to 0
  // unless `barReset` is false (a poll that cannot open the drive leaves it).
  void expectFailed(int code, const std::string& message, bool barReset = true) {
    EXPECT_EQ(values().testError.load(), code);
    EXPECT_EQ(values().testState.load(), kTestStateFail);
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{message});
    EXPECT_EQ(view.lastText(diagtest::Shown::Status), "Test stopped with error(s).");
    EXPECT_EQ(view.activities().back(), RunActivity::Failure);
    EXPECT_EQ(view.percents(), barReset ? std::vector<int>{0} : std::vector<int>{});
    EXPECT_TRUE(run->cancelReadsClose());
    EXPECT_EQ(platform->openHandleCount(), 0u);
  }

  RecordingPrompter prompter;
  RecordingRunEvents view;
  ManualClock clock;
  std::unique_ptr<sim::SimPlatform> platform;
  std::unique_ptr<AppContext> context;
  std::unique_ptr<TestRun> run;
};

TEST_F(QuickTestTest, ProbeReturnsTheCapabilityByteAndStartsNothing) {
  clock.set(5000);
  EXPECT_EQ(quickTestProbeAndStart(*run, kSelfTestProbeOnly), 0x5B);
  EXPECT_EQ(run->startTime.load(), 5000);
  EXPECT_EQ(run->driveNumber.load(), kDrive);
  EXPECT_TRUE(subcommandsSent().empty());
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_FALSE(run->cancelReadsClose());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

TEST_F(QuickTestTest, ProbeOfUnreadableSmartDataReturnsZero) {
  unit().smart.enabled = false;  // SMART READ DATA is aborted
  EXPECT_EQ(quickTestProbeAndStart(*run, kSelfTestProbeOnly), 0);
  EXPECT_TRUE(prompter.texts().empty());
  EXPECT_FALSE(run->cancelReadsClose());
}

TEST_F(QuickTestTest, ProbeOfADriveThatDoesNotOpenEndsTheRun) {
  unplug();
  EXPECT_EQ(quickTestProbeAndStart(*run, kSelfTestProbeOnly), 4);
  expectFailed(4, " Cannot communicate with drive 1! Check device connection.");
}

TEST_F(QuickTestTest, ConveyanceSelfTestIsPreferredWhenOffered) {
  unit().offlineCapability = 0x7B;
  EXPECT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 0);
  EXPECT_EQ(subcommandsSent(), std::vector<int>{3});
  EXPECT_EQ(view.lastText(diagtest::Shown::Estimate), "Estimated Time: 7 minute(s)");
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{kTimerSelfTest});
  EXPECT_TRUE(unit().selfTest.running);
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

TEST_F(QuickTestTest, RefusedConveyanceSelfTestFallsBackToTheShortOne) {
  unit().offlineCapability = 0x7B;
  refuseSelfTests(1);
  EXPECT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 0);
  EXPECT_EQ(subcommandsSent(), (std::vector<int>{3, 1}));
  EXPECT_EQ(view.lastText(diagtest::Shown::Estimate), "Estimated Time: 2 minute(s)");
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{kTimerSelfTest});
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(QuickTestTest, RefusedShortSelfTestEndsWithCode7) {
  refuseSelfTests(-1);
  EXPECT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 7);
  EXPECT_EQ(subcommandsSent(), std::vector<int>{1});
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  expectFailed(7, " SMART Offline Immediate command error on drive 1!");
}

TEST_F(QuickTestTest, StartWithUnreadableSmartDataEndsWithCode3) {
  unit().smart.enabled = false;
  EXPECT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 3);
  EXPECT_TRUE(subcommandsSent().empty());
  expectFailed(3, " Read SMART Attribute command error on drive 1!");
}

// The bar follows the drive's tenths, then the run passes; over the SMART driver and
// over a USB bridge's SAT carrier alike.
class QuickTestTransportTest : public QuickTestTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(QuickTestTransportTest, BarFollowsTheSelfTestUntilItPasses) {
  load(GetParam());
  ASSERT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 0);

  runFor(70);  // 30 of 100 seconds to go: status F3h
  quickTestPoll(*run);
  EXPECT_EQ(view.percents().back(), 70);
  EXPECT_FALSE(run->cancelReadsClose());
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{kTimerSelfTest});

  runFor(30);
  quickTestPoll(*run);
  EXPECT_EQ(view.percents().back(), 100);
  EXPECT_EQ(view.lastText(diagtest::Shown::Status), "Test completed successfully.");
  EXPECT_EQ(view.activities().back(), RunActivity::Success);
  EXPECT_EQ(values().testState.load(), kTestStatePass);
  EXPECT_EQ(values().testError.load(), 0);
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_TRUE(run->cancelReadsClose());
  EXPECT_TRUE(prompter.texts().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Transports, QuickTestTransportTest, ::testing::Values("ata", "usb-sat"));

struct FailedCase {
  uint8_t result;      // execution status the drive ends with
  uint8_t checkpoint;  // byte 371 it then reports
  const char* message;
};

TEST_F(QuickTestTest, SelfTestEndingInFailureEndsWithCode6) {
  const FailedCase cases[] = {
      {1, 0x44,
       "Quick Test on drive 1 did not complete!\nStatus code = 01 (Aborted by host), Failure Checkpoint = 00 "
       "(Unknown Test)\nSMART self-test did not complete on drive 1!"},
      {3, 0x3F,
       "Quick Test on drive 1 did not complete!\nStatus code = 03 (Fatal or unknown error), Failure Checkpoint = "
       "63 (Unknown Test)\nSMART self-test did not complete on drive 1!"},
      {7, 0x46,
       "Quick Test on drive 1 did not complete!\nStatus code = 07 (Failed read test element), Failure Checkpoint = "
       "70 (Scan Test - Quick)\nSMART self-test did not complete on drive 1!"},
  };
  for (const FailedCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.result));
    SetUp();
    prompter.clear();
    view.clear();
    unit().selfTest.result = c.result;
    unit().selfTest.checkpoint = c.checkpoint;
    ASSERT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 0);
    runFor(100);
    quickTestPoll(*run);
    expectFailed(6, c.message);
    EXPECT_TRUE(run->schedule().armedTimers().empty());
  }
}

// Driven through the timer as the dialog drives it: the ninth tick polls, the run ends,
// and timer 1 is not armed again.
TEST_F(QuickTestTest, DriveVanishingDuringTheSelfTestEndsTheRunAtTheNextPoll) {
  struct Case {
    bool unplugged;  // gone before the poll opens it, or gone at the poll's read
    int code;
    const char* message;
    bool barReset;
  };
  const Case cases[] = {
      {true, 4, " Cannot communicate with drive 1! Check device connection.", false},
      {false, 3, " Read SMART Attribute command error on drive 1!", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    SetUp();
    prompter.clear();
    view.clear();
    record().hiddenSectors = 8;  // a dual-unit drive: its verify timer goes too
    ASSERT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 0);
    run->schedule().arm(kTimerSecondUnitVerify);
    for (int tick = 1; tick <= 8; ++tick) run->onTimer(kTimerSelfTest);
    EXPECT_EQ(run->schedule().armedTimers(), (std::vector<int>{kTimerSelfTest, kTimerSecondUnitVerify}));
    c.unplugged ? unplug() : vanishAtNextCommand();
    run->onTimer(kTimerSelfTest);
    expectFailed(c.code, c.message, c.barReset);
    EXPECT_TRUE(run->schedule().armedTimers().empty());
  }
}

TEST_F(QuickTestTest, AbortStopsTheSelfTestOnTheDrive) {
  ASSERT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 0);
  runFor(20);
  quickTestPoll(*run);
  quickTestAbort(*run);
  EXPECT_EQ(subcommandsSent(), (std::vector<int>{1, 0x7F}));
  EXPECT_EQ(view.lastText(diagtest::Shown::Status), "Test suspended!\n");
  EXPECT_EQ(view.percents().back(), 0);
  EXPECT_FALSE(unit().selfTest.running);
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

TEST_F(QuickTestTest, RefusedAbortSaysSo) {
  ASSERT_EQ(quickTestProbeAndStart(*run, kSelfTestShort), 0);
  refuseSelfTests(-1);
  quickTestAbort(*run);
  EXPECT_EQ(view.lastText(diagtest::Shown::Status), "Failed to stop test!\n");
  EXPECT_TRUE(unit().selfTest.running);
}

TEST_F(QuickTestTest, AbortSendsNothingWhenNoSelfTestCanRun) {
  record().smartAvailable = 0;
  quickTestAbort(*run);
  values().testKind = kTestKindExtended;  // not the RAID enclosure
  record().smartAvailable = 1;
  quickTestAbort(*run);
  EXPECT_TRUE(subcommandsSent().empty());
  EXPECT_TRUE(view.texts(diagtest::Shown::Status).empty());
  EXPECT_EQ(view.percents(), (std::vector<int>{0, 0}));
}

TEST(SelfTestWords, NeverReadOutsideTheirTables) {
  EXPECT_STREQ(selfTestStatusWord(1), "Aborted by host");
  EXPECT_STREQ(selfTestStatusWord(8), "Failed test element damaged by handling");
  EXPECT_STREQ(selfTestStatusWord(9), "Unknown");
  EXPECT_STREQ(selfTestStatusWord(14), "Unknown");
  EXPECT_STREQ(selfTestStatusWord(15), "Test in progress");
  EXPECT_STREQ(selfTestStatusWord(16), "Unknown");
  EXPECT_STREQ(selfTestStatusWord(-1), "Unknown");
  EXPECT_STREQ(selfTestCheckpointWord(0x3F), "Unknown Test");
  EXPECT_STREQ(selfTestCheckpointWord(0x40), "SMART Attribute Test");
  EXPECT_STREQ(selfTestCheckpointWord(0x47), "Scan Test - Extended");
  EXPECT_STREQ(selfTestCheckpointWord(0x48), "SMART Attribute Test");
  EXPECT_STREQ(selfTestCheckpointWord(0x49), "Unknown Test");
  EXPECT_STREQ(selfTestCheckpointWord(-200), "Unknown Test");
}

}  // namespace
}  // namespace palvoro
