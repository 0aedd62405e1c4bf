// The main window's wiring: rows shown as computed, pictures, keys, menus and re-scans.

#include "ui/widgets/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QKeyEvent>
#include <QTimer>

#include "app/app_context.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "ui/widgets/dialog_units.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

class Recorder : public Prompter, public DialogOpener {
 public:
  PromptAnswer ask(const std::string& text, const std::string&, PromptIcon, PromptButtons, PromptAnswer,
                   PromptPurpose) override {
    log.push_back("message " + text);
    return PromptAnswer::Ok;
  }
  bool openTestOptions(int drive) override { return note("options", drive), false; }
  void openSmartWindow(int drive) override { note("smart", drive); }
  void openProperties(int drive) override { note("properties", drive); }
  void openHelp(const std::string& file) override { log.push_back("help " + file); }
  void openAbout() override { log.push_back("about"); }
  void note(const char* what, int drive) { log.push_back(std::string(what) + " " + std::to_string(drive)); }
  std::vector<std::string> log;
};

class MainWindowTest : public testing::Test {
 protected:
  MainWindowTest() : platform(sim::builtinMachine("showcase")), context(platform, recorder) {
    detectDrives(context.probeEnvironment(), context.driveTable());
    window = std::make_unique<CPalvoroDlg>(context, &recorder);
    window->setDetectionRunner([this] {
      ++detections;
      if (duringDetection) duringDetection();
      detectDrives(context.probeEnvironment(), context.driveTable());
    });
    window->show();
    QApplication::processEvents();
  }
  static void clickPicture(QLabel* picture) {
    const QPoint at(3, 3);
    QMouseEvent press(QEvent::MouseButtonPress, at, picture->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &press);
  }
  static void pressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
  }
  void selectPhysical(int row) {
    window->physicalList()->setFocus();
    window->physicalList()->setSelectedRow(row);
  }

  sim::SimPlatform platform;
  Recorder recorder;
  AppContext context;
  std::unique_ptr<CPalvoroDlg> window;
  int detections = 0;
  std::function<void()> duringDetection;
};

TEST_F(MainWindowTest, ShowsTheComputedRows) {
  EXPECT_EQ(window->windowTitle(), "Varnholt Steadwell Diagnostics - PALVORO for Windows");
  CXListCtrl* list = window->physicalList();
  ASSERT_EQ(list->itemCount(), 8);
  ASSERT_EQ(list->listColumnCount(), 5);
  EXPECT_EQ(list->headerItem()->text(4), "SMART Status");
  EXPECT_EQ(list->itemText(0, 0), " 1");
  EXPECT_EQ(list->itemText(0, 1), "VHT VH7SAB200 (SATA)");
  EXPECT_EQ(list->itemText(0, 4), " PASS");
  EXPECT_EQ(list->cellRecord(0, 4)->image, kImagePass);
  EXPECT_EQ(list->cellRecord(0, 4)->textColour, 0x0000FFu);
  EXPECT_EQ(list->cellRecord(3, 0)->image, kImageUsb);
  EXPECT_EQ(list->cellRecord(7, 4)->image, kImageWarning);
  EXPECT_EQ(list->cellRecord(0, 2)->tooltip, "Serial number for the physical drive");
  const int w = list->viewport()->width();
  EXPECT_EQ(list->header()->sectionSize(1), 12 * (w / 40));
  ASSERT_EQ(window->logicalList()->itemCount(), 5);
  EXPECT_EQ(window->logicalList()->itemText(1, 0), " D:\\");
  EXPECT_EQ(window->logicalList()->columnAlignment(1), Qt::AlignHCenter);
  EXPECT_TRUE(window->closeButton()->isDefault());
}

TEST_F(MainWindowTest, PicturesActOnTheFocusedPhysicalList) {
  clickPicture(window->runTestsPicture());  // focus starts on Close
  selectPhysical(3);
  clickPicture(window->runTestsPicture());
  clickPicture(window->smartPicture());
  window->logicalList()->setFocus();  // a physical row stays selected
  clickPicture(window->smartPicture());
  const std::string highlight = "message Please highlight a drive from the physical drive list.";
  EXPECT_EQ(recorder.log, (std::vector<std::string>{highlight, "options 3", "smart 3", highlight}));
}

TEST_F(MainWindowTest, EnterOnPhysicalRowVersusLogicalList) {
  selectPhysical(1);
  pressKey(window->physicalList(), Qt::Key_Return);
  EXPECT_EQ(recorder.log, (std::vector<std::string>{"options 1"}));
  EXPECT_TRUE(window->isVisible());
  window->logicalList()->setFocus();
  window->logicalList()->setSelectedRow(0);
  pressKey(window->logicalList(), Qt::Key_Return);  // presses Close
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(recorder.log.size(), 1u);
}

TEST_F(MainWindowTest, F5AndDeviceArrivalRescanOnce) {
  window->activateWindow();
  window->closeButton()->setFocus();
  pressKey(window->closeButton(), Qt::Key_F5);
  EXPECT_EQ(detections, 1);
  duringDetection = [this] { window->onDeviceChange(); };  // absorbed
  window->onDeviceChange();
  EXPECT_EQ(detections, 2);
  EXPECT_EQ(window->physicalList()->itemCount(), 8);
}

