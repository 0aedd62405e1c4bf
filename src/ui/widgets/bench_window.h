#pragma once
// The Bench window: many drives tested or erased at once, each in a row. At the top the
// drives of the table with their check boxes, the test or erase to run, Start and Stop
// All; below, one row per started drive with its bar, stage, rate, time left, bad sectors,
// temperature and outcome, and on each row's menu that drive's result page, scan map and
// logs. Everything shown is computed by BenchModel; the runs go on on the model's thread
// and a timer reads their rows, so the window stays free while they run.

#include <QDialog>
#include <QTimer>
#include <chrono>
#include <functional>

#include "diagnostics/run_clock.h"
#include "service/session.h"
#include "ui/model/bench_model.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace palvoro {

class BenchWindow : public QDialog {
  Q_OBJECT

 public:
  explicit BenchWindow(Session& session, QWidget* parent = nullptr);
  ~BenchWindow() override;

  // The runs' timer period and clock, and the seconds rates are taken in (tests shorten
  // and move them); by default one second, the system's clock and the steady clock.
  void setTiming(std::chrono::milliseconds tickPeriod, TestClock* clock, std::function<double()> now = {});
  // Writes an erase bench's certificates once every drive has ended; none without it.
  void setCertificateWriter(BenchCertificateWriter writer) { m_certificateWriter = std::move(writer); }
  // Whether a run took place while the window was open.
  bool testRan() const { return m_model.testRan(); }

  BenchModel& model() { return m_model; }
  QTreeWidget* driveList() const { return m_drives; }
  QComboBox* jobBox() const { return m_job; }
  QCheckBox* verifyBox() const { return m_verify; }
  QPushButton* startButton() const { return m_start; }
  QPushButton* stopButton() const { return m_stopAll; }
  QPushButton* closeButton() const { return m_close; }
  QTableWidget* runTable() const { return m_runs; }
  QProgressBar* progressBar(int runRow) const;
  QLabel* statusLine() const { return m_status; }
  // Reads the rows now, as the timer does.
  void refresh();
  // Wide enough for every column of the runs at its widest text.
  QSize sizeHint() const override;

 public slots:
  // Closing while drives run asks first; Yes stops them all and waits for their ends.
  void reject() override;

 private:
  void buildControls();
  void buildRunTable();
  void showDriveList();
  void showRunRows();
  void updateButtons();
  void onStart();
  void onDriveChanged(QTreeWidgetItem* item, int column);
  void showRowMenu(const QPoint& position);
  void openResultPage(int runRow);
  void openScanMap(int runRow);
  [[nodiscard]] bool stopBeforeClosing();

  Session& m_session;
  BenchModel m_model;
  BenchCertificateWriter m_certificateWriter;
  QTimer m_poll;
  bool m_filling = false;  // the list is being filled: its changes are not the user's
  int m_runsWidth = 0;     // the runs' columns side by side, with the table's frame

  QTreeWidget* m_drives = nullptr;
  QComboBox* m_job = nullptr;
  QCheckBox* m_verify = nullptr;
  QCheckBox* m_temperatureGuard = nullptr;
  QPushButton* m_start = nullptr;
  QPushButton* m_stopAll = nullptr;
  QTableWidget* m_runs = nullptr;
  QLabel* m_status = nullptr;
  QPushButton* m_close = nullptr;
};

}  // namespace palvoro
