#include "ui/widgets/xlist_ctrl.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QToolTip>

namespace palvoro {
namespace {

QColor toQColor(Rgb rgb) { return QColor::fromRgb(static_cast<QRgb>(0xFF000000u | rgb)); }

std::int32_t fromQColor(const QColor& colour) {
  if (!colour.isValid()) return kListDefaultColour;
  return static_cast<std::int32_t>(colour.rgb() & 0xFFFFFFu);
}

Rgb paletteRgb(const QPalette& palette, QPalette::ColorRole role) {
  return palette.color(QPalette::Active, role).rgb() & 0xFFFFFFu;
}

// Draws every cell: background, image, text, by the rules of ui/model/list_cells.h.
class CellPainter : public QStyledItemDelegate {
 public:
  explicit CellPainter(CXListCtrl* list) : QStyledItemDelegate(list), m_list(list) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const int row = index.row();
    const int column = index.column();
    const CellRecord* cell = m_list->cells().cell(row, column);
    if (cell == nullptr) return;
    const CellColours colours =
        cellDrawColours(*cell, m_list->drawState(row, column), m_list->cells().listColours());
    const QRect rect = option.rect;
    painter->save();
    painter->setClipRect(rect);
    painter->fillRect(rect, toQColor(colours.background));

    const QList<QPixmap>& images = m_list->images();
    const QSize imageSize = images.isEmpty() ? QSize() : images.front().deviceIndependentSize().toSize();
    const CellContentLayout layout = cellContentLayout(rect.height(), !images.isEmpty(), cell->image,
                                                       imageSize.width(), imageSize.height());
    if (layout.drawImage && cell->image >= 0 && cell->image < images.size()) {
      painter->drawPixmap(rect.left() + layout.imageX, rect.top() + layout.imageY,
                          images[cell->image]);
    }
    painter->setPen(toQColor(colours.text));
    painter->setFont(option.font);
    const QRect textRect = rect.adjusted(layout.textX, 0, 0, 0);
    painter->drawText(textRect,
                      static_cast<int>(m_list->columnAlignment(column) | Qt::AlignVCenter) |
                          Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    int height = option.fontMetrics.height() + 4;
    if (!m_list->images().isEmpty()) {
      height = std::max(height, m_list->images().front().deviceIndependentSize().toSize().height() + 2);
    }
    size.setHeight(height);
    return size;
  }

 private:
  CXListCtrl* m_list;
};

}  // namespace

CXHeaderCtrl::CXHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setStretchLastSection(false);
  setSectionsMovable(false);
  setHighlightSections(false);
  setDefaultAlignment(Qt::AlignCenter);
}

CXHeaderCtrl::CaptionFit CXHeaderCtrl::fitCaption(const QString& caption, int sectionWidth) const {
  // Column widths are given in pixels for a narrower dialog font than this system's: a
  // caption that would be cut first gives up spacing, then up to a point and a half of
  // size, and is elided only when even that is not enough.
  CaptionFit fit{font(), kSpacing};
  auto fits = [&] { return QFontMetrics(fit.font).horizontalAdvance(caption) <= sectionWidth - 2 * fit.spacing; };
  while (!fits() && fit.spacing > kMinSpacing) --fit.spacing;
  const qreal smallest = font().pointSizeF() - 1.5;
  while (!fits() && fit.font.pointSizeF() > 0 && fit.font.pointSizeF() - 0.5 >= smallest) {
    fit.font.setPointSizeF(fit.font.pointSizeF() - 0.5);
  }
  return fit;
}

