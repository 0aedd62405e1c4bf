#pragma once
// What the test run shows, as calls on the progress dialog: texts by control id, the
// progress bar, icons, visibility, timers, closing. The Qt dialog queues each call onto
// the GUI thread; tests record them.

#include <string>

namespace palvoro {

// Control ids of the progress dialog (template 139).
enum ProgressControl : int {
  kCtlCancel = 2,            // "Cancel", relabelled "Close" when the run ends
  kCtlProgress = 1004,       // progress bar, 0..100
  kCtlDrivePicture = 1013,
  kCtlStatus = 1016,         // running text, then the outcome
  kCtlDriveLine = 1018,      // "Physical Drive %d:"
  kCtlEstimate = 1020,       // estimated time, or the remaining time (string 118)
  kCtlElapsed = 1022,        // "Elapsed Time: ..."; the cable failure text
  kCtlActivityIcon = 1024,
  kCtlCurrentSector = 1027,  // "%I64u of %I64u (%5.2f%%)"
  kCtlCurrentSectorLabel = 1029,
  kCtlSecondLine = 1041,
  kCtlRepair = 1042,         // "Repair", shown when 1 to 199 bad sectors were found
};

// Icon resources of the dialog.
enum ProgressIcon : int {
  kIconActivityFirst = 135,  // 135..138 turn while running
  kIconActivityLast = 138,
  kIconSuccess = 147,
  kIconFailure = 148,
};

// Every test timer runs this long; its handler re-arms it.
inline constexpr int kTestTimerMs = 1000;

// Test timers, re-armed by their handler.
enum TestTimer : int {
  kTimerSelfTest = 1,
  kTimerMediaScan = 2,
  kTimerErase = 4,
  kTimerSecondUnitVerify = 6,
  kTimerSecondUnitErase = 7,
};

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void setTitle(const std::string& title) = 0;
  virtual void setText(int controlId, const std::string& text) = 0;
  virtual void setProgress(int percent) = 0;
  virtual void showControl(int controlId, bool visible) = 0;
  virtual void setIcon(int controlId, int iconId) = 0;
  virtual void armTimer(int timerId, int milliseconds) = 0;
  virtual void disarmTimer(int timerId) = 0;
  // Closes the dialog as its close message with `result` would.
  virtual void closeView(int result) = 0;
  // Lets the GUI thread's pending messages run (the bad-sector recorder calls it after
  // every sector so the window stays alive).
  virtual void dispatchPendingMessages() {}
};

}  // namespace palvoro
