// Which udev events re-scan the drives: a whole disk arriving or leaving, never a partition
// and never the "change" our own closes cause.

#include "platform/linux/udev_monitor.h"

#include <gtest/gtest.h>

namespace palvoro::real {
namespace {

TEST(UdevMonitorTest, OnlyAWholeDiskArrivingOrLeavingCounts) {
  struct Case {
    const char* action;
    const char* devtype;
    bool counts;
  };
  const Case cases[] = {
      {"add", "disk", true},          {"remove", "disk", true},
      {"change", "disk", false},      // udev re-reading a disk after a writer closed it
      {"add", "partition", false},    {"remove", "partition", false},
      {"bind", "disk", false},        {"move", "disk", false},
      {"online", "disk", false},      {"", "disk", false},
      {"add", "", false},             {"ADD", "disk", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isDiskArrivalOrRemoval(c.action, c.devtype), c.counts) << c.action << " " << c.devtype;
  }
}

}  // namespace
}  // namespace palvoro::real
