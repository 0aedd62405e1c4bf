#pragma once
// The detection dialog (dialog 139 in detection mode): starts minimised, runs the
// detection run on a worker thread and waits for it with timer 1000, showing itself from
// the second tick. In re-scan mode the title reads "Re-scanning drives...".

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <thread>

#include "service/session.h"
#include "ui/widgets/gui_call_queue.h"
#include "ui/model/detection_ticker.h"

class QEventLoop;
class QLabel;
class QProgressBar;

namespace palvoro {

class DetectionDialog : public QDialog, private DetectionDialogView {
  Q_OBJECT

 public:
  enum class Mode { Detect, Rescan };

  // `tickMilliseconds` is timer 1000's period; tests shorten it.
  DetectionDialog(Session& context, Mode mode, QWidget* parent = nullptr,
                  int tickMilliseconds = DetectionTicker::kTimerPeriodMs);
  ~DetectionDialog() override;

  // Runs the dialog modally and returns QDialog::Accepted (detection finished) or
  // Rejected (the wait was given up). Either way the worker has ended when this returns:
  // nobody reads a table that is still being filled.
  int run();

  // One tick of timer 1000 (the timer calls it; tests may too).
  void tick() { m_ticker.onTick(); }
  const DetectionTicker& ticker() const { return m_ticker; }
  QProgressBar* progressBar() const { return m_progress; }

 private:
  void setTitle(const std::string& title) override;
  void setProgress(int percent) override;
  void restore() override;
  void armTimer(int milliseconds) override;
  void disarmTimer() override;
  void closeView(bool ok) override;
  // Keeps the GUI thread's events running until the worker has ended, then joins it.
  void waitForWorker();

  Session& m_context;
  Mode m_mode;
  int m_tickMilliseconds;
  DetectionTicker m_ticker{*this};
  QTimer m_timer;
  GuiCallQueue m_calls;  // the worker's setTitle and armTimer travel by it
  QLabel* m_text = nullptr;
  QProgressBar* m_progress = nullptr;
  std::thread m_worker;
  std::atomic<bool> m_workerRunning{false};
  QEventLoop* m_waitLoop = nullptr;  // GUI thread only: the loop waitForWorker() runs
};

}  // namespace palvoro
