#pragma once
// The Drive Logs window: what the drive itself has recorded. The first page says in words
// what the logs suggest and which logs did not arrive; the pages after it hold the
// self-tests, the errors, the statistics and the temperature, with the temperature
// history drawn as a line against the drive's limit.

#include <QDialog>
#include <QWidget>

#include "service/drive_logs_model.h"
#include "service/session.h"

class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace palvoro {

// The temperature history: a line over time, oldest on the left, with the maximum
// operating temperature as a red line when the drive names one.
class TemperaturePlot : public QWidget {
  Q_OBJECT
 public:
  explicit TemperaturePlot(TemperatureSeries series, QWidget* parent = nullptr);
  QSize sizeHint() const override { return QSize(480, 160); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TemperatureSeries m_series;
};

class CDriveLogsDlg : public QDialog {
  Q_OBJECT
 public:
  CDriveLogsDlg(const DriveLogsModel& model, QWidget* parent = nullptr);

  QTabWidget* pages() const { return m_pages; }
  QLabel* heading() const { return m_heading; }
  QLabel* summary() const { return m_summary; }
  // The table of page `index` (1 for the first log), or null.
  QTableWidget* table(int index) const;
  TemperaturePlot* temperaturePlot() const { return m_plot; }
  QPushButton* closeButton() const { return m_close; }

 private:
  QTabWidget* m_pages = nullptr;
  QLabel* m_heading = nullptr;
  QLabel* m_summary = nullptr;
  TemperaturePlot* m_plot = nullptr;
  QPushButton* m_close = nullptr;
};

// Reads the logs of table index `drive` and shows them over `parent`, modal. The logs come
// from the drive, which may take seconds: a worker reads them while the windows keep
// painting, and no click reaches them meanwhile, so nothing starts another command on the
// drive. Nothing opens when the table holds no such drive.
void showDriveLogsOf(Session& session, int drive, QWidget* parent);

}  // namespace palvoro
