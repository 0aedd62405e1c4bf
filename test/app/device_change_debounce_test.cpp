// The re-scan after disks arrive or leave: one per burst, once the burst has been quiet,
// and held, not lost, while the main window is busy.

#include "app/device_change_debounce.h"

#include <gtest/gtest.h>

#include <vector>

namespace palvoro {
namespace {

// A timeline: disk events, and the moments the program's timer asks whether to re-scan
// (whether the window is free then).
struct Step {
  enum { Event, Ask } kind;
  int64_t at;
  bool windowFree = true;
};

TEST(DeviceChangeDebounceTest, EachBurstRescansOnceAfterItsQuietPeriod) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<int64_t> rescans;  // when the re-scans ran
  };
  const Case cases[] = {
      {"NothingHappened", {{Step::Ask, 1000}}, {}},
      {"OneDisk", {{Step::Event, 0}, {Step::Ask, 499}, {Step::Ask, 500}, {Step::Ask, 1200}}, {500}},
      {"BurstPushesTheRescanBack",
       {{Step::Event, 0}, {Step::Event, 300}, {Step::Event, 600}, {Step::Ask, 500}, {Step::Ask, 1099},
        {Step::Ask, 1100}, {Step::Ask, 1600}},
       {1100}},
      {"TwoBurstsTwoRescans",
       {{Step::Event, 0}, {Step::Event, 100}, {Step::Ask, 600}, {Step::Event, 5000}, {Step::Ask, 5500}},
       {600, 5500}},
      {"HeldWhileTheWindowIsBusy",
       {{Step::Event, 0}, {Step::Ask, 500, false}, {Step::Ask, 999}, {Step::Ask, 1000, false}, {Step::Ask, 1500}},
       {1500}},
      {"ArrivalDuringARescanIsNotLost",
       {{Step::Event, 0}, {Step::Ask, 500}, {Step::Event, 700}, {Step::Ask, 1200, false}, {Step::Ask, 1700}},
       {500, 1700}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceChangeDebounce debounce(500);
    std::vector<int64_t> rescans;
    for (const Step& s : c.steps) {
      if (s.kind == Step::Event) {
        debounce.eventAt(s.at);
        EXPECT_EQ(debounce.waitAt(s.at), 500);
      } else if (debounce.dueAt(s.at, s.windowFree)) {
        rescans.push_back(s.at);
      }
    }
    EXPECT_EQ(rescans, c.rescans);
    EXPECT_EQ(debounce.waitAt(1'000'000), -1) << "a re-scan left pending";
  }
}

}  // namespace
}  // namespace palvoro
