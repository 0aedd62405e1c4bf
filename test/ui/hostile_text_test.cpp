// A drive whose model and serial are markup, walked through every window that shows drive
// text: each shows it as the characters it is, never as bold type or a picture.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <ctime>
#include <memory>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "results/result_lines.h"
#include "results/result_page.h"
#include "ui/gui_test_support.h"
#include "ui/screenshot.h"
#include "ui/widgets/drive_logs_dialog.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/option_dialog.h"
#include "ui/widgets/progress_dialog.h"
#include "ui/widgets/property_dialog.h"
#include "ui/widgets/qt_prompter.h"
#include "ui/widgets/scan_map_dialog.h"
#include "ui/widgets/smart_dialog.h"
#include "ui/widgets/view_dialog.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

constexpr const char* kModel = "<img src=x><b>BOLD</b>";
constexpr const char* kSerial = "<b>HEAVY</b>";
const QString kMarkup = QStringLiteral("<b>BOLD</b>");
const QString kSerialMarkup = QStringLiteral("<b>HEAVY</b>");

using test::OkPrompter;

// Every label of `window` that holds the model's or the serial's markup must show it as text: plain text
// format, or automatic format over a text that is not markup (escaped). Tool tips the same.
// Returns how many labels showed either.
int checkLabels(QWidget& window, const char* name) {
  int shown = 0;
  QList<QWidget*> widgets = window.findChildren<QWidget*>();
  widgets << &window;
  for (QWidget* widget : widgets) {
    const QString tip = widget->toolTip();
    EXPECT_FALSE((tip.contains(kMarkup) || tip.contains(kSerialMarkup)) && Qt::mightBeRichText(tip))
        << name << ": tool tip " << tip.toStdString();
    auto* label = qobject_cast<QLabel*>(widget);
    if (label == nullptr) continue;
    const QString text = label->text();
    if (!text.contains(QStringLiteral("BOLD")) && !text.contains(QStringLiteral("HEAVY"))) continue;
    ++shown;
    const bool plain = label->textFormat() == Qt::PlainText ||
                       (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(text));
    EXPECT_TRUE(plain || (!text.contains(kMarkup) && !text.contains(kSerialMarkup)))
        << name << ": " << text.toStdString();
  }
  return shown;
}

class HostileTextTest : public testing::Test {
 protected:
  HostileTextTest()
      : platform(sim::loadMachine(std::string(R"({"drives": [{"number": 0, "transport": "ata",
          "identity": {"model": ")") + kModel + R"(", "serial": ")" + kSerial + R"(", "firmware": "<i>F</i>",
                       "sectors": 400000},
          "smart": {"attributes": [{"id": 1, "flags": 11, "value": 100, "worst": 100, "threshold": 16}]}}]})")),
        context(platform, prompter) {
    detectDrives(context.probeEnvironment(), context.driveTable());
    context.driveTable().selectedDrive = 0;
  }
  const DriveRecord& record() { return context.driveTable().records[0]; }

  sim::SimPlatform platform;
  OkPrompter prompter;
  AppContext context;
};

