#pragma once
// The progress dialog on a terminal. It keeps what the run shows (texts by control, the
// bar's percent, the Repair button, whether the run closed it) and draws it on standard
// error in one of four ways: a bar redrawn in place on a terminal, a line every few
// seconds into a pipe or file, JSON lines for scripts, or nothing. Messages and questions
// go through it too, so that the bar steps aside for them.
//
// It lives on the loop's thread; LoopProgressView carries a worker's calls to it.

#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "app/console_loop.h"
#include "diagnostics/queued_progress_view.h"

namespace palvoro {

enum class ProgressStyle {
  Bar,    // standard error is a terminal: one line, redrawn in place
  Lines,  // a pipe or a file: a line when the status changes and every few seconds
  Json,   // --json: one JSON object per line
  Quiet,  // --quiet: nothing but the questions
};

// The numbers a progress event carries beside the window's texts.
struct ProgressNumbers {
  uint64_t currentSector = 0;
  uint64_t lastSector = 0;
  int64_t elapsedSeconds = 0;
};

// A progress line goes into a pipe at most this often.
inline constexpr double kPipeLineSeconds = 5.0;
// The bar is redrawn at most this often; a JSON progress event is written at most once a second.
inline constexpr double kBarRedrawSeconds = 0.1;
inline constexpr double kJsonEventSeconds = 1.0;

class ConsoleProgress : public ProgressView {
 public:
  using Json = nlohmann::ordered_json;
  // `now` gives monotonic seconds; `loop` runs the timers the run arms, each lasting
  // `timerMilliseconds` (the run's own period, as the dialog uses its own).
  ConsoleProgress(std::ostream& err, ProgressStyle style, int columns, ConsoleLoop& loop, int timerMilliseconds,
                  std::function<double()> now);

  void setNumbers(std::function<ProgressNumbers()> numbers) { m_numbers = std::move(numbers); }

  void setTitle(const std::string& title) override;
  void setText(int controlId, const std::string& text) override;
  void setProgress(int percent) override;
  void showControl(int controlId, bool visible) override;
  void setIcon(int, int) override {}
  void armTimer(int timerId, int milliseconds) override;
  void disarmTimer(int timerId) override;
  void closeView(int result) override;
  void dispatchPendingMessages() override;

  // A line of its own on standard error (text styles); the bar steps aside for it.
  void say(const std::string& line);
  // One JSON object on a line of standard error (the JSON style only).
  void sayEvent(const Json& event);
  // Ends the run's output: the last figures, and the bar's line closed.
  void finish();

  ProgressStyle style() const { return m_style; }
  bool closed() const { return m_closed; }
  bool repairOffered() const { return m_repairOffered; }
  // The bar's line as it is drawn now, without the terminal's control characters.
  std::string barLine() const;

 private:
  // Redraws or reports the figures: always when `force`, otherwise at the style's pace.
  void update(bool force);
  void clearBar();
  std::string text(int controlId) const;
  std::string figuresLine() const;
  std::string percentText() const;  // "%3d%%", as both text styles start
  Json progressEvent() const;

  std::ostream& m_err;
  ProgressStyle m_style;
  int m_columns;
  ConsoleLoop& m_loop;
  int m_timerMilliseconds;
  std::function<double()> m_now;
  std::function<ProgressNumbers()> m_numbers;
  std::map<int, std::string> m_texts;
  int m_percent = 0;
  bool m_repairOffered = false;
  bool m_closed = false;
  bool m_barShown = false;     // the bar's line is on the screen, the cursor at its end
  bool m_unreported = false;   // figures changed since the last line or event
  double m_lastUpdate = -1e9;
};

// The run's view: a call from the loop's thread goes straight to the console view; a
// worker's call is queued onto the loop's thread in the order it was made.
class LoopProgressView : public QueuedProgressView {
 public:
  LoopProgressView(ConsoleLoop& loop, ProgressView& target) : QueuedProgressView(target), m_loop(loop) {}
  void dispatchPendingMessages() override;

 protected:
  void post(Call call) override;

 private:
  ConsoleLoop& m_loop;
};

// "Elapsed Time: 00:01:02" gives "00:01:02"; a text without a label stays whole.
std::string valueAfterLabel(const std::string& text);

}  // namespace palvoro
