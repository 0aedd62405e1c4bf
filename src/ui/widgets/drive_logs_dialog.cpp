#include "ui/widgets/drive_logs_dialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <thread>

#include "ui/widgets/dialog_parts.h"
#include "ui/widgets/gui_call_queue.h"

namespace palvoro {

namespace {

constexpr int kMargin = 34;  // room for the degree labels on the left

QTableWidget* tableOf(const LogTable& log, QWidget* parent) {
  auto* table = new QTableWidget(static_cast<int>(log.rows.size()), static_cast<int>(log.columns.size()), parent);
  QStringList headers;
  for (const std::string& column : log.columns) headers << QString::fromStdString(column);
  table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->setVisible(false);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (size_t r = 0; r < log.rows.size(); ++r) {
    for (size_t c = 0; c < log.rows[r].size() && c < log.columns.size(); ++c) {
      table->setItem(static_cast<int>(r), static_cast<int>(c),
                     new QTableWidgetItem(QString::fromStdString(log.rows[r][c])));
    }
  }
  table->resizeColumnsToContents();
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

}  // namespace

TemperaturePlot::TemperaturePlot(TemperatureSeries series, QWidget* parent)
    : QWidget(parent), m_series(std::move(series)) {
  setMinimumSize(360, 140);
}

void TemperaturePlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRect area(kMargin, 6, width() - kMargin - 6, height() - 24);
  p.fillRect(area, QColor(250, 250, 250));
  int low = 100;
  int high = -100;
  for (const std::optional<int>& sample : m_series.celsius) {
    if (!sample) continue;
    low = std::min(low, *sample);
    high = std::max(high, *sample);
  }
  if (m_series.limit) high = std::max(high, *m_series.limit);
  // Whole tens around the readings, so the scale reads at a glance.
  low = (low - 5) / 10 * 10 - (low < 5 ? 10 : 0);
  high = (high + 14) / 10 * 10;
  const auto yOf = [&](int celsius) {
    return area.bottom() - (celsius - low) * area.height() / std::max(1, high - low);
  };
  p.setPen(QColor(210, 210, 210));
  for (int degrees = low; degrees <= high; degrees += 10) {
    const int y = yOf(degrees);
    p.drawLine(area.left(), y, area.right(), y);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, y - 8, kMargin - 4, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(degrees));
    p.setPen(QColor(210, 210, 210));
  }
  if (m_series.limit) {
    p.setPen(QPen(QColor(220, 0, 0), 2, Qt::DashLine));
    p.drawLine(area.left(), yOf(*m_series.limit), area.right(), yOf(*m_series.limit));
  }
  const size_t count = m_series.celsius.size();
  QPainterPath line;
  bool drawing = false;
  for (size_t i = 0; i < count; ++i) {
    const std::optional<int>& sample = m_series.celsius[i];
    if (!sample) {
      drawing = false;
      continue;
    }
    const double x = area.left() + (count <= 1 ? 0.0 : static_cast<double>(i) * area.width() / (count - 1));
    const QPointF point(x, yOf(*sample));
    if (drawing) {
      line.lineTo(point);
    } else {
      line.moveTo(point);
      drawing = true;
    }
  }
  p.setPen(QPen(QColor(0, 90, 200), 2));
  p.drawPath(line);
  p.setPen(palette().color(QPalette::WindowText));
  p.drawRect(area.adjusted(0, 0, -1, -1));
  const int minutes = static_cast<int>(count > 0 ? (count - 1) : 0) * m_series.intervalMinutes;
  const QString span = minutes >= 120 ? QStringLiteral("%1 hours ago").arg(minutes / 60)
                                      : QStringLiteral("%1 minutes ago").arg(minutes);
  p.drawText(QRect(area.left(), area.bottom() + 2, area.width(), 18), Qt::AlignLeft | Qt::AlignTop, span);
  p.drawText(QRect(area.left(), area.bottom() + 2, area.width(), 18), Qt::AlignRight | Qt::AlignTop,
             QStringLiteral("now (\u00B0C)"));
}

CDriveLogsDlg::CDriveLogsDlg(const DriveLogsModel& model, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromStdString(model.title()));
  auto* layout = new QVBoxLayout(this);
  // The heading leads with the drive's model and serial, the summary and the notes carry
  // the drive's own numbers: none of it is ever markup.
  m_heading = plainTextLabel(QString::fromStdString(model.heading()), this);
  layout->addWidget(m_heading);
  m_pages = new QTabWidget(this);

  QStringList lines;
  const std::vector<std::string> hints = model.hints();
  if (hints.empty()) {
    lines << QStringLiteral("Nothing in the drive's own logs calls for attention.");
  } else {
    for (const std::string& hint : hints) lines << QStringLiteral("\u2022 ") + QString::fromStdString(hint);
  }
  const std::string notRead = model.notReadLine();
  if (!notRead.empty()) lines << QString() << QString::fromStdString(notRead);
  lines << QString()
        << QStringLiteral("These hints come from the drive's own records. They do not change the test verdicts.");
  m_summary = plainTextLabel(lines.join(QStringLiteral("\n")), nullptr);
  m_summary->setWordWrap(true);
  m_summary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_summary->setMargin(8);
  m_pages->addTab(m_summary, QStringLiteral("Summary"));

  for (const LogTable& log : model.tables()) {
    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    if (log.title == "Temperature") {
      if (const std::optional<TemperatureSeries> series = model.temperatureSeries()) {
        m_plot = new TemperaturePlot(*series, page);
        pageLayout->addWidget(m_plot, 1);
      }
    }
    pageLayout->addWidget(tableOf(log, page), 1);
    QLabel* note = plainTextLabel(QString::fromStdString(log.note), page);
    note->setWordWrap(true);
    pageLayout->addWidget(note);
    m_pages->addTab(page, QString::fromStdString(log.title));
  }
  layout->addWidget(m_pages, 1);

  m_close = addCloseRow(*this, *layout);
  resize(780, 480);
}

QTableWidget* CDriveLogsDlg::table(int index) const {
  if (index < 1 || index >= m_pages->count()) return nullptr;
  return m_pages->widget(index)->findChild<QTableWidget*>();
}

void showDriveLogsOf(Session& session, int drive, QWidget* parent) {
  std::optional<DriveLogsModel> model;
  QEventLoop wait;
  GuiCallQueue queue;
  const GuiCallQueue::Sender back = queue.sender();
  std::thread reader([&] {
    model = readDriveLogsOf(session, drive);
    back.post([&wait] { wait.quit(); });
  });
  QApplication::setOverrideCursor(Qt::WaitCursor);
  wait.exec(QEventLoop::ExcludeUserInputEvents);
  QApplication::restoreOverrideCursor();
  reader.join();
  if (!model) return;
  CDriveLogsDlg window(std::move(*model), parent);
  window.exec();
}

}  // namespace palvoro
