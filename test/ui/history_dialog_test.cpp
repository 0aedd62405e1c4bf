// The History window's wiring: from the drive list's menu to a real store's records.

#include "ui/widgets/history_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "app/app_context.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "ui/gui_test_support.h"
#include "ui/screenshot.h"
#include "ui/widgets/main_window.h"
#include "ui/widgets/xlist_ctrl.h"

namespace palvoro {
namespace {

using test::OkPrompter;

StoredSnapshot reading(int64_t driveId, const char* taken, uint64_t pending, uint64_t celsius, uint64_t hours) {
  StoredSnapshot s;
  s.driveId = driveId;
  s.taken = taken;
  s.attributes = {{5, "Reallocated Sectors Count", 100, 100, 36, 0}, {9, "Power-On Hours", 90, 90, 0, hours},
                  {194, "Temperature", 60, 45, 0, celsius}, {197, "Current Pending Sector", 100, 100, 0, pending}};
  return s;
}

StoredRun run(int64_t driveId, const char* started, const char* kind, const char* outcome) {
  StoredRun r;
  r.driveId = driveId;
  r.started = started;
  r.kind = kind;
  r.outcome = outcome;
  r.host = "lab";
  return r;
}

class HistoryDialogTest : public testing::Test {
 protected:
  HistoryDialogTest() : platform(sim::builtinMachine("showcase")), context(platform, prompter) {
    detectDrives(context.probeEnvironment(), context.driveTable());
    StoreOpen opened = HistoryStore::open(folder.path().toStdString());
    store = std::move(opened.store);
  }
  std::string field(int row, bool serial) {
    const DriveRecord& r = context.driveTable().records[row];
    return serial ? trimmedField(r.serialNumber, sizeof r.serialNumber) : trimmedField(r.model, sizeof r.model);
  }
  // Two runs and three readings of drive `row`, written as the run service writes them.
  void keepHistoryOf(int row) {
    const std::optional<int64_t> id = store->driveKey(field(row, false), field(row, true), "", "SATA");
    ASSERT_TRUE(id);
    StoredRun extended = run(*id, "2026-12-07T08:00:00Z", "extended", "PASS");
    extended.latencyP50Ms = 0.21;
    extended.latencyP99Ms = 4.8;
    extended.latencyMaxMs = 38.5;
    StoredRun quick = run(*id, "2026-12-10T06:30:00Z", "quick", "FAIL");
    quick.errorCode = 7;
    quick.errorMessage = "The drive's self-test found a read failure.";
    quick.badSectors = 3;
    ASSERT_TRUE(store->recordRun(extended));
    ASSERT_TRUE(store->recordRun(quick));
    ASSERT_TRUE(store->recordSnapshot(reading(*id, "2026-12-07T09:40:00Z", 0, 38, 14190)));
    ASSERT_TRUE(store->recordSnapshot(reading(*id, "2026-12-08T21:10:00Z", 5, 41, 14226)));
    ASSERT_TRUE(store->recordSnapshot(reading(*id, "2026-12-10T06:32:00Z", 9, 44, 14259)));
  }

