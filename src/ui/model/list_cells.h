#pragma once
// The per-cell records of the report-style list control (CXListCtrl): every cell of every
// row carries an image index, a tooltip and its own text and background colours. The cell
// texts are the list's ordinary item texts and live in the widget; this file holds what
// the widget adds on top, and the pure rules it draws by.

#include <cstdint>
#include <string>
#include <vector>

namespace palvoro {

// An RGB colour as 0xRRGGBB.
using Rgb = std::uint32_t;

// Passed for a colour: "use the list's window-text (or window-background) colour".
inline constexpr std::int32_t kListDefaultColour = -1;

// No image in a cell.
inline constexpr std::int32_t kNoImage = -1;

// The system colours a list reads when it is built and again when they change.
struct ListColours {
  Rgb windowText = 0x000000;
  Rgb window = 0xFFFFFF;
  Rgb highlight = 0x0078D7;
  Rgb highlightText = 0xFFFFFF;
  Rgb buttonFace = 0xF0F0F0;
};

// One cell's record, created with the row and freed with it.
struct CellRecord {
  std::int32_t image = kNoImage;  // index into the list's small image list
  std::string tooltip;            // empty: the cell shows no tooltip
  Rgb textColour = 0;
  Rgb backgroundColour = 0;
};

// The records of every row, column by column. Every setter answers 0 when the row or the
// column does not exist (and then changes nothing), 1 otherwise.
class ListCells {
 public:
  explicit ListCells(ListColours colours = {}) : m_colours(colours) {}

  // The colours new cells and "-1" colours take; cells already set keep theirs.
  void setListColours(const ListColours& colours) { m_colours = colours; }
  const ListColours& listColours() const { return m_colours; }

  // Adds a column at `column` (clamped to the end) with default cells in every row.
  void insertColumn(int column);
  int columnCount() const { return m_columnCount; }

  // Inserts a row of default cells at `row` (a row past the end is appended), with
  // `image` in column 0. Answers the new row index, or -1 when `row` is negative.
  int insertRow(int row, std::int32_t image = kNoImage);
  // Removes one row's records; false when the row does not exist.
  bool deleteRow(int row);
  // Frees every row's records.
  void deleteAllRows() { m_rows.clear(); }
  int rowCount() const { return static_cast<int>(m_rows.size()); }

  int setImage(int row, int column, std::int32_t image);
  // `textColour` / `backgroundColour` as 0xRRGGBB, or kListDefaultColour.
  int setColours(int row, int column, std::int32_t textColour, std::int32_t backgroundColour);
  int setTooltip(int row, int column, std::string text);

  // The cell's record, or nullptr when the row or column does not exist.
  const CellRecord* cell(int row, int column) const;

 private:
  CellRecord defaultCell() const;
  CellRecord* mutableCell(int row, int column);

  ListColours m_colours;
  int m_columnCount = 0;
  std::vector<std::vector<CellRecord>> m_rows;
};

// How a cell sits in its list when it is drawn.
struct CellDrawState {
  int column = 0;
  bool rowSelected = false;
  bool highlightSelection = true;  // the list's selection-highlight switch
  bool fullRowSelect = false;
  bool listHasFocus = false;
  bool showSelectionAlways = false;
};

struct CellColours {
  Rgb text;
  Rgb background;
};

// The colours a cell is drawn in: its own, or the selection's.
CellColours cellDrawColours(const CellRecord& cell, const CellDrawState& state,
                            const ListColours& list);

// Where the image and the text of a cell go, in the cell's coordinates.
struct CellContentLayout {
  bool drawImage = false;
  int imageX = 0;  // 6 pixels from the cell's left edge
  int imageY = 0;  // vertically centred
  int textX = 0;   // right after the image, or at the cell's left edge without one
};

// The gap between a cell's left edge and its image.
inline constexpr int kCellImageIndent = 6;

CellContentLayout cellContentLayout(int cellHeight, bool listHasImages, std::int32_t image,
                                    int imageWidth, int imageHeight);

// The tooltip tool identifier of a cell: row * 1000 + column + 1.
inline constexpr int cellTooltipId(int row, int column) { return row * 1000 + column + 1; }

// The text a list without rows shows below its header.
inline constexpr const char* kEmptyListText = "There are no items to show in this view.";
// The gap between the header's bottom and the empty-list text.
inline constexpr int kEmptyListTextGap = 10;

}  // namespace palvoro
