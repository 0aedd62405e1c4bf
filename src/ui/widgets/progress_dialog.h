#pragma once
// The progress dialog in test mode (dialog 139, 236 x 84 dialog units): the window of one
// test run. It starts the run's worker and ticker threads, forwards Cancel/Close and the
// Repair button, and maps the run's events onto its controls. The run's threads reach the
// widgets only through a QtProgressView, which queues each event onto this dialog's
// thread. The detection mode of the same dialog is DetectionDialog.

#include <QDialog>
#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include "service/run_service.h"
#include "service/session.h"
#include "diagnostics/run_clock.h"
#include "diagnostics/run.h"
#include "diagnostics/run_events.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace palvoro {

class QtProgressView;

// Control ids of the dialog (template 139).
enum ProgressControl : int {
  kCtlCancel = 2,            // "Cancel", relabelled "Close" when the run ends
  kCtlProgress = 1004,       // progress bar, 0..100
  kCtlDrivePicture = 1013,
  kCtlStatus = 1016,         // running text, then the outcome
  kCtlDriveLine = 1018,      // "Physical Drive %d:"
  kCtlEstimate = 1020,       // estimated time, or the remaining time (string 118)
  kCtlElapsed = 1022,        // "Elapsed Time: ..."; a stage's detail line
  kCtlActivityIcon = 1024,
  kCtlCurrentSector = 1027,  // "%I64u of %I64u (%5.2f%%)"
  kCtlCurrentSectorLabel = 1029,
  kCtlSecondLine = 1041,
  kCtlRepair = 1042,         // "Repair", shown when 1 to 199 bad sectors were found
};

class CScanDiskDlg : public QDialog, private RunEvents {
  Q_OBJECT

 public:
  // The test timers' period in the program.
  static constexpr int kTimerPeriodMs = static_cast<int>(kTestTimerPeriod.count());

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
  // The worker and ticker threads have ended when this returns, however the dialog was
  // closed.
  int runTest();

  // The widget of a control id of the dialog's table; null for an unknown id.
  QWidget* control(int controlId) const;
  // The icon resource a picture control shows now (0 when none was set).
  int iconOf(int controlId) const;
  TestRun& testRun() { return *m_run; }
  // Whether the worker thread is running now.
  bool workerRunning() const { return m_workerRunning.load(); }

  // Cancel / Close, Escape and the title bar's close button.
  void reject() override;

 signals:
  // After each tick of a test timer has been handled; the ticker waits until it returns.
  void timerTicked(int timerId);
  // Queued by the worker as its last act; arrives on the dialog's thread.
  void workerFinished();
  // Queued by the ticker as its last act.
  void tickerFinished();

 private:
  // RunEvents, on this dialog's thread only (the QtProgressView brings the others here).
  void started(const RunStarted& start) override;
  void stage(const RunStage& stage) override;
  void progress(const RunProgress& progress) override;
  void scanStarted() override;
  void repairStarted() override;
  void repairOffered(bool offered) override;
  void activity(RunActivity activity) override;
  void ended(const RunEnd& end) override;
  void closed() override;

  void buildControls();
  void setText(int controlId, const std::string& text);
  void setIcon(int controlId, int iconId);
  void onRepair();
  void waitForThreads();

  std::unique_ptr<TestClock> m_ownClock;
  std::unique_ptr<QtProgressView> m_queued;  // what the run talks to
  std::unique_ptr<TestRun> m_run;
  std::map<int, QWidget*> m_controls;
  std::map<int, int> m_icons;
  int m_activityFrame = 0;  // the next turning-disk frame, from 0
  QProgressBar* m_progress = nullptr;
  std::thread m_worker;
  std::thread m_ticker;
  std::atomic<bool> m_workerRunning{false};
  std::atomic<int> m_threadsRunning{0};
  bool m_repairOffered = false;  // the Repair button was shown
  bool m_repairRun = false;
};

}  // namespace palvoro
