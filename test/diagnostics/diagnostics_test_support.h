#pragma once
// Fakes shared by the diagnostics tests: a progress view that records every call in
// order, a clock moved by hand, and a prompter with scripted answers. All three may be
// called from a worker thread and the test's thread at once, so each keeps its record
// behind a lock and hands out copies.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/progress_view.h"
#include "diagnostics/run_clock.h"
#include "platform/prompter.h"

namespace palvoro::diagtest {

// One call on the progress view. Only the fields of its kind are meaningful: `control`
// for Text/Show/Icon, `text` for Title/Text, `value` for Progress (percent), Show (1 shown,
// 0 hidden), Icon (icon id), StartTimer (milliseconds) and Close (result), `timer` for
// StartTimer/KillTimer.
struct ViewCall {
  enum class Kind { Title, Text, Progress, Show, Icon, StartTimer, KillTimer, Close, Dispatch };
  Kind kind = Kind::Text;
  int control = 0;
  std::string text;
  int value = 0;
  int timer = 0;

  bool operator==(const ViewCall&) const = default;
};

// How a failed expectation shows a call.
inline void PrintTo(const ViewCall& c, std::ostream* os) {
  static constexpr const char* kKinds[] = {"title", "text", "progress", "show", "icon",
                                           "armTimer", "disarmTimer", "closeView", "dispatch"};
  *os << kKinds[static_cast<int>(c.kind)] << "{control " << c.control << ", \"" << c.text << "\", value "
      << c.value << ", timer " << c.timer << "}";
}

class RecordingProgressView : public ProgressView {
 public:
  using Kind = ViewCall::Kind;

  void setTitle(const std::string& title) override { add({Kind::Title, 0, title, 0, 0}); }
  void setText(int controlId, const std::string& text) override { add({Kind::Text, controlId, text, 0, 0}); }
  void setProgress(int percent) override { add({Kind::Progress, kCtlProgress, {}, percent, 0}); }
  void showControl(int controlId, bool visible) override {
    add({Kind::Show, controlId, {}, visible ? 1 : 0, 0});
  }
  void setIcon(int controlId, int iconId) override { add({Kind::Icon, controlId, {}, iconId, 0}); }
  void armTimer(int timerId, int milliseconds) override {
    add({Kind::StartTimer, 0, {}, milliseconds, timerId});
  }
  void disarmTimer(int timerId) override { add({Kind::KillTimer, 0, {}, 0, timerId}); }
  void closeView(int result) override { add({Kind::Close, 0, {}, result, 0}); }
  void dispatchPendingMessages() override {
    if (recordDispatch) add({Kind::Dispatch, 0, {}, 0, 0});
    ++m_dispatches;
  }

  // Every call so far, oldest first.
  std::vector<ViewCall> calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
  }
  // Every call of one kind, oldest first.
  std::vector<ViewCall> callsOf(Kind kind) const {
    std::vector<ViewCall> out;
    for (const ViewCall& c : calls()) {
      if (c.kind == kind) out.push_back(c);
    }
    return out;
  }
  // The texts one control received, oldest first.
  std::vector<std::string> texts(int controlId) const {
    std::vector<std::string> out;
    for (const ViewCall& c : calls()) {
      if (c.kind == Kind::Text && c.control == controlId) out.push_back(c.text);
    }
    return out;
  }
  // The text a control shows now ("" when it never received one).
  std::string lastText(int controlId) const {
    const std::vector<std::string> all = texts(controlId);
    return all.empty() ? std::string() : all.back();
  }
  // The icons one control received, oldest first.
  std::vector<int> icons(int controlId) const {
    std::vector<int> out;
    for (const ViewCall& c : calls()) {
      if (c.kind == Kind::Icon && c.control == controlId) out.push_back(c.value);
    }
    return out;
  }
  // The progress positions, oldest first.
  std::vector<int> progress() const {
    std::vector<int> out;
    for (const ViewCall& c : calls()) {
      if (c.kind == Kind::Progress) out.push_back(c.value);
    }
    return out;
  }
  // The timers started (`start` true) or killed, oldest first.
  std::vector<int> timers(bool start) const {
    std::vector<int> out;
    for (const ViewCall& c : calls()) {
      if (c.kind == (start ? Kind::StartTimer : Kind::KillTimer)) out.push_back(c.timer);
    }
    return out;
  }
  // The results the dialog was closed with, oldest first.
  std::vector<int> closes() const {
    std::vector<int> out;
    for (const ViewCall& c : calls()) {
      if (c.kind == Kind::Close) out.push_back(c.value);
    }
    return out;
  }
  // The visibility one control was given, oldest first (true shown).
  std::vector<bool> visibility(int controlId) const {
    std::vector<bool> out;
    for (const ViewCall& c : calls()) {
      if (c.kind == Kind::Show && c.control == controlId) out.push_back(c.value != 0);
    }
    return out;
  }
  int dispatchCount() const { return m_dispatches.load(); }
  void clear() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
  }

  // dispatchPendingMessages() comes once per sector; it is only counted unless a test
  // wants to see where it falls among the other calls.
  bool recordDispatch = false;
  // Runs on the calling thread after each call is recorded, outside the lock: a test can
  // hold the worker at a chosen point (say, a progress position) or react as a dialog
  // would. Set it before the worker starts.
  std::function<void(const ViewCall&)> onCall;

 private:
  void add(ViewCall call) {
    {
      std::lock_guard lock(m_mutex);
      m_calls.push_back(call);
    }
    if (onCall) onCall(call);
  }
  mutable std::mutex m_mutex;
  std::vector<ViewCall> m_calls;
  std::atomic<int> m_dispatches{0};
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
