#pragma once
// The detection dialog's logic without widgets: the worker's started and busy marks and
// the rules of timer 1000, which ticks once a second while detection runs. The dialog
// calls onTick() from its timer; tests call it directly, so no test waits a second.

#include <atomic>
#include <functional>
#include <string>

namespace palvoro {

// What the rules do to the dialog. The ticker calls these on the thread it is called on:
// onTick and begin on the GUI thread, the worker's calls on the worker thread (the
// dialog's setTitle and armTimer must carry themselves onto the GUI thread).
class DetectionDialogView {
 public:
  virtual ~DetectionDialogView() = default;
  virtual void setTitle(const std::string& title) = 0;
  virtual void setProgress(int percent) = 0;
  // Restores the dialog from its minimised state and shows it.
  virtual void restore() = 0;
  virtual void armTimer(int milliseconds) = 0;
  virtual void disarmTimer() = 0;
  // Closes the dialog as with OK (true) or Cancel (false).
  virtual void closeView(bool ok) = 0;
};

class DetectionTicker {
 public:
  static constexpr int kTimerId = 1000;
  static constexpr int kTimerPeriodMs = 1000;
  static constexpr int kInitialProgress = 5;
  static constexpr int kProgressPerTick = 5;
  // The wait ends with Cancel once the counter passes this, at the 21st tick.
  static constexpr int kLastWaitingTick = 20;

  explicit DetectionTicker(DetectionDialogView& view) : m_view(view) {}

  // Dialog initialisation: the bar at 5 and detection marked busy, before the worker starts.
  void begin();
  // The worker's whole life: marks that it started, sets the re-scan title, starts the
  // timer, runs `detection`, clears the busy mark.
  void runWorker(bool rescan, const std::function<void()>& detection);
  // One tick of timer 1000.
  void onTick();

  bool busy() const { return m_busy.load(); }
  bool startedMark() const { return m_started.load(); }
  int tickCounter() const { return m_tickCounter; }

 private:
  DetectionDialogView& m_view;
  std::atomic<bool> m_started{false};  // written by the worker, cleared by the first tick
  std::atomic<bool> m_busy{false};     // set by begin(), cleared by the worker at its end
  int m_tickCounter = 0;               // GUI thread only
};

}  // namespace palvoro
