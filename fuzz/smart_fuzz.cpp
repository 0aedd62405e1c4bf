// SMART data and threshold pages of one or two units, at either offset a driver may put
// them: the verdict is one of those the window knows, and every listed attribute has a
// name in every table.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "discovery/drive_record.h"
#include "fuzz_check.h"
#include "smart/attribute_names.h"
#include "smart/smart_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const uint8_t member = data[1];
  data += 2;
  size -= 2;
  SmartPages pages;
  uint8_t* buffers[] = {pages.data, pages.thresholds, pages.secondData, pages.secondThresholds};
  for (uint8_t* buffer : buffers) {
    const size_t n = std::min(size, static_cast<size_t>(kSmartBufferSize));
    std::memcpy(buffer, data, n);
    data += n;
    size -= n;
  }
  pages.pageOffset = (flags & 1) != 0 ? kDriverPageOffset : 0;
  pages.secondUnitRead = (flags & 2) != 0;

  DriveRecord record{};
  record.driveClass = (flags & 4) != 0 ? kDriveClassRaid : kDriveClassAta;
  record.smartAvailable = 1;
  // What an earlier read left: the verdict keeps the member it was not asked about.
  record.smartHealthy = (flags >> 3) & 1;
  record.raidMemberBHealthy = (flags >> 4) & 1;
  record.raidState = (flags >> 5) & 7;
  const SmartVerdict verdict = smartDialogVerdict(record, pages, member);
  fuzz::check(verdict.smartHealthy == 0 || verdict.smartHealthy == 1, "smartHealthy is 0 or 1");
  fuzz::check(verdict.smartColumnText == nullptr || std::strcmp(verdict.smartColumnText, " PASS") == 0 ||
                  std::strcmp(verdict.smartColumnText, " FAIL") == 0,
              "the SMART column says PASS or FAIL");
  const int failed = firstFailedAttribute(pages.dataPage(), pages.thresholdPage());
  fuzz::check(failed >= -1 && failed < 30, "a failed attribute is one of the thirty, or none");
  for (int i = 0; i < 30; ++i) {
    const SmartAttribute attribute = smartAttribute(pages.dataPage(), i);
    for (int selector = -1; selector <= 4; ++selector) {
      const char* name = attributeName(attribute.id, selector);
      fuzz::check(name != nullptr && name[0] != '\0', "every attribute has a name");
    }
  }
  return 0;
}
