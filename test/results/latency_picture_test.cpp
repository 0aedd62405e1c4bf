#include "results/latency_picture.h"

#include <gtest/gtest.h>

namespace palvoro {
namespace {

TEST(LatencyPicture, Base64OfTheStandardVectors) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xff\xfe\xfd", "//79"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(base64(std::vector<uint8_t>(in.begin(), in.end())), out) << in;
}

// A column takes its worst stripe; a stripe no block began in gives way to any block,
// and a column of such stripes alone stays grey.
TEST(LatencyPicture, ColumnsTakeTheWorstOfTheirStripes) {
  BlockLatencyMap map;
  map.begin(0, 12);  // 12 stripes of one sector
  map.record(0, 100, true);
  map.record(1, 600'000, true);
  map.record(4, 60'000, true);  // stripes 2, 3 and 5 see no block
  map.record(6, 0, false);
  map.record(7, 10, true);
  map.record(9, 10, true);
  map.record(10, 10, true);
  map.record(11, 10, true);
  const IndexedImage image = latencyMapImage(map, 2, 4);  // three stripes a column
  ASSERT_EQ(image.width, 4);
  ASSERT_EQ(image.height, 2);
  const std::vector<uint8_t> row = {5, 3, static_cast<uint8_t>(kUnreadableBucket), 0};
  EXPECT_EQ(std::vector<uint8_t>(image.pixels.begin(), image.pixels.begin() + 4), row);
  EXPECT_EQ(std::vector<uint8_t>(image.pixels.begin() + 4, image.pixels.end()), row);

  BlockLatencyMap empty;
  empty.begin(0, 3);
  const IndexedImage grey = latencyMapImage(empty, 1, 250);
  EXPECT_EQ(grey.width, 3);
  EXPECT_EQ(grey.pixels, std::vector<uint8_t>(3, static_cast<uint8_t>(kLatencyBuckets)));
  EXPECT_EQ(grey.palette[kLatencyBuckets], kNoBlockColour);
  EXPECT_TRUE(latencyResultRows(empty).empty());
}

}  // namespace
}  // namespace palvoro
