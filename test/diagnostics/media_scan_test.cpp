// The media scan on the simulated machine: which blocks the quick and extended forms
// read, how unreadable sectors, a drive that fails a block, Cancel and a vanishing drive
// end the scan, and what the dialog and the message boxes show.

#include "diagnostics/media_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/block_latency.h"
#include "diagnostics/scan_test_support.h"

namespace palvoro {
namespace {

using diagtest::Prompt;
using scantest::Transfer;
using Strings = std::vector<std::string>;

class MediaScanTest : public scantest::ScanTest {
 protected:
  void loadDrive(uint64_t sectors, int32_t kind = kTestKindQuick) {
    load(scantest::oneDrive(sectors), scantest::driveRecord(sectors), kind);
  }
  void markUnreadable(uint64_t first, uint64_t last) {
    for (uint64_t s = first; s <= last; ++s) media().markUnreadable(s);
  }
};

const Prompt kTooManyBadSectors{"Too many bad sectors detected.", "PALVORO for Windows", PromptIcon::Stop,
                                PromptButtons::Ok};

TEST_F(MediaScanTest, QuickScanOfAMillionSectorsReadsTheFirstAndLastFifth) {
  loadDrive(1'000'000);
  mediaScan(*run, true);

  std::vector<Transfer> expected;
  for (uint64_t first = 0; first <= 199'936; first += 256) expected.push_back({first, 256});
  // The last fifth from its first sector: 782 blocks, as many as the first fifth.
  for (uint64_t first = 800'000; first < 999'936; first += 256) expected.push_back({first, 256});
  expected.push_back({999'936, 64});
  ASSERT_EQ(expected.size(), 1564u);
  EXPECT_EQ(transfers(), expected);
  EXPECT_EQ(values().regionLength.load(), 200'000u);

  EXPECT_EQ(view->texts(diagtest::Shown::Status), (Strings{"Running Random Read Test....", "Running Quick Media Scan Test...",
                                              "Test completed successfully."}));
  EXPECT_EQ(view->lastText(diagtest::Shown::Sector), "999999 of 999999 (100.00%)");
  EXPECT_EQ(view->lastText(diagtest::Shown::Estimate), "Estimated Time Remaining: 00:00:00");
  EXPECT_EQ(view->texts(diagtest::Shown::Elapsed), Strings{"Elapsed Time:"});
  EXPECT_EQ(view->callsOf(diagtest::EventCall::Kind::ScanStarted).size(), 1u);
  EXPECT_EQ(view->percents().back(), 100);
  EXPECT_EQ(view->activities(), std::vector<RunActivity>{RunActivity::Success});
  EXPECT_EQ(view->ends().size(), 1u);
  EXPECT_TRUE(run->schedule().armedTimers().empty());
  EXPECT_EQ(values().testState.load(), kTestStatePass);
  EXPECT_EQ(values().testError.load(), kTestErrorNone);
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

TEST_F(MediaScanTest, CurrentSectorLineFollowsEvery4096Sectors) {
  loadDrive(1'000'000);
  mediaScan(*run, true);
  const Strings lines = view->texts(diagtest::Shown::Sector);
  ASSERT_GE(lines.size(), 3u);
  // Blocks end at 255, 511, ...: the first line comes with the block ending at 4351.
  EXPECT_EQ(lines[0], "4351 of 999999 ( 0.44%)");
  EXPECT_EQ(lines[1], "8447 of 999999 ( 0.84%)");
}

TEST_F(MediaScanTest, QuickRegionsOfALargeDriveAreTwoMillionSectors) {
  loadDrive(12'000'000);
  mediaScan(*run, true);

  EXPECT_EQ(values().regionLength.load(), 2'000'000u);
  const std::vector<Transfer> reads = transfers();
  ASSERT_EQ(reads.size(), 15'626u);
  EXPECT_EQ(reads.front(), (Transfer{0, 256}));
  EXPECT_EQ(reads[7812], (Transfer{1'999'872, 256}));
  // Beyond 4 GiB: the seek carries the high part of the byte offset.
  EXPECT_EQ(reads[7813], (Transfer{10'000'000, 256}));
  EXPECT_EQ(reads.back(), (Transfer{11'999'872, 128}));
  EXPECT_EQ(values().testState.load(), kTestStatePass);
}

TEST_F(MediaScanTest, HundredFiftyUnreadableSectorsOfferTheRepair) {
  loadDrive(100'000);
  markUnreadable(1000, 1149);
  mediaScan(*run, true);

  EXPECT_EQ(values().badSectorCount.load(), 150u);
  EXPECT_EQ(run->badSectors[0].sector, 1000u);
  EXPECT_EQ(run->badSectors[0].error, 23u);  // ERROR_CRC
  EXPECT_EQ(run->badSectors[149].sector, 1149u);
  EXPECT_EQ(run->badSectors[150].sector, 0u);
  // Each one is told as it is found, with the error of its read.
  const std::vector<BadSector> told = view->badSectors();
  ASSERT_EQ(told.size(), 150u);
  EXPECT_EQ(told.front(), (BadSector{1000, 23}));
  EXPECT_EQ(told.back().sector, 1149u);
  EXPECT_EQ(values().testError.load(), kTestErrorRead);
  EXPECT_EQ(view->repairOffers(), std::vector<bool>{true});
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Test found bad sectors that may be repairable.");
  EXPECT_EQ(view->activities(), std::vector<RunActivity>{RunActivity::Failure});
  EXPECT_EQ(view->ends().size(), 1u);
  EXPECT_TRUE(prompter.prompts().empty());
  // The scan went on to the end of the second region.
  EXPECT_EQ(blocks().back(), (Transfer{99'968, 32}));
}

TEST_F(MediaScanTest, TwoHundredUnreadableSectorsStopTheScan) {
  loadDrive(100'000);
  markUnreadable(1000, 1199);
  mediaScan(*run, true);

  EXPECT_EQ(blocks(), (std::vector<Transfer>{{0, 256}, {256, 256}, {512, 256}, {768, 256}, {1024, 256}}));
  EXPECT_EQ(values().badSectorCount.load(), 200u);
  EXPECT_EQ(run->badSectors[199].sector, 1199u);
  EXPECT_EQ(prompter.prompts(), std::vector<Prompt>{kTooManyBadSectors});
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Test stopped with error(s).");
  EXPECT_EQ(values().testError.load(), kTestErrorTooManyBadSectors);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_TRUE(view->repairOffers().empty());
  EXPECT_EQ(view->activities(), std::vector<RunActivity>{RunActivity::Failure});
}

TEST_F(MediaScanTest, BlockThatFailsWhileEachSectorReadsEndsWithCode12) {
  loadDrive(100'000);
  sim::SimFault fault;
  fault.onRead = true;
  fault.skip = 3;
  fault.remaining = 1;
  platform->injectFault(fault);
  mediaScan(*run, true);

  const std::vector<Transfer> reads = transfers();
  ASSERT_EQ(reads.size(), 158u + 256u);
  EXPECT_EQ(reads[3], (Transfer{768, 256}));
  EXPECT_EQ(reads[4], (Transfer{768, 1}));
  EXPECT_EQ(reads[259], (Transfer{1023, 1}));
  EXPECT_EQ(reads[260], (Transfer{1024, 256}));
  EXPECT_EQ(view->responsiveCount(), 256);
  EXPECT_EQ(values().badSectorCount.load(), 0u);
  EXPECT_EQ(prompter.prompts(), std::vector<Prompt>{kTooManyBadSectors});
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Test stopped with error(s).");
  EXPECT_EQ(values().testError.load(), kTestErrorTooManyBadSectors);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
}

// A view on which Cancel is pressed as soon as the "Current Sector" line first moves.
class CancellingView : public diagtest::RecordingRunEvents {
 public:
  void progress(const RunProgress& p) override {
    RecordingRunEvents::progress(p);
    if (p.sector && run != nullptr && !pressed) {
      pressed = true;
      EXPECT_FALSE(run->onCancel());
    }
  }
  TestRun* run = nullptr;
  bool pressed = false;
};

TEST_F(MediaScanTest, CancelStopsBeforeTheNextBlockWithCode14) {
  auto cancelling = std::make_unique<CancellingView>();
  CancellingView* cancel = cancelling.get();
  view = std::move(cancelling);
  loadDrive(100'000);
  cancel->run = run.get();
  mediaScan(*run, true);

  // The line first moves with block 16 (ending at 4351); block 17 is never read.
  EXPECT_EQ(transfers().size(), 17u);
  EXPECT_EQ(transfers().back(), (Transfer{4096, 256}));
  EXPECT_EQ(values().testError.load(), kTestErrorStopped);
  EXPECT_EQ(values().testState.load(), kTestStateAbort);
  // Nothing more: the timer's stop path closes the dialog.
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Running Quick Media Scan Test...");
  EXPECT_TRUE(view->ends().empty());
  EXPECT_EQ(run->schedule().armedTimers(), std::vector<int>{kTimerMediaScan});
  EXPECT_TRUE(prompter.prompts().empty());
  EXPECT_EQ(platform->openHandleCount(), 0u);

  run->onTimer(kTimerMediaScan);
  EXPECT_EQ(view->closes(), 1u);
}

// Cancel after the walk met an unreadable sector: the stop's tick closes the run, and the
// sector still fails it, as Close after the end of the walk would.
TEST_F(MediaScanTest, StopAfterAnUnreadableSectorClosesTheRunAsFail) {
  auto cancelling = std::make_unique<CancellingView>();
  CancellingView* cancel = cancelling.get();
  view = std::move(cancelling);
  loadDrive(100'000);
  markUnreadable(100, 100);
  cancel->run = run.get();
  mediaScan(*run, true);

  EXPECT_EQ(values().badSectorCount.load(), 1u);
  EXPECT_EQ(values().testError.load(), kTestErrorRead);
  EXPECT_EQ(values().testState.load(), kTestStateAbort);
  run->onTimer(kTimerMediaScan);
  EXPECT_EQ(view->closes(), 1u);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
}

TEST_F(MediaScanTest, DriveThatVanishesEndsTheScanAsTooManyBadSectors) {
  loadDrive(100'000);
  sim::SimFault fault;
  fault.kind = sim::SimFault::Kind::Vanish;
  fault.onRead = true;
  fault.skip = 10;
  platform->injectFault(fault);
  mediaScan(*run, true);

  EXPECT_EQ(blocks().size(), 11u);
  EXPECT_EQ(values().badSectorCount.load(), 256u);
  EXPECT_EQ(run->badSectors[0].sector, 2560u);
  EXPECT_EQ(run->badSectors[0].error, 1167u);  // ERROR_DEVICE_NOT_CONNECTED
  EXPECT_EQ(run->badSectors[199].sector, 2759u);
  EXPECT_EQ(prompter.prompts(), std::vector<Prompt>{kTooManyBadSectors});
  EXPECT_EQ(view->lastText(diagtest::Shown::Status), "Test stopped with error(s).");
  EXPECT_EQ(view->ends().size(), 1u);
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

TEST_F(MediaScanTest, ExtendedScanReadsRandomBlocksThenEveryBlock) {
  loadDrive(10'000, kTestKindExtended);
  mediaScan(*run, false);

  const std::vector<Transfer> reads = transfers();
  // 40 blocks cover the drive: as many random reads, then the blocks in order.
  ASSERT_EQ(reads.size(), 80u);
  std::vector<Transfer> ordered(reads.begin() + 40, reads.end());
  std::vector<Transfer> expected;
  for (uint64_t first = 0; first < 9'984; first += 256) expected.push_back({first, 256});
  expected.push_back({9'984, 16});
  EXPECT_EQ(ordered, expected);
  EXPECT_EQ(view->texts(diagtest::Shown::Status), (Strings{"Running Random Read Test....", "Running Extended Test...",
                                              "Test completed successfully."}));
  EXPECT_EQ(values().testState.load(), kTestStatePass);
}

// The drive's slow regions show in the scan's block times: each block that touches one
// took the region's time on the drive's clock, every other block none.
TEST_F(MediaScanTest, ExtendedScanTimesEveryBlockIntoHistogramStripesAndSlowestList) {
  loadDrive(100'000, kTestKindExtended);
  media().markSlow(50'000, 50'511, 250'000);  // touched by the blocks at 49,920, 50,176 and 50,432
  media().markSlow(80'000, 80'000, 700'000);  // the block at 79,872
  mediaScan(*run, false);

  const BlockLatencyMap& map = values().scanLatency;
  ASSERT_EQ(values().testState.load(), kTestStatePass);
  const std::array<uint64_t, kLatencyBuckets> histogram = {387, 0, 0, 0, 3, 1, 0};
  EXPECT_EQ(map.histogram(), histogram);  // 391 blocks, the random reads not among them
  ASSERT_EQ(map.stripes().size(), 1000u);  // 100 sectors each
  EXPECT_EQ(map.stripes()[499].worstMicroseconds, 250'000u);
  EXPECT_EQ(map.stripes()[501].worstMicroseconds, 250'000u);
  EXPECT_EQ(map.stripes()[504].worstMicroseconds, 250'000u);
  EXPECT_EQ(map.stripes()[798].worstMicroseconds, 700'000u);
  EXPECT_EQ(map.stripes()[500].blocks, 0u);
  EXPECT_EQ(map.stripes()[800].worstMicroseconds, 0u);
  const std::vector<SlowBlock> slowest = map.slowest();
  ASSERT_GE(slowest.size(), 4u);
  EXPECT_EQ(slowest[0], (SlowBlock{79'872, 700'000}));
  EXPECT_EQ(slowest[1], (SlowBlock{49'920, 250'000}));
  EXPECT_EQ(slowest[2], (SlowBlock{50'176, 250'000}));
  EXPECT_EQ(slowest[3], (SlowBlock{50'432, 250'000}));
  EXPECT_EQ(slowest[4], (SlowBlock{0, 0}));
}

TEST_F(MediaScanTest, UnreadableRandomBlockEndsTheTestBeforeTheFullScan) {
  // 300 sectors: every random block is the first one, the last one would run past the end.
  loadDrive(300, kTestKindExtended);
  media().markUnreadable(100);
  mediaScan(*run, false);

  EXPECT_EQ(blocks(), (std::vector<Transfer>{{0, 256}, {0, 256}}));
  // Each random block that fails counts its sectors again.
  EXPECT_EQ(values().badSectorCount.load(), 2u);
  EXPECT_EQ(view->texts(diagtest::Shown::Status),
            (Strings{"Running Random Read Test....", "Test found bad sectors that may be repairable."}));
  EXPECT_EQ(view->repairOffers(), std::vector<bool>{true});
}

}  // namespace
}  // namespace palvoro
