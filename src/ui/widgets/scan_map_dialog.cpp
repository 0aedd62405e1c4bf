#include "ui/widgets/scan_map_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/widgets/dialog_parts.h"

namespace palvoro {

namespace {

constexpr int kScaleHeight = 18;  // the surface's share below it

// The time labels left of the plot take the widest label's room.
int scaleWidth(const QFontMetrics& metrics) { return metrics.horizontalAdvance(QStringLiteral("100 ms")) + 10; }

QColor colourOf(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

QString joined(const std::vector<std::string>& lines) {
  QStringList list;
  for (const std::string& line : lines) list << QString::fromStdString(line);
  return list.join(QStringLiteral("\n"));
}

// The histogram: a row per bucket with its colour, label, count and a bar of its share.
class ScanMapHistogram : public QWidget {
 public:
  ScanMapHistogram(std::vector<ScanMapHistogramRow> rows, QWidget* parent) : QWidget(parent), m_rows(std::move(rows)) {
    setMinimumSize(sizeHint());
  }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<ScanMapHistogramRow> m_rows;
};

}  // namespace

ScanMapPlot::ScanMapPlot(std::vector<ScanMapBar> bars, QWidget* parent) : QWidget(parent), m_bars(std::move(bars)) {
  setMinimumSize(420, 220);
}

QRect ScanMapPlot::plotArea() const {
  const int scale = scaleWidth(fontMetrics());
  return QRect(scale, 6, width() - scale - 6, height() - kScaleHeight - 12);
}

void ScanMapPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect area = plotArea();
  p.fillRect(area, QColor(250, 250, 250));
  p.setPen(QColor(200, 200, 200));
  for (const ScanMapTick& tick : ScanMapModel::ticks()) {
    const int y = area.bottom() - static_cast<int>(tick.height * area.height());
    p.drawLine(area.left(), y, area.right(), y);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, y - 8, area.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
               QString::fromStdString(tick.label));
    p.setPen(QColor(200, 200, 200));
  }
  for (const ScanMapBar& bar : m_bars) {
    // At least a pixel wide, so that a lone slow stripe of a thousand still shows.
    const double left = area.left() + bar.left * area.width();
    const double width = std::max(1.0, bar.width * area.width());
    const double height = bar.height * area.height();
    p.fillRect(QRectF(left, area.bottom() + 1 - height, width, height), colourOf(bar.colour));
  }
  p.setPen(palette().color(QPalette::WindowText));
  p.drawRect(area.adjusted(0, 0, -1, 0));
  const char* shares[] = {"0%", "25%", "50%", "75%", "100%"};
  for (int i = 0; i < 5; ++i) {
    const int x = area.left() + i * (area.width() - 1) / 4;
    const Qt::Alignment align = i == 0 ? Qt::AlignLeft : (i == 4 ? Qt::AlignRight : Qt::AlignHCenter);
    const int boxLeft = i == 0 ? x : (i == 4 ? x - 60 : x - 30);
    p.drawText(QRect(boxLeft, area.bottom() + 3, 60, kScaleHeight), align | Qt::AlignTop, QString::fromLatin1(shares[i]));
  }
}

QSize ScanMapHistogram::sizeHint() const {
  // Room for the longest label, ten digits and a bar of 80 pixels.
  const int width = 18 + fontMetrics().horizontalAdvance(QStringLiteral("500 ms or more")) + 8 +
                    fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 8 + 80;
  return QSize(width, static_cast<int>(m_rows.size()) * (fontMetrics().height() + 6) + 4);
}

void ScanMapHistogram::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int rowHeight = fontMetrics().height() + 6;
  const int labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("500 ms or more")) + 8;
  const int countWidth = fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 8;
  int y = 2;
  for (const ScanMapHistogramRow& row : m_rows) {
    p.fillRect(QRect(0, y + 3, 12, rowHeight - 6), colourOf(row.colour));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(18, y, labelWidth, rowHeight), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(row.label));
    p.drawText(QRect(18 + labelWidth, y, countWidth - 8, rowHeight), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(row.blocks));
    const int barLeft = 18 + labelWidth + countWidth;
    const int barWidth = std::max(0, width() - barLeft - 2);
    // A bucket with any block shows at least a pixel: a single slow block matters.
    const int filled = row.blocks == 0 ? 0 : std::max(1, static_cast<int>(row.share * barWidth));
    p.fillRect(QRect(barLeft, y + 4, filled, rowHeight - 8), colourOf(row.colour));
    y += rowHeight;
  }
}

CScanMapDlg::CScanMapDlg(const ScanMapModel& model, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromStdString(model.title()));
  auto* layout = new QVBoxLayout(this);
  // The heading leads with the drive's model and serial: never markup.
  m_heading = plainTextLabel(QString::fromStdString(model.heading()), this);
  layout->addWidget(m_heading);
  auto* row = new QHBoxLayout;
  m_plot = new ScanMapPlot(model.bars(), this);
  row->addWidget(m_plot, 1);
  row->addWidget(new ScanMapHistogram(model.histogram(), this), 0, Qt::AlignTop);
  layout->addLayout(row, 1);
  std::vector<std::string> details = model.hints();
  const std::vector<std::string> slowest = model.slowestLines(5);
  if (!slowest.empty()) {
    details.push_back("Slowest blocks:");
    for (const std::string& line : slowest) details.push_back("    " + line);
  }
  m_details = plainTextLabel(joined(details), this);
  m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(m_details);
  m_close = addCloseRow(*this, *layout);
  resize(780, 440);
}

}  // namespace palvoro
