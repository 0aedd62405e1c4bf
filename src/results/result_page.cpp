#include "results/result_page.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <vector>

#include "platform/write_folder.h"
#include "diagnostics/run_event_texts.h"
#include "diagnostics/run_messages.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

// Colours of the result word and the error row.
constexpr unsigned kColourFailed = 0xff0000;  // FAIL and ABORT
constexpr unsigned kColourPassed = 0x009933;  // PASS and COMPLETE
constexpr unsigned kColourTime = 0x000000;

// A drive-table text field: zero-terminated, but never read past its array.
template <size_t N>
std::string fieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// printf into a string; the attribute has the compiler check every row's pattern
// against its arguments.
__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), pattern, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

// The result word of TestState (string 113 + state); no word for a state without one.
const char* resultWord(int32_t testState) {
  if (testState < kTestStatePass || testState > kTestStateComplete) return "";
  return loadString(kStrResultPass + testState);
}

// Month names must not follow the user's locale: the page reads the same everywhere.
std::string testTime(const std::tm& when) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::put_time(&when, "%H:%M:%S, %B %d, %Y");
  return out.str();
}

// The text of an HTML fragment: tags dropped, the entities escapeHtml writes turned back.
std::string cellText(const std::string& html) {
  std::string plain;
  bool inTag = false;
  for (const char c : html) {
    if (c == '<') inTag = true;
    else if (c == '>' && inTag) inTag = false;
    else if (!inTag) plain += c;
  }
  static const std::pair<const char*, char> kEntities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&amp;", '&'}};
  std::string out;
  for (size_t i = 0; i < plain.size();) {
    bool replaced = false;
    if (plain[i] == '&') {
      for (const auto& [entity, c] : kEntities) {
        if (plain.compare(i, std::strlen(entity), entity) == 0) {
          out += c;
          i += std::strlen(entity);
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += plain[i++];
  }
  return out;
}

// The two cells of a row "<tr><td>label</td><td>value</td></tr>", from `at`; false when
// the row is not of that shape.
[[nodiscard]] bool rowCells(const std::string& page, size_t at, size_t end, std::string& label, std::string& value) {
  const size_t firstOpen = page.find("<td>", at);
  const size_t firstClose = page.find("</td>", firstOpen == std::string::npos ? at : firstOpen);
  if (firstOpen == std::string::npos || firstClose == std::string::npos || firstClose > end) return false;
  const size_t secondOpen = page.find("<td>", firstClose);
  const size_t secondClose = page.rfind("</td>", end);
  if (secondOpen == std::string::npos || secondClose == std::string::npos || secondOpen > secondClose) return false;
  label = cellText(page.substr(firstOpen + 4, firstClose - firstOpen - 4));
  value = cellText(page.substr(secondOpen + 4, secondClose - secondOpen - 4));
  if (!label.empty() && label.back() == ':') label.pop_back();
  return true;
}

// The length of the UTF-8 sequence that `lead` begins; 1 for a byte that begins none.
size_t sequenceLength(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

// A stored line keeps kResultLineMax characters. The text of a row is cut before it is
// escaped, so that the row keeps its closing tags and never ends inside an entity or a
// character: `head` + the escaped text + `tail` fit whole.
std::string textRow(const std::string& head, const std::string& text, const std::string& tail) {
  const size_t fixed = head.size() + tail.size();
  const size_t room = fixed < kResultLineMax ? kResultLineMax - fixed : 0;
  std::string escaped;
  for (size_t i = 0; i < text.size();) {
    const size_t length = std::min(sequenceLength(static_cast<unsigned char>(text[i])), text.size() - i);
    const std::string piece = escapeHtml(text.substr(i, length));
    if (escaped.size() + piece.size() > room) break;
    escaped += piece;
    i += length;
  }
  return head + escaped + tail;
}

// The number written just before `label` in `text` ("3 not zero"); 0 when there is none.
uint64_t countBefore(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return 0;
  size_t digits = at;
  while (digits > 0 && text[digits - 1] >= '0' && text[digits - 1] <= '9') --digits;
  // Twenty digits hold any 64-bit count; a longer run of digits is not one this page wrote.
  if (digits == at || at - digits > 19) return 0;
  return std::stoull(text.substr(digits, at - digits));
}

ResultVerification parseVerification(const std::string& text) {
  ResultVerification v;
  v.text = text;
  v.passed = text.rfind("PASS:", 0) == 0;
  v.nonZeroSectors = countBefore(text, " not zero");
  v.unreadableSectors = countBefore(text, " unreadable");
  return v;
}

}  // namespace

std::string verificationText(const EraseVerification& v) {
  using End = EraseVerification::End;
  if (v.passed()) return format("PASS: %" PRIu64 " sectors read back, all zero", v.sectorsChecked);
  switch (v.end) {
    case End::DriveNotOpened: return "FAIL: the drive did not open for reading";
    case End::DriveUnusable: return "FAIL: the drive's sector size or range cannot be read back";
    case End::NoBuffer: return "FAIL: no memory for the read-back";
    case End::Stopped:
    case End::Finished: break;
  }
  std::string text = format("FAIL: %" PRIu64 " not zero, %" PRIu64 " unreadable, %" PRIu64 " of %" PRIu64
                            " sectors read back",
                            v.nonZeroSectors, v.unreadableSectors, v.sectorsChecked, v.sectorsToCheck);
  if (v.end == End::Stopped) text += ", stopped by the user";
  if (!v.firstNonZero.empty()) {
    text += "; first not zero:";
    for (const uint64_t sector : v.firstNonZero) text += format(" %" PRIu64, sector);
  }
  return text;
}

std::vector<ResultEntry> readResultEntries(const std::string& page) {
  std::vector<ResultEntry> entries;
  for (size_t at = page.find("<tr>"); at != std::string::npos; at = page.find("<tr>", at + 4)) {
    const size_t end = page.find("</tr>", at);
    if (end == std::string::npos) break;
    std::string label, value;
    if (!rowCells(page, at, end, label, value)) continue;
    if (label == "Test Option") {
      entries.emplace_back();
      entries.back().testOption = value;
      continue;
    }
    if (entries.empty()) continue;  // the logo's table, or rows before any run
    ResultEntry& e = entries.back();
    if (label == "Model Number") e.model = value;
    else if (label == "Unit Serial Number") e.serial = value;
    else if (label == "Firmware Number") e.firmware = value;
    else if (label == "Capacity") e.capacity = value;
    else if (label == "SMART Status") e.smartStatus = value;
    else if (label == "Test Result") e.testResult = value;
    else if (label == "Test Time") e.testTime = value;
    else if (label == "Erase Verification") e.verification = parseVerification(value);
    else if (label == "Test Error Code") {
      // "%02d-message": the code, then everything after the first dash.
      const size_t dash = value.find('-');
      const std::string code = value.substr(0, dash);
      e.errorCode = !code.empty() && code.find_first_not_of("0123456789") == std::string::npos && code.size() < 9
                        ? std::stoi(code)
                        : -1;
      e.errorMessage = dash == std::string::npos ? "" : value.substr(dash + 1);
    }
  }
  return entries;
}

std::string escapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c; break;
    }
  }
  return out;
}

