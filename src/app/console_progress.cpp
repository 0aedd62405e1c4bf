#include "app/console_progress.h"

#include <algorithm>
#include <cstdio>

#include "app/console_text.h"
#include "diagnostics/run_event_texts.h"

namespace palvoro {
namespace {

constexpr const char* kClearLine = "\r\x1b[K";

}  // namespace

ConsoleProgress::ConsoleProgress(std::ostream& err, ProgressStyle style, int columns, ConsoleLoop& loop,
                                 int timerMilliseconds, std::function<double()> now)
    : m_err(err),
      m_style(style),
      m_columns(std::max(columns, 20)),
      m_loop(loop),
      m_timerMilliseconds(timerMilliseconds),
      m_now(std::move(now)) {}

void ConsoleProgress::statusLine(const std::string& text, const char* event) {
  if (text.empty()) return;
  if (m_style == ProgressStyle::Json) {
    sayEvent({{"event", event}, {"text", text}});
  } else if (m_style != ProgressStyle::Quiet) {
    say(text);
  }
}

void ConsoleProgress::started(const RunStarted& start) {
  clearFigures();
  m_percent = 0;
  m_lastStatus.clear();
  m_lastDetail.clear();
  m_repairOffered = false;
  m_closed = false;
  statusLine(runTitleText(start.kind), "title");
  statusLine(driveLineText(start.driveNumber), "status");
}

void ConsoleProgress::stage(const RunStage& stage) {
  if (stage.line != m_lastStatus) {
    m_lastStatus = stage.line;
    statusLine(stage.line, "status");
  }
  // Why a cable test or a repair failed: a line of its own, where the window puts it in
  // place of the times.
  if (stage.detail && *stage.detail != m_lastDetail) {
    m_lastDetail = *stage.detail;
    statusLine(*stage.detail, "status");
  }
}

void ConsoleProgress::progress(const RunProgress& p) {
  bool moved = false;
  if (p.percent && *p.percent != m_percent) {
    m_percent = *p.percent;
    moved = true;
  }
  if (p.sector) {
    m_sector = *p.sector;
    m_sectorText = sectorLineText(*p.sector);
    moved = true;
  }
  if (p.elapsedSeconds) {
    m_elapsedShown = true;
    m_elapsedSeconds = *p.elapsedSeconds;
    moved = true;
  }
  if (p.remainingSeconds) {
    m_remainingSeconds = *p.remainingSeconds;
    m_estimatedMinutes.reset();
    moved = true;
  }
  if (p.estimatedMinutes) {
    m_estimatedMinutes = *p.estimatedMinutes;
    m_remainingSeconds.reset();
    moved = true;
  }
  if (moved) changed();
}

void ConsoleProgress::scanStarted() {
  m_remainingSeconds = 0;
  m_estimatedMinutes.reset();
  m_elapsedShown = true;
  m_elapsedSeconds.reset();
  changed();
}

void ConsoleProgress::repairStarted() {
  clearFigures();
  changed();
}

void ConsoleProgress::clearFigures() {
  m_sector.reset();
  m_sectorText.clear();
  m_elapsedShown = false;
  m_elapsedSeconds.reset();
  m_remainingSeconds.reset();
  m_estimatedMinutes.reset();
}

void ConsoleProgress::showReadBack(int percent, const SectorPosition& position, int64_t elapsedSeconds) {
  m_percent = percent;
  m_sector = position;
  m_sectorText = std::to_string(position.current) + " of " + std::to_string(position.last);
  m_elapsedShown = true;
  m_elapsedSeconds = elapsedSeconds;
  changed();
}

void ConsoleProgress::changed() {
  m_unreported = true;
  update(false);
}

void ConsoleProgress::keepResponsive() {
  if (m_loop.onLoopThread()) m_loop.dispatchPending();
}

void ConsoleProgress::say(const std::string& line) {
  if (m_style == ProgressStyle::Json) {
    sayEvent({{"event", "message"}, {"text", line}});
    return;
  }
  const bool barWasShown = m_barShown;
  clearBar();
  m_err << printableText(line) << "\n";
  if (barWasShown) update(true);
  m_err.flush();
}

void ConsoleProgress::sayEvent(const Json& event) {
  m_err << jsonText(event) << "\n";
  m_err.flush();
}

void ConsoleProgress::clearBar() {
  if (!m_barShown) return;
  m_err << kClearLine;
  m_barShown = false;
}

std::string ConsoleProgress::percentText() const {
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", std::clamp(m_percent, 0, 100));
  return percent;
}

std::string ConsoleProgress::elapsedLine() const {
  if (!m_elapsedShown) return {};
  return elapsedText(m_elapsedSeconds);
}

std::string ConsoleProgress::estimateLine() const {
  if (m_remainingSeconds) return remainingText(*m_remainingSeconds);
  if (m_estimatedMinutes) return estimatedMinutesText(*m_estimatedMinutes);
  return {};
}

std::string ConsoleProgress::barLine() const {
  std::string rest = percentText();
  if (!m_sectorText.empty()) rest += "  sector " + m_sectorText;
  // Nothing until the first tick: no time to show yet.
  if (m_elapsedSeconds) rest += "  elapsed " + elapsedClock(*m_elapsedSeconds);
  if (m_remainingSeconds) {
    rest += "  remaining " + remainingClock(*m_remainingSeconds);
  } else if (m_estimatedMinutes) {
    rest += "  " + estimatedMinutesText(*m_estimatedMinutes);
  }
  rest = printableText(rest);
  // The line must never wrap, or the next redraw starts on a line of its own.
  const int room = m_columns - 1;
  const int width = std::clamp(room - static_cast<int>(rest.size()) - 3, 10, 40);
  const int filled = width * std::clamp(m_percent, 0, 100) / 100;
  std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(width - filled), '-') + "] " + rest;
  if (static_cast<int>(line.size()) > room) line.resize(static_cast<size_t>(room));
  return line;
}

