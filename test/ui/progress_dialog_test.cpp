// The progress dialog in test mode on simulated machines: real widgets, the real worker
// thread and the dialog's own timers at a short period, with the run's wall clock and the
// machine's clock moved by the test between ticks.

#include "ui/widgets/progress_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <set>
#include <string>

#include "app/app_context.h"
#include "diagnostics/diagnostics_test_support.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "ui/screenshot.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/qt_prompter.h"

namespace palvoro {
namespace {

constexpr int kShortPeriodMs = 2;

// One ATA drive at physical number 0. `smart` false: no SMART, so the quick test scans.
std::string machineJson(bool smart, uint64_t sectors, const std::string& extra = "") {
  const std::string on = smart ? "true" : "false";
  return R"({"drives": [{"number": 0, "transport": "ata",
    "identity": {"model": "VARN PD", "serial": "S1", "firmware": "F1", "sectors": )" +
         std::to_string(sectors) + R"(, "smart": )" + on + R"(},
    "smart": {"enabled": )" + on + R"(,
              "attributes": [{"id": 1, "flags": 11, "value": 100, "worst": 100, "threshold": 16}]},
    "selfTest": {"shortSeconds": 60, "result": 0},
    "offlineCapability": "0x5B", "pollMinutes": {"short": 2})" +
         extra + "}]}";
}

class ProgressDialogTest : public ::testing::Test {
 protected:
  void load(const std::string& json, int32_t kind, int32_t eraseMode = 0) {
    platform = std::make_unique<sim::SimPlatform>(sim::loadMachine(json));
    context = std::make_unique<AppContext>(*platform, prompter);
    context->startup().osIsVistaOrLater = 1;
    detectDrives(context->probeEnvironment(), context->driveTable());
    ASSERT_EQ(context->driveTable().driveCount(), 1);
    context->driveTable().selectedDrive = 0;
    // As the option dialog leaves them before it opens the progress dialog.
    values().testKind = kind;
    values().eraseMode = eraseMode;
    values().testState = kTestStateRunning;
    values().testError = kTestErrorNone;
    dialog = std::make_unique<CScanDiskDlg>(*context, nullptr, kShortPeriodMs, &clock);
  }

  TestRunValues& values() { return context->testRun(); }
  QString text(int controlId) const {
    QWidget* w = dialog->control(controlId);
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    return {};
  }
  QPushButton* button(int controlId) const { return qobject_cast<QPushButton*>(dialog->control(controlId)); }
  int progress() const { return qobject_cast<QProgressBar*>(dialog->control(kCtlProgress))->value(); }
  // Presses Close (or Cancel) once the current event has been handled.
  void pressCancelLater() {
    QTimer::singleShot(0, dialog.get(), [this] { button(kCtlCancel)->click(); });
  }
  // Every run ends with its worker joined and the drive closed again.
  void expectNothingLeftRunning() {
    EXPECT_FALSE(dialog->workerRunning());
    EXPECT_EQ(platform->openHandleCount(), 0u);
  }

