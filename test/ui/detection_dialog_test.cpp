#include "ui/widgets/detection_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "discovery/detection.h"
#include "platform/sim/sim_platform.h"
#include "ui/gui_test_support.h"
#include "ui/widgets/qt_prompter.h"

namespace palvoro {
namespace {

using test::OkPrompter;

// The showcase machine whose first drive open waits until the test opens the gate: a
// detection that outlasts the dialog's patience.
class GatedPlatform : public sim::SimPlatform {
 public:
  explicit GatedPlatform(sim::SimMachine machine = sim::builtinMachine("showcase"))
      : sim::SimPlatform(std::move(machine)) {}
  Handle createFile(const std::string& path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                    uint32_t flags) override {
    {
      std::unique_lock<std::mutex> lock(m_gateMutex);
      m_gateChanged.wait(lock, [this] { return m_open; });
    }
    return sim::SimPlatform::createFile(path, access, shareMode, disposition, flags);
  }
  void open() {
    std::lock_guard<std::mutex> lock(m_gateMutex);
    m_open = true;
    m_gateChanged.notify_all();
  }

 private:
  std::mutex m_gateMutex;
  std::condition_variable m_gateChanged;
  bool m_open = false;
};

// How many drives a finished detection of the showcase machine keeps.
int showcaseDriveCount() {
  sim::SimPlatform platform(sim::builtinMachine("showcase"));
  OkPrompter prompter;
  AppContext context(platform, prompter);
  detectDrives(context.probeEnvironment(), context.driveTable());
  return context.driveTable().driveCount();
}

TEST(DetectionDialogTest, FinishedDetectionClosesWithOkAtFullBarStartingMinimised) {
  sim::SimPlatform platform(sim::builtinMachine("showcase"));
  OkPrompter prompter;
  AppContext context(platform, prompter);
  DetectionDialog dialog(context, DetectionDialog::Mode::Detect, nullptr, 1);
  EXPECT_EQ(dialog.windowTitle(), "PALVORO for Windows");
  bool minimisedAtStart = false;
  QTimer::singleShot(0, &dialog, [&] { minimisedAtStart = dialog.isMinimized(); });
  EXPECT_EQ(dialog.run(), QDialog::Accepted);
  EXPECT_TRUE(minimisedAtStart);
  EXPECT_EQ(dialog.progressBar()->value(), 100);
  EXPECT_EQ(dialog.windowTitle(), "PALVORO for Windows");
  EXPECT_EQ(context.driveTable().driveCount(), showcaseDriveCount());
  EXPECT_GT(context.driveTable().driveCount(), 0);
}

// The wait gives up at the 21st tick, yet run() returns only once the worker has ended:
// the caller never reads a table that is still being filled.
TEST(DetectionDialogTest, CancelAfter21TicksStillWaitsForTheWorkerBeforeReturning) {
  GatedPlatform platform;
  OkPrompter prompter;
  AppContext context(platform, prompter);
  DetectionDialog dialog(context, DetectionDialog::Mode::Rescan, nullptr, 1);
  std::atomic<bool> gaveUp{false};
  QObject::connect(&dialog, &QDialog::finished, &dialog, [&](int result) {
    gaveUp = result == QDialog::Rejected;
  });
  std::thread opener([&] {
    while (!gaveUp.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Long enough for a dialog that does not wait to return and be read.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    platform.open();
  });
  const int result = dialog.run();
  const int countSeenAtReturn = context.driveTable().driveCount();
  const bool busyAtReturn = dialog.ticker().busy();
  opener.join();
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_EQ(dialog.ticker().tickCounter(), 21);
  EXPECT_EQ(dialog.progressBar()->value(), 100);
  EXPECT_EQ(dialog.windowTitle(), "Re-scanning drives...");
  EXPECT_FALSE(busyAtReturn);
  EXPECT_EQ(countSeenAtReturn, showcaseDriveCount());
}

// The showcase machine whose SCSI disk fails READ CAPACITY: its probe stops in the
// "ReadCapacity failed!" box.
sim::SimMachine machineWithFailingCapacity() {
  sim::SimMachine machine = sim::builtinMachine("showcase");
  for (sim::SimDrive& drive : machine.drives) {
    if (drive.transport == sim::Transport::Scsi) drive.scsi.readCapacityFails = true;
  }
  return machine;
}

// The wait is given up while detection has not reached the box yet; the box then comes
// up after the dialog's own loop has ended. The dialog must keep showing boxes until the
// worker ends, or the GUI thread waits for a worker that waits for the GUI thread.
TEST(DetectionDialogTest, AWorkerAskingAfterCancelIsAnsweredBeforeRunReturns) {
  GatedPlatform platform(machineWithFailingCapacity());
  QtPrompter prompter;
  AppContext context(platform, prompter);
  DetectionDialog dialog(context, DetectionDialog::Mode::Rescan, nullptr, 1);
  std::atomic<bool> gaveUp{false};
  std::vector<QString> boxes;
  QObject::connect(&dialog, &QDialog::finished, &dialog, [&](int result) {
    gaveUp = result == QDialog::Rejected;
    // Answers every box the worker shows from now on, as a user would.
    auto* answerer = new QTimer(&dialog);
    QObject::connect(answerer, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxes.push_back(box->text());
        box->button(QMessageBox::Ok)->click();
      }
    });
    answerer->start(5);
  });
  std::thread opener([&] {
    while (!gaveUp.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform.open();
  });
  // A GUI thread that blocks here never returns: end the test program with a message
  // rather than hang the whole run.
  std::atomic<bool> returned{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 300 && !returned.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!returned.load()) {
      std::fprintf(stderr, "DetectionDialog::run() did not return: the GUI thread waits for its worker\n");
      std::abort();
    }
  });
  const int result = dialog.run();
  returned = true;
  opener.join();
  watchdog.join();
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_FALSE(dialog.ticker().busy());
  EXPECT_NE(std::find(boxes.begin(), boxes.end(), "ReadCapacity failed!"), boxes.end());
}

}  // namespace
}  // namespace palvoro