void CXHeaderCtrl::paintEvent(QPaintEvent*) {
  QWidget* surface = viewport();
  const qreal ratio = surface->devicePixelRatioF();
  // Painted off-screen in full, then copied in one step; no separate background erase.
  QPixmap buffer(surface->size() * ratio);
  buffer.setDevicePixelRatio(ratio);
  const QPalette& pal = palette();
  const QColor face = pal.color(QPalette::Button);
  const QColor shadow = pal.color(QPalette::Dark);
  const QColor light = pal.color(QPalette::Light);
  const int height = surface->height();

  QPainter painter(&buffer);
  painter.fillRect(QRect(QPoint(0, 0), surface->size()), face);
  int right = 0;
  for (int visual = 0; visual < count(); ++visual) {
    const int logical = logicalIndex(visual);
    if (isSectionHidden(logical)) continue;
    const int left = sectionViewportPosition(logical);
    const int edge = left + sectionSize(logical);
    const QString caption = model() ? model()->headerData(logical, orientation()).toString() : QString();
    const CaptionFit fit = fitCaption(caption, sectionSize(logical));
    const QRect captionRect(left + fit.spacing, 0, sectionSize(logical) - 2 * fit.spacing, height);
    painter.setFont(fit.font);
    painter.setPen(QColor(0, 0, 255));
    painter.drawText(captionRect, Qt::AlignCenter | Qt::TextSingleLine,
                     QFontMetrics(fit.font).elidedText(caption, Qt::ElideRight, std::max(0, captionRect.width())));
    // Etched separator: shadow one pixel left of the edge, highlight on it.
    painter.setPen(shadow);
    painter.drawLine(edge - 1, 2, edge - 1, height - 3);
    painter.setPen(light);
    painter.drawLine(edge, 2, edge, height - 3);
    right = std::max(right, edge);
  }
  if (right > 0) {
    // 3-D frame around the full width of the items.
    painter.setPen(light);
    painter.drawLine(0, 0, right - 1, 0);
    painter.drawLine(0, 0, 0, height - 1);
    painter.setPen(shadow);
    painter.drawLine(0, height - 1, right - 1, height - 1);
    painter.drawLine(right - 1, 0, right - 1, height - 1);
  }
  painter.end();
  QPainter(surface).drawPixmap(0, 0, buffer);
}

CXListCtrl::CXListCtrl(QWidget* parent) : QTreeWidget(parent) {
  setHeader(new CXHeaderCtrl(this));
  setColumnCount(0);
  setRootIsDecorated(false);
  setIndentation(0);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  // The cells draw the selection themselves; no style overlay for the focused row.
  setAllColumnsShowFocus(false);
  setItemDelegate(new CellPainter(this));
  readSystemColours();
}

CXListCtrl::~CXListCtrl() = default;

void CXListCtrl::readSystemColours() {
  const QPalette& pal = palette();
  m_cells.setListColours({paletteRgb(pal, QPalette::Text), paletteRgb(pal, QPalette::Base),
                          paletteRgb(pal, QPalette::Highlight),
                          paletteRgb(pal, QPalette::HighlightedText),
                          paletteRgb(pal, QPalette::Button)});
}

void CXListCtrl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) readSystemColours();
  QTreeWidget::changeEvent(event);
}

void CXListCtrl::insertColumn(int index, const QString& caption, int width,
                              Qt::Alignment alignment) {
  const int count = m_cells.columnCount();
  index = std::clamp(index, 0, count);
  if (index == count || !model()->insertColumns(index, 1)) {
    index = count;
    setColumnCount(count + 1);
  }
  m_cells.insertColumn(index);
  m_alignments.insert(index, alignment & Qt::AlignHorizontal_Mask);
  headerItem()->setText(index, caption);
  setColumnWidth(index, width);
}

Qt::Alignment CXListCtrl::columnAlignment(int column) const {
  return column >= 0 && column < m_alignments.size() ? m_alignments[column] : Qt::AlignLeft;
}

int CXListCtrl::insertItem(int row, const QString& text, int image) {
  const int newRow = m_cells.insertRow(row, image);
  if (newRow < 0) return -1;
  auto* item = new QTreeWidgetItem();
  item->setText(0, text);
  insertTopLevelItem(newRow, item);
  viewport()->update();  // the empty-list text goes away
  return newRow;
}

bool CXListCtrl::deleteItem(int row) {
  if (!m_cells.deleteRow(row)) return false;
  delete takeTopLevelItem(row);
  viewport()->update();
  return true;
}

void CXListCtrl::deleteAllItems() {
  m_cells.deleteAllRows();
  clear();
  viewport()->update();
}

QString CXListCtrl::itemText(int row, int column) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item != nullptr && m_cells.cell(row, column) != nullptr ? item->text(column) : QString();
}

void CXListCtrl::redrawCell(int row, int column) {
  QTreeWidgetItem* item = topLevelItem(row);
  if (item != nullptr) viewport()->update(visualRect(indexFromItem(item, column)));
}

int CXListCtrl::setItemText(int row, int column, const QString& text) {
  if (m_cells.cell(row, column) == nullptr) return 0;
  topLevelItem(row)->setText(column, text);
  redrawCell(row, column);
  return 1;
}

int CXListCtrl::setItemImage(int row, int column, int image) {
  if (m_cells.setImage(row, column, image) == 0) return 0;
  redrawCell(row, column);
  return 1;
}

