#pragma once
// A prompter for programs without windows: it prints each message box and answers with
// the box's default button, as Enter would, so a console run never blocks and never
// agrees to a destructive question nobody answered.

#include <cstdio>
#include <string>

#include "platform/prompter.h"

namespace palvoro {

class ConsolePrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon, PromptButtons,
                   PromptAnswer defaultAnswer) override {
    std::printf("[%s] %s\n", caption.c_str(), text.c_str());
    return defaultAnswer;
  }
};

}  // namespace palvoro
