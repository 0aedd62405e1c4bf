#pragma once
// What every benchmark drives a test with: a progress view that shows nothing and a
// prompter that always gives the same answer.

#include <string>

#include "diagnostics/progress_view.h"
#include "platform/prompter.h"

namespace palvoro::bench {

class NullView : public ProgressView {
 public:
  void setTitle(const std::string&) override {}
  void setText(int, const std::string&) override {}
  void setProgress(int) override {}
  void showControl(int, bool) override {}
  void setIcon(int, int) override {}
  void startTimer(int, int) override {}
  void killTimer(int) override {}
  void close(int) override {}
};

class FixedPrompter : public Prompter {
 public:
  explicit FixedPrompter(PromptAnswer answer) : m_answer(answer) {}
  PromptAnswer ask(const std::string&, const std::string&, PromptIcon, PromptButtons) override { return m_answer; }

 private:
  PromptAnswer m_answer;
};

}  // namespace palvoro::bench