bool appendResultBlock(ResultLines& lines, const TestRunValues& run, const DriveRecord& drive, const std::tm& time,
                       const EraseVerification* verification, const std::vector<std::string>& extraRows) {
  const int32_t state = run.testState.load();
  const unsigned colour = (state == kTestStateFail || state == kTestStateAbort) ? kColourFailed : kColourPassed;

  // Whole megabytes first, then a floating division: 500,107,862,016 bytes show as 500.11.
  const uint64_t bytes = drive.identifiedSectors * static_cast<uint64_t>(static_cast<uint32_t>(drive.sectorSize));
  const double gigabytes = static_cast<double>(bytes / 1000000) / 1000.0;

  const char* smartStatus = drive.smartAvailable == 0 ? "Not Available" : (drive.smartHealthy != 0 ? "PASS" : "FAIL");

  std::vector<std::string> block;
  block.push_back("<table>");
  // A kind without a word (only a corrupted selection) prints none rather than reading
  // past the table.
  block.push_back(format("<tr><td><font color=0000ff>Test Option:</font></td><td><b>%s</b></td></tr>\r\n",
                         testKindWord(run.testKind.load())));
  const std::string cellEnd = "</td></tr>\r\n";
  block.push_back(textRow("<tr><td><font color=0000ff>Model Number:</font></td><td>", fieldText(drive.model), cellEnd));
  block.push_back(textRow("<tr><td><font color=0000ff>Unit Serial Number:</font></td><td>",
                          fieldText(drive.serialNumber), cellEnd));
  block.push_back(textRow("<tr><td><font color=0000ff>Firmware Number:</font></td><td>",
                          fieldText(drive.firmwareRevision), cellEnd));
  block.push_back(
      format("<tr><td><font color=0000ff>Capacity:</font></td><td>%.2lf GB</td></tr>\r\n", gigabytes));
  block.push_back(format("<tr><td><font color=0000ff>SMART Status:</font></td><td>%s</td></tr>\r\n", smartStatus));
  block.push_back(format(
      "<tr><td><font color=0000ff>Test Result:</font></td><td><font color=%06x><b>%s</b></font></td></tr>\r\n",
      colour, resultWord(state)));
  if (state == kTestStateFail) {
    block.push_back(textRow(format("<tr><td><font color=0000ff>Test Error Code:</font></td><td><font color=%06x>%02d-",
                                   colour, static_cast<int>(run.testError.load())),
                            run.lastErrorMessage(), "</font></td></tr>\r\n"));
  }
  if (verification != nullptr) {
    // A row of its own, so that pages written before it existed read as they always did
    // and the erase's own result keeps its meaning.
    block.push_back(textRow(format("<tr><td><font color=0000ff>Erase Verification:</font></td><td><font color=%06x>",
                                   verification->passed() ? kColourPassed : kColourFailed),
                            verificationText(*verification), "</font></td></tr>\r\n"));
  }
  block.insert(block.end(), extraRows.begin(), extraRows.end());
  block.push_back(
      format("<tr><td><font color=0000ff>Test Time:</font></td><td><font color=%06x>%s</font></td></tr>\r\n",
             kColourTime, testTime(time).c_str()));
  block.push_back("</table><p>");

  // When the 200 lines are full the block is dropped whole: a page showing half a table
  // would misreport the run, while a missing run is plain to see.
  return lines.appendBlock(block);
}