std::string ConsoleProgress::figuresLine() const {
  std::string line = percentText();
  if (!m_sectorText.empty()) line += "  Current Sector: " + m_sectorText;
  for (const std::string& t : {elapsedLine(), estimateLine()}) {
    if (!t.empty()) line += "  " + t;
  }
  return printableText(line);
}

ConsoleProgress::Json ConsoleProgress::progressEvent() const {
  return {{"event", "progress"},
          {"percent", m_percent},
          {"current_sector", m_sector ? m_sector->current : 0},
          {"last_sector", m_sector ? m_sector->last : 0},
          {"elapsed_seconds", m_elapsedSeconds.value_or(0)},
          {"remaining_seconds", m_remainingSeconds ? Json(*m_remainingSeconds) : Json(nullptr)},
          {"sector_text", m_sectorText},
          {"elapsed", elapsedLine()},
          {"estimate", estimateLine()}};
}

void ConsoleProgress::update(bool force) {
  const double now = m_now();
  const double since = now - m_lastUpdate;
  switch (m_style) {
    case ProgressStyle::Bar:
      if (!force && since < kBarRedrawSeconds) return;
      m_err << "\r" << barLine() << "\x1b[K";
      m_err.flush();
      m_barShown = true;
      break;
    case ProgressStyle::Lines:
      if (!m_unreported || (!force && since < kPipeLineSeconds)) return;
      m_err << figuresLine() << "\n";
      m_err.flush();
      break;
    case ProgressStyle::Json:
      if (!m_unreported || (!force && since < kJsonEventSeconds)) return;
      sayEvent(progressEvent());
      break;
    case ProgressStyle::Quiet:
      return;
  }
  m_unreported = false;
  m_lastUpdate = now;
}

void ConsoleProgress::finish() {
  if (m_style == ProgressStyle::Bar && !m_barShown && !m_unreported) return;
  update(true);
  if (m_barShown) {
    m_err << "\n";
    m_err.flush();
    m_barShown = false;
  }
}

void LoopProgressView::post(Call call) {
  m_loop.post([this, call = std::move(call)] { call(target()); });
}

void LoopProgressView::keepResponsive() {
  if (m_loop.onLoopThread()) target().keepResponsive();
}

}  // namespace palvoro
