// A run on the console: what each style writes of the run's events and when, against a
// clock the test moves; and the loop that carries the run's threads' calls.

#include "app/console_progress.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "diagnostics/run_values.h"

namespace palvoro {
namespace {

RunProgress percent(int p) {
  RunProgress out;
  out.percent = p;
  return out;
}
RunProgress sector(uint64_t current, uint64_t last) {
  RunProgress out;
  out.sector = SectorPosition{current, last};
  return out;
}
RunProgress times(int64_t elapsed, std::optional<int64_t> remaining) {
  RunProgress out;
  out.elapsedSeconds = elapsed;
  out.remainingSeconds = remaining;
  return out;
}

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
  s.progress.stage(RunStage{"Running Extended Test...", {}});
  EXPECT_EQ(s.take(), "Running Extended Test...\n");

  s.progress.progress(sector(1000, 9999));
  EXPECT_EQ(s.take().substr(0, 2), "\r[");
  s.progress.progress(percent(10));  // within a tenth of a second of the last drawing: not drawn
  EXPECT_EQ(s.take(), "");
  s.now = 0.5;
  s.progress.progress(times(5, 45));
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
  narrow.progress.progress(sector(1000, 9999));
  EXPECT_EQ(narrow.progress.barLine().size(), 29u);
}

TEST(ConsoleProgressTest, PipeGetsALineEveryFewSecondsAndTheLastFiguresAtTheEnd) {
  Screen s(ProgressStyle::Lines);
  s.progress.progress(percent(5));
  EXPECT_EQ(s.take(), "  5%\n");
  s.now = 1;
  s.progress.progress(percent(6));
  s.progress.progress(sector(60, 999));
  EXPECT_EQ(s.take(), "");
  s.now = 1 + kPipeLineSeconds;
  s.progress.progress(times(6, std::nullopt));
  EXPECT_EQ(s.take(), "  6%  Current Sector: 60 of 999 ( 6.01%)  Elapsed Time: 00:00:06\n");
  s.progress.finish();
  EXPECT_EQ(s.take(), "");  // nothing new since the last line
  s.progress.progress(percent(100));
  s.progress.finish();
  EXPECT_EQ(s.take(), "100%  Current Sector: 60 of 999 ( 6.01%)  Elapsed Time: 00:00:06\n");
}

TEST(ConsoleProgressTest, JsonLinesCarryTheFiguresAtMostOnceASecond) {
  Screen s(ProgressStyle::Json);
  s.progress.started(RunStarted{kTestKindExtended, 2});
  s.progress.stage(RunStage{"Running Extended Test...", {}});
  s.progress.progress(percent(5));
  s.now = 0.5;
  s.progress.progress(percent(6));
  s.progress.progress(sector(600, 999));
  s.now = 1.5;
  s.progress.progress(times(6, 60));
  s.progress.say("palvoro-cli: stopping the run");

  std::vector<nlohmann::json> events;
  std::istringstream lines(s.take());
  for (std::string line; std::getline(lines, line);) {
    events.push_back(nlohmann::json::parse(line, nullptr, false));
    ASSERT_FALSE(events.back().is_discarded()) << line;
  }
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(events[0], (nlohmann::json{{"event", "title"}, {"text", "PALVORO - EXTENDED TEST"}}));
  EXPECT_EQ(events[1], (nlohmann::json{{"event", "status"}, {"text", "Physical Drive 2:"}}));
  EXPECT_EQ(events[2], (nlohmann::json{{"event", "status"}, {"text", "Running Extended Test..."}}));
  EXPECT_EQ(events[3]["percent"], 5);
  EXPECT_EQ(events[4], (nlohmann::json{{"event", "progress"},
                                         {"percent", 6},
                                         {"current_sector", 600},
                                         {"last_sector", 999},
                                         {"elapsed_seconds", 6},
                                         {"remaining_seconds", 60},
                                         {"sector_text", "600 of 999 (60.06%)"},
                                         {"elapsed", "Elapsed Time: 00:00:06"},
                                         {"estimate", "Estimated Time Remaining: 00:01:00"}}));
  EXPECT_EQ(events[5], (nlohmann::json{{"event", "message"}, {"text", "palvoro-cli: stopping the run"}}));
}

TEST(ConsoleLoopTest, AWorkersCallsRunInOrderOnTheLoopThread) {
  ConsoleLoop loop;
  std::vector<int> seen;
  bool done = false;
  bool askedOnLoop = false;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) loop.post([&seen, i] { seen.push_back(i); });
    // A question waits for the loop's thread and comes back with its answer.
    EXPECT_TRUE(loop.call([&] { askedOnLoop = loop.onLoopThread(); }));
    loop.post([&] { done = true; });
  });
  loop.runUntil([&] { return done; });
  worker.join();
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], i);
  EXPECT_TRUE(askedOnLoop);
}

}  // namespace
}  // namespace palvoro
