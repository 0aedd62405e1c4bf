// The Bench window on the showcase machine: five drives' quick tests at once, the rows
// moving while the window keeps answering, a failing drive's bad sectors and its own
// result page, and a close while drives run that stops them all. Pictures of the window
// during the run and after it land in the build tree.

#include "ui/widgets/bench_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <functional>
#include <thread>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "ui/gui_test_support.h"
#include "ui/screenshot.h"
#include "ui/widgets/view_dialog.h"

namespace palvoro {
namespace {

// Showcase rows: 0 SATA (self-test 120 s), 1 dual-unit hybrid, 2 the maker's SSD, 3 the
// Kestrel behind its SAT bridge, 4 NVMe (self-test 90 s), 5 FireWire, 6 SCSI, 7 RAID.
constexpr int kSata = 0;
constexpr int kSsd = 2;
constexpr int kKestrel = 3;
constexpr int kNvme = 4;
constexpr int kScsi = 6;
const int kChecked[] = {kSata, 1, kKestrel, kNvme, kScsi};

// The showcase with one change: the Kestrel's bridge offers no self-test here, so its
// quick test scans instead and meets the unreadable sectors the drive keeps at 123456.
sim::SimMachine showcase() {
  sim::SimMachine machine = sim::builtinMachine("showcase");
  machine.findDrive(4)->ata.units.at(0).offlineCapability = 0x00;
  return machine;
}

using test::OkPrompter;

class BenchWindowTest : public testing::Test {
 protected:
  BenchWindowTest() : platform(showcase()), context(platform, prompter) {
    context.startup().resultsDir = results.path().toStdString() + "/";
    (void)detectDrives(context.probeEnvironment(), context.driveTable());
    window = std::make_unique<BenchWindow>(context);
    window->setTiming(std::chrono::milliseconds(2), &clock);
    // As it opens on a desktop: the offscreen screen is 800 pixels wide, and a picture's
    // layout pass would keep the window within two thirds of it.
    window->setMinimumSize(window->sizeHint());
    window->show();
    QApplication::processEvents();
  }
  bool waitFor(const std::function<bool()>& condition) { return test::waitFor(condition); }
  // The drives' self-tests and the runs' clock move on together, five seconds at a time
  // with a poll of the self-tests between, until `condition` holds: a drive's self-test
  // begins whenever its checks are done, so no one jump of the clock lands all of them
  // halfway.
  bool advanceUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      platform.advanceClock(5000);
      clock.advance(5);
      const auto step = std::chrono::steady_clock::now() + std::chrono::milliseconds(25);
      while (std::chrono::steady_clock::now() < step) QApplication::processEvents();
    }
    QApplication::processEvents();
    return true;
  }
  void startQuickTests() {
    for (const int row : kChecked) window->driveList()->topLevelItem(row)->setCheckState(0, Qt::Checked);
    window->jobBox()->setCurrentIndex(0);
    ASSERT_TRUE(window->startButton()->isEnabled());
    window->startButton()->click();
    ASSERT_EQ(window->runTable()->rowCount(), 5);
  }
  QString cell(int runRow, int column) const { return window->runTable()->item(runRow, column)->text(); }
  std::vector<BenchRunRow> rows() const { return window->model().runRows(); }

  QTemporaryDir results;
  sim::SimPlatform platform;
  OkPrompter prompter;
  AppContext context;
  diagtest::ManualClock clock;
  std::unique_ptr<BenchWindow> window;
};

