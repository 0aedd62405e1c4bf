// The second-unit verify of a dual-unit drive on the simulated machine: SMART enable and
// status on the second unit, READ VERIFY SECTORS EXT chunks over it, the estimate, and
// each failure with its code and message.

#include "diagnostics/second_unit_verify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/scan_test_support.h"
#include "platform/ioctl_codes.h"

namespace palvoro {
namespace {

using Strings = std::vector<std::string>;

// One READ VERIFY SECTORS EXT as the drive received it.
struct Verify {
  uint64_t lba = 0;
  uint32_t count = 0;
  uint8_t unitNibble = 0;  // the previous LBA high byte, which carries the unit
  bool operator==(const Verify&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Verify& v) {
  return out << "{" << v.lba << ", " << v.count << ", " << int(v.unitNibble) << "}";
}

class SecondUnitVerifyTest : public scantest::ScanTest {
 protected:
  // A first unit of 30,000,000 sectors and a second unit of `second` sectors, which lies
  // on unit `secondaryUnit`.
  void loadDualUnit(uint64_t second, uint8_t secondaryUnit, int32_t kind) {
    const uint64_t first = 30'000'000;
    sim::SimMachine machine =
        secondaryUnit == 0 ? scantest::oneDrive(second, first) : scantest::oneDrive(first, second);
    DriveRecord record = scantest::driveRecord(first);
    record.hiddenSectors = second;
    record.primaryUnit = secondaryUnit == 0 ? 2 : 0;
    record.secondaryUnit = secondaryUnit;
    load(std::move(machine), record, kind);
  }

