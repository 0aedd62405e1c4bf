#include "app/console_bench.h"

#include <algorithm>
#include <cstdio>

#include "app/console_text.h"
#include "diagnostics/run_event_texts.h"

namespace palvoro {
namespace {

// Each style's pace for one drive: as a single run's.
constexpr double kRedrawSeconds = kBarRedrawSeconds * 2;  // many lines: a calmer redraw

std::string padded(const std::string& text, size_t width) {
  std::string out = text.substr(0, width);
  out.append(width - out.size(), ' ');
  return out;
}

std::string rateText(double bytesPerSecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
  return text;
}

// What the row says after its names: the outcome once ended, else the figures.
std::string figuresText(const BenchRowState& s) {
  if (s.phase == BenchPhase::Ended) {
    std::string text = s.outcome;
    if (s.badSectors != 0) text += "  " + std::to_string(s.badSectors) + " bad";
    return text;
  }
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", std::clamp(s.percent.value_or(0), 0, 100));
  std::string text = percent;
  text += "  " + (s.stage.empty() ? std::string(s.phase == BenchPhase::Waiting ? "Waiting..." : "") : s.stage);
  if (s.bytesPerSecond) text += "  " + rateText(*s.bytesPerSecond);
  if (s.remainingSeconds && *s.remainingSeconds > 0) text += "  " + remainingClock(*s.remainingSeconds) + " left";
  if (s.badSectors != 0) text += "  " + std::to_string(s.badSectors) + " bad";
  if (s.temperatureCelsius) text += "  " + std::to_string(*s.temperatureCelsius) + " \xC2\xB0" "C";
  return text;
}

const char* phaseWord(BenchPhase phase) {
  switch (phase) {
    case BenchPhase::Waiting: return "waiting";
    case BenchPhase::Running: return "running";
    case BenchPhase::Ended: return "ended";
  }
  return "";
}

// Cuts `text` to at most `room` bytes without splitting a UTF-8 character.
std::string cut(std::string text, size_t room) {
  if (text.size() <= room) return text;
  size_t end = room;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

}  // namespace

std::string benchLiveLine(const BenchLine& line, int columns) {
  char number[8];
  std::snprintf(number, sizeof number, "%3d  ", line.number);
  std::string text(number);
  text.append(padded(line.model, 20)).append("  ");
  text.append(padded(line.serial, 16)).append("  ");
  text.append(figuresText(line.state));
  return cut(printableText(text), static_cast<size_t>(std::max(columns - 1, 1)));
}

std::string benchTaggedLine(const BenchLine& line) {
  std::string figures = figuresText(line.state);
  figures.erase(0, figures.find_first_not_of(' '));
  return printableText("drive " + std::to_string(line.number) + " (" + line.model + ", " + line.serial +
                       "): " + figures);
}

nlohmann::ordered_json benchProgressEvent(const BenchLine& line) {
  using Json = nlohmann::ordered_json;
  const BenchRowState& s = line.state;
  return {{"event", "progress"},
          {"drive", line.number},
          {"serial", line.serial},
          {"phase", phaseWord(s.phase)},
          {"stage", s.stage},
          {"percent", s.percent.value_or(0)},
          {"bytes_per_second", s.bytesPerSecond ? Json(static_cast<uint64_t>(*s.bytesPerSecond)) : Json(nullptr)},
          {"elapsed_seconds", s.elapsedSeconds ? Json(*s.elapsedSeconds) : Json(nullptr)},
          {"remaining_seconds", s.remainingSeconds ? Json(*s.remainingSeconds) : Json(nullptr)},
          {"bad_sectors", s.badSectors},
          {"temperature_celsius", s.temperatureCelsius ? Json(*s.temperatureCelsius) : Json(nullptr)}};
}

BenchScreen::BenchScreen(std::ostream& err, ProgressStyle style, int columns, std::function<double()> now)
    : m_err(err), m_style(style), m_columns(std::max(columns, 20)), m_now(std::move(now)) {}

void BenchScreen::update(const std::vector<BenchLine>& lines, bool force) {
  switch (m_style) {
    case ProgressStyle::Bar: {
      const double now = m_now();
      if (!force && now - m_lastDraw < kRedrawSeconds) return;
      m_lastDraw = now;
      draw(lines);
      break;
    }
    case ProgressStyle::Lines:
    case ProgressStyle::Json:
      reportLines(lines, force);
      break;
    case ProgressStyle::Quiet:
      break;
  }
}

void BenchScreen::draw(const std::vector<BenchLine>& lines) {
  m_lastLines = lines;
  std::string out;
  // Back to the first row, each row rewritten whole: a shorter line must not leave the
  // end of the longer one behind.
  if (m_rowsShown > 0) out += "\x1b[" + std::to_string(m_rowsShown) + "A";
  for (const BenchLine& line : lines) out += "\r\x1b[2K" + benchLiveLine(line, m_columns) + "\n";
  // Rows that went away (none do today) would otherwise stay below.
  out += "\x1b[J";
  m_err << out;
  m_err.flush();
  m_rowsShown = lines.size();
}

void BenchScreen::clearRows() {
  if (m_rowsShown == 0) return;
  m_err << "\x1b[" << m_rowsShown << "A\r\x1b[J";
  m_rowsShown = 0;
}

void BenchScreen::reportLines(const std::vector<BenchLine>& lines, bool force) {
  const double now = m_now();
  const double pace = m_style == ProgressStyle::Json ? kJsonEventSeconds : kPipeLineSeconds;
  for (const BenchLine& line : lines) {
    Reported& last = m_reported[line.number];
    const BenchRowState& s = line.state;
    const bool news = s.stage != last.stage || s.phase != last.phase;
    const std::string figures = figuresText(s);
    if (!news && (figures == last.figures || (!force && now - last.at < pace))) continue;
    if (m_style == ProgressStyle::Json) {
      Json event = benchProgressEvent(line);
      if (s.phase == BenchPhase::Ended) {
        event["event"] = "ended";
        event["outcome"] = s.outcome;
      }
      sayEvent(event);
    } else {
      m_err << benchTaggedLine(line) << "\n";
    }
    last = {s.stage, s.phase, now, figures};
  }
  m_err.flush();
}

void BenchScreen::say(const std::string& line) {
  if (m_style == ProgressStyle::Json) {
    sayEvent({{"event", "message"}, {"text", line}});
    return;
  }
  const bool rowsWereShown = m_rowsShown > 0;
  clearRows();
  m_err << printableText(line) << "\n";
  if (rowsWereShown) draw(m_lastLines);
  m_err.flush();
}

void BenchScreen::sayEvent(const Json& event) {
  m_err << jsonText(event) << "\n";
  m_err.flush();
}

void BenchScreen::finish(const std::vector<BenchLine>& lines) {
  update(lines, true);
  // The rows stay on the screen as they last were; what follows goes below them.
  m_rowsShown = 0;
  m_err.flush();
}

}  // namespace palvoro
