#pragma once
// The Scan Map window: a drive's last extended test at a glance. The surface runs left to
// right, each stripe a bar as high as its slowest block (a logarithmic scale from 100 µs
// to 10 s) in that block's colour; the histogram stands beside it, the slowest blocks and
// what the times suggest below.

#include <QDialog>
#include <QWidget>

#include "ui/model/scan_map_model.h"

class QLabel;
class QPushButton;

namespace palvoro {

// The plot of the bars, with its time scale on the left and the surface's share below.
class ScanMapPlot : public QWidget {
  Q_OBJECT
 public:
  ScanMapPlot(std::vector<ScanMapBar> bars, QWidget* parent = nullptr);
  // Where the bars are drawn inside the widget: the rest holds the scales.
  QRect plotArea() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<ScanMapBar> m_bars;
};

class CScanMapDlg : public QDialog {
  Q_OBJECT
 public:
  CScanMapDlg(const ScanMapModel& model, QWidget* parent = nullptr);

  ScanMapPlot* plot() const { return m_plot; }
  QLabel* heading() const { return m_heading; }
  QLabel* details() const { return m_details; }
  QPushButton* closeButton() const { return m_close; }

 private:
  ScanMapPlot* m_plot = nullptr;
  QLabel* m_heading = nullptr;
  QLabel* m_details = nullptr;
  QPushButton* m_close = nullptr;
};

}  // namespace palvoro
