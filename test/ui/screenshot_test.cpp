// Screenshots of the windows on the showcase and bench machines, written into the build tree.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QProgressBar>
#include <QScrollBar>
#include <QTemporaryDir>

#include "app/app_context.h"
#include "platform/sim/sim_platform.h"
#include "ui/gui_test_support.h"
#include "ui/screenshot.h"
#include "discovery/detection.h"
#include "ui/widgets/detection_dialog.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/xlist_ctrl.h"
#include "app/palvoro_app.h"
#include "ui/widgets/view_dialog.h"

namespace palvoro::test {

QString saveScreenshot(QWidget& window, const QString& name, qreal scale) {
  window.adjustSize();
  window.show();
  QApplication::processEvents();
  QPixmap picture;
  if (scale == 1.0) {
    picture = window.grab();
  } else {
    picture = QPixmap(window.size() * scale);
    picture.setDevicePixelRatio(scale);
    window.render(&picture);
  }
  QDir().mkpath(QStringLiteral(PALVORO_SCREENSHOT_DIR));
  const QString path = QStringLiteral(PALVORO_SCREENSHOT_DIR) + "/" + name + ".png";
  return picture.save(path) ? path : QString();
}

namespace {

using test::OkPrompter;

TEST(ScreenshotTest, DetectionDialog) {
  sim::SimPlatform platform(sim::builtinMachine("showcase"));
  OkPrompter prompter;
  AppContext context(platform, prompter);
  DetectionDialog dialog(context, DetectionDialog::Mode::Detect);
  dialog.progressBar()->setValue(35);  // as at the seventh tick
  const QString path = saveScreenshot(dialog, "detection_dialog");
  ASSERT_FALSE(path.isEmpty());
  const QImage image(path);
  EXPECT_GE(image.width(), 320);
  EXPECT_GT(image.height(), 40);
}

TEST(ScreenshotTest, HelpViewer) {
  // The program's folder as start-up leaves it.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_EQ(extractProgramFiles(dir.path().toStdString() + "/", startupFiles()), 3);
  CViewDlg viewer(dir.path().toStdString() + "/");
  viewer.ViewerFile = "help.htm";
  viewer.ViewerTitle = "Help";
  viewer.resize(720, 560);
  viewer.show();
  const QString path = saveScreenshot(viewer, "help_viewer");
  ASSERT_FALSE(path.isEmpty());
  EXPECT_GE(QImage(path).width(), 480);
}

TEST(ScreenshotTest, MainWindow) {
  sim::SimPlatform platform(sim::builtinMachine("showcase"));
  OkPrompter prompter;
  AppContext context(platform, prompter);
  detectDrives(context.probeEnvironment(), context.driveTable());
  CPalvoroDlg window(context);
  const QString path = saveScreenshot(window, "main_window");
  ASSERT_FALSE(path.isEmpty());
  EXPECT_GE(QImage(path).width(), 600);
}

// A bench of twenty drives: every one is a row, and the list scrolls to the last.
TEST(ScreenshotTest, MainWindowListsAndScrollsToEveryDriveOfABench) {
  sim::SimPlatform platform(sim::builtinMachine("bench"));
  OkPrompter prompter;
  AppContext context(platform, prompter);
  detectDrives(context.probeEnvironment(), context.driveTable());
  CPalvoroDlg window(context);
  const QString top = saveScreenshot(window, "main_window_bench_20");
  ASSERT_FALSE(top.isEmpty());
  CXListCtrl* list = window.physicalList();
  ASSERT_EQ(list->itemCount(), 20);
  EXPECT_EQ(list->itemText(19, 0), " 20");
  EXPECT_EQ(list->itemText(19, 2), "SBK3N0000019");
  ASSERT_TRUE(list->verticalScrollBar()->isVisible());
  const auto shown = [list](int row) {
    return list->viewport()->rect().intersects(list->visualItemRect(list->topLevelItem(row)));
  };
  EXPECT_TRUE(shown(0));
  EXPECT_FALSE(shown(19));
  list->setSelectedRow(19);
  list->scrollToItem(list->topLevelItem(19));
  EXPECT_FALSE(saveScreenshot(window, "main_window_bench_20_scrolled").isEmpty());
  EXPECT_TRUE(shown(19));
  EXPECT_FALSE(shown(0));
}

// The main window as a user with a 13-point desktop font on a screen scaled to 200% sees
// it, for a person to look at.
TEST(ScreenshotTest, MainWindowLargeFontAtDoubleScale) {
  const QFont desktop = QApplication::font();
  struct RestoreFont {
    QFont font;
    ~RestoreFont() { QApplication::setFont(font); }
  } restore{desktop};
  QFont large = desktop;
  large.setPointSize(13);
  QApplication::setFont(large);
  sim::SimPlatform platform(sim::builtinMachine("showcase"));
  OkPrompter prompter;
  AppContext context(platform, prompter);
  detectDrives(context.probeEnvironment(), context.driveTable());
  CPalvoroDlg window(context);
  const QString path = saveScreenshot(window, "main_window_large_font_200", 2.0);
  ASSERT_FALSE(path.isEmpty());
  EXPECT_EQ(QImage(path).width(), window.width() * 2);
}

}  // namespace
}  // namespace palvoro::test
