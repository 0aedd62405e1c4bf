// The bad-sector repair on the simulated machine: what is written where (from the
// write log), whether the sectors read again (from the media), the confirmation, the
// outcomes and the stop.

#include "diagnostics/repair.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "diagnostics/scan_test_support.h"

namespace palvoro {
namespace {

using diagtest::Prompt;
using scantest::Transfer;
using Strings = std::vector<std::string>;

constexpr auto kWrite = sim::SimRequest::Kind::Write;
constexpr const char* kContact = "Please contact VH technical support for help";

class RepairTest : public scantest::ScanTest {
 protected:
  // A drive of 10,000 sectors of `sectorSize` bytes after a scan that found `bad`
  // unreadable: the list as the scan leaves it, TestError 8, Cancel reading "Close".
  void loadScanned(const std::vector<uint64_t>& bad, uint32_t sectorSize = 512) {
    sim::SimMachine machine = scantest::oneDrive(10'000);
    machine.drives[0].ata.units[0].media = sim::SimMedia(10'000, sectorSize);
    DriveRecord record = scantest::driveRecord(10'000);
    record.sectorSize = static_cast<int32_t>(sectorSize);
    load(std::move(machine), record, kTestKindExtended);
    for (size_t k = 0; k < bad.size(); ++k) {
      media().markUnreadable(bad[k]);
      run->badSectors[k] = BadSector{bad[k], 23};
    }
    values().badSectorCount = bad.size();
    values().testError = kTestErrorRead;
    run->relabelClose();
    view->clear();
  }
  // Every write as the drive saw it, in bytes.
  std::vector<Transfer> writtenBytes() const {
    std::vector<Transfer> out;
    for (const sim::SimRequest& r : platform->log()) {
      if (r.kind == kWrite) out.push_back({r.position, r.outSize});
    }
    return out;
  }
};

TEST_F(RepairTest, ThreeSectorsRewrittenAndReadBackPass) {
  loadScanned({100, 5000, 9999});
  prompter.script({PromptAnswer::Ok});

  EXPECT_TRUE(repairButton(*run));

  EXPECT_EQ(prompter.prompts(),
            (std::vector<Prompt>{{"Data stored in the bad sectors will be lost. It's recommended that you backup the "
                                  "drive before proceeding with the Repair function.\n     ",
                                  "REPAIR", PromptIcon::Warning, PromptButtons::OkCancel, PromptAnswer::Cancel,
                                  PromptPurpose::destroysDataOn(0)}}));
  EXPECT_EQ(view->repairOffers(), std::vector<bool>{false});
  EXPECT_EQ(writtenBytes(), (std::vector<Transfer>{{100 * 512, 512}, {5000 * 512, 512}, {9999 * 512, 512}}));
  EXPECT_TRUE(media().unreadable().empty());
  EXPECT_EQ(view->percents(), (std::vector<int>{0, 33, 66, 100}));
  EXPECT_EQ(view->texts(diagtest::Shown::Status), (Strings{"Repairing bad sectors...", "Bad sectors were repaired successfully."}));
  EXPECT_EQ(view->activities(), (std::vector<RunActivity>{RunActivity::Running, RunActivity::Success}));
  EXPECT_EQ(values().testState.load(), kTestStatePass);
  EXPECT_EQ(values().testError.load(), kTestErrorNone);
  EXPECT_FALSE(run->repairInProgress.load());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

TEST_F(RepairTest, CancelInTheConfirmationWritesNothing) {
  loadScanned({100});
  prompter.script({PromptAnswer::Cancel});
  EXPECT_FALSE(repairButton(*run));
  EXPECT_TRUE(writtenBytes().empty());
  EXPECT_TRUE(view->repairOffers().empty());
  EXPECT_TRUE(media().isUnreadable(100));
}

TEST_F(RepairTest, WholeSectorOfA4096ByteDriveIsWrittenAndReadsBack) {
  loadScanned({7}, 4096);
  repairRun(*run);
  EXPECT_EQ(writtenBytes(), (std::vector<Transfer>{{7 * 4096, 4096}}));
  EXPECT_FALSE(media().isUnreadable(7));
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Bad sectors were repaired successfully.");
  EXPECT_EQ(values().testState.load(), kTestStatePass);
}

TEST_F(RepairTest, LastSectorStillUnreadableGivesCode13) {
  loadScanned({100, 200, 300});
  // The drive accepts every write, but the third read-back fails.
  sim::SimFault fault;
  fault.onRead = true;
  fault.skip = 2;
  platform->injectFault(fault);

  repairRun(*run);

  EXPECT_EQ(writtenBytes().size(), 3u);
  EXPECT_EQ(prompter.prompts(), (std::vector<Prompt>{{"Unable to repair bad sectors.", "PALVORO for Windows",
                                                      PromptIcon::Stop, PromptButtons::Ok}}));
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Unable to repair bad sectors.");
  EXPECT_EQ(view->lastText(diagtest::Shown::Elapsed), kContact);
  EXPECT_EQ(view->activities().back(), RunActivity::Failure);
  EXPECT_EQ(values().testError.load(), kTestErrorRepairFailed);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(values().lastErrorMessage(), "Unable to repair bad sectors.");
}

TEST_F(RepairTest, MoreThan200BadSectorsAreTooMany) {
  loadScanned({100});
  values().badSectorCount = 201;

  repairRun(*run);

  EXPECT_TRUE(writtenBytes().empty());
  EXPECT_EQ(prompter.texts(), Strings{"Too many bad sectors detected."});
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Too many bad sectors detected.");
  EXPECT_EQ(view->lastText(diagtest::Shown::Elapsed), kContact);
  EXPECT_EQ(values().testError.load(), kTestErrorTooManyBadSectors);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
}

// The user presses the button (now "Close") while the read-back dispatches messages.
class CancellingView : public diagtest::RecordingRunEvents {
 public:
  void keepResponsive() override {
    RecordingRunEvents::keepResponsive();
    if (run != nullptr && closes() == 0) run->onCancel();
  }
  TestRun* run = nullptr;
};

TEST_F(RepairTest, CancelDuringRepairStopsWithoutMessageOrSuccess) {
  auto cancelling = std::make_unique<CancellingView>();
  CancellingView* cancel = cancelling.get();
  view = std::move(cancelling);
  loadScanned({100, 200, 300});
  cancel->run = run.get();

  repairRun(*run);

  EXPECT_EQ(writtenBytes(), (std::vector<Transfer>{{100 * 512, 512}}));
  // The Cancel handler's box, and no outcome box after it.
  EXPECT_EQ(prompter.prompts(),
            (std::vector<Prompt>{{"Stop repairing bad sectors!", "Repair", PromptIcon::Warning, PromptButtons::Ok}}));
  EXPECT_EQ(view->texts(diagtest::Shown::Status), Strings{"Repairing bad sectors..."});
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_FALSE(run->repairInProgress.load());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}


// Every entry's read-back decides, not the last one's; a stop ends without a box unless
// every entry was already repaired.
struct OutcomeCase {
  const char* name;
  int failingReadBack;  // the entry whose read-back still fails after its zeros (-1 none)
  int stopAt;           // Cancel during the read-back of this entry (-1 none)
  int state;
  int error;
  Strings boxes;
  RunActivity icon;
};

// Cancel pressed while the read-back of entry `stopAt` dispatches messages.
class CancelAtEntryView : public diagtest::RecordingRunEvents {
 public:
  void keepResponsive() override {
    RecordingRunEvents::keepResponsive();
    if (run != nullptr && reads++ == stopAt) run->onCancel();
  }
  TestRun* run = nullptr;
  int stopAt = -1;
  int reads = 0;
};

class RepairOutcomeTest : public RepairTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(RepairOutcomeTest, EveryReadBackCounts) {
  const OutcomeCase& c = GetParam();
  auto cancelling = std::make_unique<CancelAtEntryView>();
  CancelAtEntryView* cancel = cancelling.get();
  view = std::move(cancelling);
  loadScanned({100, 200, 300});
  cancel->run = run.get();
  cancel->stopAt = c.stopAt;
  if (c.failingReadBack >= 0) {
    sim::SimFault fault;
    fault.onRead = true;
    fault.skip = c.failingReadBack;
    fault.remaining = 1;
    platform->injectFault(fault);
  }

  repairRun(*run);

  EXPECT_EQ(writtenBytes().size(), static_cast<size_t>(c.stopAt >= 0 ? c.stopAt + 1 : 3));
  EXPECT_EQ(values().testState.load(), c.state);
  EXPECT_EQ(values().testError.load(), c.error);
  EXPECT_EQ(prompter.texts(), c.boxes);
  EXPECT_EQ(view->activities().back(), c.icon);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RepairOutcomeTest,
    ::testing::Values(
        OutcomeCase{"AllRepaired", -1, -1, kTestStatePass, kTestErrorNone, {}, RunActivity::Success},
        OutcomeCase{"FirstStillFailsLastReadsBack", 0, -1, kTestStateFail, kTestErrorRepairFailed,
                    {"Unable to repair bad sectors."}, RunActivity::Failure},
        OutcomeCase{"MiddleStillFails", 1, -1, kTestStateFail, kTestErrorRepairFailed,
                    {"Unable to repair bad sectors."}, RunActivity::Failure},
        OutcomeCase{"StopOnTheLastEntryWhoseReadBackFails", 2, 2, kTestStateFail, kTestErrorRead,
                    {"Stop repairing bad sectors!"}, RunActivity::Running},
        OutcomeCase{"StopOnTheLastEntryAfterEveryRepair", -1, 2, kTestStatePass, kTestErrorNone,
                    {"Stop repairing bad sectors!"}, RunActivity::Success},
        OutcomeCase{"StopBeforeTheLastEntry", -1, 0, kTestStateFail, kTestErrorRead, {"Stop repairing bad sectors!"},
                    RunActivity::Running}),
    [](const ::testing::TestParamInfo<OutcomeCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace palvoro
