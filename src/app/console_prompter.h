#pragma once
// A prompter for programs without windows: it prints each message box and answers OK
// (or Yes), so a console run never blocks.

#include <cstdio>
#include <string>

#include "platform/prompter.h"

namespace palvoro {

class ConsolePrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon, PromptButtons buttons) override {
    std::printf("[%s] %s\n", caption.c_str(), text.c_str());
    return buttons == PromptButtons::YesNo || buttons == PromptButtons::YesNoCancel ? PromptAnswer::Yes
                                                                                    : PromptAnswer::Ok;
  }
};

}  // namespace palvoro
