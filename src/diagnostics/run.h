#pragma once
// One run of one test on the selected drive: the test mode of the progress dialog without
// its window. The dialog (or a test) calls begin(), runs runWorker() on a worker thread,
// forwards each timer tick to onTimer() and the Cancel button to onCancel(); everything
// shown goes through the ProgressView.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "diagnostics/progress_view.h"
#include "diagnostics/run_clock.h"
#include "diagnostics/run_environment.h"
#include "diagnostics/run_values.h"

namespace palvoro {

// One unreadable sector: its number and the system error of the failed read.
struct BadSector {
  uint64_t sector = 0;
  uint32_t error = 0;
};

inline constexpr int kBadSectorSlots = 200;
inline constexpr int kSectorsPerBlock = 256;
inline constexpr int kTestVolumeSlots = 80;

class TestRun {
 public:
  TestRun(const TestRunEnvironment& environment, ProgressView& view, TestClock& clock);
  TestRun(const TestRun&) = delete;
  TestRun& operator=(const TestRun&) = delete;

  // The dialog's start in test mode: title, drive line, cleared values, hidden controls.
  void begin();
  // The worker thread's body: the cable test, then the test chosen by TestKind.
  void runWorker();
  // A tick of test timer 1..7.
  void onTimer(int timerId);
  // The Cancel / Close button. Closes the view (result 2) and returns true when the dialog
  // closes now; returns false while a running step is asked to stop.
  bool onCancel();

  // Shows the message of `code` with `prefix` (one blank when empty) through the
  // prompter, stop icon, and keeps its text in LastErrorMessage.
  // The system's reason for refusing a write, told before the run's own message: the
  // run's code says that it failed, this says why and what to do about it.
  void tellWriteRefusal();
  void showTestError(int code, const std::string& prefix = "");
  // The prefix of the running kind: "Quick Test::", "Extended Test::", "Erase::".
  std::string kindPrefix() const;
  // Ends a failed step: the message of TestError with the kind prefix, string 112,
  // TestState 1, Cancel relabelled "Close", icon 148.
  void finishWithFailure();
  // The same end without a message (the failure was told where it happened): string 112,
  // TestState 1, Cancel relabelled "Close", icon 148.
  void endFailed();
  // A step that ended well: string 111, TestState `state` (PASS or COMPLETE), the bar at
  // 100 and icon 147.
  void showCompleted(int32_t state);
  // A timed step begins: TestError 0, and the elapsed time counts from now.
  void beginTimedStep();
  // Relabels Cancel as "Close": the run has ended.
  void relabelClose();
  bool cancelReadsClose() const { return m_cancelIsClose.load(); }
  // Whether the user stopped the run: asked to (StopRequest) or already closed it as
  // ABORT (the self-test and second-unit timers clear the request when they close). A
  // step that sees this sends nothing more to the drive.
  bool stopped();
  // The activity icon starts again at its first frame with the next re-armed tick.
  void resetActivityIcon() { m_iconFrame = kIconActivityFirst; }

  Platform& platform() { return m_env.platform; }
  Prompter& prompter() { return m_env.prompter; }
  const StartupState& startup() const { return m_env.startup; }
  uint8_t raidMemberSelect() const { return m_env.raidMemberSelect; }
  ProgressView& view() { return m_view; }
  TestClock& clock() { return m_clock; }
  TestRunValues& values() { return m_env.values; }
  DriveRecord& drive() { return m_env.drive; }
  const DriveInstance* boundDrive() const { return m_env.boundDrive; }
  // The drive's number as the user sees it: its table index plus one.
  int shownDriveNumber() const { return m_env.driveIndex + 1; }

  // Per-dialog fields the test steps share. The worker sets the times and the range that
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
  ProgressView& m_view;
  TestClock& m_clock;
  std::atomic<bool> m_cancelIsClose{false};
  std::atomic<int> m_progress{0};
  std::atomic<int> m_tickCounter{0};          // 0..8, shared by the test timers
  std::atomic<int> m_iconFrame{kIconActivityFirst};
};

}  // namespace palvoro
