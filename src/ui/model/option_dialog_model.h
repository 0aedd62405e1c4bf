#pragma once
// The "Select An Option" dialog without its widgets: the texts of its rows and lines, the
// row-click rule, and Start as a sequence of decisions (refusals, confirmations, the
// erase choice, the drive preparation) ending in a test run or the result page. The
// dialog supplies the boxes, the erase choice, the progress dialog and the viewer through
// OptionDialogUi; everything it shows is computed here.

#include <array>
#include <string>

#include "ui/model/session.h"
#include "diagnostics/erase_verify.h"
#include "diagnostics/run_clock.h"
#include "platform/prompter.h"

namespace palvoro {

// The four option rows; the row index is the TestKind it starts.
inline constexpr int kOptionRowCount = 4;

// A message box the Start sequence shows.
struct OptionPrompt {
  std::string text;
  std::string caption;
  PromptIcon icon = PromptIcon::Warning;
  PromptButtons buttons = PromptButtons::Ok;
  PromptAnswer defaultAnswer = PromptAnswer::Ok;  // the button Enter presses
  PromptPurpose purpose;                          // what decides who may answer it
};

// What the dialog does for the Start sequence.
class OptionDialogUi {
 public:
  virtual ~OptionDialogUi() = default;
  // Shows a box modally and returns the answer (Escape gives Cancel, or No for Yes/No).
  virtual PromptAnswer ask(const OptionPrompt& prompt) = 0;
  // The erase choice: CEraseDLg (quick or full) when `quickOnly` is false, CQuickEraseDLg
  // otherwise. True on OK; the dialog has set EraseMode.
  virtual bool chooseErase(bool quickOnly) = 0;
  // Hides the option dialog (before the run) and shows it again (after it).
  virtual void setDialogVisible(bool visible) = 0;
  // Runs the progress dialog in test mode, modally, until it closes.
  virtual void runProgress() = 0;
  // Opens the viewer on the result page with `title`.
  virtual void showResultPage(const std::string& title) = 0;
  // What the read-back after the erase that runProgress ran found, for the result page;
  // null when none ran (the windows never read an erase back).
  virtual const EraseVerification* eraseVerification() const { return nullptr; }
};

// Where a Start ended.
enum class StartEnd {
  AdministratorRefused,   // extended test or erase without administrator rights
  ProgramsOpenCancelled,  // Cancel on the close-other-programs question
  SystemDriveRefused,     // erase of the drive holding the Windows directory
  PartitionsDeclined,     // No on "partitions may exist"
  EraseDeclined,          // No on the data-loss confirmation
  EraseChoiceCancelled,   // Cancel in the erase choice dialog
  SctRefused,             // the maker's SCT switch failed: erase not possible here
  TestRun,                // the progress dialog ran
  ResultPageShown,        // VIEW TEST RESULT
};

// Column 1 of an option row: the last outcome of that option.
struct OptionOutcome {
  std::string text = " ";  // one blank until a run ends
  int image = -1;          // 4 + TestState once a run ended; -1 none
};

// " QUICK TEST", " EXTENDED TEST", " ERASE", " VIEW TEST RESULT": the word with one
// leading blank; "" for another row.
std::string optionRowText(int row);
// String 104 + row; "" for another row.
std::string optionDescription(int row);
// "Physical Drive %d" with the table index + 1.
std::string physicalDriveTitle(int selectedDrive);
// "Model Number:\t%s" and "Serial Number:\t%s".
std::string modelNumberLine(const DriveRecord& record);
std::string serialNumberLine(const DriveRecord& record);
// The result word (string 113 + state) and image 4 + state of a finished run.
OptionOutcome outcomeOf(int testState);
// The drive's letters for string 226: " (", then " X:" for each letter, then " )"; "" when
// the drive has no letter. Where the system names volumes by mount point, each is " /home".
std::string driveLettersText(Platform& platform, const DriveRecord& record);
// String 226 with the drive's letters.
std::string closeProgramsQuestion(Platform& platform, const DriveRecord& record);

class OptionDialogModel {
 public:
  OptionDialogModel(Session& context, TestClock& clock);
  // The clock whose local time the result block records.
  void setClock(TestClock& clock) { m_clock = &clock; }

  // Opening: TestError := 0, TestState := 0.
  void open();
  // The row of the current TestKind, selected when the dialog opens.
  int currentRow() const;
  // A click at `hitRow` (-1 for no row): a hit row becomes TestKind. Returns the row to
  // select, always that of TestKind, so the selection never disappears.
  int clickRow(int hitRow);
  // Start with `selectedRow` (-1 when none): the checks, confirmations and the run.
  StartEnd start(int selectedRow, OptionDialogUi& ui);

  // True once a test run was started while the dialog was open.
  bool testRan() const { return m_testRan; }
  const OptionOutcome& outcome(int row) const { return m_outcomes.at(static_cast<size_t>(row)); }
  // What partitionCheck gave for the last erase (0 none, 1 system drive, 2 partitions).
  int partitionCheckResult() const { return m_partitionCheck; }
  // What OpenProgramCheck gave at the last Start.
  int otherProgramsOpen() const { return m_otherProgramsOpen; }

 private:
  // The erase checks and choices; true when the erase may go ahead.
  bool eraseChecks(OptionDialogUi& ui, StartEnd& end);
  void testRun(OptionDialogUi& ui);

  Session& m_context;
  TestClock* m_clock;
  std::array<OptionOutcome, kOptionRowCount> m_outcomes{};
  int m_partitionCheck = 0;
  int m_otherProgramsOpen = 0;
  bool m_testRan = false;
};

}  // namespace palvoro
