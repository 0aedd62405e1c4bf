// Whole flows from the main window through the real dialogs on the showcase machine: a
// quick test that passes, the result page showing every block of the run in order, and
// the SMART window's verdict landing in the main list.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <set>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "results/result_page.h"
#include "store/history_store.h"
#include "ui/screenshot.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/option_dialog.h"
#include "ui/widgets/progress_dialog.h"
#include "ui/widgets/qt_prompter.h"
#include "ui/widgets/smart_dialog.h"
#include "ui/widgets/view_dialog.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

constexpr int kShortPeriodMs = 2;
constexpr int kSataDrive = 0;     // VHT VH7SAB200
constexpr int kFireWireDrive = 5;  // VHT VH7K1000 in the maker's FireWire enclosure

// Plays the user: watches the modal window on top and acts on it once. The option
// dialog's Start runs the options queued for it, then Close; the progress dialog is closed
// when its run has ended; the viewer is read and closed; any message box is answered OK.
// Every click is posted, so a window that opens from a click runs its own event loop
// while this keeps watching.
class User : public QObject {
 public:
  User(sim::SimPlatform& platform, diagtest::ManualClock& clock) : m_platform(platform), m_clock(clock) {
    m_poll.setInterval(1);
    connect(&m_poll, &QTimer::timeout, this, &User::look);
    m_poll.start();
  }

  std::deque<int> options;            // option rows to start, in order
  std::vector<QStringList> outcomes;  // column 1 of the option list as each option dialog closed
  std::vector<QString> resultPages;   // the text of each result page shown
  std::vector<std::string> boxes;

 private:
  static void clickLater(QWidget* button) {
    QTimer::singleShot(0, button, [button] { static_cast<QPushButton*>(button)->click(); });
  }

  void look() {
    QWidget* top = QApplication::activeModalWidget();
    if (top == nullptr || top == m_handled || !top->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(top)) {
      boxes.push_back(box->text().toStdString());
      m_handled = top;
      clickLater(box->button(QMessageBox::Ok));
    } else if (auto* progress = qobject_cast<CScanDiskDlg*>(top)) {
      if (m_ticking.insert(progress).second) {
        // The drive's self-test advances 10 s per tick of the dialog's timers.
        connect(progress, &CScanDiskDlg::timerTicked, progress, [this] {
          m_platform.advanceClock(10'000);
          m_clock.advance(1);
        });
      }
      if (!progress->testRun().cancelReadsClose()) return;
      m_handled = top;
      clickLater(progress->control(kCtlCancel));
    } else if (auto* viewer = qobject_cast<CViewDlg*>(top)) {
      m_handled = top;
      resultPages.push_back(viewer->browser()->toPlainText());
      test::saveScreenshot(*viewer, QStringLiteral("result_page"));
      QTimer::singleShot(0, viewer, &QDialog::reject);
    } else if (auto* dialog = qobject_cast<CDiskTestDlg*>(top)) {
      m_handled = top;
      if (options.empty()) {
        QStringList column;
        for (int row = 0; row < dialog->optionList()->itemCount(); ++row) {
          column << dialog->optionList()->itemText(row, 1);
        }
        outcomes.push_back(column);
        clickLater(dialog->control(CDiskTestDlg::kIdClose));
        return;
      }
      const int row = options.front();
      options.pop_front();
      dialog->optionList()->setSelectedRow(row);
      clickLater(dialog->control(CDiskTestDlg::kIdStart));
    } else if (auto* smart = qobject_cast<CDiskAttrDlg*>(top)) {
      m_handled = top;
      clickLater(smart->okButton());
    }
  }

  sim::SimPlatform& m_platform;
  diagtest::ManualClock& m_clock;
  QTimer m_poll;
  QPointer<QWidget> m_handled;
  std::set<CScanDiskDlg*> m_ticking;
};

class EndToEndTest : public testing::Test {
 protected:
  EndToEndTest() : platform(sim::builtinMachine("showcase")), context(platform, prompter), user(platform, clock) {
    context.startup().resultsDir = programDir.path().toStdString() + "/";
    context.startup().osIsVistaOrLater = 1;
    detectDrives(context.probeEnvironment(), context.driveTable());
    window = std::make_unique<CPalvoroDlg>(context);
    window->setTestTiming(kShortPeriodMs, &clock);
    window->setDetectionRunner([this] {
      ++rescans;
      optionDialogOpenAtRescan = qobject_cast<CDiskTestDlg*>(QApplication::activeModalWidget()) != nullptr;
      detectDrives(context.probeEnvironment(), context.driveTable());
    });
    window->show();
    QApplication::processEvents();
  }
  // Double-click on a physical row: the option dialog for it.
  void runDiagnostics(int row) { emit window->physicalList()->rowDoubleClicked(row, 1); }
  std::string modelOf(int row) { return context.driveTable().records[row].model; }

