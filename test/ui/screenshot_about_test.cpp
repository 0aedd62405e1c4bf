// Screenshots of the About box and of every drawn picture, for a person to look at.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPainter>
#include <QWidget>

#include "ui/screenshot.h"
#include "ui/widgets/about_dialog.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro::test {
namespace {

TEST(ScreenshotTest, AboutBox) {
  CAboutDlg dialog;
  EXPECT_FALSE(saveScreenshot(dialog, QStringLiteral("about_box")).isEmpty());
}

TEST(ScreenshotTest, Pictures) {
  // Every picture on one sheet, at twice the size of the small ones.
  QPixmap sheet(560, 420);
  sheet.fill(QColor(240, 240, 240));
  {
    QPainter p(&sheet);
    p.drawPixmap(8, 8, bannerPicture());
    p.drawPixmap(8 + 512 - 48, 150, logoPicture());
    p.drawPixmap(8, 150, runTestsPicture(false).scaled(40, 32));
    p.drawPixmap(56, 150, runTestsPicture(true).scaled(40, 32));
    p.drawPixmap(104, 150, smartPicture(false).scaled(32, 32));
    p.drawPixmap(144, 150, smartPicture(true).scaled(32, 32));
    p.drawPixmap(190, 150, programIcon().pixmap(48, 48));
    p.drawPixmap(250, 150, optionDialogPicture());
    const QList<QPixmap> drives = driveImages();
    for (int i = 0; i < drives.size(); ++i) p.drawPixmap(8 + i * 34, 220, drives[i].scaled(32, 32));
    const QList<QPixmap> options = optionImages();
    for (int i = 0; i < options.size(); ++i) p.drawPixmap(8 + i * 40, 264, options[i]);
    for (int id : {135, 136, 137, 138, 147, 148}) {
      p.drawPixmap(8 + (id < 147 ? id - 135 : id - 143) * 40, 310, iconResource(id));
    }
  }
  QLabel label;
  label.setPixmap(sheet);
  EXPECT_FALSE(saveScreenshot(label, QStringLiteral("pictures")).isEmpty());
}

TEST(ScreenshotTest, ListControl) {
  QWidget window;
  window.resize(420, 150);
  auto* list = new CXListCtrl(&window);
  list->setGeometry(6, 6, 408, 66);
  list->setImageList(driveImages());
  list->insertColumn(0, QStringLiteral("Drive #"), 60);
  list->insertColumn(1, QStringLiteral("Model Number"), 170);
  list->insertColumn(2, QStringLiteral("Capacity"), 70, Qt::AlignCenter);
  list->insertColumn(3, QStringLiteral("SMART Status"), 104);
  list->insertItem(0, QStringLiteral(" 1"), kDriveImageGenericDrive);
  list->setItemText(0, 1, QStringLiteral("VS4000X (SATA)"));
  list->setItemText(0, 2, QStringLiteral("4000 GB"));
  list->setItemText(0, 3, QStringLiteral(" PASS"));
  list->setItemImage(0, 3, kDriveImagePass);
  list->setItemColours(0, 3, QColor(0, 0, 255), QColor());
  list->insertItem(1, QStringLiteral(" 2"), kDriveImageUsb);
  list->setItemText(1, 1, QStringLiteral("Nodrik (RAID 1)"));
  list->setItemText(1, 3, QStringLiteral(" Degraded"));
  list->setItemImage(1, 3, kDriveImageWarning);
  list->setItemColours(1, 3, QColor(0, 0, 255), QColor());
  auto* empty = new CXListCtrl(&window);
  empty->setGeometry(6, 78, 408, 66);
  empty->insertColumn(0, QStringLiteral("Drive #"), 102);
  empty->insertColumn(1, QStringLiteral("File System"), 102, Qt::AlignCenter);
  window.setFixedSize(420, 150);
  EXPECT_FALSE(saveScreenshot(window, QStringLiteral("list_control")).isEmpty());
}

}  // namespace
}  // namespace palvoro::test
