#pragma once
// One run of one test on the selected drive. Its front end (the progress dialog, the
// console, a test) calls begin(), runs runWorker() on a worker thread and runTicker() on a
// ticker thread, and passes Cancel to onCancel(); everything the run has to show goes out
// as RunEvents. The run keeps its own clock and timers: the ticker fires the timers its
// steps armed, a test calls onTimer() by hand instead.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include <chrono>
#include <functional>
#include <optional>

#include "diagnostics/run_clock.h"
#include "diagnostics/run_environment.h"
#include "diagnostics/run_events.h"
#include "diagnostics/run_schedule.h"
#include "diagnostics/run_values.h"

namespace palvoro {

inline constexpr int kBadSectorSlots = 200;
inline constexpr int kSectorsPerBlock = 256;
inline constexpr int kTestVolumeSlots = 80;

class TestRun {
 public:
  // `tickPeriod` is how long each timer runs before it fires; tests shorten it.
  TestRun(const TestRunEnvironment& environment, RunEvents& events, TestClock& clock,
          std::chrono::milliseconds tickPeriod = kTestTimerPeriod);
  TestRun(const TestRun&) = delete;
  TestRun& operator=(const TestRun&) = delete;

  // The start: cleared values, no timer armed, and the started event.
  void begin();
  // The worker thread's body: the cable test, then the test chosen by TestKind.
  void runWorker();
  // The ticker thread's body: fires the armed timers as they come due, each followed by
  // `afterTick` (when given), until stopTicker().
  void runTicker(const std::function<void(int)>& afterTick = {});
  // Ends runTicker() once the tick it may be handling returns.
  void stopTicker() { m_schedule.close(); }
  // A tick of test timer 1..7: what the ticker does when it comes due.
  void onTimer(int timerId);
  // The Cancel / Close button. Raises closed() and returns true when the run is over now;
  // returns false while a running step is asked to stop.
  bool onCancel();

  // The system's reason for refusing a write, told before the run's own message: the
  // run's code says that it failed, this says why and what to do about it.
  void tellWriteRefusal();
  // Shows the message of `code` with `prefix` (one blank when empty) through the
  // prompter, stop icon, and keeps its text in LastErrorMessage. `detail`, when given,
  // follows the message: the drive's own reason.
  void showTestError(int code, const std::string& prefix = "", const std::string& detail = "");
  // The prefix of the running kind: "Quick Test::", "Extended Test::", "Erase::".
  std::string kindPrefix() const;
  // Ends a failed step: the message of TestError with the kind prefix, string 112,
  // TestState 1, the end, and the failure.
  void finishWithFailure();
  // The same end without a message (the failure was told where it happened): string 112,
  // TestState 1, the end, and the failure.
  void endFailed();
  // A step that ended well: string 111, TestState `state` (PASS or COMPLETE), the bar at
  // 100 and success.
  void showCompleted(int32_t state);
  // The running text or outcome, with a detail line where the times stood.
  void showStage(const std::string& line, std::optional<std::string> detail = std::nullopt);
  // The running text shown last, for a step that puts it back after a word of its own.
  std::string stageLine() const { return m_stageLine.get(); }
  // What the running step is said to take.
  void showEstimatedMinutes(int minutes);
  // A timed step begins: TestError 0, and the elapsed time counts from now.
  void beginTimedStep();
  // Cancel becomes Close: the run has ended, with the state and error it has now.
  void relabelClose();
  bool cancelReadsClose() const { return m_cancelIsClose.load(); }
  // Whether the user stopped the run: asked to (StopRequest) or already closed it as
  // ABORT (the self-test and second-unit timers clear the request when they close). A
  // step that sees this sends nothing more to the drive.
  bool stopped();

  Platform& platform() { return m_env.platform; }
  Prompter& prompter() { return m_env.prompter; }
  const StartupState& startup() const { return m_env.startup; }
  uint8_t raidMemberSelect() const { return m_env.raidMemberSelect; }
  RunEvents& events() { return m_events; }
  RunSchedule& schedule() { return m_schedule; }
  TestClock& clock() { return m_clock; }
  TestRunValues& values() { return m_env.values; }
  DriveRecord& drive() { return m_env.drive; }
  const DriveInstance* boundDrive() const { return m_env.boundDrive; }
  // The drive's number as the user sees it: its table index plus one.
  int shownDriveNumber() const { return m_env.driveIndex + 1; }

  // Per-run fields the test steps share. The worker sets the times and the range that
  // the timer reads, so those are atomics too.
  std::atomic<int64_t> startTime{0};          // seconds, set when a timed step begins
  std::atomic<uint64_t> currentSector{0};     // written by the worker, read by the timer
  std::atomic<uint64_t> firstSector{0};       // S of the running scan
  std::atomic<uint64_t> endSector{0};         // E of the running scan
  int sectorsPerBlock = kSectorsPerBlock;
  std::atomic<int> driveNumber{0};            // physical drive number of the run
  std::atomic<bool> repairInProgress{false};
  std::atomic<bool> stopRepair{false};        // set by Cancel; the repair stops before its next sector
  bool testMode = true;
  int tenthsDone = 0;                         // self-test progress kept between polls
  std::array<BadSector, kBadSectorSlots> badSectors{};
  int progressPosition() const { return m_progress.load(); }
  void setProgress(int percent);

 private:
  TestRunEnvironment m_env;
  RunEvents& m_events;
  TestClock& m_clock;
  RunSchedule m_schedule;
  std::atomic<bool> m_cancelIsClose{false};
  std::atomic<int> m_progress{0};
  std::atomic<int> m_tickCounter{0};          // 0..8, shared by the test timers
  LockedText m_stageLine;
};

}  // namespace palvoro