  QtPrompter prompter;
  diagtest::ManualClock clock{100'000};
  std::unique_ptr<sim::SimPlatform> platform;
  std::unique_ptr<AppContext> context;
  std::unique_ptr<CScanDiskDlg> dialog;
};

// Answers the next message box with `answer`, keeping its caption and text.
void answerNextBox(QMessageBox::StandardButton answer, QString* caption, QString* seen) {
  QTimer::singleShot(0, [=] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    *caption = box->windowTitle();
    *seen = box->text();
    box->button(answer)->click();
  });
}

TEST_F(ProgressDialogTest, OpensWithEveryControlOfTheTable) {
  load(machineJson(true, 200'000), kTestKindQuick);
  for (int id : {kCtlStatus, kCtlDriveLine, kCtlEstimate, kCtlElapsed, kCtlActivityIcon, kCtlCurrentSectorLabel,
                 kCtlCurrentSector, kCtlRepair, kCtlCancel, kCtlProgress, kCtlDrivePicture, kCtlSecondLine}) {
    EXPECT_NE(dialog->control(id), nullptr) << id;
  }
  EXPECT_EQ(dialog->control(1000), nullptr);
  const QProgressBar* bar = qobject_cast<QProgressBar*>(dialog->control(kCtlProgress));
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(text(kCtlCancel), "Cancel");
  EXPECT_EQ(text(kCtlRepair), "Repair");
}

TEST_F(ProgressDialogTest, QuickTestWithPassingSelfTestIsPolledToCompletion) {
  load(machineJson(true, 200'000), kTestKindQuick);
  std::vector<int> ticks;
  bool closePressed = false;
  QObject::connect(dialog.get(), &CScanDiskDlg::timerTicked, dialog.get(), [&](int id) {
    ticks.push_back(id);
    platform->advanceClock(10'000);  // the self-test takes 60 s on the drive
    clock.advance(1);
    if (dialog->testRun().cancelReadsClose() && !closePressed) {
      closePressed = true;
      test::saveScreenshot(*dialog, "progress_dialog_pass");
      pressCancelLater();
    }
  });

  EXPECT_EQ(dialog->runTest(), 2);

  // Polled at the ninth tick, 80 s later on the drive: done.
  EXPECT_EQ(ticks, std::vector<int>(9, kTimerSelfTest));
  EXPECT_EQ(dialog->windowTitle(), "PALVORO - QUICK TEST");
  EXPECT_EQ(text(kCtlDriveLine), "Physical Drive 1:");
  EXPECT_EQ(text(kCtlStatus), "Test completed successfully.");
  EXPECT_EQ(text(kCtlCancel), "Close");
  EXPECT_EQ(text(kCtlEstimate), "Estimated Time: 2 minute(s)");
  EXPECT_EQ(text(kCtlElapsed), "Elapsed Time: 00:00:08");
  EXPECT_EQ(progress(), 100);
  EXPECT_EQ(dialog->iconOf(kCtlActivityIcon), kIconSuccess);
  EXPECT_FALSE(button(kCtlRepair)->isVisibleTo(dialog.get()));
  EXPECT_EQ(values().testState.load(), kTestStatePass);
  EXPECT_FALSE(dialog->isVisible());
  expectNothingLeftRunning();
}

TEST_F(ProgressDialogTest, QuickTestWithoutSelfTestRunsTheQuickMediaScan) {
  load(machineJson(false, 200'000), kTestKindQuick);
  QObject::connect(dialog.get(), &CScanDiskDlg::workerFinished, dialog.get(), [&] { pressCancelLater(); });

  EXPECT_EQ(dialog->runTest(), 2);

  EXPECT_EQ(text(kCtlStatus), "Test completed successfully.");
  EXPECT_EQ(text(kCtlCancel), "Close");
  EXPECT_TRUE(dialog->control(kCtlCurrentSectorLabel)->isVisibleTo(dialog.get()));
  EXPECT_TRUE(text(kCtlCurrentSector).contains(" of ")) << text(kCtlCurrentSector).toStdString();
  EXPECT_EQ(progress(), 100);
  EXPECT_EQ(dialog->iconOf(kCtlActivityIcon), kIconSuccess);
  EXPECT_EQ(values().testState.load(), kTestStatePass);
  size_t reads = 0;
  for (const sim::SimRequest& r : platform->log()) reads += r.kind == sim::SimRequest::Kind::Read ? 1 : 0;
  EXPECT_GT(reads, 0u);
  expectNothingLeftRunning();
}

TEST_F(ProgressDialogTest, ExtendedTestFindsThreeBadSectorsAndRepairPasses) {
  // In the last 64 sectors: the random reads that open the extended test never reach
  // them (they read whole blocks that end before the last one), so the scan finds each
  // exactly once whatever the random draws.
  load(machineJson(false, 200'000, R"(, "unreadable": [199950, 199975, 199999])"), kTestKindExtended);
  QString caption;
  QString confirmation;
  QString foundText;
  bool repairShown = false;
  QObject::connect(dialog.get(), &CScanDiskDlg::workerFinished, dialog.get(), [&] {
    QTimer::singleShot(0, dialog.get(), [&] {
      foundText = text(kCtlStatus);
      repairShown = button(kCtlRepair)->isVisible();
      test::saveScreenshot(*dialog, "progress_dialog_fail");
      answerNextBox(QMessageBox::Ok, &caption, &confirmation);
      button(kCtlRepair)->click();  // returns when the repair is done
      test::saveScreenshot(*dialog, "progress_dialog_repaired");
      pressCancelLater();
    });
  });

  EXPECT_EQ(dialog->runTest(), 2);

  EXPECT_EQ(dialog->windowTitle(), "PALVORO - EXTENDED TEST");
  EXPECT_EQ(foundText, "Test found bad sectors that may be repairable.");
  EXPECT_TRUE(repairShown);
  EXPECT_EQ(values().badSectorCount.load(), 3u);
  EXPECT_EQ(caption, "REPAIR");
  EXPECT_TRUE(confirmation.startsWith("Data stored in the bad sectors will be lost."));
  EXPECT_FALSE(button(kCtlRepair)->isVisibleTo(dialog.get()));
  EXPECT_EQ(text(kCtlStatus), "Bad sectors were repaired successfully.");
  EXPECT_EQ(progress(), 100);
  EXPECT_EQ(dialog->iconOf(kCtlActivityIcon), kIconSuccess);
  EXPECT_EQ(values().testState.load(), kTestStatePass);
  EXPECT_EQ(values().testError.load(), kTestErrorNone);
  EXPECT_TRUE(platform->drive(0).ata.units.at(0).media.unreadable().empty());
  expectNothingLeftRunning();
}

// Close pressed while the repair runs reaches the dialog through the events the repair
// lets run between sectors: the repair stops after its first sector.
TEST_F(ProgressDialogTest, CloseDuringRepairStopsItWithItsMessage) {
  load(machineJson(false, 200'000, R"(, "unreadable": [199950, 199975, 199999])"), kTestKindExtended);
  QString caption;
  QString confirmation;
  QString stopCaption;
  QString stopText;
  bool repairing = false;
  auto* bar = qobject_cast<QProgressBar*>(dialog->control(kCtlProgress));
  QObject::connect(bar, &QProgressBar::valueChanged, dialog.get(), [&](int percent) {
    // 33 comes before the first of the three sectors is written; the click is posted and
    // so waits for the events the repair lets run after that sector.
    if (!repairing || percent != 33) return;
    QMetaObject::invokeMethod(
        dialog.get(),
        [&] {
          answerNextBox(QMessageBox::Ok, &stopCaption, &stopText);
          button(kCtlCancel)->click();
        },
        Qt::QueuedConnection);
  });
  QObject::connect(dialog.get(), &CScanDiskDlg::workerFinished, dialog.get(), [&] {
    QTimer::singleShot(0, dialog.get(), [&] {
      repairing = true;
      answerNextBox(QMessageBox::Ok, &caption, &confirmation);
      button(kCtlRepair)->click();
    });
  });

  EXPECT_EQ(dialog->runTest(), 2);

  EXPECT_EQ(caption, "REPAIR");
  EXPECT_EQ(stopCaption, "Repair");
  EXPECT_EQ(stopText, "Stop repairing bad sectors!");
  EXPECT_EQ(values().testState.load(), kTestStateFail);
  EXPECT_EQ(platform->drive(0).ata.units.at(0).media.unreadable(), (std::set<uint64_t>{199975, 199999}));
  EXPECT_FALSE(dialog->isVisible());
  expectNothingLeftRunning();
}

TEST_F(ProgressDialogTest, CancelDuringAScanAbortsAndTheDialogClosesByItself) {
  // Long enough that the scan is still running at the first tick.
  load(machineJson(false, 40'000'000), kTestKindExtended);
  platform->setLogging(false);
  bool cancelled = false;
  QObject::connect(dialog.get(), &CScanDiskDlg::timerTicked, dialog.get(), [&](int id) {
    if (id != kTimerMediaScan || cancelled) return;
    cancelled = true;
    test::saveScreenshot(*dialog, "progress_dialog_scan");
    button(kCtlCancel)->click();
    // The run is asked to stop; the dialog stays open until the scan has stopped.
    EXPECT_TRUE(dialog->isVisible());
  });

  EXPECT_EQ(dialog->runTest(), 2);

  EXPECT_TRUE(cancelled);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(values().testState.load(), kTestStateAbort);
  EXPECT_EQ(values().stopRequest.load(), 0);
  EXPECT_EQ(text(kCtlCancel), "Cancel");  // not relabelled
  EXPECT_LT(dialog->testRun().currentSector.load(), dialog->testRun().endSector.load());
  expectNothingLeftRunning();
  test::saveScreenshot(*dialog, "progress_dialog_abort");
}

TEST_F(ProgressDialogTest, QuickEraseCompletes) {
  load(machineJson(false, 100'000), kTestKindErase, 0);
  QObject::connect(dialog.get(), &CScanDiskDlg::workerFinished, dialog.get(), [&] {
    QTimer::singleShot(0, dialog.get(), [&] {
      test::saveScreenshot(*dialog, "progress_dialog_complete");
      pressCancelLater();
    });
  });

  EXPECT_EQ(dialog->runTest(), 2);

  EXPECT_EQ(dialog->windowTitle(), "PALVORO - ERASE");
  EXPECT_EQ(text(kCtlStatus), "Test completed successfully.");
  EXPECT_EQ(values().testState.load(), kTestStateComplete);
  expectNothingLeftRunning();
}

}  // namespace
}  // namespace palvoro
