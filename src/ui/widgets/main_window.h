#pragma once
// The main window: the physical-drive list (upper) and the fixed volumes (lower), the
// banner, the logo and the two clickable pictures, Close and Help. It shows the rows
// MainWindowModel computes and hands every click, key and device change to it; the model
// decides which message or dialog follows.

#include <QDialog>
#include <QPixmap>
#include <functional>
#include <memory>

#include "service/session.h"
#include "diagnostics/run_clock.h"
#include "ui/model/dialog_opener.h"
#include "ui/model/main_window_model.h"
#include "ui/model/option_dialog_model.h"

class QLabel;
class QPushButton;

namespace palvoro {

class CXListCtrl;
class ResizeAdapter;

class CPalvoroDlg : public QDialog {
  Q_OBJECT
 public:
  // Without an opener the window opens the program's dialogs itself: the option dialog
  // (re-scanning after it when a test ran), the SMART window (its verdict written into the
  // row), the property sheet, the help viewer and the About box.
  // `CPalvoroDlg(context, parent)` is the form start-up uses.
  explicit CPalvoroDlg(Session& context, DialogOpener* opener = nullptr,
                       QWidget* parent = nullptr);
  CPalvoroDlg(Session& context, QWidget* parent);
  ~CPalvoroDlg() override;

  // The period of the test timers and the run's clock of the option dialogs this window
  // opens (one second and the system's clock unless a test shortens and moves them).
  void setTestTiming(int timerMilliseconds, TestClock* clock) {
    m_testTimerMilliseconds = timerMilliseconds;
    m_testClock = clock;
  }

  // Writes the certificate of each erase run from the option dialogs this window opens;
  // without one none is written.
  void setCertificateWriter(CertificateWriter writer) { m_certificateWriter = std::move(writer); }
  // ... and of each erase bench from the Bench window it opens.
  void setBenchCertificateWriter(BenchCertificateWriter writer) { m_benchCertificateWriter = std::move(writer); }

  // Replaces the re-scan's detection run (the re-scan dialog by default).
  void setDetectionRunner(std::function<void()> runner) { m_detectionRunner = std::move(runner); }

  MainWindowModel& model() { return *m_model; }
  CXListCtrl* physicalList() const { return m_physical; }
  CXListCtrl* logicalList() const { return m_logical; }
  QPushButton* closeButton() const { return m_close; }
  QPushButton* helpButton() const { return m_help; }
  QLabel* banner() const { return m_banner; }
  QLabel* logo() const { return m_logo; }
  QLabel* runTestsPicture() const { return m_runTests; }
  QLabel* smartPicture() const { return m_smart; }
  bool runTestsHover() const { return m_runTestsHover; }
  bool smartHover() const { return m_smartHover; }

 public slots:
  // A device arrived or left: re-scan the drives (absorbed while a re-scan runs).
  void onDeviceChange();
  // F5.
  void rescanDrives();
  // Shows `cell` in the SMART Status column of physical row `row` (the SMART window's
  // verdict; the rows are otherwise rebuilt only by a fill).
  void showSmartCell(int row, const ListCell& cell);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class DefaultOpener;

  void createControls();
  void setUpColumns();
  void showLists();
  void showAboutMenu(const QPoint& globalPos);
  void showRowMenu(int row, const QPoint& globalPos);
  void updateHover(const QPoint& clientPos);
  bool physicalHasFocus() const;

  Session& m_context;
  std::unique_ptr<DefaultOpener> m_defaultOpener;
  std::unique_ptr<MainWindowModel> m_model;
  std::function<void()> m_detectionRunner;
  int m_testTimerMilliseconds = 1000;
  TestClock* m_testClock = nullptr;
  CertificateWriter m_certificateWriter;
  BenchCertificateWriter m_benchCertificateWriter;

  QLabel* m_banner = nullptr;
  QLabel* m_logo = nullptr;
  QPushButton* m_close = nullptr;
  QPushButton* m_help = nullptr;
  QLabel* m_runTests = nullptr;
  QLabel* m_smart = nullptr;
  QLabel* m_logicalLabel = nullptr;
  CXListCtrl* m_physical = nullptr;
  CXListCtrl* m_logical = nullptr;
  QPixmap m_runTestsNormal, m_runTestsHoverPicture, m_smartNormal, m_smartHoverPicture;
  bool m_runTestsHover = false;
  bool m_smartHover = false;
  std::unique_ptr<ResizeAdapter> m_resize;
};

}  // namespace palvoro
