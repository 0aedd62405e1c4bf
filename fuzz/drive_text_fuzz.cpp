// A device's texts as any drive, bridge or stick may send them, stored by each parser that
// fills a record (IDENTIFY DEVICE, INQUIRY with its serial page, NVMe Identify Controller)
// and then shown by every window's model and by the result page: the record holds only
// printable ASCII, every text made of it is printable ASCII too, and the result page
// shows the drive's '<' and '&' only as entities.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "diagnostics/run_values.h"
#include "discovery/drive_record.h"
#include "discovery/identify.h"
#include "discovery/inquiry_identity.h"
#include "discovery/nvme_identity.h"
#include "fuzz_check.h"
#include "results/result_lines.h"
#include "results/result_page.h"
#include "service/drive_logs_model.h"
#include "ui/model/main_window_model.h"
#include "ui/model/option_dialog_model.h"
#include "ui/model/scan_map_model.h"
#include "service/smart_window_model.h"

namespace {

using palvoro::fuzz::check;

bool printableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

template <size_t N>
void checkField(const char (&field)[N], size_t maxChars, const char* what) {
  palvoro::fuzz::checkText(field, maxChars, what);
  check(printableAscii(field), what);
}

// Bytes of the input into `out`, the rest zero; the input moves on.
void take(uint8_t* out, size_t n, const uint8_t*& data, size_t& size) {
  std::memset(out, 0, n);
  const size_t k = std::min(n, size);
  std::memcpy(out, data, k);
  data += k;
  size -= k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  if (size < 1) return 0;
  const uint8_t path = data[0] % 3;
  ++data;
  --size;

  DriveRecord record;
  std::memset(&record, 0xA5, sizeof record);
  record.busType = kBusUsb;
  if (path == 0) {
    // Only the three text areas (words 10..46) come from the input: the rest of the reply
    // would only choose capacities.
    uint8_t reply[kIdentifyBytes] = {};
    take(reply + 20, 74, data, size);
    parseIdentifyReply(reply, record, false);
  } else if (path == 1) {
    uint8_t inquiry[kInquiryBytes];
    uint8_t serialPage[kVpdSerialPageBytes];
    take(inquiry, sizeof inquiry, data, size);
    take(serialPage, sizeof serialPage, data, size);
    serialPage[1] = kVpdUnitSerialNumber;
    record.busType = (inquiry[0] & 0x80) != 0 ? kBusFireWire : kBusScsi;
    inquiryIdentityFromReplies(inquiry, (inquiry[0] & 0x40) != 0 ? InquiryForm::Enclosure : InquiryForm::GenericScsi,
                               serialPage, record);
  } else {
    static uint8_t page[kNvmeIdentifyBytes];
    take(page, 72, data, size);
    nvmeControllerIdentity(NvmeIdentifyPage(page, sizeof page), record);
  }
  checkField(record.model, 40, "model");
  checkField(record.serialNumber, 20, "serial number");
  checkField(record.firmwareRevision, 8, "firmware revision");

  // What the windows show of the record.
  record.driveClass = kDriveClassAta;
  record.identifiedSectors = 976773168;
  record.totalSectors = record.identifiedSectors;
  record.sectorSize = 512;
  record.volumeLetters[0] = '\0';
  record.smartAvailable = 1;
  record.smartHealthy = 1;
  record.isMakerSsd = 0;
  for (const ListCell& cell : physicalDriveRow(record, 1)) check(printableAscii(cell.text), "a list cell");
  check(printableAscii(modelNumberLine(record).substr(14)), "the option dialog's model line");  // after its tab
  check(printableAscii(serialNumberLine(record).substr(15)), "the option dialog's serial line");
  check(printableAscii(driveIdentityLine(record)), "the SMART window's identity line");
  DriveLogs logs;
  check(printableAscii(DriveLogsModel(logs, record, 1).heading()), "the Drive Logs heading");
  BlockLatencyMap map;
  check(printableAscii(ScanMapModel(map, record, 1).heading()), "the Scan Map heading");

  // The result page: printable ASCII between its line ends, the drive's markup escaped.
  TestRunValues run;
  run.testKind = kTestKindQuick;
  run.testState = kTestStatePass;
  ResultLines lines;
  std::tm when{};
  when.tm_year = 126;
  when.tm_mday = 1;
  check(appendResultBlock(lines, run, record, when), "an empty store takes a block");
  std::string page;
  for (const std::string& row : lines.lines()) {
    const std::string body = row.substr(0, row.find_last_not_of("\r\n") + 1);
    check(printableAscii(body), "a result row is printable");
    const size_t cell = row.find("</font></td><td>");
    if (row.rfind("<tr><td><font color=0000ff>", 0) == 0 && cell != std::string::npos &&
        row.compare(cell - 7, 7, "Number:") == 0) {
      const std::string text = row.substr(cell + 16, row.size() - cell - 16 - 12);  // up to "</td></tr>\r\n"
      check(text.find_first_of("<>") == std::string::npos, "a drive's markup is escaped");
    }
    page += row;
  }
  const std::vector<ResultEntry> entries = readResultEntries(page);
  check(entries.size() == 1, "the block reads back");
  check(std::string(record.model).find(entries[0].model) != std::string::npos, "the model reads back as it was");
  check(std::string(record.serialNumber).find(entries[0].serial) != std::string::npos, "the serial reads back");
  return 0;
}
