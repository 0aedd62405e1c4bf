#pragma once
// CXListCtrl and CXHeaderCtrl: the report-style list of the main window's drive lists and
// the SMART attribute list. Every cell carries its own image, tooltip, text colour and
// background colour (ui/model/list_cells.h) and is drawn by the control itself; the header
// is flat with blue captions and drawn off-screen; a list without rows says so.
//
// Use:
//   insertColumn(index, caption, width, alignment)   cells are aligned like their header
//   insertItem(row, text, image = -1)                 -> new row, or -1 for a negative row
//   setItemText / setItemImage / setItemColours / setItemTooltip(row, col, ...)
//                                                     -> 0 when row or column is out of
//                                                        range (nothing changes), else 1
//   setImageList(pixmaps) or setImageList(strip, imageSize)   the list does not own the
//                                                     source; it keeps copies
//   deleteItem(row), deleteAllItems(), itemCount(), selectedRow() (first selected row or
//   -1), setSelectedRow(row)
//   setHighlightSelection(false)   a selected row keeps its cells' own colours
//   setFullRowSelect(on)           selection highlight on every cell (else column 0 only)
//   setShowSelectionAlways(on)     without the focus a selected row shows in button face
// Signals (row is -1 when the mouse is over no row; col is -1 when over no column):
//   rowClicked(row, col)         left button pressed, after the selection moved
//   rowDoubleClicked(row, col)   left double-click
//   rightClicked(row, col, globalPos)
//   keyPressed(key)              after the list's own handling of the key
// Colours given as an invalid QColor mean the list's window-text / window colour.

#include <QHeaderView>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QTreeWidget>

#include "ui/model/list_cells.h"

namespace palvoro {

// The flat header: button face, blue captions centred with 6 pixels spacing and an
// ellipsis, etched separators, a 3-D frame, painted into an off-screen pixmap first.
class CXHeaderCtrl : public QHeaderView {
  Q_OBJECT
 public:
  explicit CXHeaderCtrl(QWidget* parent = nullptr);
  // Spacing between an item's edge and its caption, and the least it may shrink to.
  static constexpr int kSpacing = 6;
  static constexpr int kMinSpacing = 2;

  // How a caption is drawn in a section of `sectionWidth` pixels.
  struct CaptionFit {
    QFont font;
    int spacing;
  };
  CaptionFit fitCaption(const QString& caption, int sectionWidth) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class CXListCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CXListCtrl(QWidget* parent = nullptr);
  ~CXListCtrl() override;

  void insertColumn(int index, const QString& caption, int width,
                    Qt::Alignment alignment = Qt::AlignLeft);
  Qt::Alignment columnAlignment(int column) const;
  // Named apart from the tree view's own, which counts its header sections.
  int listColumnCount() const { return m_cells.columnCount(); }

  int insertItem(int row, const QString& text, int image = kNoImage);
  bool deleteItem(int row);
  void deleteAllItems();
  int itemCount() const { return m_cells.rowCount(); }
  QString itemText(int row, int column) const;

  int setItemText(int row, int column, const QString& text);
  int setItemImage(int row, int column, int image);
  int setItemColours(int row, int column, const QColor& text, const QColor& background);
  int setItemTooltip(int row, int column, const QString& text);
  // The cell's record (image, tooltip, colours); nullptr when out of range.
  const CellRecord* cellRecord(int row, int column) const { return m_cells.cell(row, column); }

  void setImageList(const QList<QPixmap>& images);
  // A strip of equally sized images side by side.
  void setImageList(const QImage& strip, QSize imageSize);
  bool hasImageList() const { return !m_images.isEmpty(); }

  int selectedRow() const;
  void setSelectedRow(int row);

  void setHighlightSelection(bool on);
  bool highlightSelection() const { return m_highlightSelection; }
  void setFullRowSelect(bool on);
  void setShowSelectionAlways(bool on);

  // Used by the cell painter.
  const ListCells& cells() const { return m_cells; }
  const QList<QPixmap>& images() const { return m_images; }
  CellDrawState drawState(int row, int column) const;

 signals:
  void rowClicked(int row, int column);
  void rowDoubleClicked(int row, int column);
  void rightClicked(int row, int column, QPoint globalPos);
  void keyPressed(int key);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void readSystemColours();
  void redrawCell(int row, int column);
  QPair<int, int> cellAt(QPoint viewportPos) const;

  ListCells m_cells;
  QList<Qt::Alignment> m_alignments;
  QList<QPixmap> m_images;
  bool m_highlightSelection = true;
  bool m_fullRowSelect = false;
  bool m_showSelectionAlways = false;
};

}  // namespace palvoro
