// A drive's own logs as any drive or bridge may hand them over: the first byte picks the
// log, the rest is its pages. Every decoder stays inside the pages, keeps no more entries
// than its log can hold, and every hint is one sentence.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "smart/device_statistics.h"
#include "smart/error_log.h"
#include "smart/nvme_logs.h"
#include "smart/sct_temperature.h"
#include "smart/self_test_log.h"

namespace {

void checkHints(const std::vector<std::string>& hints) {
  for (const std::string& hint : hints) palvoro::fuzz::check(!hint.empty() && hint.back() == '.', "hint sentence");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  if (size < 2) return 0;
  const uint8_t* bytes = data + 2;
  const size_t length = size - 2;
  LogPage page{};
  std::memcpy(page.data(), bytes, std::min(length, page.size()));
  const std::optional<uint32_t> hours = data[1] % 2 == 0 ? std::optional<uint32_t>(data[1] * 211u) : std::nullopt;
  switch (data[0] % 6) {
    case 0: {
      const SelfTestLog log = decodeSelfTestLog(page);
      fuzz::check(log.entries.size() <= kSelfTestLogEntries, "self-test entries");
      checkHints(selfTestHints(log));
      break;
    }
    case 1: {
      const AtaErrorLog log = decodeSummaryErrorLog(page);
      fuzz::check(log.entries.size() <= 5, "summary entries");
      for (const AtaErrorEntry& e : log.entries) fuzz::check(e.commands.size() <= 5, "summary commands");
      checkHints(errorLogHints(log, hours));
      break;
    }
    case 2: {
      // The pages the drive would hand over one by one; a page past the input is unreadable.
      const uint16_t pageCount = static_cast<uint16_t>(1 + data[1] % 8);
      const size_t maxEntries = 1 + data[1] % 11;
      const auto readPage = [&](uint16_t number, LogPage& out) {
        const size_t at = static_cast<size_t>(number) * out.size();
        fuzz::check(number < pageCount, "page inside the log");
        if (at >= length) return false;
        out.fill(0);
        std::memcpy(out.data(), bytes + at, std::min(out.size(), length - at));
        return true;
      };
      if (const std::optional<AtaErrorLog> log = decodeExtComprehensiveErrorLog(readPage, pageCount, maxEntries)) {
        fuzz::check(log->entries.size() <= maxEntries, "comprehensive entries");
        checkHints(errorLogHints(*log, hours));
      }
      // The same pages as the extended self-test log, the other page-addressed log.
      if (const std::optional<SelfTestLog> log = decodeExtSelfTestLog(readPage, pageCount)) {
        fuzz::check(log->entries.size() <= kSelfTestLogEntries, "extended self-test entries");
        for (const SelfTestLogEntry& e : log->entries) fuzz::check(e.failingLba <= kNoFailingLba, "48-bit sector");
        checkHints(selfTestHints(*log));
      }
      break;
    }
    case 3: {
      const std::vector<uint8_t> pages = deviceStatisticsPageList(page);
      fuzz::check(pages.size() <= 504, "statistics page list");
      const std::vector<DeviceStatistic> statistics = decodeDeviceStatisticsPage(page);
      fuzz::check(statistics.size() <= 63, "statistics of a page");
      for (const DeviceStatistic& s : statistics) fuzz::check(s.offset >= 8 && s.offset < 512, "statistic offset");
      checkHints(deviceStatisticsHints(statistics));
      break;
    }
    case 4: {
      const std::optional<SctStatus> status = decodeSctStatus(page);
      const std::optional<SctTemperatureHistory> history = decodeSctTemperatureHistory(page);
      if (history) fuzz::check(history->samples.size() <= 478, "history samples");
      checkHints(temperatureHints(status, history));
      break;
    }
    default: {
      const std::vector<NvmeErrorEntry> errors = decodeNvmeErrorLog(std::span<const uint8_t>(bytes, length));
      fuzz::check(errors.size() <= length / 64, "NVMe error entries");
      const std::optional<NvmeSelfTestLog> selfTests = decodeNvmeSelfTestLog(std::span<const uint8_t>(bytes, length));
      if (selfTests) fuzz::check(selfTests->entries.size() <= 20, "NVMe self-test entries");
      checkHints(nvmeLogHints(errors, selfTests, hours));
      break;
    }
  }
  return 0;
}
