// A bench row's rate: the sectors a walk moved over the seconds it took.

#include "service/bench.h"

#include <gtest/gtest.h>

#include "resources/string_table.h"

namespace palvoro {
namespace {

RunProgress at(uint64_t sector) {
  RunProgress progress;
  progress.sector = SectorPosition{sector, 524'287};
  return progress;
}

// The extended test's random reads show the sector each read landed on, higher each time
// it is shown; on a disk of 256 MiB the leaps are short enough to pass for a walk.
TEST(BenchRowTest, RandomReadsGiveNoRateAndTheScanAfterThemItsOwn) {
  double now = 0;
  BenchRow row(512, [&now] { return now; });
  row.started({});
  row.stage({loadString(kStrRunningRandomRead), {}});
  row.scanStarted();
  row.progress(at(100'000));
  now = 1;
  row.progress(at(200'000));
  EXPECT_FALSE(row.state().bytesPerSecond.has_value()) << *row.state().bytesPerSecond;

  row.stage({loadString(kStrRunningExtendedTest), {}});
  row.scanStarted();
  row.progress(at(0));
  now = 2;
  row.progress(at(4'096));
  ASSERT_TRUE(row.state().bytesPerSecond.has_value());
  EXPECT_DOUBLE_EQ(*row.state().bytesPerSecond, 4'096.0 * 512);
}

}  // namespace
}  // namespace palvoro
