#pragma once
// The History window: what the drives' history kept of one drive. One page lists its runs,
// newest first; the next draws a small chart per value followed over time; the last says
// what worsened from one reading to the next. A drive never kept, or a history that would
// not open, is said in words, with nothing drawn.

#include <QDialog>
#include <QWidget>
#include <vector>

#include "service/session.h"
#include "ui/model/history_model.h"

class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace palvoro {

// One series over time: its name and unit above, the values on the left, the dates below,
// each reading marked and joined to the next.
class HistoryChartView : public QWidget {
  Q_OBJECT
 public:
  explicit HistoryChartView(HistoryChart chart, QWidget* parent = nullptr);
  QSize sizeHint() const override { return QSize(380, 190); }
  QSize minimumSizeHint() const override { return QSize(300, 160); }
  const HistoryChart& chart() const { return m_chart; }
  // Where the readings are drawn inside the widget: the rest holds the labels.
  QRect plotArea() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  HistoryChart m_chart;
};

class CHistoryDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CHistoryDlg(const HistoryModel& model, QWidget* parent = nullptr);
  // Room for the runs' columns and two charts abreast; the words alone need little.
  QSize sizeHint() const override;

  QLabel* heading() const { return m_heading; }
  QLabel* notes() const { return m_notes; }
  // Null when there is no history to show.
  QTabWidget* pages() const { return m_pages; }
  QTableWidget* runsTable() const { return m_runs; }
  // Null when there is no change to list.
  QTableWidget* changesTable() const { return m_changes; }
  const std::vector<HistoryChartView*>& charts() const { return m_charts; }
  QPushButton* closeButton() const { return m_close; }

 private:
  QWidget* chartsPage(const HistoryModel& model);
  QWidget* changesPage(const HistoryModel& model);

  QLabel* m_heading = nullptr;
  QLabel* m_notes = nullptr;
  QTabWidget* m_pages = nullptr;
  QTableWidget* m_runs = nullptr;
  QTableWidget* m_changes = nullptr;
  std::vector<HistoryChartView*> m_charts;
  QPushButton* m_close = nullptr;
};

// Looks up table index `drive` in the session's history and shows it over `parent`, modal.
// Nothing opens when the table holds no such drive.
void showHistoryOf(Session& session, int drive, QWidget* parent);

}  // namespace palvoro
