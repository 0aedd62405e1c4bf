#pragma once
// Fakes shared by the diagnostics tests: run events recorded in order, a clock moved by
// hand, and a prompter with scripted answers. All three may be called from a worker
// thread and the test's thread at once, so each keeps its record behind a lock and hands
// out copies.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/run_clock.h"
#include "diagnostics/run_event_texts.h"
#include "diagnostics/run_events.h"
#include "platform/prompter.h"

namespace palvoro::diagtest {

// One event of the run. Only the field of its kind is meaningful.
struct EventCall {
  enum class Kind { Started, Stage, Progress, ScanStarted, RepairStarted, BadSector, RepairOffered, Activity, Ended, Closed };
  Kind kind = Kind::Stage;
  RunStarted start;
  RunStage stage;
  RunProgress progress;
  BadSector bad;
  bool offered = false;
  RunActivity activity = RunActivity::Running;
  RunEnd end;
};

// The lines of words a run's events put before the user, as every front end words them.
enum class Shown { Status, Estimate, Elapsed, Sector };

class RecordingRunEvents : public RunEvents {
 public:
  using Kind = EventCall::Kind;

  void started(const RunStarted& start) override { add(call(Kind::Started, [&](EventCall& c) { c.start = start; })); }
  void stage(const RunStage& stage) override { add(call(Kind::Stage, [&](EventCall& c) { c.stage = stage; })); }
  void progress(const RunProgress& progress) override {
    add(call(Kind::Progress, [&](EventCall& c) { c.progress = progress; }));
  }
  void scanStarted() override { add(call(Kind::ScanStarted, [](EventCall&) {})); }
  void repairStarted() override { add(call(Kind::RepairStarted, [](EventCall&) {})); }
  void badSectorFound(const BadSector& bad) override { add(call(Kind::BadSector, [&](EventCall& c) { c.bad = bad; })); }
  void repairOffered(bool offered) override {
    add(call(Kind::RepairOffered, [&](EventCall& c) { c.offered = offered; }));
  }
  void activity(RunActivity activity) override {
    add(call(Kind::Activity, [&](EventCall& c) { c.activity = activity; }));
  }
  void ended(const RunEnd& end) override { add(call(Kind::Ended, [&](EventCall& c) { c.end = end; })); }
  void closed() override { add(call(Kind::Closed, [](EventCall&) {})); }
  void keepResponsive() override { ++m_responsive; }

  // Every event so far, oldest first.
  std::vector<EventCall> calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
  }
  // Every event of one kind, oldest first.
  std::vector<EventCall> callsOf(Kind kind) const {
    std::vector<EventCall> out;
    for (const EventCall& c : calls()) {
      if (c.kind == kind) out.push_back(c);
    }
    return out;
  }
  // What one line showed, oldest first, in the words of run_event_texts.h.
  std::vector<std::string> texts(Shown line) const {
    std::vector<std::string> out;
    for (const EventCall& c : calls()) {
      const std::optional<std::string> t = textOf(c, line);
      if (t) out.push_back(*t);
    }
    return out;
  }
  // What one line shows now ("" when nothing was put there).
  std::string lastText(Shown line) const {
    const std::vector<std::string> all = texts(line);
    return all.empty() ? std::string() : all.back();
  }
  std::vector<RunActivity> activities() const {
    std::vector<RunActivity> out;
    for (const EventCall& c : callsOf(Kind::Activity)) out.push_back(c.activity);
    return out;
  }
  // The bar's positions, oldest first.
  std::vector<int> percents() const {
    std::vector<int> out;
    for (const EventCall& c : callsOf(Kind::Progress)) {
      if (c.progress.percent) out.push_back(*c.progress.percent);
    }
    return out;
  }
  size_t closes() const { return callsOf(Kind::Closed).size(); }
  std::vector<RunEnd> ends() const {
    std::vector<RunEnd> out;
    for (const EventCall& c : callsOf(Kind::Ended)) out.push_back(c.end);
    return out;
  }
  std::vector<bool> repairOffers() const {
    std::vector<bool> out;
    for (const EventCall& c : callsOf(Kind::RepairOffered)) out.push_back(c.offered);
    return out;
  }
  std::vector<BadSector> badSectors() const {
    std::vector<BadSector> out;
    for (const EventCall& c : callsOf(Kind::BadSector)) out.push_back(c.bad);
    return out;
  }
  int responsiveCount() const { return m_responsive.load(); }
  void clear() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
  }

  // Runs on the raising thread after each event is recorded, outside the lock: a test can
  // hold the worker at a chosen point (say, a bar position) or react as a front end would.
  // Set it before the worker starts.
  std::function<void(const EventCall&)> onCall;

 private:
  template <typename Fill>
  static EventCall call(Kind kind, Fill fill) {
    EventCall c;
    c.kind = kind;
    fill(c);
    return c;
  }
  static std::optional<std::string> textOf(const EventCall& c, Shown line) {
    const RunProgress& p = c.progress;
    switch (c.kind) {
      case Kind::Stage:
        if (line == Shown::Status) return c.stage.line;
        if (line == Shown::Elapsed && c.stage.detail) return *c.stage.detail;
        return std::nullopt;
      case Kind::Progress:
        if (line == Shown::Sector && p.sector) return sectorLineText(*p.sector);
        if (line == Shown::Elapsed && p.elapsedSeconds) return elapsedText(*p.elapsedSeconds);
        if (line == Shown::Estimate && p.remainingSeconds) return remainingText(*p.remainingSeconds);
        if (line == Shown::Estimate && p.estimatedMinutes) return estimatedMinutesText(*p.estimatedMinutes);
        return std::nullopt;
      case Kind::ScanStarted:
        if (line == Shown::Estimate) return remainingText(0);
        if (line == Shown::Elapsed) return elapsedText(std::nullopt);
        return std::nullopt;
      case Kind::RepairStarted:
        if (line != Shown::Status) return std::string();
        return std::nullopt;
      default:
        return std::nullopt;
    }
  }
  void add(EventCall c) {
    {
      std::lock_guard lock(m_mutex);
      m_calls.push_back(c);
    }
    if (onCall) onCall(c);
  }
  mutable std::mutex m_mutex;
  std::vector<EventCall> m_calls;
  std::atomic<int> m_responsive{0};
};

