// The list control on screen: the empty-list text, a cell's own colours and image.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include "ui/widgets/pictures.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

// Pixels of `colour` inside `area` of `image`.
int countColour(const QImage& image, const QRect& area, QRgb colour) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if ((image.pixel(x, y) & 0xFFFFFFu) == (colour & 0xFFFFFFu)) ++count;
    }
  }
  return count;
}

// Pixels far from `colour` (text strokes on a plain background).
int countInk(const QImage& image, const QRect& area, QColor background) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
              std::abs(c.blue() - background.blue()) > 200) {
        ++count;
      }
    }
  }
  return count;
}

class XListCtrlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list.resize(400, 160);
    list.insertColumn(0, QStringLiteral("Drive #"), 80, Qt::AlignLeft);
    list.insertColumn(1, QStringLiteral("Model Number"), 200, Qt::AlignCenter);
    list.insertColumn(2, QStringLiteral("SMART Status"), 120, Qt::AlignLeft);
    list.show();
    QApplication::processEvents();
  }
  QImage grabViewport() { return list.viewport()->grab().toImage(); }
  QColor window() const { return QColor::fromRgb(list.cells().listColours().window); }

  CXListCtrl list;
};

TEST_F(XListCtrlTest, EmptyListShowsItsTextUntilARowArrives) {
  EXPECT_EQ(list.itemCount(), 0);
  const QRect textBand(0, kEmptyListTextGap, list.viewport()->width(), 30);
  EXPECT_GT(countInk(grabViewport(), textBand, window()), 20);
  // Nothing above the 10-pixel gap.
  EXPECT_EQ(countInk(grabViewport(), QRect(0, 0, list.viewport()->width(), kEmptyListTextGap - 1),
                     window()),
            0);

  ASSERT_EQ(list.insertItem(0, QString()), 0);
  QApplication::processEvents();
  const QRect below(0, 40, list.viewport()->width(), list.viewport()->height() - 41);
  EXPECT_EQ(countInk(grabViewport(), textBand.united(below), window()), 0);
}

TEST_F(XListCtrlTest, CellDrawsItsColoursItsImageAndTheHighlightSwitchKeepsThem) {
  list.setImageList(driveImageStrip(), QSize(16, 16));
  ASSERT_EQ(list.insertItem(0, QStringLiteral(" 1"), kDriveImageGenericDrive), 0);
  EXPECT_EQ(list.setItemText(0, 2, QStringLiteral(" PASS")), 1);
  EXPECT_EQ(list.setItemImage(0, 2, kDriveImagePass), 1);
  EXPECT_EQ(list.setItemColours(0, 1, QColor(0, 0, 255), QColor(255, 255, 0)), 1);
  EXPECT_EQ(list.setItemTooltip(0, 2, QStringLiteral("SMART Status")), 1);
  EXPECT_EQ(list.setItemText(0, 3, QStringLiteral("x")), 0);
  EXPECT_EQ(list.setItemColours(1, 0, QColor(), QColor()), 0);
  EXPECT_EQ(list.setItemTooltip(0, 3, QStringLiteral("x")), 0);
  list.setHighlightSelection(false);
  list.setSelectedRow(0);
  EXPECT_EQ(list.selectedRow(), 0);
  QApplication::processEvents();

  const QRect row = list.visualItemRect(list.topLevelItem(0));
  const QImage image = grabViewport();
  // Column 1 (x 80..279): yellow background kept although the row is selected.
  const QRect cell1(82, row.top() + 1, 196, row.height() - 2);
  EXPECT_GT(countColour(image, cell1, qRgb(255, 255, 0)), cell1.width() * cell1.height() / 2);
  // Column 2's image: a green tick 6 pixels in, nothing green in the first 6 pixels.
  const auto greenIn = [&](const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.green() > 120 && c.red() < 100 && c.blue() < 100) ++count;
      }
    }
    return count;
  };
  EXPECT_GT(greenIn(QRect(280 + 6, row.top(), 16, row.height())), 10);
  EXPECT_EQ(greenIn(QRect(280, row.top(), 6, row.height())), 0);
  EXPECT_EQ(list.cellRecord(0, 0)->image, kDriveImageGenericDrive);

  // Highlight on, full row, focused: the coloured cell shows the selection instead.
  list.setHighlightSelection(true);
  list.setFullRowSelect(true);
  list.activateWindow();
  list.setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(list.hasFocus());
  const QRgb highlight = 0xFF000000u | list.cells().listColours().highlight;
  const QImage focused = grabViewport();
  EXPECT_EQ(countColour(focused, cell1, qRgb(255, 255, 0)), 0);
  EXPECT_GT(countColour(focused, cell1, highlight), cell1.width() * cell1.height() / 2);

  list.deleteAllItems();
  EXPECT_EQ(list.itemCount(), 0);
  EXPECT_EQ(list.selectedRow(), -1);
  EXPECT_EQ(list.cellRecord(0, 0), nullptr);
}

}  // namespace
}  // namespace palvoro

namespace palvoro {
namespace {

TEST(XHeaderCtrlTest, ACaptionThatWouldBeCutGivesUpSpacingThenSizeBeforeEliding) {
  CXHeaderCtrl header;
  const QFont base = header.font();
  const int wide = QFontMetrics(base).horizontalAdvance("Attribute Name") + 2 * CXHeaderCtrl::kSpacing;
  // Room enough: drawn as it is.
  const CXHeaderCtrl::CaptionFit roomy = header.fitCaption("Attribute Name", wide);
  EXPECT_EQ(roomy.spacing, CXHeaderCtrl::kSpacing);
  EXPECT_EQ(roomy.font.pointSizeF(), base.pointSizeF());
  // Two pixels short of the spacing: only the spacing gives way.
  const CXHeaderCtrl::CaptionFit tight = header.fitCaption("Attribute Name", wide - 2);
  EXPECT_EQ(tight.spacing, CXHeaderCtrl::kSpacing - 1);
  EXPECT_EQ(tight.font.pointSizeF(), base.pointSizeF());
  // Far too narrow: least spacing and smallest size, and the caption is elided after all.
  const CXHeaderCtrl::CaptionFit hopeless = header.fitCaption("Attribute Name", 20);
  EXPECT_EQ(hopeless.spacing, CXHeaderCtrl::kMinSpacing);
  EXPECT_DOUBLE_EQ(hopeless.font.pointSizeF(), base.pointSizeF() - 1.5);
  // In between, whatever is chosen fits.
  for (int width = wide - 30; width < wide; width += 3) {
    const CXHeaderCtrl::CaptionFit fit = header.fitCaption("Attribute Name", width);
    const bool fits = QFontMetrics(fit.font).horizontalAdvance("Attribute Name") <= width - 2 * fit.spacing;
    EXPECT_TRUE(fits || (fit.spacing == CXHeaderCtrl::kMinSpacing &&
                         fit.font.pointSizeF() == base.pointSizeF() - 1.5))
        << width;
  }
}

}  // namespace
}  // namespace palvoro