int CXListCtrl::setItemColours(int row, int column, const QColor& text, const QColor& background) {
  if (m_cells.setColours(row, column, fromQColor(text), fromQColor(background)) == 0) return 0;
  redrawCell(row, column);
  return 1;
}

int CXListCtrl::setItemTooltip(int row, int column, const QString& text) {
  return m_cells.setTooltip(row, column, text.toStdString());
}

void CXListCtrl::setImageList(const QList<QPixmap>& images) {
  m_images = images;
  scheduleDelayedItemsLayout();
  viewport()->update();
}

void CXListCtrl::setImageList(const QImage& strip, QSize imageSize) {
  QList<QPixmap> images;
  if (imageSize.width() > 0) {
    for (int x = 0; x + imageSize.width() <= strip.width(); x += imageSize.width()) {
      images.append(QPixmap::fromImage(strip.copy(x, 0, imageSize.width(), imageSize.height())));
    }
  }
  setImageList(images);
}

int CXListCtrl::selectedRow() const {
  for (int row = 0; row < topLevelItemCount(); ++row) {
    if (topLevelItem(row)->isSelected()) return row;
  }
  return -1;
}

void CXListCtrl::setSelectedRow(int row) {
  QTreeWidgetItem* item = topLevelItem(row);
  if (item == nullptr) {
    clearSelection();
    return;
  }
  selectionModel()->setCurrentIndex(indexFromItem(item, 0),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CXListCtrl::setHighlightSelection(bool on) {
  m_highlightSelection = on;
  viewport()->update();
}

void CXListCtrl::setFullRowSelect(bool on) {
  m_fullRowSelect = on;
  viewport()->update();
}

void CXListCtrl::setShowSelectionAlways(bool on) {
  m_showSelectionAlways = on;
  viewport()->update();
}

CellDrawState CXListCtrl::drawState(int row, int column) const {
  CellDrawState state;
  state.column = column;
  const QTreeWidgetItem* item = topLevelItem(row);
  state.rowSelected = item != nullptr && item->isSelected();
  state.highlightSelection = m_highlightSelection;
  state.fullRowSelect = m_fullRowSelect;
  state.listHasFocus = hasFocus();
  state.showSelectionAlways = m_showSelectionAlways;
  return state;
}

void CXListCtrl::paintEvent(QPaintEvent* event) {
  QTreeWidget::paintEvent(event);
  if (itemCount() != 0) return;
  // The viewport begins at the header's bottom.
  QPainter painter(viewport());
  const QRect area = viewport()->rect().adjusted(0, kEmptyListTextGap, 0, 0);
  const ListColours& colours = m_cells.listColours();
  painter.fillRect(area, toQColor(colours.window));
  painter.setPen(toQColor(colours.windowText));
  painter.setFont(font());
  painter.drawText(area, Qt::AlignTop | Qt::AlignHCenter | Qt::TextWordWrap,
                   QString::fromUtf8(kEmptyListText));
}

QPair<int, int> CXListCtrl::cellAt(QPoint viewportPos) const {
  const QModelIndex index = indexAt(viewportPos);
  const int row = index.isValid() ? index.row() : -1;
  const int column = header()->logicalIndexAt(viewportPos.x());
  return {row, column};
}

bool CXListCtrl::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const auto [row, column] = cellAt(help->pos());
    const CellRecord* cell = m_cells.cell(row, column);
    if (cell == nullptr || cell->tooltip.empty()) {
      QToolTip::hideText();
      event->ignore();
      return true;
    }
    // Each \n starts a new line; blanks after it are kept.
    const QString text = Qt::convertFromPlainText(QString::fromStdString(cell->tooltip),
                                                  Qt::WhiteSpacePre);
    QToolTip::showText(help->globalPos(), text, viewport(),
                       visualRect(indexFromItem(topLevelItem(row), column)));
    return true;
  }
  return QTreeWidget::viewportEvent(event);
}

void CXListCtrl::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);
  const auto [row, column] = cellAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton) emit rowClicked(row, column);
  if (event->button() == Qt::RightButton) {
    emit rightClicked(row, column, event->globalPosition().toPoint());
  }
}

void CXListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const auto [row, column] = cellAt(event->position().toPoint());
  emit rowDoubleClicked(row, column);
}

void CXListCtrl::keyPressEvent(QKeyEvent* event) {
  QTreeWidget::keyPressEvent(event);
  emit keyPressed(event->key());
}

}  // namespace palvoro
