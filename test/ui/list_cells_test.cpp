// The list control's cell records: defaults, out-of-range refusals, drawing rules.

#include <gtest/gtest.h>

#include "ui/model/list_cells.h"

namespace palvoro {
namespace {

const ListColours kColours{0x101010, 0xFAFAFA, 0x3060C0, 0xFFFFF0, 0xD4D0C8};

ListCells twoByThree() {
  ListCells cells(kColours);
  for (int c = 0; c < 3; ++c) cells.insertColumn(c);
  cells.insertRow(0, 7);
  cells.insertRow(1);
  return cells;
}

TEST(ListCellsTest, NewCellsTakeTheDefaultsAndColumnZeroTheRowImage) {
  const ListCells cells = twoByThree();
  for (int column = 0; column < 3; ++column) {
    const CellRecord* cell = cells.cell(1, column);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->image, -1);
    EXPECT_EQ(cell->tooltip, "");
    EXPECT_EQ(cell->textColour, kColours.windowText);
    EXPECT_EQ(cell->backgroundColour, kColours.window);
  }
  EXPECT_EQ(cells.cell(0, 0)->image, 7);
  EXPECT_EQ(cells.cell(0, 1)->image, -1);
}

TEST(ListCellsTest, InsertRowRefusesNegativeAndAppendsPastTheEnd) {
  ListCells cells = twoByThree();
  EXPECT_EQ(cells.insertRow(-1), -1);
  EXPECT_EQ(cells.rowCount(), 2);
  EXPECT_EQ(cells.insertRow(40), 2);
  EXPECT_EQ(cells.insertRow(0, 3), 0);
  EXPECT_EQ(cells.cell(0, 0)->image, 3);
  EXPECT_EQ(cells.cell(1, 0)->image, 7);
}

TEST(ListCellsTest, OutOfRangeSettersAnswerZeroAndChangeNothing) {
  struct Case {
    int row, column;
  };
  for (const Case c : {Case{-1, 0}, Case{2, 0}, Case{0, -1}, Case{0, 3}, Case{5, 5}}) {
    ListCells cells = twoByThree();
    EXPECT_EQ(cells.setImage(c.row, c.column, 4), 0) << c.row << "," << c.column;
    EXPECT_EQ(cells.setColours(c.row, c.column, 0xFF0000, 0x00FF00), 0);
    EXPECT_EQ(cells.setTooltip(c.row, c.column, "tip"), 0);
    for (int row = 0; row < 2; ++row) {
      for (int column = 0; column < 3; ++column) {
        const CellRecord* cell = cells.cell(row, column);
        EXPECT_EQ(cell->image, row == 0 && column == 0 ? 7 : -1);
        EXPECT_EQ(cell->tooltip, "");
        EXPECT_EQ(cell->textColour, kColours.windowText);
      }
    }
  }
}

TEST(ListCellsTest, SettersStoreAndMinusOneMeansTheListColours) {
  ListCells cells = twoByThree();
  EXPECT_EQ(cells.setColours(1, 2, 0xFF0000, 0x00FF00), 1);
  EXPECT_EQ(cells.cell(1, 2)->textColour, 0xFF0000u);
  EXPECT_EQ(cells.cell(1, 2)->backgroundColour, 0x00FF00u);
  EXPECT_EQ(cells.setColours(1, 2, kListDefaultColour, kListDefaultColour), 1);
  EXPECT_EQ(cells.cell(1, 2)->textColour, kColours.windowText);
  EXPECT_EQ(cells.cell(1, 2)->backgroundColour, kColours.window);
  EXPECT_EQ(cells.setTooltip(1, 1, "Serial"), 1);
  EXPECT_EQ(cells.cell(1, 1)->tooltip, "Serial");
  EXPECT_EQ(cells.setImage(1, 1, 12), 1);
  EXPECT_EQ(cells.cell(1, 1)->image, 12);
  EXPECT_TRUE(cells.deleteRow(0));
  EXPECT_EQ(cells.cell(0, 1)->tooltip, "Serial");
  cells.deleteAllRows();
  EXPECT_EQ(cells.cell(0, 0), nullptr);
  EXPECT_EQ(cells.setTooltip(0, 0, "x"), 0);
}

TEST(ListCellsTest, DrawColoursFollowSelectionFocusAndTheHighlightSwitch) {
  CellRecord cell;
  cell.textColour = 0x0000FF;
  cell.backgroundColour = 0xFFFFFF;
  const CellColours own{0x0000FF, 0xFFFFFF};
  const CellColours highlight{kColours.highlightText, kColours.highlight};
  const CellColours face{kColours.windowText, kColours.buttonFace};
  struct Case {
    const char* name;
    CellDrawState state;
    CellColours expected;
  };
  // column, selected, highlight switch, full row, focus, show selection always
  const Case cases[] = {
      {"unselected", {1, false, true, true, true, false}, own},
      {"selected, focused, full row", {1, true, true, true, true, false}, highlight},
      {"selected, focused, column 0 only", {0, true, true, false, true, false}, highlight},
      {"selected, focused, other column without full row", {1, true, true, false, true, false}, own},
      {"highlight switched off", {1, true, false, true, true, false}, own},
      {"no focus", {1, true, true, true, false, false}, own},
      {"no focus, show selection always", {1, true, true, true, false, true}, face},
  };
  for (const Case& c : cases) {
    const CellColours got = cellDrawColours(cell, c.state, kColours);
    EXPECT_EQ(got.text, c.expected.text) << c.name;
    EXPECT_EQ(got.background, c.expected.background) << c.name;
  }
}

TEST(ListCellsTest, ImageSitsSixPixelsInAndCentredAndTextFollowsIt) {
  const CellContentLayout withImage = cellContentLayout(20, true, 5, 16, 16);
  EXPECT_TRUE(withImage.drawImage);
  EXPECT_EQ(withImage.imageX, 6);
  EXPECT_EQ(withImage.imageY, 2);
  EXPECT_EQ(withImage.textX, 22);
  for (const CellContentLayout plain :
       {cellContentLayout(20, true, kNoImage, 16, 16), cellContentLayout(20, false, 5, 16, 16)}) {
    EXPECT_FALSE(plain.drawImage);
    EXPECT_EQ(plain.textX, 0);
  }
  EXPECT_EQ(cellTooltipId(3, 4), 3005);
}

}  // namespace
}  // namespace palvoro
