#pragma once
// The seam through which core code asks the user something: a message box with text,
// caption, icon and buttons. The program shows a real box on the GUI thread (blocking a
// worker until the user answers); tests use a recording fake with scripted answers.

#include <string>

namespace palvoro {

enum class PromptIcon { None, Information, Warning, Stop, Question };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptAnswer { Ok, Cancel, Yes, No };

// The caption of every box unless the caller names another.
inline constexpr const char* kProductCaption = "PALVORO for Windows";

class Prompter {
 public:
  virtual ~Prompter() = default;
  // `defaultAnswer` is the button Enter presses; it must be one of `buttons`. A question
  // that could destroy data defaults to the answer that does not.
  virtual PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon,
                           PromptButtons buttons, PromptAnswer defaultAnswer) = 0;
};

}  // namespace palvoro