  QTemporaryDir folder;
  sim::SimPlatform platform;
  OkPrompter prompter;
  AppContext context;
  std::unique_ptr<HistoryStore> store;
};

TEST_F(HistoryDialogTest, OpensFromTheDriveMenuWithTheDrivesRunsAndCharts) {
  ASSERT_TRUE(store);
  keepHistoryOf(0);
  context.setHistory(store.get(), "");
  CPalvoroDlg window(context, static_cast<QWidget*>(nullptr));
  window.show();
  QApplication::processEvents();
  QString title, heading;
  QStringList newest, oldest, tabs, charts, changes;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<CHistoryDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      title = dialog->windowTitle();
      heading = dialog->heading()->text();
      QTableWidget* runs = dialog->runsTable();
      ASSERT_EQ(runs->rowCount(), 2);
      for (int c = 0; c < runs->columnCount(); ++c) {
        newest << runs->item(0, c)->text();
        oldest << runs->item(1, c)->text();
      }
      for (int i = 0; i < dialog->pages()->count(); ++i) tabs << dialog->pages()->tabText(i);
      for (const HistoryChartView* view : dialog->charts()) charts << QString::fromStdString(view->chart().title);
      test::saveScreenshot(*dialog, QStringLiteral("history_runs"));
      dialog->pages()->setCurrentIndex(1);
      test::saveScreenshot(*dialog, QStringLiteral("history_charts"));
      // As a desktop larger than the offscreen screen's 800 x 600 opens it.
      dialog->setMinimumSize(dialog->sizeHint());
      test::saveScreenshot(*dialog, QStringLiteral("history_charts_wide"));
      dialog->pages()->setCurrentIndex(0);
      test::saveScreenshot(*dialog, QStringLiteral("history_runs_wide"));
      dialog->pages()->setCurrentIndex(2);
      ASSERT_NE(dialog->changesTable(), nullptr);
      for (int r = 0; r < dialog->changesTable()->rowCount(); ++r) changes << dialog->changesTable()->item(r, 1)->text();
      test::saveScreenshot(*dialog, QStringLiteral("history_changes_wide"));
      dialog->reject();
    });
    menu->actions().last()->trigger();
    menu->close();
  });
  emit window.physicalList()->rightClicked(0, 1, window.mapToGlobal(QPoint(50, 200)));
  EXPECT_EQ(title, "History - Physical Drive 1");
  EXPECT_TRUE(heading.startsWith(QString::fromStdString(field(0, false)) + " (serial ")) << heading.toStdString();
  EXPECT_TRUE(heading.endsWith("): 2 runs kept since 2026-12-07 08:00 UTC")) << heading.toStdString();
  EXPECT_EQ(newest, (QStringList{"2026-12-10 06:30", "Quick test", "FAIL (error 7)", "3", "", "", "",
                                 "The drive's self-test found a read failure."}));
  EXPECT_EQ(oldest, (QStringList{"2026-12-07 08:00", "Extended test", "PASS", "0", "0.210 / 4.80 / 38.5", "", "", ""}));
  EXPECT_EQ(tabs, (QStringList{"Runs", "Over Time", "Changes"}));
  EXPECT_TRUE(changes.contains("Current pending sectors rose from 5 to 9 since 2026-12-08 21:10 UTC."))
      << changes.join('\n').toStdString();
  EXPECT_EQ(charts, (QStringList{"Reallocated sectors", "Current pending sectors", "Temperature (\u00B0C)",
                                 "Power-on hours", "Scan latency p50 (ms)", "Scan latency p99 (ms)"}));
}

// A drive the store never saw, and a store that did not open: words, and no charts.
TEST_F(HistoryDialogTest, SaysWhyThereIsNothingToShow) {
  ASSERT_TRUE(store);
  keepHistoryOf(0);
  struct Case {
    HistoryStore* store;
    std::string note;
    QString expected;
    QString screenshot;
  } cases[] = {
      {store.get(), "", "No run of this drive has been kept yet.", "history_never_kept"},
      {nullptr, "The history folder /root/x cannot be made or written; the run is not kept in the history.",
       "The history folder /root/x cannot be made or written; the run is not kept in the history.",
       "history_no_store"},
  };
  for (const Case& c : cases) {
    CHistoryDlg dialog(historyOf(c.store, c.note, context.driveTable().records[1], 2));
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.notes()->text(), c.expected);
    EXPECT_TRUE(dialog.notes()->isVisible());
    EXPECT_EQ(dialog.pages(), nullptr);
    EXPECT_TRUE(dialog.charts().empty());
    test::saveScreenshot(dialog, c.screenshot);
  }
}

}  // namespace
}  // namespace palvoro