TEST_F(HostileTextTest, EveryWindowShowsMarkupInDriveTextAsText) {
  ASSERT_EQ(context.driveTable().driveCount(), 1);
  ASSERT_STREQ(record().model, kModel);

  CPalvoroDlg mainWindow(context);
  mainWindow.show();
  QApplication::processEvents();
  checkLabels(mainWindow, "main window");
  bool listed = false;
  for (CXListCtrl* list : mainWindow.findChildren<CXListCtrl*>()) {
    for (int row = 0; row < list->itemCount(); ++row) {
      for (int column = 0; column < list->listColumnCount(); ++column) {
        listed = listed || list->itemText(row, column).contains(kModel);
      }
    }
  }
  EXPECT_TRUE(listed);  // a list cell is drawn as plain text: the model is there as typed
  test::saveScreenshot(mainWindow, QStringLiteral("hostile_main_window"));

  CDiskAttrDlg smart(context, context.driveTable().selectedDrive);
  smart.show();
  QApplication::processEvents();
  EXPECT_GE(checkLabels(smart, "SMART window"), 1);
  test::saveScreenshot(smart, QStringLiteral("hostile_smart"));

  CPropertySheet properties(context, 0);
  properties.show();
  QApplication::processEvents();
  EXPECT_GE(checkLabels(properties, "properties"), 1);

  CDiskTestDlg options(context, context.driveTable().selectedDrive);
  options.show();
  QApplication::processEvents();
  EXPECT_GE(checkLabels(options, "option dialog"), 1);
  test::saveScreenshot(options, QStringLiteral("hostile_option_dialog"));

  // A run's messages may quote the drive: every text control of the progress dialog.
  diagtest::ManualClock clock{100'000};
  context.testRun().testKind = kTestKindQuick;
  CScanDiskDlg progress(context, nullptr, 2, &clock);
  for (const int id : {kCtlDriveLine, kCtlStatus, kCtlSecondLine, kCtlEstimate, kCtlElapsed, kCtlCurrentSector}) {
    qobject_cast<QLabel*>(progress.control(id))->setText(QStringLiteral("Drive ") + kModel);
  }
  progress.show();
  QApplication::processEvents();
  EXPECT_EQ(checkLabels(progress, "progress dialog"), 6);
  test::saveScreenshot(progress, QStringLiteral("hostile_progress"));

  DriveLogs logs;
  logs.opened = true;
  logs.powerOnHours = 10;
  CDriveLogsDlg driveLogs(DriveLogsModel(logs, record(), 1));
  EXPECT_GE(checkLabels(driveLogs, "Drive Logs"), 1);
  test::saveScreenshot(driveLogs, QStringLiteral("hostile_drive_logs"));

  BlockLatencyMap map;
  map.begin(0, 512);
  map.record(0, 2'000, true);
  map.record(256, 0, false);
  CScanMapDlg scanMap(ScanMapModel(map, record(), 1));
  EXPECT_GE(checkLabels(scanMap, "Scan Map"), 1);
  test::saveScreenshot(scanMap, QStringLiteral("hostile_scan_map"));

  // A message box quoting the model.
  QString boxText;
  Qt::TextFormat boxFormat = Qt::RichText;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    boxText = box->text();
    boxFormat = box->textFormat();
    box->button(QMessageBox::Ok)->click();
  });
  QtPrompter::showBox(std::string("Drive 1 ") + kModel + " failed.", "PALVORO", PromptIcon::Stop, PromptButtons::Ok,
                      PromptAnswer::Ok, PromptPurpose::information());
  EXPECT_TRUE(boxText.contains(kMarkup));
  EXPECT_EQ(boxFormat, Qt::PlainText);

  // The result page in its viewer: the model is text of the page, and the page holds no
  // picture or bold type the drive asked for.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string programDir = dir.path().toStdString() + "/";
  TestRunValues& run = context.testRun();
  run.testKind = kTestKindQuick;
  run.testState = kTestStatePass;
  ResultLines lines;
  std::tm when{};
  when.tm_year = 126;
  when.tm_mday = 1;
  ASSERT_TRUE(appendResultBlock(lines, run, record(), when));
  ASSERT_TRUE(writeResultPage(programDir, lines));
  CViewDlg viewer(programDir);
  viewer.ViewerFile = kResultPageName;
  viewer.resize(720, 560);
  viewer.show();
  QApplication::processEvents();
  const QString shownText = viewer.browser()->toPlainText();
  EXPECT_TRUE(shownText.contains(kModel)) << shownText.toStdString();
  EXPECT_TRUE(shownText.contains(kSerial));
  EXPECT_FALSE(viewer.browser()->document()->toHtml().contains(QStringLiteral("src=\"x\"")));
  test::saveScreenshot(viewer, QStringLiteral("hostile_result_page"));
}

}  // namespace
}  // namespace palvoro
