#include "ui/model/detection_ticker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace palvoro {
namespace {

// Records what the rules do to the dialog, one word per call.
class RecordingView : public DetectionDialogView {
 public:
  void setTitle(const std::string& title) override { calls.push_back("title " + title); }
  void setProgress(int percent) override { calls.push_back("progress " + std::to_string(percent)); }
  void restore() override { calls.push_back("restore"); }
  void armTimer(int milliseconds) override {
    calls.push_back("start " + std::to_string(milliseconds));
    timerStarts.fetch_add(1);
  }
  void disarmTimer() override { calls.push_back("stop"); }
  void closeView(bool ok) override { calls.push_back(ok ? "close OK" : "close Cancel"); }
  std::vector<std::string> calls;
  std::atomic<int> timerStarts{0};  // lets a test wait until a worker has armed the timer
};

using Calls = std::vector<std::string>;

TEST(DetectionTickerTest, WorkerMarksStartedSetsRescanTitleStartsTimerAndClearsBusy) {
  RecordingView view;
  DetectionTicker ticker(view);
  ticker.begin();
  EXPECT_EQ(view.calls, (Calls{"progress 5"}));
  EXPECT_TRUE(ticker.busy());
  bool detectionRan = false;
  ticker.runWorker(true, [&] {
    detectionRan = true;
    EXPECT_EQ(view.calls, (Calls{"progress 5", "title Re-scanning drives...", "start 1000"}));
  });
  EXPECT_TRUE(detectionRan);
  EXPECT_FALSE(ticker.busy());
  EXPECT_TRUE(ticker.startedMark());

  RecordingView detectView;
  DetectionTicker detectTicker(detectView);
  detectTicker.runWorker(false, [] {});
  EXPECT_EQ(detectView.calls, (Calls{"start 1000"}));
}

TEST(DetectionTickerTest, DetectionDoneAtFirstTickClosesWithOkAtFullBarAndNeverRestores) {
  RecordingView view;
  DetectionTicker ticker(view);
  ticker.begin();
  ticker.runWorker(false, [] {});
  view.calls.clear();
  ticker.onTick();
  EXPECT_EQ(view.calls, (Calls{"stop", "progress 100", "close OK"}));
}

// A worker that stays busy: tick k (k = 1..20) shows 5 k percent and re-arms; tick 2 alone
// restores; the 21st tick gives up with Cancel and does not re-arm.
TEST(DetectionTickerTest, BusyWorkerAdvancesFivePerTickRestoresAtTickTwoAndCancelsAtTick21) {
  RecordingView view;
  DetectionTicker ticker(view);
  ticker.begin();
  // Stand in for a worker inside detection: started, busy.
  std::atomic<bool> release{false};
  struct Case {
    int tick;
    Calls expected;
  };
  const std::vector<Case> cases = {
      {1, {"stop", "progress 5", "start 1000"}},
      {2, {"stop", "restore", "progress 10", "start 1000"}},
      {3, {"stop", "progress 15", "start 1000"}},
      {19, {"stop", "progress 95", "start 1000"}},
      {20, {"stop", "progress 100", "start 1000"}},
      {21, {"stop", "close Cancel"}},
  };
  // The worker marks its start without finishing: run it up to detection only.
  std::thread worker([&] {
    ticker.runWorker(false, [&] {
      while (!release.load()) std::this_thread::yield();
    });
  });
  // The worker marks its start and then arms the timer; tick only after both, so the
  // test's thread never records into the view while the worker still does.
  while (!ticker.startedMark() || view.timerStarts.load() == 0) std::this_thread::yield();
  size_t next = 0;
  for (int tick = 1; tick <= 21; ++tick) {
    view.calls.clear();
    ticker.onTick();
    if (next < cases.size() && cases[next].tick == tick) {
      EXPECT_EQ(view.calls, cases[next].expected) << "tick " << tick;
      ++next;
    } else {
      EXPECT_EQ(view.calls.size(), 3u) << "tick " << tick;
    }
  }
  EXPECT_EQ(next, cases.size());
  EXPECT_TRUE(ticker.busy());
  release = true;
  worker.join();
}

TEST(DetectionTickerTest, DetectionEndingAtTickFiveClosesWithOkThere) {
  RecordingView view;
  DetectionTicker ticker(view);
  ticker.begin();
  std::atomic<bool> release{false};
  std::thread worker([&] {
    ticker.runWorker(false, [&] {
      while (!release.load()) std::this_thread::yield();
    });
  });
  // The worker's calls come first; the ticks then see the timer armed.
  while (view.timerStarts.load() == 0) std::this_thread::yield();
  for (int tick = 1; tick <= 4; ++tick) ticker.onTick();
  release = true;
  worker.join();
  view.calls.clear();
  ticker.onTick();
  EXPECT_EQ(view.calls, (Calls{"stop", "progress 100", "close OK"}));
}

}  // namespace
}  // namespace palvoro
