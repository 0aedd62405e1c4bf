// A result block whose drive texts and error message are any bytes a drive or a run can
// produce: every stored row stays whole (its closing tags, no cut entity, no raw markup
// from the texts), and the block reads back as as many runs as were appended.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "diagnostics/run_values.h"
#include "discovery/drive_record.h"
#include "fuzz_check.h"
#include "results/result_lines.h"
#include "results/result_page.h"

namespace {

// The text between the row's cells must not hold a '<' or '>' the page did not write.
void checkRow(const std::string& row) {
  using palvoro::fuzz::check;
  check(row.size() <= palvoro::kResultLineMax, "a row fits its line");
  if (row.rfind("<tr>", 0) != 0) return;  // "<table>" and "</table><p>"
  check(row.size() >= 7 && row.compare(row.size() - 7, 7, "</tr>\r\n") == 0, "a row keeps its closing tags");
  const size_t cell = row.find("</font></td><td>");
  check(cell != std::string::npos, "a row has its label cell");
  for (size_t at = row.find('&'); at != std::string::npos; at = row.find('&', at + 1)) {
    const std::string rest = row.substr(at, 6);
    check(rest.rfind("&quot;", 0) == 0 || rest.rfind("&lt;", 0) == 0 || rest.rfind("&gt;", 0) == 0 ||
              rest.rfind("&amp;", 0) == 0,
          "every '&' begins a whole entity");
  }
}

// Up to `maxChars` bytes of the input as a record's text, as long as a parser leaves it.
template <size_t N>
void fill(char (&field)[N], size_t maxChars, const uint8_t*& data, size_t& size) {
  static_assert(N > 1);
  const size_t n = std::min({size, N - 1, maxChars});
  std::memcpy(field, data, n);
  field[n] = '\0';
  data += n;
  size -= n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  if (size < 3) return 0;
  TestRunValues run;
  run.testKind = data[0] % 4;
  run.testState = data[1] % 4;
  run.testError = data[2] % 30;
  data += 3;
  size -= 3;
  DriveRecord drive;
  fill(drive.model, 40, data, size);
  fill(drive.serialNumber, 20, data, size);
  fill(drive.firmwareRevision, 8, data, size);
  drive.identifiedSectors = 976773168;
  drive.sectorSize = 512;
  run.setLastErrorMessage(std::string(reinterpret_cast<const char*>(data), size));

  ResultLines lines;
  std::tm when{};
  when.tm_year = 124;
  when.tm_mday = 1;
  fuzz::check(appendResultBlock(lines, run, drive, when), "an empty store takes a block");
  std::string page;
  for (const std::string& row : lines.lines()) {
    checkRow(row);
    page += row;
  }
  fuzz::check(readResultEntries(page).size() == 1, "the block reads back as one run");
  return 0;
}