std::vector<std::string> transferResultRows(const std::string& engine) {
  if (engine.empty()) return {};
  return {textRow("<tr><td><font color=0000ff>Transfers:</font></td><td>", engine, "</td></tr>\r\n")};
}

const char* eraseCategory(PurgeMethod method, int32_t eraseMode) {
  return method == PurgeMethod::Overwrite && eraseMode != 1 ? "None" : purgeCategory(method);
}

std::string eraseMethodText(PurgeMethod method, int32_t eraseMode) {
  if (method != PurgeMethod::Overwrite) return purgeMethodName(method);
  return eraseMode == 1 ? "overwrite, full" : "overwrite, quick";
}

std::string purgeCheckText(const PurgeSampleCheck& check) {
  if (!check.ran) return "";
  const std::string read = std::to_string(check.samples) + " sampled blocks read back";
  if (check.passed()) {
    return "PASS: " + read +
           (check.expectedValue ? ", every one erased" : ", none as it was before the erase");
  }
  if (check.sectorsFailed() == 0) return "NOT PROVEN: " + read + ", every one was blank before the erase";
  std::string text = "FAIL: " + read + ", ";
  if (check.unchanged != 0) text += std::to_string(check.unchanged) + " as before ";
  if (check.notErasedValue != 0) text += std::to_string(check.notErasedValue) + " not erased ";
  if (check.unreadable != 0) text += std::to_string(check.unreadable) + " unreadable ";
  text.pop_back();
  return text;
}

