#pragma once
// The message boxes on a terminal. A box with only OK is a message; a box with a choice is
// a question, answered by the command line, or by the user at a terminal, or refused.
// Nothing is ever answered yes for want of someone to ask:
// - the questions of the erase (caption "ERASE") are answered yes only by
//   --confirm-erase with the drive's own serial number, those of the repair (caption
//   "REPAIR") only by --confirm-repair with it;
// - every other question is answered yes by --yes;
// - a question left without an answer and without a terminal to ask on gets the box's
//   safe button (No or Cancel), and the run counts as refused.
// A worker's question is carried to the loop's thread and asked there, as a worker's box
// is shown on the GUI thread.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/console_loop.h"
#include "app/console_progress.h"
#include "platform/prompter.h"

namespace palvoro {

// What the command line answers in advance.
struct CliAnswers {
  bool yes = false;
  std::string confirmErase;   // a serial number, or empty
  std::string confirmRepair;  // a serial number, or empty
};

// The terminal the questions are asked on.
struct CliInput {
  bool interactive = false;  // standard input is a terminal
  // One line typed by the user; nothing at the end of input or when Ctrl-C interrupts.
  std::function<std::optional<std::string>()> readLine;
};

// One box as it was answered, for the command's report.
struct AskedBox {
  std::string caption;
  std::string text;
  std::string answer;  // "OK", "Cancel", "Yes", "No"
  std::string by;      // "message", "--yes", "--confirm-erase", "--confirm-repair", "terminal", "refused"
};

class ConsolePrompter : public Prompter {
 public:
  // `serial` gives the selected drive's serial number (blanks trimmed) when asked.
  ConsolePrompter(const CliAnswers& answers, CliInput input, ConsoleProgress& screen, ConsoleLoop& loop,
                  std::function<std::string()> serial);

  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon, PromptButtons buttons,
                   PromptAnswer defaultAnswer) override;

  // Whether a question got its safe answer because nobody could give another.
  bool refused() const { return m_refused; }
  const std::vector<AskedBox>& asked() const { return m_asked; }

 private:
  PromptAnswer askHere(const std::string& text, const std::string& caption, PromptButtons buttons,
                       PromptAnswer defaultAnswer);
  // Asks at the terminal; nothing when the input ended or Ctrl-C interrupted.
  std::optional<bool> askTerminal(const std::string& text, const std::string& caption, bool yesNo,
                                  bool defaultPositive);
  void record(const std::string& caption, const std::string& text, PromptAnswer answer, const std::string& by);

  CliAnswers m_answers;
  CliInput m_input;
  ConsoleProgress& m_screen;
  ConsoleLoop& m_loop;
  std::function<std::string()> m_serial;
  bool m_refused = false;
  std::vector<AskedBox> m_asked;
};

// The word of a button: "OK", "Cancel", "Yes", "No".
const char* answerWord(PromptAnswer answer);

}  // namespace palvoro
