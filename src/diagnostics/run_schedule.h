#pragma once
// The run's own timers. A step arms the timer of what it waits for (the self-test, the
// scan, the erase, a second unit); once a period has passed the timer fires once and its
// handler decides whether to arm it again. The program's ticker thread waits in run();
// a test skips the waiting and calls the run's handler by hand on a clock it moves itself.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace palvoro {

// The run's timers, by the numbers their steps have always had (3 and 5 are never armed).
enum TestTimer : int {
  kTimerSelfTest = 1,
  kTimerMediaScan = 2,
  kTimerErase = 4,
  kTimerSecondUnitVerify = 6,
  kTimerSecondUnitErase = 7,
};

// Every timer runs this long before it fires.
inline constexpr std::chrono::milliseconds kTestTimerPeriod{1000};

class RunSchedule {
 public:
  explicit RunSchedule(std::chrono::milliseconds period = kTestTimerPeriod) : m_period(period) {}
  RunSchedule(const RunSchedule&) = delete;
  RunSchedule& operator=(const RunSchedule&) = delete;

  // Fires `timer` one period from now (arming it again moves that on). Any thread.
  void arm(int timer);
  void disarm(int timer);
  bool armed(int timer) const;
  // The timers armed now, by number.
  std::vector<int> armedTimers() const;
  // Nothing armed and no handler running: nothing is left that a tick could do.
  bool idle() const;

  // The ticker's body: waits for each armed timer's moment and hands it to `fire` (outside
  // the lock, so the handler may arm and disarm), until close().
  void run(const std::function<void(int)>& fire);
  // Ends run() once its handler returns; every timer is dropped and arming does nothing.
  void close();
  // A new run on the same schedule: nothing armed, open again.
  void reset();

 private:
  using Clock = std::chrono::steady_clock;

  const std::chrono::milliseconds m_period;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::map<int, Clock::time_point> m_deadlines;
  bool m_firing = false;
  bool m_closed = false;
};

}  // namespace palvoro
