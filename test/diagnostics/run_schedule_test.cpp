// The run's own timers on the ticker's thread: each armed timer fires once per arming, a
// disarmed one never, and close() ends the ticker even from inside a handler.

#include "diagnostics/run_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace palvoro {
namespace {

TEST(RunScheduleTest, FiresWhatIsArmedUntilClosedFromAHandler) {
  RunSchedule schedule(std::chrono::milliseconds(1));
  schedule.arm(kTimerSelfTest);
  schedule.arm(kTimerSecondUnitVerify);
  schedule.arm(kTimerErase);
  schedule.disarm(kTimerErase);
  EXPECT_EQ(schedule.armedTimers(), (std::vector<int>{kTimerSelfTest, kTimerSecondUnitVerify}));
  EXPECT_FALSE(schedule.idle());

  std::vector<int> fired;  // the ticker's alone until it is joined
  int selfTests = 0;
  std::thread ticker([&] {
    schedule.run([&](int timer) {
      fired.push_back(timer);
      // The self-test re-arms itself as its handler does, and the third tick ends the run.
      if (timer != kTimerSelfTest) return;
      if (++selfTests < 3) {
        schedule.arm(kTimerSelfTest);
      } else {
        schedule.close();
      }
    });
  });
  ticker.join();

  EXPECT_EQ(fired.size(), 4u);
  EXPECT_EQ(fired.back(), kTimerSelfTest);
  EXPECT_EQ(std::count(fired.begin(), fired.end(), kTimerSecondUnitVerify), 1);
  EXPECT_TRUE(schedule.idle());
  schedule.arm(kTimerMediaScan);  // closed: arming does nothing until reset
  EXPECT_TRUE(schedule.armedTimers().empty());
  schedule.reset();
  schedule.arm(kTimerMediaScan);
  EXPECT_EQ(schedule.armedTimers(), std::vector<int>{kTimerMediaScan});
}

}  // namespace
}  // namespace palvoro