TEST_F(MainWindowTest, RemovalRefillsTheLists) {
  platform.machine().findDrive(4)->present = false;
  window->onDeviceChange();
  EXPECT_EQ(window->physicalList()->itemCount(), 7);
}

TEST_F(MainWindowTest, RowContextMenu) {
  QStringList texts;
  QTimer::singleShot(0, [&texts] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions()) texts << action->text();
    menu->actions()[menu->actions().size() - 2]->trigger();
    menu->close();
  });
  emit window->physicalList()->rightClicked(0, 1, window->mapToGlobal(QPoint(50, 200)));
  EXPECT_EQ(texts, (QStringList{"Run Diagnostics", "Show SMART Drive Info", "Drive Logs", "Bench (Several Drives)...", "",
                                "Properties", "History"}));
  EXPECT_EQ(recorder.log, (std::vector<std::string>{"properties 0"}));
  EXPECT_EQ(context.driveTable().selectedDrive, 0);
}

TEST_F(MainWindowTest, AboutFromTheBannerMenuAndHelp) {
  // The menu is found only by right-clicking: both pictures say so.
  for (QLabel* picture : {window->banner(), window->logo()}) {
    EXPECT_EQ(picture->toolTip(), "Right-click for About PALVORO for Windows");
  }
  QTimer::singleShot(0, [] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "&About PALVORO for Windows...");
    menu->actions()[0]->trigger();
    menu->close();
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), window->banner()->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(window->banner(), &event);
  window->helpButton()->click();
  EXPECT_EQ(recorder.log, (std::vector<std::string>{"about", "help help.htm"}));
}

TEST_F(MainWindowTest, HoverPictures) {
  const QPoint near = window->runTestsPicture()->geometry().topLeft() - QPoint(3, 3);
  QMouseEvent move(QEvent::MouseMove, near, window->mapToGlobal(near), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(window.get(), &move);
  EXPECT_TRUE(window->runTestsHover());
  EXPECT_FALSE(window->smartHover());
  const QPoint away(5, 5);
  QMouseEvent leave(QEvent::MouseMove, away, window->mapToGlobal(away), Qt::NoButton, Qt::NoButton,
                    Qt::NoModifier);
  QApplication::sendEvent(window.get(), &leave);
  EXPECT_FALSE(window->runTestsHover());
}

TEST_F(MainWindowTest, EmptyTable) {
  clearDriveTable(context.driveTable());
  window->model().fillDriveLists();
  EXPECT_EQ(window->physicalList()->itemCount(), 0);
  selectPhysical(0);
  clickPicture(window->runTestsPicture());
  EXPECT_EQ(recorder.log.size(), 1u);
}

// The line above the physical list in the faces a desktop may give the program (QApplication's
// font when the window is built): the caption whole at the window's 8 points, every
// item clear of the next, the texts unchanged; the hint at its template place when the
// caption leaves room, and the line inside the list's width unless the face is very wide.
TEST(MainWindowCaptionLineTest, CaptionWholeAndHintsClearOfItInEveryFace) {
  struct Case {
    const char* what;
    double points;  // 0: the desktop's own
    int stretch;    // QFont::setStretch: 150 draws every letter half as wide again
    bool hintInPlace;
    bool insideList;
  };
  const Case cases[] = {
      {"default face", 0, 100, false, true}, {"13 points", 13, 100, false, true},
      {"narrow face", 0, 80, true, true},    {"wide face", 0, 115, false, true},
      {"very wide face", 0, 150, false, false},
  };
  const QStringList line = {"Physical Drive:", "Highlight a physical drive. Click", "", "to run tests or click", "",
                            "to view SMART data. Right-click for more options."};
  const QFont desktop = QApplication::font();
  struct RestoreFont {
    QFont font;
    ~RestoreFont() { QApplication::setFont(font); }
  } restore{desktop};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QFont face = desktop;
    if (c.points > 0) face.setPointSizeF(c.points);
    face.setStretch(c.stretch);
    QApplication::setFont(face);
    sim::SimPlatform platform(sim::builtinMachine("showcase"));
    Recorder recorder;
    AppContext context(platform, recorder);
    CPalvoroDlg window(context, &recorder);
    std::vector<QLabel*> items;
    for (const QString& text : line) {
      QLabel* item = nullptr;
      if (text.isEmpty()) {
        item = items.size() == 2 ? window.runTestsPicture() : window.smartPicture();
      } else {
        for (QLabel* label : window.findChildren<QLabel*>()) {
          if (label->text() == text) item = label;
        }
      }
      ASSERT_NE(item, nullptr) << text.toStdString();
      items.push_back(item);
    }
    EXPECT_EQ(items[0]->font().pointSizeF(), 8.0);
    for (size_t i = 0; i < items.size(); ++i) {
      const QRect place = items[i]->geometry();
      if (!line[i].isEmpty()) {
        EXPECT_GE(place.width(), QFontMetrics(items[i]->font()).horizontalAdvance(line[i])) << i;
      }
      if (i + 1 < items.size()) {
        EXPECT_LT(place.right(), items[i + 1]->geometry().left()) << i;
      }
    }
    EXPECT_EQ(items[1]->x() == duX(58), c.hintInPlace);
    EXPECT_EQ(items.back()->geometry().right() <= window.physicalList()->geometry().right(), c.insideList);
  }
}

}  // namespace
}  // namespace palvoro
