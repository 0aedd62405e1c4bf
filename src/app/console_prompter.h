#pragma once
// The message boxes on a terminal. A box with only OK is a message; a box with a choice is
// a question, answered by the command line, or by the user at a terminal, or refused.
// Who may answer is decided by the box's purpose alone, never by its caption or text, and
// nothing is ever answered yes for want of someone to ask:
// - a question whose yes destroys data on a drive is answered yes only by the confirm
//   option of the command (--confirm-erase, --confirm-repair), and only when the option
//   named that very drive and the drive at its number is still the one it named; Enter
//   at the terminal answers it no;
// - every other question is answered yes by --yes;
// - a question left without an answer and without a terminal to ask on gets the box's
//   safe button (No or Cancel), and the run counts as refused.
// A worker's question is carried to the loop's thread and asked there, as a worker's box
// is shown on the GUI thread.

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/console_loop.h"
#include "app/console_progress.h"
#include "device/drive_requests.h"
#include "platform/platform.h"
#include "platform/prompter.h"

namespace palvoro {

// What the command line answers in advance.
struct CliAnswers {
  bool yes = false;
  std::string confirmErase;   // as given: a serial number, or N:MODEL:CAPACITY
  std::string confirmRepair;  // the same
};

// What the command's confirm option answers: the questions that destroy data on one
// drive, as that drive was when the option named it.
struct DriveConfirmation {
  std::string option;  // "--confirm-erase" or "--confirm-repair": the one this command takes
  bool given = false;
  int drive = -1;      // N of "\\.\PhysicalDriveN" it named; -1 none of this machine's drives
  std::optional<DriveInstance> instance;  // that drive when it was named
  std::string shownDrive;                 // "drive 4", as the user numbers it
  // Said instead of an answer when the question is about a drive the option did not name.
  std::string mismatch;
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
  PromptPurpose purpose;      // what the box was for, as the code that showed it said
  std::optional<int> drive;   // a box that destroys data: its drive as the command numbers
                              // drives; none when no listed drive is at its number
  std::string answer;         // "OK", "Cancel", "Yes", "No"
  std::string by;             // "message", "--yes", "--confirm-erase", "--confirm-repair", "terminal", "refused"
};

// The box in the command's JSON, as the question event and the report's "questions" give
// it: caption, text, purpose ("information", "question", "destroys_data"), drive (a
// number for a box that destroys data, else null), answer and answered_by.
nlohmann::ordered_json askedBoxJson(const AskedBox& box);

class ConsolePrompter : public Prompter {
 public:
  ConsolePrompter(const CliAnswers& answers, CliInput input, ConsoleProgress& screen, ConsoleLoop& loop);

  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon, PromptButtons buttons,
                   PromptAnswer defaultAnswer, PromptPurpose purpose) override;

  // The confirm option of the command, resolved on `platform`'s drives, which the
  // prompter asks again, at each question that destroys data, which drive is at the
  // number now.
  void setConfirmation(DriveConfirmation confirmation, Platform& platform);

  // How the command numbers the drive at "\\.\PhysicalDriveN" (its number in `list`),
  // for the report of a box that destroys data; none when no listed drive is there.
  void setDriveNumbering(std::function<std::optional<int>(int physicalDrive)> numberOf);

  // Whether a question got its safe answer because nobody could give another.
  bool refused() const { return m_refused; }
  const std::vector<AskedBox>& asked() const { return m_asked; }

 private:
  PromptAnswer askHere(const std::string& text, const std::string& caption, PromptButtons buttons,
                       PromptAnswer defaultAnswer, PromptPurpose purpose);
  // Whether the confirm option answers a question that destroys data on `drive`; says why
  // not when it was given and does not.
  bool confirmed(int drive);
  // Asks at the terminal; nothing when the input ended or Ctrl-C interrupted.
  std::optional<bool> askTerminal(const std::string& text, const std::string& caption, bool yesNo,
                                  bool defaultPositive);
  void record(const std::string& caption, const std::string& text, PromptPurpose purpose, PromptAnswer answer,
              const std::string& by);

  CliAnswers m_answers;
  CliInput m_input;
  ConsoleProgress& m_screen;
  ConsoleLoop& m_loop;
  DriveConfirmation m_confirmation;
  Platform* m_platform = nullptr;
  std::function<std::optional<int>(int)> m_numberOf;
  bool m_refused = false;
  std::vector<AskedBox> m_asked;
};

// The word of a button: "OK", "Cancel", "Yes", "No".
const char* answerWord(PromptAnswer answer);

}  // namespace palvoro
