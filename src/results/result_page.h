#pragma once
// The result page: one HTML table per finished test run, kept in the context's result
// lines, and written out as "Tovrin.htm" next to the program when the user asks to see
// the results.

#include <ctime>
#include <string>

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

// `text` with &, <, > and " replaced by their entities, so that what a drive reports
// (and the error message) is shown as text, never read as markup.
std::string escapeHtml(const std::string& text);

}  // namespace palvoro
