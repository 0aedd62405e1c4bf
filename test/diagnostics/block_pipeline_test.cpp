// The pipeline against a scripted queue that completes requests out of order inside and
// hands them back in order, as a real ring must; then the sector loop on simulated drives
// with and without a deep queue, which must find the same sectors.

#include "diagnostics/block_pipeline.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "diagnostics/erase.h"
#include "diagnostics/erase_verify.h"
#include "diagnostics/media_scan.h"
#include "diagnostics/random_read.h"
#include "diagnostics/scan_test_support.h"
#include "diagnostics/sector_loop.h"
#include "platform/win_types.h"

namespace palvoro {
namespace {

// A queue whose outcome per request is scripted by offset (in 512-byte sectors): a failure,
// a short transfer; everything else whole.
class ScriptedQueue : public BlockQueue {
 public:
  BlockLimits limits() const override { return m_limits; }
  std::string engine() const override { return "scripted"; }
  size_t inFlight() const override { return m_pending.size(); }
  bool submit(const BlockRequest& r, uint32_t& error) override {
    error = refuseFrom && r.offset / 512 >= *refuseFrom ? ERROR_SECTOR_NOT_FOUND : checkRequest(m_limits, r, inFlight());
    if (error != 0) return false;
    sent.push_back({r.offset / 512, r.bytes / 512});
    deepest = std::max(deepest, inFlight() + 1);
    BlockCompletion c{r.offset, r.bytes, r.bytes, 0, 10};
    for (uint64_t s = r.offset / 512; s < (r.offset + r.bytes) / 512; ++s) {
      if (failing.count(s) != 0) c.error = failError;
      if (shortAt && s == *shortAt) c.moved = static_cast<uint32_t>((s - r.offset / 512) * 512);
    }
    if (c.error != 0) c.moved = 0;
    m_pending.push_back(c);
    return true;
  }
  bool complete(BlockCompletion& c) override {
    if (m_pending.empty()) return false;
    c = m_pending.front();
    m_pending.erase(m_pending.begin());
    return true;
  }

  std::set<uint64_t> failing;
  uint32_t failError = ERROR_CRC;
  std::optional<uint64_t> shortAt;
  std::optional<uint64_t> refuseFrom;
  std::vector<scantest::Transfer> sent;
  size_t deepest = 0;

  BlockLimits m_limits{512, 1 << 20, 3, false};

