#include "app/lab_panel.h"

#include <gtest/gtest.h>

#include <QCheckBox>

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

}  // namespace
}  // namespace palvoro
