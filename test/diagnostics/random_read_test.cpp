// The random read test on the simulated machine: at most 500 blocks, each inside the
// test range; a draw of the last block reads the block 512 sectors before the end, and a
// range too short for that is read from its start.

#include "diagnostics/random_read.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "diagnostics/scan_test_support.h"

namespace palvoro {
namespace {

using scantest::Transfer;

class RandomReadTest : public scantest::ScanTest {
 protected:
  // A drive whose test range is `sectors` long from `first`: a first sector past 0 is the
  // second unit's hidden sectors in front of a first unit on unit 2.
  void loadRange(uint64_t first, uint64_t sectors) {
    DriveRecord record = scantest::driveRecord(sectors);
    if (first != 0) {
      record.primaryUnit = 2;
      record.hiddenSectors = first;
    }
    load(scantest::oneDrive(first + sectors), record, kTestKindExtended);
  }
};

TEST_F(RandomReadTest, ReadsAtMost500WholeBlocksInsideTheRange) {
  loadRange(0, 1'000'000);
  EXPECT_EQ(randomReadTest(*run), 0);

  const std::vector<Transfer> reads = transfers();
  ASSERT_EQ(reads.size(), 500u);
  for (const Transfer& t : reads) {
    EXPECT_EQ(t.sectors, 256u);
    EXPECT_TRUE(t.first % 256 == 0 || t.first == 999'488) << t;
    EXPECT_LE(t.first + t.sectors, 1'000'000u) << t;
  }
  // The bar follows the block index over all 3,907 blocks of the drive.
  EXPECT_EQ(view->percents().back(), 500 * 100 / 3907 + 1);
}

TEST_F(RandomReadTest, LastBlockIsReadFrom512SectorsBeforeTheEnd) {
  // 1,000 sectors make four blocks; the last (768) would run past the end. Ten runs draw
  // forty times, so the last block comes up.
  loadRange(0, 1000);
  std::set<uint64_t> starts;
  for (int i = 0; i < 10; ++i) {
    platform->clearLog();
    EXPECT_EQ(randomReadTest(*run), 0);
    for (const Transfer& t : transfers()) {
      EXPECT_EQ(t.sectors, 256u);
      starts.insert(t.first);
    }
  }
  EXPECT_TRUE(starts.count(488)) << "no draw of the last block in forty";
  EXPECT_FALSE(starts.count(768));
  for (uint64_t first : starts) EXPECT_TRUE(first == 0 || first == 256 || first == 512 || first == 488) << first;
}

struct ShortRange {
  uint64_t first;
  uint64_t sectors;
};

class ShortRangeTest : public RandomReadTest, public ::testing::WithParamInterface<ShortRange> {};

TEST_P(ShortRangeTest, RangeShorterThan512SectorsIsReadFromItsStart) {
  loadRange(GetParam().first, GetParam().sectors);
  EXPECT_EQ(randomReadTest(*run), 0);
  EXPECT_EQ(transfers(), (std::vector<Transfer>{{GetParam().first, GetParam().sectors}}));
  EXPECT_EQ(values().badSectorCount.load(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ranges, ShortRangeTest,
                         ::testing::Values(ShortRange{0, 100}, ShortRange{1000, 100}, ShortRange{1000, 200}));

}  // namespace
}  // namespace palvoro
