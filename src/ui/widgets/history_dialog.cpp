#include "ui/widgets/history_dialog.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>

#include "ui/widgets/dialog_parts.h"

namespace palvoro {

namespace {

constexpr int kPointRadius = 3;
constexpr int kGap = 6;  // between a label and what it labels
const QColor kLine(0, 90, 200);
const QColor kGrid(215, 215, 215);
const QColor kFailed(200, 0, 0);

QString qt(const std::string& text) { return QString::fromStdString(text); }

QTableWidget* runsTableOf(const HistoryModel& model, QWidget* parent) {
  const std::vector<std::string> columns = HistoryModel::runColumns();
  const std::vector<HistoryRunRow> rows = model.runRows();
  auto* table = new QTableWidget(static_cast<int>(rows.size()), static_cast<int>(columns.size()), parent);
  QStringList headers;
  for (const std::string& column : columns) headers << qt(column);
  table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->setVisible(false);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].cells.size() && c < columns.size(); ++c) {
      auto* item = new QTableWidgetItem(qt(rows[r].cells[c]));
      if (rows[r].failed) item->setForeground(kFailed);
      table->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  }
  table->resizeColumnsToContents();
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

}  // namespace

HistoryChartView::HistoryChartView(HistoryChart chart, QWidget* parent) : QWidget(parent), m_chart(std::move(chart)) {
  setMinimumSize(minimumSizeHint());
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QRect HistoryChartView::plotArea() const {
  const QFontMetrics metrics = fontMetrics();
  int labels = 0;
  for (const HistoryTick& tick : m_chart.valueTicks) labels = std::max(labels, metrics.horizontalAdvance(qt(tick.label)));
  const int left = labels + 2 * kGap;
  const int top = metrics.height() + kGap + metrics.height() / 2;
  const int bottom = metrics.height() + kGap;
  return QRect(left, top, width() - left - 2 * kGap, height() - top - bottom);
}

void HistoryChartView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QColor text = palette().color(QPalette::WindowText);
  const QFontMetrics metrics = fontMetrics();
  const QRect area = plotArea();
  QFont bold = font();
  bold.setBold(true);
  p.setFont(bold);
  p.setPen(text);
  p.drawText(QRect(0, 0, width(), metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, qt(m_chart.title));
  p.setFont(font());
  p.fillRect(area, QColor(250, 250, 250));
  const auto yOf = [&area](double at) { return area.bottom() - at * (area.height() - 1); };
  const auto xOf = [&area](double at) { return area.left() + at * (area.width() - 1); };
  for (const HistoryTick& tick : m_chart.valueTicks) {
    const double y = yOf(tick.at);
    p.setPen(kGrid);
    p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    p.setPen(text);
    p.drawText(QRectF(0, y - metrics.height() / 2.0, area.left() - kGap, metrics.height()),
               Qt::AlignRight | Qt::AlignVCenter, qt(tick.label));
  }
  for (const HistoryTick& tick : m_chart.timeTicks) {
    const double x = xOf(tick.at);
    p.setPen(text);
    p.drawLine(QPointF(x, area.bottom()), QPointF(x, area.bottom() + 3));
    // Centred under its mark, but never past the widget's edges.
    const int labelWidth = metrics.horizontalAdvance(qt(tick.label));
    const double left = std::clamp(x - labelWidth / 2.0, 0.0, static_cast<double>(width() - labelWidth));
    p.drawText(QRectF(left, area.bottom() + 4, labelWidth, metrics.height()), Qt::AlignCenter, qt(tick.label));
  }
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath line;
  for (size_t i = 0; i < m_chart.points.size(); ++i) {
    const QPointF point(xOf(m_chart.points[i].x), yOf(m_chart.points[i].y));
    if (i == 0) line.moveTo(point);
    else line.lineTo(point);
  }
  p.setPen(QPen(kLine, 2));
  p.drawPath(line);
  p.setBrush(kLine);
  p.setPen(QPen(Qt::white, 1));
  for (const HistoryPoint& point : m_chart.points) {
    p.drawEllipse(QPointF(xOf(point.x), yOf(point.y)), kPointRadius + 0.5, kPointRadius + 0.5);
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setBrush(Qt::NoBrush);
  p.setPen(text);
  p.drawRect(area.adjusted(0, 0, -1, -1));
}

CHistoryDlg::CHistoryDlg(const HistoryModel& model, QWidget* parent) : QDialog(parent) {
  setWindowTitle(qt(model.title()));
  auto* layout = new QVBoxLayout(this);
  // The heading leads with the drive's model and serial, the notes may carry a file name:
  // never markup.
  m_heading = plainTextLabel(qt(model.heading()), this);
  layout->addWidget(m_heading);
  QStringList notes;
  for (const std::string& note : model.notes()) notes << qt(note);
  m_notes = plainTextLabel(notes.join(QStringLiteral("\n")), this);
  m_notes->setWordWrap(true);
  m_notes->setVisible(!notes.isEmpty());
  layout->addWidget(m_notes);
  if (model.hasHistory()) {
    m_pages = new QTabWidget(this);
    m_runs = runsTableOf(model, m_pages);
    m_pages->addTab(m_runs, QStringLiteral("Runs"));
    m_pages->addTab(chartsPage(model), QStringLiteral("Over Time"));
    layout->addWidget(m_pages, 1);
  } else {
    layout->addStretch(1);
  }
  m_close = addCloseRow(*this, *layout);
  if (model.hasHistory()) {
    resize(860, 640);
  } else {
    resize(520, 160);
  }
}

QWidget* CHistoryDlg::chartsPage(const HistoryModel& model) {
  const std::vector<HistoryChart> charts = model.charts();
  if (charts.empty()) {
    QLabel* note = plainTextLabel(qt(model.chartsNote()), nullptr);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note->setMargin(8);
    return note;
  }
  auto* scroll = new QScrollArea;
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* grid = new QWidget;
  auto* layout = new QGridLayout(grid);
  layout->setHorizontalSpacing(18);
  layout->setVerticalSpacing(14);
  // Two abreast: each chart keeps room for its dates below it.
  for (size_t i = 0; i < charts.size(); ++i) {
    auto* view = new HistoryChartView(charts[i], grid);
    m_charts.push_back(view);
    layout->addWidget(view, static_cast<int>(i / 2), static_cast<int>(i % 2));
  }
  layout->setRowStretch(static_cast<int>((charts.size() + 1) / 2), 1);
  scroll->setWidget(grid);
  return scroll;
}

void showHistoryOf(Session& session, int drive, QWidget* parent) {
  DriveRecord record{};
  {
    std::lock_guard lock(session.tableMutex());
    if (drive < 0 || drive >= session.driveTable().driveCount()) return;
    record = session.driveTable().records[drive];
  }
  CHistoryDlg window(historyOf(session.history(), session.historyNote(), record, drive + 1), parent);
  window.exec();
}

}  // namespace palvoro