  // The ATA pass-through task files by command byte: offsets 24.. previous, 32.. current.
  std::vector<sim::SimRequest> ataCommands(uint8_t command) const {
    std::vector<sim::SimRequest> out;
    for (const sim::SimRequest& r : platform->ioctls(IOCTL_ATA_PASS_THROUGH)) {
      if (r.input.size() >= 40 && r.input[38] == command) out.push_back(r);
    }
    return out;
  }
  std::vector<Verify> verifies() const {
    std::vector<Verify> out;
    for (const sim::SimRequest& r : ataCommands(0x42)) {
      const uint8_t* prev = r.input.data() + 24;
      const uint8_t* cur = r.input.data() + 32;
      Verify v;
      v.lba = cur[2] | (cur[3] << 8) | (cur[4] << 16) | (uint64_t{prev[2]} << 24);
      v.count = (prev[1] << 8) | cur[1];
      if (v.count == 0) v.count = 65536;
      v.unitNibble = prev[4];
      out.push_back(v);
    }
    return out;
  }
};

TEST_F(SecondUnitVerifyTest, QuickFormOfAFirstLyingUnitChecksItsTwoEnds) {
  loadDualUnit(20'000'000, 0, kTestKindQuick);
  EXPECT_EQ(secondUnitVerify(*run, true), 0);

  std::vector<Verify> expected;
  // 1,000,000 sectors: sixteen chunks of 60,000 and the 40,000 left.
  for (uint64_t lba = 0; lba < 960'000; lba += 60'000) expected.push_back({lba, 60'000, 0});
  expected.push_back({960'000, 40'000, 0});
  // The last 1,000,016 sectors, in the 40,000-sector chunks the first pass ended with.
  for (uint64_t lba = 18'999'984; lba < 19'999'984; lba += 40'000) expected.push_back({lba, 40'000, 0});
  expected.push_back({19'999'984, 16, 0});
  EXPECT_EQ(verifies(), expected);

  // SMART enable and status went to the second unit (device A0h) before any verify.
  const std::vector<sim::SimRequest> smart = ataCommands(0xB0);
  ASSERT_EQ(smart.size(), 2u);
  EXPECT_EQ(smart[0].input[32], 0xD8);
  EXPECT_EQ(smart[1].input[32], 0xDA);
  EXPECT_EQ(smart[0].input[37], 0xA0);
  EXPECT_EQ(smart[1].input[37], 0xA0);

  EXPECT_EQ(view->texts(diagtest::Shown::Estimate), Strings{"Estimated Time: 1 minute(s)"});
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_EQ(view->percents().back(), 43 / 5);
  EXPECT_EQ(platform->openHandleCount(), 0u);
  EXPECT_TRUE(prompter.prompts().empty());
}

TEST_F(SecondUnitVerifyTest, LargeSecondUnitAfterTheFirstIsVerifiedWholeWithAnEightMinuteEstimate) {
  loadDualUnit(70'000'000, 2, kTestKindQuick);
  EXPECT_EQ(secondUnitVerify(*run, true), 0);

  EXPECT_EQ(view->texts(diagtest::Shown::Estimate), Strings{"Estimated Time: 8 minute(s)"});
  const std::vector<Verify> all = verifies();
  ASSERT_EQ(all.size(), 1167u);
  EXPECT_EQ(all.front(), (Verify{0, 60'000, 0x20}));
  EXPECT_EQ(all.back(), (Verify{69'960'000, 40'000, 0x20}));
  // 1,167 chunks over a divisor of 20.
  EXPECT_EQ(view->percents().back(), 58);
  EXPECT_EQ(ataCommands(0xB0).at(0).input[37], 0xA2);
}

// Cancel during the verify, then the tick of timer 6 that closes the dialog as ABORT and
// clears the request. The worker must stop there: no further chunk, no self-test, no
// media scan, nothing sent to the drive after the abort but the closing of its handles.
class VerifyCancelTest : public SecondUnitVerifyTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(VerifyCancelTest, EndsTheRunAsAbortWithNothingSentAfterTheAbort) {
  loadDualUnit(20'000'000, 2, GetParam());
  size_t logAtClose = 0;
  bool cancelled = false;
  view->onCall = [&](const diagtest::EventCall& c) {
    if (cancelled || !c.progress.percent || verifies().empty()) return;
    cancelled = true;
    EXPECT_FALSE(run->onCancel());
    run->onTimer(kTimerSecondUnitVerify);
    logAtClose = platform->log().size();
  };
  run->runWorker();

  ASSERT_TRUE(cancelled);
  EXPECT_EQ(values().testState.load(), kTestStateAbort);
  EXPECT_EQ(values().testError.load(), kTestErrorStopped);
  EXPECT_EQ(view->closes(), 1u);
  EXPECT_EQ(verifies().size(), 1u);
  EXPECT_FALSE(platform->drive(0).ata.units.at(0).selfTest.running);
  const std::vector<sim::SimRequest> log = platform->log();
  for (size_t i = logAtClose; i < log.size(); ++i) {
    EXPECT_EQ(log[i].kind, sim::SimRequest::Kind::Close) << "request " << i << " after the abort";
  }
  EXPECT_TRUE(transfers().empty());
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, VerifyCancelTest, ::testing::Values(kTestKindQuick, kTestKindExtended),
                         [](const ::testing::TestParamInfo<int32_t>& p) {
                           return p.param == kTestKindQuick ? "Quick" : "Extended";
                         });

struct VerifyFailure {
  const char* name;
  sim::SimFault fault;
  int code;
  const char* message;
  size_t verifies;
};

sim::SimFault ataFault(uint8_t command, uint8_t features, int skip) {
  sim::SimFault f;
  f.kind = sim::SimFault::Kind::AtaError;
  f.command = command;
  if (features != 0) f.features = features;
  f.skip = skip;
  return f;
}

class VerifyFailureTest : public SecondUnitVerifyTest, public ::testing::WithParamInterface<VerifyFailure> {};

TEST_P(VerifyFailureTest, EndsTheRunWithItsCode) {
  loadDualUnit(20'000'000, 2, kTestKindExtended);
  platform->injectFault(GetParam().fault);
  EXPECT_EQ(secondUnitVerify(*run, false), GetParam().code);

  EXPECT_EQ(values().testError.load(), GetParam().code);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(prompter.texts(), Strings{GetParam().message});
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Test stopped with error(s).");
  EXPECT_EQ(verifies().size(), GetParam().verifies);
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, VerifyFailureTest,
    ::testing::Values(
        VerifyFailure{"SmartEnableRefused", ataFault(0xB0, 0xD8, 0), 19, "Extended Test::SMART Enable Operation error!", 0},
        VerifyFailure{"StatusFailed", ataFault(0xB0, 0xDA, 0), 1, "Extended Test::SMART Return Status error!", 0},
        VerifyFailure{"ThirdChunkFails", ataFault(0x42, 0, 2), 18, "Extended Test::Read Verify Sector Ext error!", 3}),
    [](const ::testing::TestParamInfo<VerifyFailure>& p) { return std::string(p.param.name); });

TEST_F(SecondUnitVerifyTest, ThresholdExceededOnTheSecondUnitIsCode1) {
  loadDualUnit(20'000'000, 2, kTestKindQuick);
  platform->drive(0).ata.units.at(2).smart.reportExceeded = true;
  EXPECT_EQ(secondUnitVerify(*run, true), kTestErrorSmartStatus);
  EXPECT_EQ(prompter.texts(), Strings{"Quick Test::SMART Return Status error!"});
  EXPECT_TRUE(verifies().empty());
}

TEST_F(SecondUnitVerifyTest, DriveThatDoesNotOpenIsCode4) {
  loadDualUnit(20'000'000, 2, kTestKindQuick);
  platform->drive(0).present = false;
  EXPECT_EQ(secondUnitVerify(*run, true), kTestErrorNoDrive);
  // The locking open says so, then the failure finisher.
  EXPECT_EQ(prompter.texts(), (Strings{"Quick Test::Cannot communicate with drive 1! Check device connection.",
                                       "Quick Test::Cannot communicate with drive 1! Check device connection."}));
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_EQ(values().testState.load(), kTestStateFail);
}

}  // namespace
}  // namespace palvoro
