#pragma once
// A test run on a terminal. It keeps what the run's events said (the bar's percent, the
// sector, the times, the Repair offer, whether the run is over) and draws it on standard
// error in one of four ways: a bar redrawn in place on a terminal, a line every few
// seconds into a pipe or file, JSON lines for scripts, or nothing. Messages and questions
// go through it too, so that the bar steps aside for them.
//
// It lives on the loop's thread; LoopProgressView carries the run's events to it.

#include <cstdint>
#include <functional>
#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "app/console_loop.h"
#include "diagnostics/queued_run_events.h"

namespace palvoro {

enum class ProgressStyle {
  Bar,    // standard error is a terminal: one line, redrawn in place
  Lines,  // a pipe or a file: a line when the status changes and every few seconds
  Json,   // --json: one JSON object per line
  Quiet,  // --quiet: nothing but the questions
};

// A progress line goes into a pipe at most this often.
inline constexpr double kPipeLineSeconds = 5.0;
// The bar is redrawn at most this often; a JSON progress event is written at most once a second.
inline constexpr double kBarRedrawSeconds = 0.1;
inline constexpr double kJsonEventSeconds = 1.0;

class ConsoleProgress : public RunEvents {
 public:
  using Json = nlohmann::ordered_json;
  // `now` gives monotonic seconds; `loop` is the thread it lives on; `timerMilliseconds`
  // is the period of the timers of the runs it shows (the program's, or a test's shorter).
  ConsoleProgress(std::ostream& err, ProgressStyle style, int columns, ConsoleLoop& loop, int timerMilliseconds,
                  std::function<double()> now);

  void started(const RunStarted& start) override;
  void stage(const RunStage& stage) override;
  void progress(const RunProgress& progress) override;
  void scanStarted() override;
  void repairStarted() override;
  void repairOffered(bool offered) override { m_repairOffered = offered; }
  void activity(RunActivity) override {}
  void ended(const RunEnd&) override {}  // Cancel or Close: the terminal has Ctrl-C
  void closed() override { m_closed = true; }
  void keepResponsive() override;

  // The figures of a read-back after an erase, in place of the run's: its own sector
  // line ("N of M") and the seconds since it began.
  void showReadBack(int percent, const SectorPosition& position, int64_t elapsedSeconds);
  // Drops the figures shown (the next step has its own).
  void clearFigures();
  std::chrono::milliseconds runTickPeriod() const { return std::chrono::milliseconds(m_timerMilliseconds); }

  // A line of its own on standard error (text styles); the bar steps aside for it.
  void say(const std::string& line);
  // One JSON object on a line of standard error (the JSON style only).
  void sayEvent(const Json& event);
  // Ends the run's output: the last figures, and the bar's line closed.
  void finish();

  ProgressStyle style() const { return m_style; }
  bool runClosed() const { return m_closed; }
  bool repairOffered() const { return m_repairOffered; }
  // The bar's line as it is drawn now, without the terminal's control characters.
  std::string barLine() const;

 private:
  // Redraws or reports the figures: always when `force`, otherwise at the style's pace.
  void update(bool force);
  // A figure changed: reported at the style's pace.
  void changed();
  // A line of the run's own (title, drive, stage), once for each new text.
  void statusLine(const std::string& text, const char* event);
  void clearBar();
  std::string elapsedLine() const;
  std::string estimateLine() const;
  std::string figuresLine() const;
  std::string percentText() const;  // "%3d%%", as both text styles start
  Json progressEvent() const;

  std::ostream& m_err;
  ProgressStyle m_style;
  int m_columns;
  ConsoleLoop& m_loop;
  int m_timerMilliseconds;
  std::function<double()> m_now;
  std::string m_lastStatus;
  std::string m_lastDetail;
  int m_percent = 0;
  std::optional<SectorPosition> m_sector;
  std::string m_sectorText;
  bool m_elapsedShown = false;                // "Elapsed Time:" stands, with or without a time
  std::optional<int64_t> m_elapsedSeconds;
  std::optional<int64_t> m_remainingSeconds;  // the estimate is the time remaining
  std::optional<int> m_estimatedMinutes;      // the estimate is the step's own
  bool m_repairOffered = false;
  bool m_closed = false;
  bool m_barShown = false;     // the bar's line is on the screen, the cursor at its end
  bool m_unreported = false;   // figures changed since the last line or event
  double m_lastUpdate = -1e9;
};

// The run's events: raised on the loop's thread they go straight to the console; those of
// the worker and the ticker are queued onto the loop's thread in the order they came.
class LoopProgressView : public QueuedRunEvents {
 public:
  LoopProgressView(ConsoleLoop& loop, RunEvents& target) : QueuedRunEvents(target), m_loop(loop) {}
  void keepResponsive() override;

 protected:
  void post(Call call) override;

 private:
  ConsoleLoop& m_loop;
};

}  // namespace palvoro
