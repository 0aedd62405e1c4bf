#pragma once
// The progress dialog in test mode (dialog 139, 236 x 84 dialog units): the window of one
// test run. It starts the run's worker thread, drives the run's timers with one-shot
// QTimers, forwards Cancel/Close and the Repair button, and shows what the run computed.
// The worker reaches the widgets only through a QtProgressView, which queues each call
// onto this dialog's thread. The detection mode of the same dialog is DetectionDialog.

#include <QDialog>
#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include "service/run_service.h"
#include "service/session.h"
#include "diagnostics/progress_view.h"
#include "diagnostics/run_clock.h"
#include "diagnostics/run.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace palvoro {

class QtProgressView;

class CScanDiskDlg : public QDialog, private ProgressView {
  Q_OBJECT

 public:
  // The test timers' period in the program.
  static constexpr int kTimerPeriodMs = 1000;

  // `timerMilliseconds` is the period of every test timer and `clock` the run's wall
  // clock (the system's when null); tests shorten the one and move the other by hand.
  CScanDiskDlg(Session& context, QWidget* parent = nullptr, int timerMilliseconds = kTimerPeriodMs,
               TestClock* clock = nullptr);
  // The dialog of one run on an explicit drive, as the run service hands it over.
  CScanDiskDlg(const TestRunEnvironment& environment, QWidget* parent = nullptr,
               int timerMilliseconds = kTimerPeriodMs, TestClock* clock = nullptr);
  ~CScanDiskDlg() override;
  // What the run left beside its values, once it has closed.
  RunSighting sighting() const;

  // Runs one test modally. The caller has set TestKind, EraseMode, TestState 4 and
  // TestError 0. Returns the close result (2 when Cancel/Close or a stop closed it).
  // The worker thread has ended when this returns, however the dialog was closed.
  int runTest();

  // The widget of a control id of the dialog's table; null for an unknown id.
  QWidget* control(int controlId) const;
  // The icon resource a picture control shows now (0 when none was set).
  int iconOf(int controlId) const;
  TestRun& testRun() { return *m_run; }
  // Whether a worker thread is running now.
  bool workerRunning() const { return m_workerRunning.load(); }

  // Cancel / Close, Escape and the title bar's close button.
  void reject() override;

 signals:
  // After each tick of a test timer has been handled.
  void timerTicked(int timerId);
  // Queued by the worker as its last act; arrives on the dialog's thread.
  void workerFinished();

 private:
  // ProgressView, on this dialog's thread only (the QtProgressView brings worker calls here).
  void setTitle(const std::string& title) override;
  void setText(int controlId, const std::string& text) override;
  void setProgress(int percent) override;
  void showControl(int controlId, bool visible) override;
  void setIcon(int controlId, int iconId) override;
  void armTimer(int timerId, int milliseconds) override;
  void disarmTimer(int timerId) override;
  void closeView(int result) override;

  void buildControls();
  QTimer* timer(int timerId);
  void onRepair();
  void waitForWorker();

  int m_timerMilliseconds;
  std::unique_ptr<TestClock> m_ownClock;
  std::unique_ptr<QtProgressView> m_queued;  // what the run talks to
  std::unique_ptr<TestRun> m_run;
  std::map<int, QWidget*> m_controls;
  std::map<int, int> m_icons;
  std::map<int, QTimer*> m_timers;
  QProgressBar* m_progress = nullptr;
  std::thread m_worker;
  std::atomic<bool> m_workerRunning{false};
  bool m_repairOffered = false;  // the Repair button was shown
  bool m_repairRun = false;
};

}  // namespace palvoro
