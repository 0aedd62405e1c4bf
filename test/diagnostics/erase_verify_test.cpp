// The read-back after an erase, on the simulated machine: its spans are the sectors a real
// erase left zero (seen on the media, not taken from the erase's plan); it reads them
// read-only and finds the sectors of a drive that acknowledges writes it never stores,
// and the unreadable ones; a stop and a missing drive end it early.

#include "diagnostics/erase_verify.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "diagnostics/erase.h"
#include "diagnostics/scan_test_support.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {

// Found by argument-dependent lookup, so it lives in the span's own namespace.
void PrintTo(const SectorSpan& s, std::ostream* out) { *out << "[" << s.first << ", " << s.end << ")"; }

namespace {

using Spans = std::vector<SectorSpan>;
using Sectors = std::vector<uint64_t>;

class EraseVerifyTest : public scantest::ScanTest {
 protected:
  // Drive 0 of `sectors` sectors with data in every one, `hidden` of them in front of the
  // tested unit 2, and an erase run of `mode` begun on it.
  void loadFull(uint64_t sectors, int32_t mode, uint32_t sectorSize = 512, uint32_t hybridFlags = 0,
                uint64_t hidden = 0) {
    sim::SimMachine machine = scantest::oneDrive(hidden + sectors);
    sim::SimUnit& unit = machine.drives[0].ata.units[0];
    unit.media = sim::SimMedia(hidden + sectors, sectorSize);
    machine.drives[0].ata.dsmXl = true;
    DriveRecord record = scantest::driveRecord(sectors);
    record.sectorSize = static_cast<int32_t>(sectorSize);
    record.hybridFlags = hybridFlags;
    if (hidden != 0) {
      record.primaryUnit = 2;
      record.hiddenSectors = hidden;
      // No TRIM: releasing the other unit after the erase must not zero it here.
      unit.identify[169] &= 0xFFFE;
      sim::setIdentifyChecksum(unit.identify);
    }
    load(std::move(machine), record, kTestKindErase);
    values().eraseMode = mode;
    const std::vector<uint8_t> pattern(sectorSize, 0xA5);
    for (uint64_t s = 0; s < hidden + sectors; ++s) media().write(s, 1, pattern.data());
  }

  // The sectors of the disk that hold nothing.
  Spans zeroSpans() {
    Spans out;
    for (uint64_t s = 0; s < media().sectorCount(); ++s) {
      if (media().anyData(s, 1)) continue;
      if (!out.empty() && out.back().end == s) out.back().end = s + 1;
      else out.push_back({s, s + 1});
    }
    return out;
  }

  EraseVerification verify(const std::function<void(const VerifyProgress&)>& progress = {}) {
    return verifyErase(*platform, context->selectedRecord(), values().eraseMode.load(), stop, progress);
  }

