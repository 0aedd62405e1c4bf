#pragma once
// What the window tests share: a prompter that answers every box OK, and a wait that keeps
// the event loop running as it does for a user.

#include <QApplication>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/prompter.h"

namespace palvoro::test {

class OkPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string&, const std::string&, PromptIcon, PromptButtons, PromptAnswer,
                   PromptPurpose) override {
    return PromptAnswer::Ok;
  }
};

// Runs events until `condition` holds; false when it did not within `limit`.
inline bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  QApplication::processEvents();
  return true;
}

}  // namespace palvoro::test
