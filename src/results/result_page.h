#pragma once
// The result page: one HTML table per finished test run, kept in the context's result
// lines, and written out as "Tovrin.htm" next to the program when the user asks to see
// the results.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics/erase_verify.h"
#include "diagnostics/run_values.h"
#include "discovery/drive_record.h"
#include "results/result_lines.h"

namespace palvoro {

// File name of the result page inside programDir.
inline constexpr const char* kResultPageName = "Tovrin.htm";

// Where the logo on the result page links to.
inline constexpr const char* kMakerWebAddress = "https://www.example.com/varnholt/";

// Appends to `lines` the block of the run that just ended: TestKind, TestState, TestError
// and LastErrorMessage of `run`, the tested drive's identity, and `time` (local time).
// An erase that was read back afterwards gets an "Erase Verification" row with what
// `verification` found. Returns false when the block did not fit and nothing was stored.
// `extraRows` (whole rows of the block's table, such as the scan's block times) go before
// "Test Time".
[[nodiscard]] bool appendResultBlock(ResultLines& lines, const TestRunValues& run, const DriveRecord& drive,
                                     const std::tm& time, const EraseVerification* verification = nullptr,
                                     const std::vector<std::string>& extraRows = {});

// The "Transfers" row: how the run's scan or erase reached the device (`engine`, as the
// run's values keep it); none when no walk ran.
std::vector<std::string> transferResultRows(const std::string& engine);
// An erase's rows: "Erase Method" (name and category), "Hidden Areas" (what became of
// them) and, after the drive's own erase, "Erase Check" (the sample read back).
std::vector<std::string> eraseResultRows(const PurgeOutcome& purge, int32_t eraseMode);
// The category the erase as it ran meets: the method's, except that the quick overwrite,
// which writes the first and the last part of the drive only, meets none ("None").
const char* eraseCategory(PurgeMethod method, int32_t eraseMode);
// "overwrite, quick", "overwrite, full", or the method's own name.
std::string eraseMethodText(PurgeMethod method, int32_t eraseMode);
// "PASS: 64 sampled blocks read back, none as it was before the erase", "FAIL: ...", or ""
// when no sample was read.
std::string purgeCheckText(const PurgeSampleCheck& check);

// What the temperature guard did over the run's walks, as the result page and the command
// line say it: "Off" when it was turned off; whether and how long the run paused, the
// highest reading and the limits; "" when the drive gave no reading (or nothing was
// walked), and there is nothing to say.
std::string temperatureGuardText(bool enabled, const TemperatureWatch& watch);
// The "Temperature Guard" row with that text; none when it is empty.
std::vector<std::string> temperatureResultRows(bool enabled, const TemperatureWatch& watch);

// The text of the "Erase Verification" row: "PASS: N sectors read back, all zero", or
// "FAIL: " with what went wrong, always naming the "N not zero" and "N unreadable" counts
// when sectors were read.
std::string verificationText(const EraseVerification& verification);

// The "Erase Verification" row read back.
struct ResultVerification {
  bool passed = false;
  uint64_t nonZeroSectors = 0;
  uint64_t unreadableSectors = 0;
  std::string text;  // the row as the page shows it
};

// The result page's text around `lines` (whole blocks): the maker's banner with its logo
// (vhtlogo.gif beside the page), the lines, the end. What writeResultPage writes, and
// what a window shows of one run's block.
std::string resultPageText(const std::vector<std::string>& lines);

// Writes every stored block as the result page in `resultsDir`, through a checked
// WriteFolder: the page replaces the old one whole, and a folder that is not the user's
// alone (or, for root, not root's all the way down) is refused, with its sentence in
// `refusal` when given. Before any block was appended the file is left alone. Returns true
// when the whole page was written.
[[nodiscard]] bool writeResultPage(const std::string& resultsDir, const ResultLines& lines,
                                   std::string* refusal = nullptr);

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
  // An erase read back afterwards; none for every other run, and on every page written
  // before the row existed.
  std::optional<ResultVerification> verification;
};

// The runs a result page holds, oldest first, from the page's text or from the lines kept
// for it. Only what this program writes is understood: a row of another label is skipped,
// and each "Test Option" row starts the next run.
std::vector<ResultEntry> readResultEntries(const std::string& page);

// `text` with &, <, > and " replaced by their entities, so that what a drive reports
// (and the error message) is shown as text, never read as markup.
std::string escapeHtml(const std::string& text);

}  // namespace palvoro
