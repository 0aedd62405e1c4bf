#pragma once
// A bench on a terminal: every drive's row as one line. On a terminal the lines are
// redrawn in place, each cut to the terminal's width; into a pipe each drive gets a line
// tagged with it when its stage changes and every few seconds; with --json, JSON lines
// tagged with the drive. Messages step in above the lines. It lives on the thread that
// polls the rows; the rows themselves are filled by the runs' threads.

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "app/console_progress.h"
#include "service/bench.h"

namespace palvoro {

// One drive of a bench as the terminal names it, and where its row stands.
struct BenchLine {
  int number = 0;  // as `list` numbers it
  std::string model;
  std::string serial;
  BenchRowState state;
};

// "  3  Kestrel KX1000  KX10007731   42%  Scanning...  153.2 MB/s  00:12:03 left  4 bad  41 °C",
// printable, never longer than `columns` - 1 (a line that wraps would break the redraw).
std::string benchLiveLine(const BenchLine& line, int columns);
// "drive 3 (Kestrel KX1000, KX10007731): 42%  Scanning...  153.2 MB/s  00:12:03 left  4 bad", printable.
std::string benchTaggedLine(const BenchLine& line);
// {"event": "progress", "drive": 3, "serial": ..., "percent": ..., ...}
nlohmann::ordered_json benchProgressEvent(const BenchLine& line);

class BenchScreen {
 public:
  using Json = nlohmann::ordered_json;
  // `now` gives monotonic seconds.
  BenchScreen(std::ostream& err, ProgressStyle style, int columns, std::function<double()> now);

  // The rows as they are now: drawn or reported at the style's pace, or at once when `force`.
  void update(const std::vector<BenchLine>& lines, bool force);
  // A line of its own above the rows (text styles), or a message event (JSON).
  void say(const std::string& line);
  void sayEvent(const Json& event);
  // The last figures, and the rows left standing above what follows.
  void finish(const std::vector<BenchLine>& lines);

 private:
  void draw(const std::vector<BenchLine>& lines);
  void clearRows();
  void reportLines(const std::vector<BenchLine>& lines, bool force);

  struct Reported {
    std::string stage;
    BenchPhase phase = BenchPhase::Waiting;
    double at = -1e9;
    std::string figures;
  };

  std::ostream& m_err;
  ProgressStyle m_style;
  int m_columns;
  std::function<double()> m_now;
  std::vector<BenchLine> m_lastLines;
  size_t m_rowsShown = 0;  // rows on the screen above the cursor
  double m_lastDraw = -1e9;
  std::map<int, Reported> m_reported;  // by drive number
};

}  // namespace palvoro
