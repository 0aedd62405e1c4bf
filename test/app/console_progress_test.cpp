// The console's progress dialog: what each style writes and when, against a clock the
// test moves; and the loop that carries a worker's calls and fires the run's timers.

#include "app/console_progress.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <vector>

namespace palvoro {
namespace {

struct Screen {
  explicit Screen(ProgressStyle style, int columns = 60)
      : progress(err, style, columns, loop, 20, [this] { return now; }) {}
  std::string take() {
    std::string text = err.str();
    err.str("");
    return text;
  }
  ConsoleLoop loop;
  std::ostringstream err;
  double now = 0;
  ConsoleProgress progress;
};

TEST(ConsoleProgressTest, BarIsRedrawnInPlaceWithinTheTerminalAndStepsAsideForLines) {
  Screen s(ProgressStyle::Bar, 100);
  s.progress.setText(kCtlStatus, "Running Extended Test...");
  EXPECT_EQ(s.take(), "Running Extended Test...\n");

  s.progress.setText(kCtlCurrentSector, "1000 of 9999 (10.00%)");
  EXPECT_EQ(s.take().substr(0, 2), "\r[");
  s.progress.setProgress(10);  // within a tenth of a second of the last drawing: not drawn
  EXPECT_EQ(s.take(), "");
  s.progress.setText(kCtlEstimate, "Estimated Time Remaining: 00:00:45");
  s.now = 0.5;
  s.progress.setText(kCtlElapsed, "Elapsed Time: 00:00:05");
  const std::string bar = s.progress.barLine();
  EXPECT_EQ(bar.substr(0, 1), "[");
  EXPECT_NE(bar.find("]  10%  sector 1000 of 9999 (10.00%)  elapsed 00:00:05  remaining 00:00:45"), std::string::npos)
      << bar;
  EXPECT_LE(bar.size(), 99u);  // one column short of the terminal: the line never wraps
  EXPECT_EQ(s.take(), "\r" + bar + "\x1b[K");

  s.progress.say("[ERASE] Sector #5-9::Erase error! Continue?");
  EXPECT_EQ(s.take(), "\r\x1b[K[ERASE] Sector #5-9::Erase error! Continue?\n\r" + bar + "\x1b[K");
  s.progress.finish();
  EXPECT_EQ(s.take(), "\r" + bar + "\x1b[K\n");

  // A narrow terminal cuts the figures rather than wrapping them.
  Screen narrow(ProgressStyle::Bar, 30);
  narrow.progress.setText(kCtlCurrentSector, "1000 of 9999 (10.00%)");
  EXPECT_EQ(narrow.progress.barLine().size(), 29u);
}

TEST(ConsoleProgressTest, PipeGetsALineEveryFewSecondsAndTheLastFiguresAtTheEnd) {
  Screen s(ProgressStyle::Lines);
  s.progress.setProgress(5);
  EXPECT_EQ(s.take(), "  5%\n");
  s.now = 1;
  s.progress.setProgress(6);
  s.progress.setText(kCtlCurrentSector, "60 of 999 ( 6.01%)");
  EXPECT_EQ(s.take(), "");
  s.now = 1 + kPipeLineSeconds;
  s.progress.setText(kCtlElapsed, "Elapsed Time: 00:00:06");
  EXPECT_EQ(s.take(), "  6%  Current Sector: 60 of 999 ( 6.01%)  Elapsed Time: 00:00:06\n");
  s.progress.finish();
  EXPECT_EQ(s.take(), "");  // nothing new since the last line
  s.progress.setProgress(100);
  s.progress.finish();
  EXPECT_EQ(s.take(), "100%  Current Sector: 60 of 999 ( 6.01%)  Elapsed Time: 00:00:06\n");
}

TEST(ConsoleProgressTest, JsonLinesCarryTheFiguresAtMostOnceASecond) {
  Screen s(ProgressStyle::Json);
  s.progress.setNumbers([] { return ProgressNumbers{600, 999, 6}; });
  s.progress.setTitle("PALVORO - EXTENDED TEST");
  s.progress.setText(kCtlStatus, "Running Extended Test...");
  s.progress.setProgress(5);
  s.now = 0.5;
  s.progress.setProgress(6);
  s.now = 1.5;
  s.progress.setText(kCtlEstimate, "Estimated Time Remaining: 00:01:00");
  s.progress.say("palvoro-cli: stopping the run");

  std::vector<nlohmann::json> events;
  std::istringstream lines(s.take());
  for (std::string line; std::getline(lines, line);) {
    events.push_back(nlohmann::json::parse(line, nullptr, false));
    ASSERT_FALSE(events.back().is_discarded()) << line;
  }
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0]["event"], "title");
  EXPECT_EQ(events[1], (nlohmann::json{{"event", "status"}, {"text", "Running Extended Test..."}}));
  EXPECT_EQ(events[2]["percent"], 5);
  EXPECT_EQ(events[3]["event"], "progress");
  EXPECT_EQ(events[3]["percent"], 6);
  EXPECT_EQ(events[3]["current_sector"], 600);
  EXPECT_EQ(events[3]["last_sector"], 999);
  EXPECT_EQ(events[3]["elapsed_seconds"], 6);
  EXPECT_EQ(events[3]["estimate"], "Estimated Time Remaining: 00:01:00");
  EXPECT_EQ(events[4], (nlohmann::json{{"event", "message"}, {"text", "palvoro-cli: stopping the run"}}));
}

TEST(ConsoleLoopTest, AWorkersCallsRunInOrderOnTheLoopThreadBesideTheTimers) {
  ConsoleLoop loop;
  std::vector<int> seen;
  std::vector<int> fired;
  loop.onTimer([&](int id) { fired.push_back(id); });
  loop.armTimer(2, 5);
  loop.armTimer(1, 1);
  bool done = false;
  bool askedOnLoop = false;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) loop.post([&seen, i] { seen.push_back(i); });
    // A question waits for the loop's thread and comes back with its answer.
    EXPECT_TRUE(loop.call([&] { askedOnLoop = loop.onLoopThread(); }));
    loop.post([&] { done = true; });
  });
  loop.runUntil([&] { return done && !loop.anyTimerArmed(); });
  worker.join();
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], i);
  EXPECT_TRUE(askedOnLoop);
  EXPECT_EQ(fired, (std::vector<int>{1, 2}));

}

}  // namespace
}  // namespace palvoro
