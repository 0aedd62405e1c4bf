#include "ui/model/list_cells.h"

#include <algorithm>
#include <utility>

namespace palvoro {

CellRecord ListCells::defaultCell() const {
  CellRecord cell;
  cell.textColour = m_colours.windowText;
  cell.backgroundColour = m_colours.window;
  return cell;
}

void ListCells::insertColumn(int column) {
  column = std::clamp(column, 0, m_columnCount);
  for (auto& row : m_rows) row.insert(row.begin() + column, defaultCell());
  ++m_columnCount;
}

int ListCells::insertRow(int row, std::int32_t image) {
  if (row < 0) return -1;
  row = std::min(row, rowCount());
  std::vector<CellRecord> cells(static_cast<std::size_t>(m_columnCount), defaultCell());
  if (!cells.empty()) cells[0].image = image;
  m_rows.insert(m_rows.begin() + row, std::move(cells));
  return row;
}

bool ListCells::deleteRow(int row) {
  if (row < 0 || row >= rowCount()) return false;
  m_rows.erase(m_rows.begin() + row);
  return true;
}

CellRecord* ListCells::mutableCell(int row, int column) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= m_columnCount) return nullptr;
  return &m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

const CellRecord* ListCells::cell(int row, int column) const {
  return const_cast<ListCells*>(this)->mutableCell(row, column);
}

int ListCells::setImage(int row, int column, std::int32_t image) {
  CellRecord* cell = mutableCell(row, column);
  if (cell == nullptr) return 0;
  cell->image = image;
  return 1;
}

int ListCells::setColours(int row, int column, std::int32_t textColour,
                          std::int32_t backgroundColour) {
  CellRecord* cell = mutableCell(row, column);
  if (cell == nullptr) return 0;
  cell->textColour =
      textColour == kListDefaultColour ? m_colours.windowText : static_cast<Rgb>(textColour);
  cell->backgroundColour = backgroundColour == kListDefaultColour
                               ? m_colours.window
                               : static_cast<Rgb>(backgroundColour);
  return 1;
}

int ListCells::setTooltip(int row, int column, std::string text) {
  CellRecord* cell = mutableCell(row, column);
  if (cell == nullptr) return 0;
  cell->tooltip = std::move(text);
  return 1;
}

CellColours cellDrawColours(const CellRecord& cell, const CellDrawState& state,
                            const ListColours& list) {
  const bool highlighted = state.rowSelected && state.highlightSelection &&
                           (state.fullRowSelect || state.column == 0);
  if (highlighted) {
    if (state.listHasFocus) return {list.highlightText, list.highlight};
    if (state.showSelectionAlways) return {list.windowText, list.buttonFace};
  }
  return {cell.textColour, cell.backgroundColour};
}

CellContentLayout cellContentLayout(int cellHeight, bool listHasImages, std::int32_t image,
                                    int imageWidth, int imageHeight) {
  CellContentLayout layout;
  if (!listHasImages || image == kNoImage) return layout;
  layout.drawImage = true;
  layout.imageX = kCellImageIndent;
  layout.imageY = (cellHeight - imageHeight) / 2;
  layout.textX = kCellImageIndent + imageWidth;
  return layout;
}

}  // namespace palvoro