  QTemporaryDir programDir;
  sim::SimPlatform platform;
  QtPrompter prompter;
  AppContext context;
  diagtest::ManualClock clock{100'000};
  User user;
  std::unique_ptr<CPalvoroDlg> window;
  int rescans = 0;
  bool optionDialogOpenAtRescan = true;
};

TEST_F(EndToEndTest, QuickTestPassesAndTheMainWindowRescans) {
  std::unique_ptr<HistoryStore> history = HistoryStore::open(programDir.path().toStdString()).store;
  ASSERT_TRUE(history);
  context.setHistory(history.get(), "");
  user.options = {kTestKindQuick};
  runDiagnostics(kSataDrive);

  EXPECT_TRUE(user.boxes.empty()) << user.boxes.front();
  ASSERT_EQ(user.outcomes.size(), 1u);
  EXPECT_EQ(user.outcomes[0][kTestKindQuick], "PASS");
  EXPECT_EQ(context.testRun().testState.load(), kTestStatePass);
  const std::vector<std::string>& lines = context.resultLines().lines();
  ASSERT_FALSE(lines.empty());
  std::string block;
  for (const std::string& line : lines) block += line;
  EXPECT_NE(block.find(modelOf(kSataDrive)), std::string::npos);
  EXPECT_NE(block.find("PASS"), std::string::npos);
  EXPECT_EQ(rescans, 1);
  EXPECT_FALSE(optionDialogOpenAtRescan);
  // The window's run is kept in the history the program opened, with the drive's reading.
  const std::vector<StoredDrive> kept = history->drives();
  ASSERT_EQ(kept.size(), 1u);
  ASSERT_TRUE(kept[0].lastRun);
  EXPECT_EQ(kept[0].lastRun->kind + " " + kept[0].lastRun->outcome, "quick PASS");
  EXPECT_EQ(history->snapshotsOf(kept[0].id).size(), 1u);
  context.setHistory(nullptr, "");
}

TEST_F(EndToEndTest, ViewTestResultShowsEveryBlockInOrder) {
  user.options = {kTestKindQuick};
  runDiagnostics(kSataDrive);
  user.options = {kTestKindQuick};
  runDiagnostics(kFireWireDrive);
  ASSERT_EQ(rescans, 2);
  user.options = {kTestKindViewResult};
  runDiagnostics(kSataDrive);

  EXPECT_EQ(rescans, 2);  // only looking at the results runs no test
  ASSERT_EQ(user.resultPages.size(), 1u);
  const std::string page = user.resultPages[0].toStdString();
  const size_t first = page.find(modelOf(kSataDrive));
  const size_t second = page.find(modelOf(kFireWireDrive));
  ASSERT_NE(first, std::string::npos) << page;
  ASSERT_NE(second, std::string::npos) << page;
  EXPECT_LT(first, second);
  EXPECT_EQ(page.find(modelOf(kSataDrive), first + 1), std::string::npos);  // no block twice
}

TEST_F(EndToEndTest, SmartWindowVerdictLandsInTheRow) {
  CXListCtrl* list = window->physicalList();
  list->setItemText(kSataDrive, 4, "stale");
  emit list->rowClicked(kSataDrive, 4);  // the SMART Status cell
  EXPECT_EQ(list->itemText(kSataDrive, 4), " PASS");
  EXPECT_EQ(list->cellRecord(kSataDrive, 4)->image, kImagePass);
}

}  // namespace
}  // namespace palvoro
