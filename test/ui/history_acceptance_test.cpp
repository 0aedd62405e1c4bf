// A failing drive followed over two extended tests in the windows: the Bench window runs
// them on the lab machine, the drive's pending sectors rise between them as the lab panel
// sets them, and the drive list's History window shows both runs, the rise on its chart
// and in words. Pictures of it land in the build tree.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "ui/gui_test_support.h"
#include "ui/screenshot.h"
#include "ui/widgets/bench_window.h"
#include "ui/widgets/history_dialog.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

// The showcase's failing drive: the Kestrel behind its SAT bridge, machine number 4 and
// the fourth row, unreadable at 123456..123459 and with 4 pending sectors.
constexpr int kKestrelNumber = 4;
constexpr int kKestrelRow = 3;

// The showcase with the Kestrel small enough for an extended scan to take a moment, and
// large enough for its random reads to miss the unreadable sectors the scan then meets.
sim::SimMachine smallKestrelShowcase() {
  nlohmann::json m = nlohmann::json::parse(sim::builtinMachineDescription("showcase"));
  for (nlohmann::json& d : m["drives"]) {
    if (d["number"] == kKestrelNumber) d["identity"]["sectors"] = 1'000'000;
  }
  for (nlohmann::json& v : m["volumes"]) {
    if (v.value("drive", -1) == kKestrelNumber) v["sectors"] = 300'000;
  }
  return sim::loadMachine(m.dump());
}

using test::OkPrompter;

TEST(HistoryAcceptanceTest, TwoExtendedTestsOfTheFailingDriveShowTheRiseInItsHistory) {
  QTemporaryDir results, state;
  sim::SimPlatform platform(smallKestrelShowcase());
  OkPrompter prompter;
  AppContext context(platform, prompter);
  context.startup().resultsDir = results.path().toStdString() + "/";
  StoreOpen opened = HistoryStore::open(state.path().toStdString());
  ASSERT_TRUE(opened.store) << opened.message;
  context.setHistory(opened.store.get(), "");
  (void)detectDrives(context.probeEnvironment(), context.driveTable());

  diagtest::ManualClock clock;
  BenchWindow bench(context);
  bench.setTiming(std::chrono::milliseconds(2), &clock);
  bench.show();
  for (int round = 0; round < 2; ++round) {
    // Between the two: the drive's pending sectors rise from 4 to 9.
    if (round == 1) {
      // The history's times are whole seconds: the second run starts in a later one, as
      // it would days later.
      std::this_thread::sleep_for(std::chrono::milliseconds(1100));
      ASSERT_TRUE(platform.setAttributeRaw(kKestrelNumber, 197, 9));
    }
    bench.driveList()->topLevelItem(kKestrelRow)->setCheckState(0, Qt::Checked);
    bench.jobBox()->setCurrentIndex(1);
    ASSERT_TRUE(bench.startButton()->isEnabled());
    bench.startButton()->click();
    ASSERT_TRUE(test::waitFor([&] { return !bench.model().running() && bench.startButton()->isEnabled(); },
                              std::chrono::seconds(120)));
    const std::vector<BenchRunRow> rows = bench.model().runRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, "FAIL: 08-Extended Test::Read sector error!");
  }
  bench.close();

  CPalvoroDlg window(context, static_cast<QWidget*>(nullptr));
  window.show();
  QApplication::processEvents();
  int runs = 0;
  QStringList changes, charts;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<CHistoryDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      runs = dialog->runsTable()->rowCount();
      for (const HistoryChartView* view : dialog->charts()) charts << QString::fromStdString(view->chart().title);
      // As a desktop larger than the offscreen screen opens it.
      dialog->setMinimumSize(dialog->sizeHint());
      test::saveScreenshot(*dialog, QStringLiteral("history_acceptance_runs"));
      dialog->pages()->setCurrentIndex(1);
      test::saveScreenshot(*dialog, QStringLiteral("history_acceptance_charts"));
      dialog->pages()->setCurrentIndex(2);
      for (int r = 0; r < dialog->changesTable()->rowCount(); ++r) changes << dialog->changesTable()->item(r, 1)->text();
      test::saveScreenshot(*dialog, QStringLiteral("history_acceptance_changes"));
      dialog->reject();
    });
    menu->actions().last()->trigger();
    menu->close();
  });
  emit window.physicalList()->rightClicked(kKestrelRow, 1, window.mapToGlobal(QPoint(50, 200)));
  EXPECT_EQ(runs, 2);
  EXPECT_TRUE(charts.contains("Scan latency p99 (ms)")) << charts.join(", ").toStdString();
  EXPECT_TRUE(charts.contains("Current pending sectors")) << charts.join(", ").toStdString();
  ASSERT_EQ(changes.size(), 1) << changes.join('\n').toStdString();
  EXPECT_TRUE(changes[0].startsWith("Current pending sectors rose from 4 to 9 since ")) << changes[0].toStdString();
}

}  // namespace
}  // namespace palvoro
