// The quick test of an NVMe drive against the simulated controller: its short Device
// Self-test followed through the self-test log on the simulator's clock, what a failed
// test says, Cancel, and the quick scan of a controller without self-test.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "diagnostics/quick_test.h"
#include "device/scsi_transport.h"
#include "discovery/detection.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_platform.h"
#include "smart/drive_logs.h"

namespace palvoro {
namespace {

using diagtest::ManualClock;
using diagtest::RecordingRunEvents;
using diagtest::RecordingPrompter;

constexpr int kDrive = 3;

std::string machine(bool selfTest) {
  return std::string(R"({"drives": [{"number": 3, "transport": "nvme",
    "identity": {"model": "Sabik NV2", "serial": "SBK01", "firmware": "2.1", "sectors": 200000},
    "nvme": {"selfTest": {"supported": )") +
         (selfTest ? "true" : "false") + R"(, "shortSeconds": 100}}}]})";
}

class NvmeQuickTestTest : public ::testing::Test {
 protected:
  void SetUp() override { load(true); }

  void load(bool selfTest) {
    run.reset();
    context.reset();
    prompter.clear();
    view.clear();
    platform = std::make_unique<sim::SimPlatform>(sim::loadMachine(machine(selfTest)));
    context = std::make_unique<AppContext>(*platform, prompter);
    detectDrives(context->probeEnvironment(), context->driveTable());
    ASSERT_EQ(context->driveTable().driveCount(), 1);
    context->driveTable().selectedDrive = 0;
    ASSERT_EQ(context->selectedRecord().driveClass, kDriveClassNvme);
    context->testRun().testKind = kTestKindQuick;
    context->testRun().testState = kTestStateRunning;
    run = std::make_unique<TestRun>(context->testRunEnvironment(), view, clock);
    platform->clearLog();
  }

  sim::SimNvme& nvme() { return *platform->drive(kDrive).nvme; }
  TestRunValues& values() { return context->testRun(); }
  void runFor(int seconds) { platform->advanceClock(static_cast<uint64_t>(seconds) * 1000); }

  // The self-test codes (CDW10) of every protocol command sent, in order.
  std::vector<uint32_t> codesSent() const {
    std::vector<uint32_t> out;
    for (const sim::SimRequest& r : platform->ioctls(IOCTL_STORAGE_PROTOCOL_COMMAND)) {
      if (r.input.size() >= 124 && r.input[80] == 0x14) out.push_back(r.input[120]);
    }
    return out;
  }

  void expectFailed(int code, const std::string& message) {
    EXPECT_EQ(values().testError.load(), code);
    EXPECT_EQ(values().testState.load(), kTestStateFail);
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{message});
    EXPECT_EQ(view.lastText(diagtest::Shown::Status), "Test stopped with error(s).");
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

TEST_F(NvmeQuickTestTest, ShortSelfTestRunsAndTheBarFollowsTheLogUntilItPasses) {
  ASSERT_EQ(nvmeQuickTestStart(*run), NvmeQuickStart::Started);
  EXPECT_EQ(codesSent(), std::vector<uint32_t>{1});
  EXPECT_EQ(view.lastText(diagtest::Shown::Estimate), "Estimated Time: 2 minute(s)");
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{kTimerSelfTest});
  EXPECT_EQ(platform->openHandleCount(), 0u);

  // Driven as the dialog drives it: every ninth tick of timer 1 reads the log.
  runFor(40);
  for (int tick = 1; tick <= 9; ++tick) run->onTimer(kTimerSelfTest);
  EXPECT_EQ(view.percents().back(), 40);
  EXPECT_FALSE(run->cancelReadsClose());

  runFor(60);
  quickTestPoll(*run);
  EXPECT_EQ(view.percents().back(), 100);
  EXPECT_EQ(view.lastText(diagtest::Shown::Status), "Test completed successfully.");
  EXPECT_EQ(values().testState.load(), kTestStatePass);
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_TRUE(run->cancelReadsClose());
  EXPECT_TRUE(prompter.texts().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

TEST_F(NvmeQuickTestTest, AFailedSelfTestNamesItsResultAndSegment) {
  const struct {
    int result, segment;
    bool lba;
    const char* message;
  } cases[] = {
      {5, 0, false,
       "Quick Test on drive 1 did not complete!\nStatus code = 05 (Fatal or unknown test error), Failed Segment = 0 "
       "(Unknown Segment)\nSMART self-test did not complete on drive 1!"},
      {7, 4, true,
       "Quick Test on drive 1 did not complete!\nStatus code = 07 (Completed with one or more failed segments), "
       "Failed Segment = 4 (Media Check)\nFailing LBA = 123456\nSMART self-test did not complete on drive 1!"},
      {9, 0, false,
       "Quick Test on drive 1 did not complete!\nStatus code = 09 (Aborted due to a sanitize operation), Failed "
       "Segment = 0 (Unknown Segment)\nSMART self-test did not complete on drive 1!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    load(true);
    nvme().selfTest.result = static_cast<uint8_t>(c.result);
    nvme().selfTest.segment = static_cast<uint8_t>(c.segment);
    if (c.lba) nvme().selfTest.failingLba = 123456;
    ASSERT_EQ(nvmeQuickTestStart(*run), NvmeQuickStart::Started);
    runFor(100);
    quickTestPoll(*run);
    expectFailed(6, c.message);
    EXPECT_EQ(view.percents().back(), 0);
  }
}

TEST_F(NvmeQuickTestTest, StartThatCannotGoAheadEndsTheRun) {
  const struct {
    const char* name;
    void (*arrange)(sim::SimPlatform&);
    int code;
    const char* message;
  } cases[] = {
      {"drive gone", [](sim::SimPlatform& p) { p.drive(kDrive).present = false; }, 4,
       " Cannot communicate with drive 1! Check device connection."},
      {"identify unreadable",
       [](sim::SimPlatform& p) {
         sim::SimFault f;
         f.drive = kDrive;
         f.ioctl = IOCTL_STORAGE_QUERY_PROPERTY;
         p.injectFault(f);
       },
       3, " Read SMART Attribute command error on drive 1!"},
      {"controller refuses",
       [](sim::SimPlatform& p) {
         sim::SimFault f;
         f.kind = sim::SimFault::Kind::NvmeStatus;
         f.drive = kDrive;
         f.ioctl = IOCTL_STORAGE_PROTOCOL_COMMAND;
         f.nvmeStatus = 0x0006;
         p.injectFault(f);
       },
       7, " SMART Offline Immediate command error on drive 1!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load(true);
    c.arrange(*platform);
    EXPECT_EQ(nvmeQuickTestStart(*run), NvmeQuickStart::Failed);
    expectFailed(c.code, c.message);
    EXPECT_TRUE(run->schedule().armedTimers().empty());
  }
}

TEST_F(NvmeQuickTestTest, CancelAbortsTheSelfTestOnTheController) {
  ASSERT_EQ(nvmeQuickTestStart(*run), NvmeQuickStart::Started);
  runFor(20);
  values().stopRequest = 1;
  run->onTimer(kTimerSelfTest);
  EXPECT_EQ(codesSent(), (std::vector<uint32_t>{1, 0xF}));
  EXPECT_EQ(view.texts(diagtest::Shown::Status).back(), "Test suspended!\n");
  EXPECT_FALSE(nvme().selfTest.running);
  ASSERT_FALSE(nvme().selfTest.log.empty());
  EXPECT_EQ(nvme().selfTest.log.front().result, 1);
  EXPECT_EQ(values().testState.load(), kTestStateAbort);
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

TEST_F(NvmeQuickTestTest, ControllerWithoutSelfTestGetsTheQuickScanAndSaysWhy) {
  load(false);
  run->runWorker();
  EXPECT_TRUE(codesSent().empty());
  const auto statuses = view.texts(diagtest::Shown::Status);
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), kNvmeNoSelfTestStatus), statuses.end());
  EXPECT_EQ(values().testState.load(), kTestStatePass);
  EXPECT_FALSE(platform->log().empty());
  size_t reads = 0;
  for (const sim::SimRequest& r : platform->log()) reads += r.kind == sim::SimRequest::Kind::Read;
  EXPECT_GT(reads, 0u);
}

// Detection, the drive's logs and a quick test read every log the program reads of a
// controller; each read must keep the controller's pending asynchronous events.
TEST_F(NvmeQuickTestTest, EveryLogReadRetainsTheControllersAsynchronousEvents) {
  ASSERT_EQ(detectDrives(context->probeEnvironment(), context->driveTable()), 1);
  context->driveTable().selectedDrive = 0;
  // Detection made the table anew: the run is made again on its record.
  run = std::make_unique<TestRun>(context->testRunEnvironment(), view, clock);
  const DriveLogs logs = readDriveLogs(*platform, context->selectedRecord(), false, kRaidMemberA);
  EXPECT_TRUE(logs.nvmeErrors && logs.nvmeSelfTests && logs.powerOnHours);
  ASSERT_EQ(nvmeQuickTestStart(*run), NvmeQuickStart::Started);
  runFor(100);
  quickTestPoll(*run);
  EXPECT_EQ(values().testState.load(), kTestStatePass);

  const auto dword = [](const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (b[at + 3] << 24));
  };
  std::set<uint32_t> logsRead;
  for (const sim::SimRequest& r : platform->ioctls(IOCTL_STORAGE_QUERY_PROPERTY)) {
    if (r.input.size() < 48 || dword(r.input, 12) != 2) continue;  // protocol data type 2: a log page
    logsRead.insert(dword(r.input, 16));
    EXPECT_TRUE(r.ok) << "log " << dword(r.input, 16);
    EXPECT_EQ(dword(r.input, 44), 1u) << "log " << dword(r.input, 16) << ": retain asynchronous events, no LSP";
  }
  EXPECT_EQ(logsRead, (std::set<uint32_t>{0x01, 0x02, 0x06}));
}

TEST(NvmeSelfTestWords, NeverReadOutsideTheirTables) {
  EXPECT_STREQ(nvmeSelfTestResultWord(0), "Completed without error");
  EXPECT_STREQ(nvmeSelfTestResultWord(9), "Aborted due to a sanitize operation");
  EXPECT_STREQ(nvmeSelfTestResultWord(10), "Unknown");
  EXPECT_STREQ(nvmeSelfTestResultWord(-1), "Unknown");
  EXPECT_STREQ(nvmeSelfTestSegmentWord(1), "RAM Check");
  EXPECT_STREQ(nvmeSelfTestSegmentWord(6), "SMART / Health Check");
  EXPECT_STREQ(nvmeSelfTestSegmentWord(0), "Unknown Segment");
  EXPECT_STREQ(nvmeSelfTestSegmentWord(7), "Unknown Segment");
}

}  // namespace
}  // namespace palvoro