 private:
  std::vector<BlockCompletion> m_pending;
};

struct PipelineCase {
  const char* name;
  std::set<uint64_t> failing;
  uint32_t failError;
  std::optional<uint64_t> shortAt;
  std::optional<uint64_t> refuseFrom;
  std::vector<uint64_t> failedBlocks;  // the blocks reported failed, by number
  uint64_t blocksBack;                 // results before the walk ends
  bool endsRefused;
};

class PipelineTest : public ::testing::TestWithParam<PipelineCase> {};

// Ten blocks of 8 sectors, four to a request, three requests in flight.
TEST_P(PipelineTest, HandsBackEveryBlockInOrderWithTheFailuresOfAOneBlockWalk) {
  const PipelineCase& c = GetParam();
  ScriptedQueue queue;
  queue.failing = c.failing;
  queue.failError = c.failError;
  queue.shortAt = c.shortAt;
  queue.refuseFrom = c.refuseFrom;
  uint64_t planned = 0;
  BlockPipeline pipeline(queue, PipelineShape{4, 3}, 512, 8 * 512, false, [&]() -> std::optional<PlannedBlock> {
    if (planned == 10) return std::nullopt;
    return PlannedBlock{8 * planned++, 8};
  });
  std::vector<uint64_t> failed;
  uint64_t back = 0;
  bool refused = false;
  while (const std::optional<BlockResult> r = pipeline.next()) {
    EXPECT_EQ(r->block.start, 8 * back) << "in the plan's order";
    ++back;
    if (!r->sent) refused = true;
    if (r->sent && !r->ok) failed.push_back(r->block.start / 8);
  }
  EXPECT_EQ(failed, c.failedBlocks);
  EXPECT_EQ(back, c.blocksBack);
  EXPECT_EQ(refused, c.endsRefused);
  EXPECT_LE(queue.deepest, 3u);
  EXPECT_EQ(queue.sent.front(), (scantest::Transfer{0, 32}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PipelineTest,
    ::testing::Values(
        PipelineCase{"whole", {}, ERROR_CRC, std::nullopt, std::nullopt, {}, 10, false},
        // Only block 5 fails alone; its neighbours in the failed request read again whole.
        PipelineCase{"failure_in_the_middle", {44}, ERROR_CRC, std::nullopt, std::nullopt, {5}, 10, false},
        PipelineCase{"two_failures_in_two_requests", {3, 79}, ERROR_CRC, std::nullopt, std::nullopt, {0, 9}, 10,
                     false},
        // Short each time it is read: the block that holds it fails alone.
        PipelineCase{"short_transfer", {}, ERROR_CRC, 50, std::nullopt, {6}, 10, false},
        // A drive gone fails every block of the request, without sending them again.
        PipelineCase{"vanished", {40}, ERROR_DEVICE_NOT_CONNECTED, std::nullopt, std::nullopt, {4, 5, 6, 7}, 10,
                     false},
        PipelineCase{"refused_at_block_8", {}, ERROR_CRC, std::nullopt, 64, {}, 9, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PipelineShapeTest, RotatingDisksGoOneBlockAtATimeUnlessAskedOtherwise) {
  constexpr uint64_t kBlock = 256 * 512;
  const BlockLimits ssd{512, 1 << 20, 64, false};
  const BlockLimits disk{512, 1 << 20, 64, true};
  const BlockLimits small{512, 256 * 1024, 8, false};
  const BlockLimits single{512, 1 << 20, 1, false};
  struct Case {
    BlockLimits limits;
    uint64_t blockBytes;
    bool scattered;
    TransferPace pace;
    PipelineShape shape;
  };
  const Case cases[] = {
      {ssd, kBlock, false, TransferPace::Automatic, {8, 32}},
      {ssd, kBlock, true, TransferPace::Automatic, {1, 32}},
      {ssd, kBlock, false, TransferPace::OneBlock, {1, 1}},
      {disk, kBlock, false, TransferPace::Automatic, {1, 1}},
      {disk, kBlock, false, TransferPace::Deep, {8, 32}},
      {small, kBlock, false, TransferPace::Automatic, {8, 8}},  // the system splits what the device cannot take
      {single, kBlock, false, TransferPace::Deep, {1, 1}},
      {ssd, 32 * 512, false, TransferPace::Automatic, {64, 32}},
      {ssd, 7 * 512, false, TransferPace::Automatic, {1, 32}},  // not whole pages: never merged
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pipelineShape(c.limits, c.blockBytes, c.scattered, c.pace), c.shape)
        << c.blockBytes << " " << c.scattered << " " << static_cast<int>(c.pace);
  }
}

// The scan and the erase on a drive served one block at a time and on the same drive with
// a deep queue and large requests: the same bad sectors, codes, questions and zeros.
struct Outcome {
  int result = 0;
  std::vector<BadSector> badSectors;
  uint64_t badSectorCount = 0;
  std::vector<std::string> prompts;
  std::vector<std::pair<uint64_t, uint64_t>> zeroed;  // sectors that read as zeros after an erase

  bool operator==(const Outcome&) const = default;
};

struct EquivalenceCase {
  const char* name;
  int type;                            // kLoopReadScan or kLoopWriteZeros
  bool quick;                          // the two-region placement
  std::vector<uint64_t> unreadable;
  std::vector<uint64_t> unwritable;
};

class SameSectorsTest : public scantest::ScanTest, public ::testing::WithParamInterface<EquivalenceCase> {
 protected:
  Outcome walk(const sim::SimQueueModel& queue) {
    const EquivalenceCase& c = GetParam();
    constexpr uint64_t kSectors = 40'000;
    sim::SimMachine machine = scantest::oneDrive(kSectors);
    machine.drives[0].queue = queue;
    for (uint64_t s : c.unreadable) machine.drives[0].ata.units[0].media.markUnreadable(s);
    for (uint64_t s : c.unwritable) machine.drives[0].ata.units[0].media.markUnwritable(s);
    const std::vector<uint8_t> pattern(512, 0x5A);
    for (uint64_t s = 0; s < kSectors; s += 997) machine.drives[0].ata.units[0].media.write(s, 1, pattern.data());
    load(std::move(machine), scantest::driveRecord(kSectors), c.type == kLoopWriteZeros ? kTestKindErase
                                                                                         : kTestKindExtended);
    prompter.fallback = PromptAnswer::Yes;
    prompter.clear();
    const TestRange range{0, kSectors};
    const SectorPlan plan = c.quick ? twoRegionPlan(*run, c.type, range, quickRegionLength(kSectors, 5000))
                                    : rangePlan(*run, c.type, range);
    Outcome out;
    out.result = c.type == kLoopRandomRead ? randomReadTest(*run) : sectorLoop(*run, plan);
    out.badSectorCount = values().badSectorCount.load();
    out.badSectors.assign(run->badSectors.begin(), run->badSectors.begin() + std::min<uint64_t>(
                                                                                out.badSectorCount, kBadSectorSlots));
    out.prompts = prompter.texts();
    largest = 0;
    for (const scantest::Transfer& t : transfers(c.type == kLoopWriteZeros ? sim::SimRequest::Kind::Write
                                                                           : sim::SimRequest::Kind::Read)) {
      largest = std::max(largest, t.sectors);
    }
    if (c.type == kLoopWriteZeros) {
      for (uint64_t s = 0; s < kSectors;) {
        uint64_t e = s;
        while (e < kSectors && !media().anyData(e, 1)) ++e;
        if (e > s) out.zeroed.push_back({s, e});
        s = e + 1;
      }
    }
    return out;
  }

  uint64_t largest = 0;  // sectors of the largest transfer the last walk sent
};

TEST_P(SameSectorsTest, ADeepQueueFindsWhatOneBlockAtATimeFinds) {
  sim::SimQueueModel deep;
  deep.depth = 32;
  deep.maxTransferBytes = 1 << 20;
  deep.requestMicroseconds = 100;
  const Outcome one = walk(sim::SimQueueModel{});
  EXPECT_EQ(largest, 256u);
  const Outcome many = walk(deep);
  EXPECT_EQ(largest, GetParam().type == kLoopRandomRead ? 256u : 2048u) << "the deep walk sends requests of 1 MiB";
  EXPECT_EQ(many, one);
  EXPECT_EQ(one.result == 0, GetParam().unreadable.empty() && GetParam().unwritable.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SameSectorsTest,
    ::testing::Values(
        EquivalenceCase{"clean_scan", kLoopReadScan, false, {}, {}},
        EquivalenceCase{"scan_bad_at_edges_of_blocks_and_requests", kLoopReadScan, false, {0, 255, 256, 2047, 2048,
                                                                                            39'999}, {}},
        EquivalenceCase{"scan_bad_run_across_requests", kLoopReadScan, false,
                        {4090, 4091, 4092, 4093, 4094, 4095, 4096, 4097, 4098}, {}},
        EquivalenceCase{"quick_scan_both_regions", kLoopReadScan, true, {10, 4999, 35'001, 39'998}, {}},
        EquivalenceCase{"erase_with_unwritable", kLoopWriteZeros, false, {}, {300, 9000}},
        EquivalenceCase{"quick_erase_regions", kLoopWriteZeros, true, {}, {}},
        // Scattered blocks are never merged, but still go several at once.
        EquivalenceCase{"random_reads", kLoopRandomRead, false, {100, 20'000, 39'000}, {}}),
    [](const auto& p) { return std::string(p.param.name); });

// Cancel while a deep queue is full: the walk stops at the next block, what was in flight
// comes back before the drive closes, and nothing beyond those requests is read.
class StoppingView : public diagtest::RecordingRunEvents {
 public:
  void progress(const RunProgress& p) override {
    RecordingRunEvents::progress(p);
    if (p.sector && values != nullptr) values->stopRequest = 1;
  }
  TestRunValues* values = nullptr;
};

class CancelTest : public scantest::ScanTest {};

TEST_F(CancelTest, ADeepWalkStopsWithinTheRequestsInFlight) {
  auto stopping = std::make_unique<StoppingView>();
  StoppingView* stopper = stopping.get();
  view = std::move(stopping);
  sim::SimMachine machine = scantest::oneDrive(100'000);
  machine.drives[0].queue.depth = 4;
  machine.drives[0].queue.maxTransferBytes = 1 << 20;
  load(std::move(machine), scantest::driveRecord(100'000), kTestKindExtended);
  stopper->values = &values();

  EXPECT_EQ(sectorLoop(*run, rangePlan(*run, kLoopReadScan, TestRange{0, 100'000})), kTestErrorStopped);
  uint64_t sectors = 0;
  for (const scantest::Transfer& t : transfers()) sectors += t.sectors;
  // The line first moves after 17 blocks; four requests of eight blocks may be out then.
  EXPECT_GT(sectors, 17u * 256);
  EXPECT_LE(sectors, (17u + 4 * 8) * 256);
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

// The erase's read-back over a drive with data left behind and unreadable sectors, walked
// one block at a time and through a deep queue: the same sectors found.
TEST(ReadBackThroughAQueueTest, FindsWhatOneBlockAtATimeFinds) {
  constexpr uint64_t kSectors = 9000;
  const auto readBack = [](const sim::SimQueueModel& queue) {
    sim::SimMachine machine = scantest::oneDrive(kSectors);
    machine.drives[0].queue = queue;
    sim::SimMedia& media = machine.drives[0].ata.units[0].media;
    const std::vector<uint8_t> left(512, 0x77);
    for (uint64_t s : {0u, 2047u, 2048u, 5000u, 8999u}) EXPECT_TRUE(media.write(s, 1, left.data()));
    media.markUnreadable(4096, 4100);
    media.markUnreadable(6000);
    sim::SimPlatform platform(std::move(machine));
    const std::atomic<bool> stop{false};
    const EraseVerification v = verifyErase(platform, scantest::driveRecord(kSectors), 1, stop);
    EXPECT_EQ(v.end, EraseVerification::End::Finished);
    return std::tuple(v.sectorsChecked, v.nonZeroSectors, v.firstNonZero, v.unreadableSectors);
  };
  sim::SimQueueModel deep;
  deep.depth = 16;
  deep.maxTransferBytes = 1 << 20;
  const auto one = readBack(sim::SimQueueModel{});
  EXPECT_EQ(readBack(deep), one);
  EXPECT_EQ(std::get<2>(one), (std::vector<uint64_t>{0, 2047, 2048, 5000, 8999}));
  EXPECT_EQ(std::get<3>(one), 6u);
}

}  // namespace
}  // namespace palvoro
