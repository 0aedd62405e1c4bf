#include "diagnostics/block_latency.h"

#include <gtest/gtest.h>

namespace palvoro {
namespace {

TEST(BlockLatencyTest, EachTimeFallsInItsBucketAtTheEdges) {
  struct Case {
    uint64_t microseconds;
    size_t bucket;
  };
  for (const Case& c : {Case{0, 0}, Case{4'999, 0}, Case{5'000, 1}, Case{19'999, 1}, Case{20'000, 2},
                        Case{49'999, 2}, Case{50'000, 3}, Case{149'999, 3}, Case{150'000, 4}, Case{499'999, 4},
                        Case{500'000, 5}, Case{UINT64_MAX, 5}}) {
    EXPECT_EQ(latencyBucket(c.microseconds), c.bucket) << c.microseconds;
  }
}

// Stripes share the sectors equally, the remainder spread, and the last ends at the end;
// a span shorter than the stripe limit gets a stripe per sector.
TEST(BlockLatencyTest, StripesCoverTheRangeInEqualSharesWithoutGapOrOverlap) {
  struct Case {
    uint64_t first, end, stripes;
  };
  for (const Case& c : {Case{0, 1'000'000, 1000}, Case{100, 100 + 2'500, 1000}, Case{7, 7 + 999, 999},
                        Case{0, 1, 1}, Case{5, 5, 0}, Case{0, UINT64_MAX, 1000}}) {
    BlockLatencyMap map;
    map.begin(c.first, c.end);
    ASSERT_EQ(map.stripes().size(), c.stripes) << c.end;
    uint64_t at = c.first;
    for (const LatencyStripe& stripe : map.stripes()) {
      EXPECT_EQ(stripe.firstSector, at);
      EXPECT_GT(stripe.endSector, stripe.firstSector);
      at = stripe.endSector;
    }
    if (c.stripes > 0) {
      EXPECT_EQ(at, c.end);
    }
  }
}

TEST(BlockLatencyTest, BlocksLandInTheirStripeHistogramAndSlowestList) {
  BlockLatencyMap map;
  map.begin(1000, 1000 + 256 * 2000);  // 2000 blocks of 256 sectors, 1000 stripes of 512 sectors
  for (uint64_t i = 0; i < 2000; ++i) {
    const uint64_t sector = 1000 + i * 256;
    // A slow region over blocks 600..609, one block that cannot be read, the rest quick.
    if (i == 1500) {
      map.record(sector, 0, false);
    } else {
      map.record(sector, i >= 600 && i < 610 ? 600'000 + i : 1'000, true);
    }
  }
  map.record(999, 30'000, true);  // before the range: histogram only

  const std::array<uint64_t, kLatencyBuckets> histogram = {1989, 0, 1, 0, 0, 10, 1};
  EXPECT_EQ(map.histogram(), histogram);
  EXPECT_EQ(map.blocks(), 2001u);

  const LatencyStripe& slow = map.stripes()[300];  // blocks 600 and 601
  EXPECT_EQ(slow.firstSector, 1000u + 600 * 256);
  EXPECT_EQ(slow.blocks, 2u);
  EXPECT_EQ(slow.worstMicroseconds, 600'601u);
  EXPECT_EQ(slow.meanMicroseconds(), 600'600u);
  EXPECT_EQ(map.stripes()[750].unreadable, 1u);
  EXPECT_EQ(map.stripes()[750].blocks, 1u);
  EXPECT_EQ(map.stripes()[299].worstMicroseconds, 1'000u);

  const std::vector<SlowBlock> slowest = map.slowest();
  ASSERT_EQ(slowest.size(), BlockLatencyMap::kSlowestKept);
  EXPECT_EQ(slowest[0], (SlowBlock{1000 + 609 * 256, 600'609}));
  EXPECT_EQ(slowest[9], (SlowBlock{1000 + 600 * 256, 600'600}));
  EXPECT_EQ(slowest[10], (SlowBlock{999, 30'000}));
  // Of the many equal quick blocks, the lowest sectors are kept.
  EXPECT_EQ(slowest[11], (SlowBlock{1000, 1'000}));
  EXPECT_EQ(slowest[99], (SlowBlock{1000 + 88 * 256, 1'000}));
}

TEST(BlockLatencyTest, HintsNameTheSlowBlocksOnlyWhenThereAreAny) {
  struct Case {
    uint64_t slow, verySlow;
    std::vector<std::string> hints;
  };
  const Case cases[] = {
      {0, 0, {}},
      {0, 1, {"1 block took 500 ms or more to read: the drive is retrying; back up its data."}},
      {2, 12,
       {"12 blocks took 500 ms or more to read: the drive is retrying; back up its data.",
        "2 blocks took 150 to 500 ms to read: the drive may be starting to retry; test it again before long."}},
  };
  for (const Case& c : cases) {
    BlockLatencyMap map;
    map.begin(0, 1'000'000);
    for (uint64_t i = 0; i < c.slow; ++i) map.record(i * 256, 150'000, true);
    for (uint64_t i = 0; i < c.verySlow; ++i) map.record(i * 256, 500'000, true);
    map.record(999'936, 149'999, true);  // just short of slow: no hint
    map.record(999'680, 0, false);       // unreadable: the verdict tells it
    EXPECT_EQ(latencyHints(map), c.hints);
  }
}

}  // namespace
}  // namespace palvoro