// Seconds set and moved by the test; the local time is a fixed calendar time the test
// may replace.
class ManualClock : public TestClock {
 public:
  explicit ManualClock(int64_t seconds = 1'000'000) : m_seconds(seconds) {}
  int64_t nowSeconds() override { return m_seconds.load(); }
  std::tm localTime() override {
    std::lock_guard lock(m_mutex);
    return m_local;
  }
  void set(int64_t seconds) { m_seconds.store(seconds); }
  void advance(int64_t seconds) { m_seconds.fetch_add(seconds); }
  void setLocalTime(const std::tm& local) {
    std::lock_guard lock(m_mutex);
    m_local = local;
  }
  // 2024-03-05 14:07:09, a Tuesday, unless the test sets another.
  static std::tm defaultLocalTime() {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 7;
    t.tm_sec = 9;
    t.tm_wday = 2;
    t.tm_yday = 64;
    return t;
  }

 private:
  std::atomic<int64_t> m_seconds;
  std::mutex m_mutex;
  std::tm m_local = defaultLocalTime();
};

// A message box as the code under test asked for it.
struct Prompt {
  std::string text;
  std::string caption;
  PromptIcon icon = PromptIcon::None;
  PromptButtons buttons = PromptButtons::Ok;
  PromptAnswer defaultAnswer = PromptAnswer::Ok;  // the button Enter presses
  PromptPurpose purpose = PromptPurpose::information();

  bool operator==(const Prompt&) const = default;
};

inline void PrintTo(const Prompt& p, std::ostream* os) {
  *os << "{\"" << p.text << "\", \"" << p.caption << "\", icon " << static_cast<int>(p.icon) << ", buttons "
      << static_cast<int>(p.buttons) << ", default " << static_cast<int>(p.defaultAnswer) << ", purpose "
      << static_cast<int>(p.purpose.kind) << " drive " << p.purpose.drive << "}";
}

class RecordingPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon,
                   PromptButtons buttons, PromptAnswer defaultAnswer, PromptPurpose purpose) override {
    std::lock_guard lock(m_mutex);
    m_prompts.push_back({text, caption, icon, buttons, defaultAnswer, purpose});
    if (m_answers.empty()) return fallback;
    const PromptAnswer a = m_answers.front();
    m_answers.erase(m_answers.begin());
    return a;
  }
  // Answers for the next boxes, oldest first; `fallback` once they run out.
  void script(std::vector<PromptAnswer> answers) {
    std::lock_guard lock(m_mutex);
    m_answers = std::move(answers);
  }
  std::vector<Prompt> prompts() const {
    std::lock_guard lock(m_mutex);
    return m_prompts;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const Prompt& p : prompts()) out.push_back(p.text);
    return out;
  }
  void clear() {
    std::lock_guard lock(m_mutex);
    m_prompts.clear();
  }

  PromptAnswer fallback = PromptAnswer::Ok;

 private:
  mutable std::mutex m_mutex;
  std::vector<Prompt> m_prompts;
  std::vector<PromptAnswer> m_answers;
};

}  // namespace palvoro::diagtest
