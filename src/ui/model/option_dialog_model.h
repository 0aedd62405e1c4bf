#pragma once
// The "Select An Option" dialog without its widgets: the texts of its rows and lines, the
// row-click rule, and Start, which hands a run on the dialog's drive to the run service
// (or opens the result page). The dialog supplies the boxes, the erase choice, the
// progress dialog and the viewer through OptionDialogUi; everything it shows is computed
// here or by the service.

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "diagnostics/run_clock.h"
#include "platform/prompter.h"
#include "service/run_service.h"
#include "service/session.h"

namespace palvoro {

// The four option rows; the row index is the TestKind it starts.
inline constexpr int kOptionRowCount = 4;

// A message box the Start sequence shows.
using OptionPrompt = RunPrompt;

// What the dialog does for the Start sequence: the service's front end, and the viewer.
class OptionDialogUi : public RunFrontEnd {
 public:
  // Hides the option dialog (before the run) and shows it again (after it).
  virtual void setDialogVisible(bool visible) = 0;
  // Runs the progress dialog on `environment`, modally, until it closes.
  virtual RunSighting runProgress(const TestRunEnvironment& environment) = 0;
  // Opens the viewer on the result page with `title`.
  virtual void showResultPage(const std::string& title) = 0;

  void runStarts() final { setDialogVisible(false); }
  void runEnded() final { setDialogVisible(true); }
  RunSighting watchRun(const RunRequest&, const TestRunEnvironment& environment) final {
    return runProgress(environment);
  }
};

// Where an erase's certificate went: the file written, or why none was.
struct CertificateFiling {
  std::string path;     // "" when none was written
  std::string refusal;  // why not; "" when written
};
// Writes an erase's certificate into `directory`, the result page's folder. The program
// supplies it; a dialog without one writes nothing.
using CertificateWriter =
    std::function<CertificateFiling(ErasureCertificate& certificate, const std::string& directory)>;

// Writes a bench's certificates, every drive's and the summary, into `directory`.
using BenchCertificateWriter =
    std::function<CertificateFiling(BenchCertificate& certificate, const std::string& directory)>;

// What the user is told after the run: where the certificate went, or why it did not;
// "" when the writer said neither.
std::string certificateNotice(const CertificateFiling& filing);

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

class OptionDialogModel {
 public:
  // The dialog of the drive at row `driveIndex` of the table.
  OptionDialogModel(Session& context, int driveIndex, TestClock& clock);
  int driveIndex() const { return m_driveIndex; }
  // The drive as the table has it now; all zero when the row holds none.
  DriveRecord drive() const;
  // The clock whose local time the result block records.
  void setClock(TestClock& clock) { m_clock = &clock; }

  // Opening: TestError := 0, TestState := 0.
  void open();
  // The row of the current TestKind, selected when the dialog opens.
  int currentRow() const;
  // A click at `hitRow` (-1 for no row): a hit row becomes TestKind. Returns the row to
  // select, always that of TestKind, so the selection never disappears.
  int clickRow(int hitRow);
  // Start with `selectedRow` (-1 when none) on the dialog's drive: the checks,
  // confirmations and the run.
  StartEnd start(int selectedRow, OptionDialogUi& ui);

  // True once a test run was started while the dialog was open.
  bool testRan() const { return m_testRan; }
  const OptionOutcome& outcome(int row) const { return m_outcomes.at(static_cast<size_t>(row)); }
  // What partitionCheck gave for the last erase (0 none, 1 system drive, 2 partitions).
  int partitionCheckResult() const { return m_last.partitionCheck; }
  // What OpenProgramCheck gave at the last Start.
  int otherProgramsOpen() const { return m_last.otherProgramsOpen; }
  // What the last Start came to.
  const RunOutcome& lastOutcome() const { return m_last; }
  // Hands the last run's certificate, its host set to `host`, to `writer` with the result
  // page's folder. Nothing when that run left no certificate or no writer is given.
  std::optional<CertificateFiling> fileCertificate(const std::string& host, const CertificateWriter& writer);

 private:
  Session& m_context;
  int m_driveIndex;
  TestClock* m_clock;
  std::array<OptionOutcome, kOptionRowCount> m_outcomes{};
  RunOutcome m_last;
  bool m_testRan = false;
};

}  // namespace palvoro
