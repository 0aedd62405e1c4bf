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
  table->setWordWrap(false);  // one line a run, so the list reads down
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].cells.size() && c < columns.size(); ++c) {
      auto* item = new QTableWidgetItem(qt(rows[r].cells[c]));
      item->setToolTip(item->text());  // a long message is cut to its column
      if (rows[r].failed) item->setForeground(kFailed);
      table->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  }
  table->resizeColumnsToContents();
  // The message takes what room is left rather than widening the table past the window.
  table->horizontalHeader()->setSectionResizeMode(static_cast<int>(columns.size()) - 1, QHeaderView::Stretch);
  return table;
}

// The charts page: as many charts abreast as its width holds, so that a narrow window
// scrolls down rather than sideways. It sizes its grid itself: a scroll area that resizes
// its widget learns of the grid's new rows only after it has laid them over each other.
// The vertical bar always shows, so that its coming and going never changes the width
// the columns were counted for.
class ChartsArea : public QScrollArea {
 public:
  explicit ChartsArea(std::vector<HistoryChartView*> views) : m_views(std::move(views)) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* grid = new QWidget;
    m_layout = new QGridLayout(grid);
    m_layout->setHorizontalSpacing(18);
    m_layout->setVerticalSpacing(14);
    for (HistoryChartView* view : m_views) view->setParent(grid);
    setWidget(grid);
    place(2);
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    const int room = viewport()->width() - m_layout->contentsMargins().left() - m_layout->contentsMargins().right();
    const int across = std::max(1, (room + 18) / (m_views.front()->minimumSizeHint().width() + 18));
    if (across != m_across) place(across);
    m_layout->activate();
    widget()->resize(viewport()->width(), std::max(m_layout->totalMinimumSize().height(), viewport()->height()));
  }

 private:
  void place(int across) {
    m_across = across;
    for (HistoryChartView* view : m_views) m_layout->removeWidget(view);
    for (int c = 0; c < m_layout->columnCount(); ++c) m_layout->setColumnStretch(c, 0);
    for (size_t i = 0; i < m_views.size(); ++i) {
      m_layout->addWidget(m_views[i], static_cast<int>(i) / across, static_cast<int>(i) % across);
    }
    for (int c = 0; c < across; ++c) m_layout->setColumnStretch(c, 1);
    // Spare height below the last row, not between the charts.
    for (int r = 0; r < m_layout->rowCount(); ++r) m_layout->setRowStretch(r, 0);
    m_layout->setRowStretch((static_cast<int>(m_views.size()) + across - 1) / across, 1);
  }

  std::vector<HistoryChartView*> m_views;
  QGridLayout* m_layout = nullptr;
  int m_across = 0;
};

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
  // The frame first: a series that stays on the bottom line is drawn over it, not under.
  p.setPen(text);
  p.drawRect(area.adjusted(0, 0, -1, -1));
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
    m_pages->addTab(changesPage(model), QStringLiteral("Changes"));
    layout->addWidget(m_pages, 1);
  } else {
    layout->addStretch(1);
  }
  m_close = addCloseRow(*this, *layout);
  resize(sizeHint());
}

QSize CHistoryDlg::sizeHint() const {
  if (m_pages == nullptr) return QDialog::sizeHint().expandedTo(QSize(560, 150));
  return QSize(900, 640);
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
  for (const HistoryChart& chart : charts) m_charts.push_back(new HistoryChartView(chart));
  return new ChartsArea(m_charts);
}

QWidget* CHistoryDlg::changesPage(const HistoryModel& model) {
  const std::vector<HistoryChangeRow> rows = model.changeRows();
  if (rows.empty()) {
    QLabel* note = plainTextLabel(qt(model.changesNote()), nullptr);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note->setMargin(8);
    return note;
  }
  m_changes = new QTableWidget(static_cast<int>(rows.size()), 2);
  m_changes->setHorizontalHeaderLabels({QStringLiteral("Seen (UTC)"), QStringLiteral("What worsened")});
  m_changes->verticalHeader()->setVisible(false);
  m_changes->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_changes->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_changes->setWordWrap(false);
  for (size_t r = 0; r < rows.size(); ++r) {
    for (int c = 0; c < 2; ++c) {
      auto* item = new QTableWidgetItem(qt(c == 0 ? rows[r].when : rows[r].text));
      item->setToolTip(item->text());
      if (rows[r].critical) item->setForeground(kFailed);
      m_changes->setItem(static_cast<int>(r), c, item);
    }
  }
  m_changes->resizeColumnsToContents();
  m_changes->horizontalHeader()->setStretchLastSection(true);
  return m_changes;
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