  std::atomic<bool> stop{false};
};

struct Case {
  const char* name;
  uint64_t sectors;
  int32_t mode;
  uint32_t sectorSize;
  uint32_t hybridFlags;
  uint64_t hidden;
  Spans zeroed;       // worked out by hand from the erase's rules
  Spans lostWrites;   // arranged before the erase
  Spans unreadable;   // arranged after it
  uint64_t nonZero = 0;
  Sectors firstNonZero = {};
  uint64_t unreadableCount = 0;
};

class EraseVerifyCaseTest : public EraseVerifyTest, public ::testing::WithParamInterface<Case> {};

TEST_P(EraseVerifyCaseTest, ReadsBackWhatTheEraseZeroed) {
  const Case& c = GetParam();
  loadFull(c.sectors, c.mode, c.sectorSize, c.hybridFlags, c.hidden);
  for (const SectorSpan& s : c.lostWrites) media().markLostWrites(s.first, s.end - 1);

  writeZerosErase(*run);
  // A drive that loses writes acknowledged them all: the erase cannot tell.
  ASSERT_EQ(values().testState.load(), kTestStateComplete);
  EXPECT_EQ(erasedSpans(context->selectedRecord(), c.mode), c.zeroed);
  if (c.lostWrites.empty()) {
    EXPECT_EQ(zeroSpans(), c.zeroed);
  }
  for (const SectorSpan& s : c.unreadable) media().markUnreadable(s.first, s.end - 1);

  platform->clearLog();
  const EraseVerification v = verify();

  uint64_t total = 0;
  for (const SectorSpan& s : c.zeroed) total += s.end - s.first;
  EXPECT_EQ(v.end, EraseVerification::End::Finished);
  EXPECT_EQ(v.passed(), c.nonZero == 0 && c.unreadableCount == 0);
  EXPECT_EQ(v.sectorsToCheck, total);
  EXPECT_EQ(v.sectorsChecked, total - c.unreadableCount);
  EXPECT_EQ(v.nonZeroSectors, c.nonZero);
  EXPECT_EQ(v.firstNonZero, c.firstNonZero);
  EXPECT_EQ(v.unreadableSectors, c.unreadableCount);
  // Read-only, in sector-aligned blocks of at most 1 MiB.
  for (const sim::SimRequest& r : platform->log()) {
    EXPECT_NE(r.kind, sim::SimRequest::Kind::Write);
    if (r.kind == sim::SimRequest::Kind::Open) {
      EXPECT_EQ(r.access, GENERIC_READ);
    }
    if (r.kind == sim::SimRequest::Kind::Read) {
      EXPECT_LE(r.outSize, kVerifyBlockBytes);
      EXPECT_EQ(r.position % c.sectorSize + r.outSize % c.sectorSize, 0u);
    }
  }
  EXPECT_EQ(platform->openHandleCount(), 0u);
}

Sectors sectorsFrom(uint64_t first, uint64_t count) {
  Sectors out;
  for (uint64_t i = 0; i < count; ++i) out.push_back(first + i);
  return out;
}

constexpr int32_t kQuick = kQuickErase;
constexpr int32_t kFull = kFullErase;

INSTANTIATE_TEST_SUITE_P(
    Erases, EraseVerifyCaseTest,
    ::testing::Values(
        // Regions of 600: the first written in three blocks of 256, to 768.
        Case{"Quick", 3000, kQuick, 512, 0, 0, {{0, 768}, {2400, 3000}}, {}, {}},
        Case{"QuickOn4096ByteSectors", 3000, kQuick, 4096, 0, 0, {{0, 768}, {2400, 3000}}, {}, {}},
        // Regions of one sector: the first block covers the whole range.
        Case{"QuickOfFourSectors", 4, kQuick, 512, 0, 0, {{0, 4}}, {}, {}},
        // Regions of 512 and of 767 sectors.
        Case{"QuickRegionOfWholeBlocks", 2560, kQuick, 512, 0, 0, {{0, 512}, {2048, 2560}}, {}, {}},
        Case{"QuickRegionOneShortOfBlocks", 3835, kQuick, 512, 0, 0, {{0, 768}, {3068, 3835}}, {}, {}},
        Case{"Full", 5000, kFull, 512, 0, 0, {{0, 5000}}, {}, {}},
        Case{"FullOfUnitTwo", 5000, kFull, 512, 0, 700, {{700, 5700}}, {}, {}},
        Case{"QuickByTrim", 20000, kQuick, 512, kHybridTrimRotating, 0, {{0, 20000}}, {}, {}},
        Case{"QuickByTrimXl", 20000, kQuick, 512, kHybridLogCapability, 0, {{0, 20000}}, {}, {}},
        // Lost in both regions, and between them where the erase never meant to write.
        Case{"QuickLosesWritesInBothRegions", 5000, kQuick, 512, 0, 0, {{0, 1024}, {4000, 5000}},
             {{900, 901}, {2500, 2501}, {4100, 4101}}, {}, 2, {900, 4100}},
        // Forty lost: all counted, the first sixteen listed.
        Case{"FullLosesARange", 5000, kFull, 4096, 0, 0, {{0, 5000}}, {{1000, 1040}}, {}, 40, sectorsFrom(1000, 16)},
        // The failed block is read sector by sector: its lost neighbour is still seen.
        Case{"UnreadableBesideALostSector", 5000, kFull, 512, 0, 0, {{0, 5000}}, {{2101, 2102}}, {{2100, 2101}}, 1,
             {2101}, 1},
        // Blocks 2 to 4 of 2,048 sectors: one read sector by sector, the others counted whole.
        Case{"DeadRegion", 10000, kFull, 512, 0, 0, {{0, 10000}}, {}, {{2048, 8192}}, 0, {}, 6144}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

TEST_F(EraseVerifyTest, EndsEarlyWhenStoppedOrWhenTheDriveIsGone) {
  for (const bool vanish : {false, true}) {
    SCOPED_TRACE(vanish ? "drive gone" : "stopped after the first block");
    loadFull(10000, kFullErase);
    writeZerosErase(*run);
    stop = false;
    platform->drive(0).present = !vanish;
    const EraseVerification v = verify([&](const VerifyProgress&) { stop = true; });
    EXPECT_EQ(v.end, vanish ? EraseVerification::End::DriveNotOpened : EraseVerification::End::Stopped);
    EXPECT_EQ(v.sectorsChecked, vanish ? 0u : 2048u);  // one block of 1 MiB
    EXPECT_FALSE(v.passed());
  }
}

}  // namespace
}  // namespace palvoro
