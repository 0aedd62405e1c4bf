#include "app/console_progress.h"

#include <algorithm>
#include <cstdio>

#include "app/console_text.h"

namespace palvoro {
namespace {

constexpr const char* kClearLine = "\r\x1b[K";
constexpr const char* kRemainingLabel = "Estimated Time Remaining";

// Controls whose texts are lines of their own rather than figures of the bar.
bool isLineControl(int controlId) {
  return controlId == kCtlStatus || controlId == kCtlDriveLine || controlId == kCtlSecondLine;
}

}  // namespace

std::string valueAfterLabel(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return text;
  const size_t value = text.find_first_not_of(' ', colon + 1);
  return value == std::string::npos ? std::string() : text.substr(value);
}

ConsoleProgress::ConsoleProgress(std::ostream& err, ProgressStyle style, int columns, ConsoleLoop& loop,
                                 int timerMilliseconds, std::function<double()> now)
    : m_err(err),
      m_style(style),
      m_columns(std::max(columns, 20)),
      m_loop(loop),
      m_timerMilliseconds(timerMilliseconds),
      m_now(std::move(now)) {}

std::string ConsoleProgress::text(int controlId) const {
  const auto it = m_texts.find(controlId);
  return it == m_texts.end() ? std::string() : it->second;
}

void ConsoleProgress::setTitle(const std::string& title) {
  if (m_style == ProgressStyle::Json) {
    sayEvent({{"event", "title"}, {"text", title}});
  } else if (m_style != ProgressStyle::Quiet) {
    say(title);
  }
}

void ConsoleProgress::setText(int controlId, const std::string& value) {
  if (controlId == kCtlCancel) return;  // Cancel or Close: the terminal has Ctrl-C
  std::string& kept = m_texts[controlId];
  if (kept == value) return;
  kept = value;
  if (isLineControl(controlId)) {
    if (value.empty()) return;
    if (m_style == ProgressStyle::Json) {
      sayEvent({{"event", "status"}, {"text", value}});
    } else if (m_style != ProgressStyle::Quiet) {
      say(value);
    }
    return;
  }
  m_unreported = true;
  update(false);
}

void ConsoleProgress::setProgress(int percent) {
  if (percent == m_percent) return;
  m_percent = percent;
  m_unreported = true;
  update(false);
}

void ConsoleProgress::showControl(int controlId, bool visible) {
  if (controlId == kCtlRepair) m_repairOffered = visible;
}

void ConsoleProgress::armTimer(int timerId, int) { m_loop.armTimer(timerId, m_timerMilliseconds); }

void ConsoleProgress::disarmTimer(int timerId) { m_loop.disarmTimer(timerId); }

void ConsoleProgress::closeView(int) { m_closed = true; }

void ConsoleProgress::dispatchPendingMessages() {
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

std::string ConsoleProgress::barLine() const {
  std::string rest = percentText();
  const std::string sector = text(kCtlCurrentSector);
  if (!sector.empty()) rest += "  sector " + sector;
  // "Elapsed Time:" alone until the first tick: no time to show yet.
  const std::string elapsed = valueAfterLabel(text(kCtlElapsed));
  if (!elapsed.empty()) rest += "  elapsed " + elapsed;
  const std::string estimate = text(kCtlEstimate);
  if (estimate.rfind(kRemainingLabel, 0) == 0) {
    rest += "  remaining " + valueAfterLabel(estimate);
  } else if (!estimate.empty()) {
    rest += "  " + estimate;
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
  const std::string sector = text(kCtlCurrentSector);
  if (!sector.empty()) line += "  Current Sector: " + sector;
  for (const int id : {kCtlElapsed, kCtlEstimate}) {
    const std::string t = text(id);
    if (!t.empty()) line += "  " + t;
  }
  return printableText(line);
}

ConsoleProgress::Json ConsoleProgress::progressEvent() const {
  const ProgressNumbers numbers = m_numbers ? m_numbers() : ProgressNumbers{};
  return {{"event", "progress"},
          {"percent", m_percent},
          {"current_sector", numbers.currentSector},
          {"last_sector", numbers.lastSector},
          {"elapsed_seconds", numbers.elapsedSeconds},
          {"sector_text", text(kCtlCurrentSector)},
          {"elapsed", text(kCtlElapsed)},
          {"estimate", text(kCtlEstimate)}};
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

void LoopProgressView::dispatchPendingMessages() {
  if (m_loop.onLoopThread()) target().dispatchPendingMessages();
}

}  // namespace palvoro
