#include "ui/widgets/scan_map_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <cstring>

#include "results/latency_picture.h"
#include "ui/screenshot.h"

namespace palvoro {
namespace {

TEST(ScanMapModelTest, HeightsFollowTheLogScaleAndBarsSkipStripesWithoutBlocks) {
  struct Case {
    uint64_t microseconds;
    double height;
  };
  for (const Case& c : {Case{0, 0.02}, Case{100, 0.02}, Case{1'000, 0.2}, Case{100'000, 0.6}, Case{10'000'000, 1.0},
                        Case{UINT64_MAX, 1.0}}) {
    EXPECT_NEAR(scanMapHeight(c.microseconds), c.height, 1e-9) << c.microseconds;
  }
  BlockLatencyMap map;
  map.begin(0, 4);
  map.record(0, 1'000, true);
  map.record(2, 0, false);
  DriveRecord record{};
  std::strcpy(record.model, "VARN 500   ");
  std::strcpy(record.serialNumber, "  WX12");
  const ScanMapModel model(map, record, 3);
  EXPECT_EQ(model.title(), "Scan Map - Physical Drive 3");
  EXPECT_EQ(model.heading(), "VARN 500 (serial WX12): 2 blocks read, sectors 0 to 3");
  const std::vector<ScanMapBar> bars = model.bars();
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_DOUBLE_EQ(bars[0].left, 0.0);
  EXPECT_DOUBLE_EQ(bars[0].width, 0.25);
  EXPECT_NEAR(bars[0].height, 0.2, 1e-9);
  EXPECT_EQ(bars[0].colour, latencyColour(0));
  EXPECT_DOUBLE_EQ(bars[1].left, 0.5);
  EXPECT_DOUBLE_EQ(bars[1].height, 1.0);  // unreadable: to the top
  EXPECT_EQ(bars[1].colour, latencyColour(kUnreadableBucket));
  EXPECT_DOUBLE_EQ(model.histogram()[0].share, 0.5);
  EXPECT_EQ(model.slowestLines(5), std::vector<std::string>{"sector 0: 1.000 ms"});
}

// The window over a scan with a slow region and an unreadable block: its texts, and the
// slow stripe painted in its colour where the surface puts it.
TEST(ScanMapDialogTest, ShowsTheSlowRegionWhereItIsWithTheHistogramAndHints) {
  BlockLatencyMap map;
  map.begin(0, 2'000'000);
  for (uint64_t sector = 0; sector < 2'000'000; sector += 256) {
    uint64_t time = 800 + sector % 3'000;
    if (sector >= 1'000'000 && sector < 1'020'000) time = 650'000;
    if (sector >= 1'500'000 && sector < 1'540'000) time = 90'000;
    map.record(sector, time, sector != 1'800'192);
  }
  DriveRecord record{};
  std::strcpy(record.model, "Kestrel KX1000");
  std::strcpy(record.serialNumber, "KX10007731");
  CScanMapDlg dialog(ScanMapModel(map, record, 4));
  dialog.show();
  QApplication::processEvents();
  EXPECT_EQ(dialog.windowTitle(), "Scan Map - Physical Drive 4");
  EXPECT_TRUE(dialog.details()->text().contains("78 blocks took 500 ms or more to read"))
      << dialog.details()->text().toStdString();
  EXPECT_TRUE(dialog.details()->text().contains("sector 1000192: 650.000 ms"));

  const QImage shot = dialog.plot()->grab().toImage();
  const QRect area = dialog.plot()->plotArea();
  // Whether `colour` is painted within a pixel either side of the surface's `share`, at
  // `height` of the plot: a stripe of a thousand is narrower than a pixel.
  const auto paintedNear = [&](double share, double height, uint32_t colour) {
    const int x = area.left() + static_cast<int>(share * area.width());
    const int y = area.bottom() - static_cast<int>(height * area.height());
    for (int dx = -1; dx <= 1; ++dx) {
      if ((shot.pixel(x + dx, y) & 0xFFFFFF) == colour) return true;
    }
    return false;
  };
  EXPECT_TRUE(paintedNear(0.502, 0.5, latencyColour(5)));  // the slow region, half way
  EXPECT_TRUE(paintedNear(0.76, 0.3, latencyColour(3)));   // the 90 ms region
  EXPECT_TRUE(paintedNear(0.9, 0.95, latencyColour(kUnreadableBucket)));
  EXPECT_FALSE(paintedNear(0.25, 0.5, latencyColour(5)));  // quick stripes stay low
  test::saveScreenshot(dialog, QStringLiteral("scan_map"));
}

}  // namespace
}  // namespace palvoro
