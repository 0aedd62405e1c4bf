// NVMe Identify pages and the SMART / Health Information log as any controller may return
// them: the first byte picks the page, the rest is its content. Texts stay within their
// fields without padding spaces at the end, a block size is one transfers can be built on
// or none, and the health verdict fails exactly when a critical-warning bit is set.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "discovery/drive_record.h"
#include "discovery/nvme_identity.h"
#include "fuzz_check.h"
#include "smart/nvme_health.h"

namespace {

void checkNoTrailingSpace(const char* text, const char* what) {
  const size_t n = std::strlen(text);
  palvoro::fuzz::check(n == 0 || text[n - 1] != ' ', what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  if (size < 1) return 0;
  uint8_t page[4096] = {};
  std::memcpy(page, data + 1, std::min(size - 1, sizeof page));
  switch (data[0] % 3) {
    case 0: {
      DriveRecord record;
      std::memset(&record, 0xA5, sizeof record);
      nvmeControllerIdentity(NvmeIdentifyPage(page, sizeof page), record);
      fuzz::checkText(record.model, 40, "model");
      fuzz::checkText(record.serialNumber, 20, "serial number");
      fuzz::checkText(record.firmwareRevision, 8, "firmware revision");
      checkNoTrailingSpace(record.model, "model padding");
      checkNoTrailingSpace(record.serialNumber, "serial padding");
      break;
    }
    case 1: {
      const NvmeNamespaceFormat format = nvmeNamespaceFormat(NvmeIdentifyPage(page, sizeof page));
      fuzz::check(format.sectorSize == 0 || usableSectorSize(static_cast<int32_t>(format.sectorSize)),
                  "namespace block size");
      break;
    }
    default: {
      const NvmeHealth health = parseNvmeHealth(NvmeHealthPage(page, 512));
      fuzz::check(health.passing() == (page[0] == 0), "verdict follows the critical warning");
      fuzz::check(nvmeHealthVerdict(health).smartHealthy == (page[0] == 0 ? 1 : 0), "window verdict");
      const auto rows = nvmeHealthRows(health);
      size_t failed = 0;
      for (const NvmeHealthRow& row : rows) {
        fuzz::check(!row.name.empty() && !row.value.empty(), "row texts");
        if (row.failed) ++failed;
      }
      fuzz::check((failed == 0) == health.passing() || page[3] < page[4], "failed rows match the verdict");
      fuzz::check(nvmeCriticalWarnings(health.criticalWarning).size() ==
                      static_cast<size_t>(__builtin_popcount(health.criticalWarning)),
                  "one text per warning bit");
      break;
    }
  }
  return 0;
}
