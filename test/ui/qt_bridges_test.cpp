// The prompter and the run's event queue carry a worker's calls onto the GUI thread.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "ui/widgets/gui_call_queue.h"
#include "ui/widgets/qt_progress_view.h"
#include "ui/widgets/qt_prompter.h"

namespace palvoro {
namespace {

// Runs the GUI thread's events until `done` or five seconds have passed.
template <typename Done>
bool processUntil(Done done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

// Answers the next message box once it is open, with `button` or (NoButton) with the
// Enter key, noting what it showed.
struct BoxAnswerer {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  bool workerWasWaiting = false;

  void arm(QMessageBox::StandardButton button, const std::atomic<bool>* workerReturned) {
    QTimer::singleShot(20, [this, button, workerReturned] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) {
        arm(button, workerReturned);  // not open yet: look again
        return;
      }
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      buttons = box->standardButtons();
      QPushButton* enterButton = box->defaultButton();
      defaultButton = enterButton != nullptr ? box->standardButton(enterButton) : QMessageBox::NoButton;
      workerWasWaiting = workerReturned != nullptr && !workerReturned->load();
      if (button == QMessageBox::NoButton) {
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &enter);
      } else {
        box->button(button)->click();
      }
    });
  }
};

TEST(QtPrompterTest, AskFromAWorkerShowsTheBoxOnTheGuiThreadAndBlocksUntilAnswered) {
  QtPrompter prompter;
  struct Case {
    PromptIcon icon;
    PromptButtons buttons;
    PromptAnswer defaultAnswer;
    QMessageBox::StandardButton click;
    QMessageBox::Icon expectedIcon;
    QMessageBox::StandardButtons expectedButtons;
    PromptAnswer expectedAnswer;
  };
  const Case cases[] = {
      {PromptIcon::Warning, PromptButtons::Ok, PromptAnswer::Ok, QMessageBox::Ok, QMessageBox::Warning,
       QMessageBox::Ok, PromptAnswer::Ok},
      {PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::No, QMessageBox::No, QMessageBox::Question,
       QMessageBox::Yes | QMessageBox::No, PromptAnswer::No},
      {PromptIcon::Stop, PromptButtons::OkCancel, PromptAnswer::Cancel, QMessageBox::Cancel, QMessageBox::Critical,
       QMessageBox::Ok | QMessageBox::Cancel, PromptAnswer::Cancel},
      {PromptIcon::Information, PromptButtons::YesNoCancel, PromptAnswer::Yes, QMessageBox::Yes,
       QMessageBox::Information, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, PromptAnswer::Yes},
  };
  for (const Case& c : cases) {
    std::atomic<bool> returned{false};
    PromptAnswer answer = PromptAnswer::Ok;
    BoxAnswerer answerer;
    answerer.arm(c.click, &returned);
    std::thread worker([&] {
      answer = prompter.ask("Proceed?", "PALVORO for Windows", c.icon, c.buttons, c.defaultAnswer,
                            PromptPurpose::question());
      returned = true;
    });
    EXPECT_TRUE(processUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(answerer.workerWasWaiting);
    EXPECT_EQ(answerer.title, "PALVORO for Windows");
    EXPECT_EQ(answerer.text, "Proceed?");
    EXPECT_EQ(answerer.icon, c.expectedIcon);
    EXPECT_EQ(answerer.buttons, c.expectedButtons);
    EXPECT_EQ(answer, c.expectedAnswer);
  }
}

// Enter presses the button the caller named, never the one Qt would pick (Yes or OK); a
// box that destroys data defaults to the answer that stops whatever the caller named, so
// that Enter alone never erases or repairs.
TEST(QtPrompterTest, EnterPressesTheDefaultTheCallerNamedUnlessTheBoxDestroysData) {
  QtPrompter prompter;
  constexpr PromptPurpose kQuestion = PromptPurpose::question();
  constexpr PromptPurpose kDestroys = PromptPurpose::destroysDataOn(1);
  struct Case {
    PromptButtons buttons;
    PromptAnswer defaultAnswer;
    PromptPurpose purpose;
    QMessageBox::StandardButton expectedDefault;
    PromptAnswer expectedAnswer;
  };
  const Case cases[] = {
      {PromptButtons::YesNo, PromptAnswer::No, kQuestion, QMessageBox::No, PromptAnswer::No},
      {PromptButtons::YesNo, PromptAnswer::Yes, kQuestion, QMessageBox::Yes, PromptAnswer::Yes},
      {PromptButtons::OkCancel, PromptAnswer::Cancel, kQuestion, QMessageBox::Cancel, PromptAnswer::Cancel},
      {PromptButtons::OkCancel, PromptAnswer::Ok, kQuestion, QMessageBox::Ok, PromptAnswer::Ok},
      {PromptButtons::YesNoCancel, PromptAnswer::Cancel, kQuestion, QMessageBox::Cancel, PromptAnswer::Cancel},
      {PromptButtons::Ok, PromptAnswer::Ok, PromptPurpose::information(), QMessageBox::Ok, PromptAnswer::Ok},
      {PromptButtons::YesNo, PromptAnswer::No, kDestroys, QMessageBox::No, PromptAnswer::No},
      {PromptButtons::YesNo, PromptAnswer::Yes, kDestroys, QMessageBox::No, PromptAnswer::No},
      {PromptButtons::OkCancel, PromptAnswer::Ok, kDestroys, QMessageBox::Cancel, PromptAnswer::Cancel},
      {PromptButtons::YesNoCancel, PromptAnswer::Yes, kDestroys, QMessageBox::Cancel, PromptAnswer::Cancel},
  };
  for (const Case& c : cases) {
    std::atomic<bool> returned{false};
    PromptAnswer answer = PromptAnswer::Yes;
    BoxAnswerer answerer;
    answerer.arm(QMessageBox::NoButton, &returned);
    std::thread worker([&] {
      answer = prompter.ask("Sector #0-255::Erase error! Continue?", "ERASE", PromptIcon::Warning, c.buttons,
                            c.defaultAnswer, c.purpose);
      returned = true;
    });
    EXPECT_TRUE(processUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(answerer.defaultButton, c.expectedDefault);
    EXPECT_EQ(answer, c.expectedAnswer);
  }
}

TEST(QtPrompterTest, AskOnTheGuiThreadShowsTheBoxDirectly) {
  QtPrompter prompter;
  BoxAnswerer answerer;
  answerer.arm(QMessageBox::Yes, nullptr);
  EXPECT_EQ(prompter.ask("Again?", "Caption", PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::No,
                         PromptPurpose::question()),
            PromptAnswer::Yes);
  EXPECT_EQ(answerer.title, "Caption");
}

// Notes each event with the thread it arrived on.
class RecordingTarget : public RunEvents {
 public:
  void started(const RunStarted& start) override { note("started " + std::to_string(start.driveNumber)); }
  void stage(const RunStage& stage) override { note("stage " + stage.line); }
  void progress(const RunProgress& p) override { note("progress " + std::to_string(p.percent.value_or(-1))); }
  void scanStarted() override { note("scan"); }
  void repairStarted() override { note("repair"); }
  void badSectorFound(const BadSector& bad) override { note("bad " + std::to_string(bad.sector)); }
  void repairOffered(bool offered) override { note(offered ? "offered" : "withdrawn"); }
  void activity(RunActivity a) override { note("activity " + std::to_string(static_cast<int>(a))); }
  void ended(const RunEnd& end) override { note("ended " + std::to_string(end.state)); }
  void closed() override { note("closed"); }
  std::vector<std::string> calls;
  bool allOnGuiThread = true;

 private:
  void note(const std::string& call) {
    allOnGuiThread = allOnGuiThread && QThread::currentThread() == qApp->thread();
    calls.push_back(call);
  }
};

TEST(QtProgressViewTest, WorkerEventsArriveOnTheGuiThreadInOrder) {
  RecordingTarget target;
  QtProgressView view(target);
  std::thread worker([&] {
    RunProgress bar;
    bar.percent = 40;
    view.started(RunStarted{0, 3});
    view.stage(RunStage{"Running", {}});
    view.progress(bar);
    view.badSectorFound(BadSector{77, 23});
    view.repairOffered(true);
    view.activity(RunActivity::Failure);
    view.ended(RunEnd{1, 8});
    view.keepResponsive();
    view.closed();
  });
  worker.join();
  EXPECT_TRUE(target.calls.empty());  // nothing touched the target from the worker
  EXPECT_TRUE(processUntil([&] { return target.calls.size() == 8; }));
  EXPECT_EQ(target.calls, (std::vector<std::string>{"started 3", "stage Running", "progress 40", "bad 77", "offered",
                                                    "activity 2", "ended 1", "closed"}));
  EXPECT_TRUE(target.allOnGuiThread);

  view.scanStarted();  // on the GUI thread: at once
  EXPECT_EQ(target.calls.back(), "scan");
}

// A worker blocked in call() while the queue's owner closes: it must be released with
// "not run" and must not touch the queue object on its way out. The window is narrow, so
// the case runs many times; the sanitizers catch a read of the freed queue.
TEST(GuiCallQueueTest, AWorkerWaitingForACallIsReleasedWhenTheQueueGoesFirst) {
  for (int round = 0; round < 200; ++round) {
    auto queue = std::make_unique<GuiCallQueue>();
    const GuiCallQueue::Sender sender = queue->sender();
    std::atomic<bool> returned{false};
    bool ran = true, callRan = false;
    std::thread worker([&] {
      ran = sender.call([&] { callRan = true; });
      returned = true;
    });
    // No event runs here, so the call stays queued until the queue is destroyed.
    while (!queue->hasPending()) std::this_thread::yield();
    EXPECT_FALSE(returned.load());
    queue.reset();
    worker.join();
    ASSERT_FALSE(ran) << "round " << round;
    ASSERT_FALSE(callRan) << "round " << round;
  }
}

// A worker that keeps posting while the queue goes: calls after that are dropped, and
// nothing it does reaches the freed queue.
TEST(GuiCallQueueTest, ASenderOutlivesItsQueue) {
  for (int round = 0; round < 50; ++round) {
    auto queue = std::make_unique<GuiCallQueue>();
    const GuiCallQueue::Sender sender = queue->sender();
    std::atomic<int> posted{0};
    std::atomic<bool> stop{false};
    int ran = 0;  // GUI thread only
    std::thread worker([&] {
      while (!stop.load()) {
        sender.post([&] { ++ran; });
        ++posted;
      }
    });
    while (posted.load() < 10) std::this_thread::yield();
    queue->drain();
    queue.reset();
    const int seen = ran;
    while (posted.load() < 20) std::this_thread::yield();  // posts after the queue has gone
    stop = true;
    worker.join();
    EXPECT_EQ(ran, seen);  // nothing ran once the queue was destroyed
    EXPECT_FALSE(sender.call([&] { ++ran; }));
    EXPECT_EQ(ran, seen);
  }
}

}  // namespace
}  // namespace palvoro