std::vector<std::string> eraseResultRows(const PurgeOutcome& purge, int32_t eraseMode) {
  std::vector<std::string> rows;
  const auto row = [&rows](const char* head, const std::string& text) {
    rows.push_back(textRow(std::string("<tr><td><font color=0000ff>") + head + "</font></td><td>", text, "</td></tr>\r\n"));
  };
  row("Erase Method:", eraseMethodText(purge.method, eraseMode) + " (" + eraseCategory(purge.method, eraseMode) + ")");
  if (!purge.hidden.sentence.empty()) row("Hidden Areas:", purge.hidden.sentence);
  const std::string check = purgeCheckText(purge.check);
  if (!check.empty()) row("Erase Check:", check);
  return rows;
}

std::string temperatureGuardText(bool enabled, const TemperatureWatch& watch) {
  if (!enabled) return "Off";
  if (!watch.highestCelsius) return "";
  const auto degrees = [](int celsius) { return std::to_string(celsius) + " °C"; };
  std::string text;
  if (watch.pauses == 0) {
    text = "No pause";
  } else {
    text = watch.pauses == 1 ? "Paused once" : "Paused " + std::to_string(watch.pauses) + " times";
    text += ", " + remainingClock(static_cast<int64_t>(watch.pausedSeconds)) + " in all";
  }
  text += "; highest " + degrees(*watch.highestCelsius) + "; pauses at " + degrees(watch.criticalCelsius) +
          ", resumes below " + degrees(watch.warningCelsius);
  text += watch.limitsFromDrive ? " (the drive's limits)" : " (the default limits; the drive names none)";
  return text;
}

std::vector<std::string> temperatureResultRows(bool enabled, const TemperatureWatch& watch) {
  const std::string text = temperatureGuardText(enabled, watch);
  if (text.empty()) return {};
  return {textRow("<tr><td><font color=0000ff>Temperature Guard:</font></td><td>", text, "</td></tr>\r\n")};
}

std::string resultPageText(const std::vector<std::string>& lines) {
  // Every line is followed by CR LF, so a line that already ends in one gets a second.
  std::string page;
  const auto line = [&page](const std::string& text) { page.append(text).append("\r\n"); };
  const std::string logo = std::string("<a href='") + kMakerWebAddress +
                           "'><img src='vhtlogo.gif' border = 0 alt='Varnholt Logo'></a></p>\r\n";
  line("<html><body>\r\n");
  line("<table cellspacing=0 cellpadding=0 width='100%' bgcolor=#336699><tr><td><p align=right>");
  line(logo);
  line("</td></tr></table>\n");
  for (const std::string& text : lines) line(text);
  line("</body></html>\r\n");
  return page;
}

bool writeResultPage(const std::string& resultsDir, const ResultLines& lines, std::string* refusal) {
  if (refusal != nullptr) refusal->clear();
  // Without a folder the page would land wherever the program was started from.
  if (lines.count() == 0 || resultsDir.empty()) return false;
  const std::string page = resultPageText(lines.lines());

  // A new file takes the page's name whole: a shorter page never keeps the tail of a
  // longer one, and a link planted at the name is replaced, not written through.
  const WriteFolder folder = WriteFolder::open(resultsDir);
  if (!folder.usable()) {
    if (refusal != nullptr) *refusal = folder.refusal();
    return false;
  }
  return folder.writeFile(kResultPageName, page.data(), page.size()) == FileWrite::Written;
}

}  // namespace palvoro
