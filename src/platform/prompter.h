#pragma once
// The seam through which core code asks the user something: a message box with text,
// caption, icon and buttons, and what the box is for. The program shows a real box on the
// GUI thread (blocking a worker until the user answers); tests use a recording fake with
// scripted answers.

#include <string>

namespace palvoro {

enum class PromptIcon { None, Information, Warning, Stop, Question };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptAnswer { Ok, Cancel, Yes, No };

// What a box is for. Whoever answers a box decides by this alone, never by its caption or
// text: those are what the user reads, and a caption changed in one place must not let a
// box that destroys data be answered by a blanket yes.
struct PromptPurpose {
  enum class Kind {
    Information,   // a message: OK is its only answer
    Question,      // a choice whose positive answer destroys nothing
    DestroysData,  // a choice whose positive answer destroys data on `drive`
  };
  Kind kind = Kind::Information;
  int drive = -1;  // DestroysData: N of "\\.\PhysicalDriveN"

  static constexpr PromptPurpose information() { return {Kind::Information, -1}; }
  static constexpr PromptPurpose question() { return {Kind::Question, -1}; }
  static constexpr PromptPurpose destroysDataOn(int drive) { return {Kind::DestroysData, drive}; }
  constexpr bool destroysData() const { return kind == Kind::DestroysData; }
  bool operator==(const PromptPurpose&) const = default;
};

// The answer that leaves everything as it is: Escape's, and the one a box gets when
// nobody could be asked.
constexpr PromptAnswer safeAnswer(PromptButtons buttons) {
  return buttons == PromptButtons::Ok      ? PromptAnswer::Ok
         : buttons == PromptButtons::YesNo ? PromptAnswer::No
                                           : PromptAnswer::Cancel;
}

// The button Enter presses: the caller's default, except that a box that destroys data
// always defaults to its safe answer.
constexpr PromptAnswer enterAnswer(PromptPurpose purpose, PromptButtons buttons, PromptAnswer defaultAnswer) {
  return purpose.destroysData() ? safeAnswer(buttons) : defaultAnswer;
}

// The caption of every box unless the caller names another: the product's title on the
// Windows-shaped machine. Callers take it from Platform::productTitle(), which gives
// kProgramTitle on a system that is not Windows.
inline constexpr const char* kProductCaption = "PALVORO for Windows";
// The program's own name, the title on this computer's drives (Linux).
inline constexpr const char* kProgramTitle = "PALVORO";

class Prompter {
 public:
  virtual ~Prompter() = default;
  // `defaultAnswer` is the button Enter presses; it must be one of `buttons`. A question
  // that could destroy data defaults to the answer that does not.
  virtual PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon,
                           PromptButtons buttons, PromptAnswer defaultAnswer, PromptPurpose purpose) = 0;
};

}  // namespace palvoro