TEST_F(BenchWindowTest, RunsEveryCheckedDriveAtOnceEachInItsRow) {
  QTreeWidget* list = window->driveList();
  ASSERT_EQ(list->topLevelItemCount(), 8);
  // The SSD cannot be checked, and says why.
  EXPECT_FALSE(list->topLevelItem(kSsd)->flags().testFlag(Qt::ItemIsEnabled));
  EXPECT_FALSE(list->topLevelItem(kSsd)->text(4).isEmpty());
  startQuickTests();
  EXPECT_FALSE(window->startButton()->isEnabled());
  EXPECT_TRUE(window->stopButton()->isEnabled());

  // Halfway through the self-tests: the scans have ended, the self-tests go on.
  ASSERT_TRUE(advanceUntil([&] {
    const std::vector<BenchRunRow> r = rows();
    return r[2].ended && r[4].ended && r[0].percent >= 40 && r[3].percent >= 40;
  })) << "the drives did not get halfway";
  // Still: the self-tests wait for the clock, so the rows hold what the bar shows next.
  window->refresh();
  EXPECT_FALSE(rows()[0].ended);
  EXPECT_EQ(window->progressBar(0)->value(), rows()[0].percent);
  EXPECT_FALSE(test::saveScreenshot(*window, "bench_running").isEmpty());

  ASSERT_TRUE(advanceUntil([&] { return !window->model().running() && !window->stopButton()->isEnabled(); }))
      << "the bench did not end";
  EXPECT_FALSE(test::saveScreenshot(*window, "bench_done").isEmpty());
  constexpr int kOutcome = 9;
  constexpr int kBad = 7;
  for (int r = 0; r < 5; ++r) {
    SCOPED_TRACE(r);
    if (r == 2) continue;
    EXPECT_EQ(cell(r, kOutcome), "PASS");
    EXPECT_EQ(window->progressBar(r)->value(), 100);
  }
  EXPECT_TRUE(cell(2, kOutcome).startsWith("FAIL: 08-")) << cell(2, kOutcome).toStdString();
  EXPECT_EQ(cell(2, kBad), "4");
  EXPECT_EQ(window->runTable()->item(2, kOutcome)->foreground().color(), QColor(255, 0, 0));
  EXPECT_TRUE(window->statusLine()->text().contains("Tovrin.htm")) << window->statusLine()->text().toStdString();
  EXPECT_TRUE(window->startButton()->isEnabled());
  EXPECT_TRUE(window->driveList()->isEnabled());

  // The failing drive's menu opens its own result page, and no other drive's.
  QStringList entries;
  QString page;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions()) entries << action->text() + (action->isEnabled() ? "" : " (off)");
    QTimer::singleShot(0, [&] {
      auto* viewer = qobject_cast<CViewDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(viewer, nullptr);
      page = viewer->browser()->toPlainText();
      viewer->reject();
    });
    menu->actions().first()->trigger();
    menu->close();
  });
  QTableWidget* table = window->runTable();
  emit table->customContextMenuRequested(table->visualItemRect(table->item(2, 1)).center());
  EXPECT_EQ(entries, (QStringList{"Result Page", "Scan Map (off)", "Drive Logs", "History"}));
  EXPECT_TRUE(page.contains("KX10007731")) << page.toStdString();
  EXPECT_FALSE(page.contains("VH7K2A01B3C4"));

  // For an erase, the drive holding the system can no longer be checked, and says why.
  window->jobBox()->setCurrentIndex(3);
  QTreeWidgetItem* system = window->driveList()->topLevelItem(kSata);
  EXPECT_FALSE(system->flags().testFlag(Qt::ItemIsEnabled));
  EXPECT_EQ(system->checkState(0), Qt::Unchecked);
  EXPECT_EQ(system->text(4), "holds the system: never erased");
  EXPECT_TRUE(window->verifyBox()->isEnabled());
  EXPECT_FALSE(test::saveScreenshot(*window, "bench_erase_choice").isEmpty());
}

// Extended tests on the runs' own clock: once the scans walk, each row shows its rate and
// the time left; Stop All ends every one ABORT with its block on the page.
TEST_F(BenchWindowTest, ScansShowTheirRateAndTimeLeftAndStopAllEndsThemAll) {
  window->setTiming(std::chrono::milliseconds(2), nullptr);
  for (const int row : {kSata, kKestrel, kScsi}) window->driveList()->topLevelItem(row)->setCheckState(0, Qt::Checked);
  window->jobBox()->setCurrentIndex(1);
  window->startButton()->click();
  ASSERT_EQ(window->runTable()->rowCount(), 3);
  ASSERT_TRUE(waitFor([&] {
    const std::vector<BenchRunRow> r = rows();
    for (const BenchRunRow& row : r) {
      if (row.rate.empty() || row.timeLeft.empty()) return false;
    }
    return r[1].badSectors == "4";  // the Kestrel is past its unreadable sectors
  })) << "the scans showed no rate";
  window->refresh();
  EXPECT_FALSE(test::saveScreenshot(*window, "bench_extended_running").isEmpty());
  window->stopButton()->click();
  EXPECT_FALSE(window->stopButton()->isEnabled());
  ASSERT_TRUE(waitFor([&] { return !window->model().running() && window->startButton()->isEnabled(); }));
  // The Kestrel had met its bad sectors before the stop: those still fail it.
  const std::vector<BenchRunRow> ended = rows();
  EXPECT_EQ(ended[0].outcome, "ABORT (stopped by the user)");
  EXPECT_EQ(ended[1].outcome, "FAIL: 08-Extended Test::Read sector error! (stopped by the user)");
  EXPECT_EQ(ended[1].badSectors, "4");
  EXPECT_EQ(ended[2].outcome, "ABORT (stopped by the user)");
  EXPECT_TRUE(window->statusLine()->text().contains("Tovrin.htm"));
  EXPECT_FALSE(test::saveScreenshot(*window, "bench_stopped").isEmpty());
}

TEST_F(BenchWindowTest, ClosingWhileDrivesRunStopsThemAllFirst) {
  startQuickTests();
  ASSERT_TRUE(waitFor([&] { return rows()[2].ended && rows()[4].ended; }));
  // The first close is answered No and changes nothing; the second, Yes.
  int asked = 0;
  QTimer answer;
  answer.setInterval(5);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    ++asked;
    box->button(asked == 1 ? QMessageBox::No : QMessageBox::Yes)->click();
  });
  answer.start();
  window->closeButton()->click();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->model().running());
  window->closeButton()->click();
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(window->model().running());
  for (const int r : {0, 1, 3}) {
    SCOPED_TRACE(r);
    EXPECT_EQ(rows()[static_cast<size_t>(r)].outcome, "ABORT (stopped by the user)");
  }
}

}  // namespace
}  // namespace palvoro
