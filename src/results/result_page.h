#pragma once
// The result page: one HTML table per finished test run, kept in the context's result
// lines, and written out as "Tovrin.htm" next to the program when the user asks to see
// the results.

#include <ctime>
#include <string>
#include <vector>

#include "diagnostics/run_values.h"
#include "discovery/drive_record.h"
#include "platform/platform.h"
#include "results/result_lines.h"

namespace palvoro {

// File name of the result page inside programDir.
inline constexpr const char* kResultPageName = "Tovrin.htm";

// Where the logo on the result page links to.
inline constexpr const char* kMakerWebAddress = "https://www.example.com/varnholt/";

// Appends to `lines` the block of the run that just ended: TestKind, TestState, TestError
// and LastErrorMessage of `run`, the tested drive's identity, and `time` (local time).
// Returns false when the block did not fit and nothing was stored.
bool appendResultBlock(ResultLines& lines, const TestRunValues& run, const DriveRecord& drive, const std::tm& time);

// Writes every stored block as the result page in `programDir`. Before any block was
// appended the file is left alone. Returns true when the whole page was written.
bool writeResultPage(Platform& platform, const std::string& programDir, const ResultLines& lines);

// One run as the result page shows it, read back from its rows.
struct ResultEntry {
  std::string testOption;   // "QUICK TEST", "EXTENDED TEST", "ERASE"
  std::string model;
  std::string serial;
  std::string firmware;
  std::string capacity;     // "500.11 GB"
  std::string smartStatus;  // "PASS", "FAIL", "Not Available"
  std::string testResult;   // "PASS", "FAIL", "ABORT", "COMPLETE"
  int errorCode = -1;       // the Test Error Code row of a failed run; -1 without one
  std::string errorMessage;
  std::string testTime;
};

// The runs a result page holds, oldest first, from the page's text or from the lines kept
// for it. Only what this program writes is understood: a row of another label is skipped,
// and each "Test Option" row starts the next run.
std::vector<ResultEntry> readResultEntries(const std::string& page);

// `text` with &, <, > and " replaced by their entities, so that what a drive reports
// (and the error message) is shown as text, never read as markup.
std::string escapeHtml(const std::string& text);

}  // namespace palvoro
