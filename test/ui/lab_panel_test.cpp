#include "app/lab_panel.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>

#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

TEST(LabPanelTest, ClearingAndSettingABoxUnplugsAndPlugsTheDriveAndReportsEachChange) {
  sim::SimPlatform platform(sim::builtinMachine("showcase"));
  ASSERT_FALSE(platform.machine().drives.empty());
  const int number = platform.machine().drives.front().number;
  int changes = 0;
  LabPanel panel(platform, [&] { ++changes; });
  auto* box = panel.findChild<QCheckBox*>(QStringLiteral("drive%1").arg(number));
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ(panel.findChildren<QCheckBox*>().size(), static_cast<qsizetype>(platform.machine().drives.size()));

  box->click();
  EXPECT_FALSE(platform.machine().findDrive(number)->present);
  EXPECT_EQ(changes, 1);
  box->click();
  EXPECT_TRUE(platform.machine().findDrive(number)->present);
  EXPECT_EQ(changes, 2);
  panel.setDrivePresent(number, true);  // no change, no event
  EXPECT_EQ(changes, 2);
}

// The attribute row sets the chosen drive's raw value; an NVMe drive is not offered.
TEST(LabPanelTest, TheAttributeRowSetsARawValueTheDriveThenReports) {
  sim::SimPlatform platform(sim::builtinMachine("showcase"));
  LabPanel panel(platform, [] {});
  auto* drives = panel.findChild<QComboBox*>(QStringLiteral("attributeDrive"));
  ASSERT_NE(drives, nullptr);
  EXPECT_EQ(drives->findText(QStringLiteral("NVMe"), Qt::MatchContains), -1);
  drives->setCurrentIndex(drives->findData(4));
  panel.findChild<QSpinBox*>(QStringLiteral("attributeRaw"))->setValue(9);
  panel.findChild<QPushButton*>(QStringLiteral("attributeSet"))->click();
  const std::vector<sim::SimAttribute>& attributes = platform.machine().findDrive(4)->ata.units.at(0).smart.attributes;
  const auto pending = std::find_if(attributes.begin(), attributes.end(), [](const auto& a) { return a.id == 197; });
  ASSERT_NE(pending, attributes.end());
  EXPECT_EQ(pending->raw, 9u);
  EXPECT_EQ(panel.findChild<QLabel*>(QStringLiteral("attributeNote"))->text(),
            QStringLiteral("PhysicalDrive4: attribute 197 is now 9."));
}

// Frames as the window system reports them: x, y, width, height.
TEST(LabPanelTest, PanelGoesRightOfTheWindowElseLeftElseOverItAlwaysInsideTheScreen) {
  struct Case {
    const char* what;
    QRect mainFrame;
    QSize panel;
    QRect available;
    QPoint expected;
  };
  const QRect screen(0, 0, 1280, 770);            // 1280x800 less a 30-pixel panel below
  const QRect secondScreen(1280, 24, 1024, 744);  // to the right, a bar above
  const Case cases[] = {
      {"room on the right", {100, 50, 600, 450}, {300, 200}, screen, {712, 50}},
      {"right, ending on the edge", {0, 0, 968, 400}, {300, 200}, screen, {980, 0}},
      {"a pixel short on the right: left", {313, 40, 956, 400}, {300, 200}, screen, {1, 40}},
      {"left, starting on the edge", {312, 40, 957, 400}, {300, 200}, screen, {0, 40}},
      {"room on neither side: over it", {100, 50, 1100, 600}, {300, 200}, screen, {980, 50}},
      {"window low on the screen", {100, 700, 600, 400}, {300, 200}, screen, {712, 570}},
      {"window above the top", {100, -30, 600, 400}, {300, 200}, screen, {712, 0}},
      {"window past the right edge", {1200, 10, 600, 400}, {300, 200}, screen, {888, 10}},
      {"panel larger than the screen", {100, 50, 600, 400}, {1400, 900}, screen, {0, 0}},
      {"second screen, room on the right", {1400, 100, 500, 500}, {300, 200}, secondScreen, {1912, 100}},
      {"second screen, room on the left", {1700, 30, 600, 500}, {300, 200}, secondScreen, {1388, 30}},
      {"second screen, neither side", {1300, 30, 1000, 700}, {300, 200}, secondScreen, {2004, 30}},
      {"second screen, panel too large", {1300, 30, 600, 500}, {1100, 800}, secondScreen, {1280, 24}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(labPanelPosition(c.mainFrame, c.panel, c.available), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace palvoro
