#include "discovery/format_capacity.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace palvoro {
namespace {

struct CapacityText {
  uint32_t megabytes;
  int decimals;
  const char* text;
};

class FormatCapacityTest : public testing::TestWithParam<CapacityText> {};

TEST_P(FormatCapacityTest, FormatsDecimalUnits) {
  const CapacityText& c = GetParam();
  EXPECT_EQ(FormatCapacity(c.megabytes, c.decimals), c.text)
      << c.megabytes << " MB with " << c.decimals << " decimals";
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatCapacityTest,
    testing::Values(
        // Up to 999 the decimals do not matter.
        CapacityText{0, 0, "0 MB"}, CapacityText{0, 2, "0 MB"}, CapacityText{1, 4, "1 MB"},
        CapacityText{500, 0, "500 MB"}, CapacityText{999, 0, "999 MB"},
        CapacityText{999, 1, "999 MB"}, CapacityText{999, 2, "999 MB"},
        CapacityText{999, 3, "999 MB"}, CapacityText{999, 4, "999 MB"},
        CapacityText{999, 7, "999 MB"}, CapacityText{999, -1, "999 MB"},
        // From 1000 on, gigabytes.
        CapacityText{1000, 0, "1 GB"}, CapacityText{1000, 1, "1.0 GB"},
        CapacityText{1000, 2, "1.00 GB"}, CapacityText{1000, 3, "1.000 GB"},
        CapacityText{1000, 4, "1.0000 GB"}, CapacityText{1000, 7, "1.0000 GB"},
        CapacityText{1000, -1, "1.0000 GB"}, CapacityText{1996, 0, "2 GB"},
        CapacityText{1996, 1, "2.0 GB"}, CapacityText{1996, 2, "2.00 GB"},
        CapacityText{1996, 3, "1.996 GB"}, CapacityText{1996, 4, "1.9960 GB"},
        CapacityText{1996, 7, "1.9960 GB"}, CapacityText{1996, -1, "1.9960 GB"},
        CapacityText{2000, 0, "2 GB"}, CapacityText{2000, 1, "2.0 GB"},
        CapacityText{2000, 2, "2.00 GB"}, CapacityText{2000, 3, "2.000 GB"},
        CapacityText{2000, 4, "2.0000 GB"}, CapacityText{2000, 7, "2.0000 GB"},
        CapacityText{2000, -1, "2.0000 GB"}, CapacityText{1500, 2, "1.50 GB"},
        CapacityText{1001, 0, "1 GB"}, CapacityText{4000787, 0, "4001 GB"},
        // The largest value: 4,294,967.295 GB. Its nearest double lies just below .295.
        CapacityText{4294967295u, 0, "4294967 GB"}, CapacityText{4294967295u, 1, "4294967.3 GB"},
        CapacityText{4294967295u, 2, "4294967.29 GB"},
        CapacityText{4294967295u, 3, "4294967.295 GB"},
        CapacityText{4294967295u, 4, "4294967.2950 GB"},
        CapacityText{4294967295u, 7, "4294967.2950 GB"}));

}  // namespace
}  // namespace palvoro
