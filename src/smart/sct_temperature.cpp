#include "smart/sct_temperature.h"

#include <algorithm>

#include "protocol/byte_order.h"

namespace palvoro {

namespace {

constexpr uint8_t kNoTemperature = 0x80;  // a sensor that has no reading (or a ring slot never written)

// SCT status page.
constexpr size_t kStatusTemperatures = 200;  // current, min, max, lifetime min, lifetime max
constexpr size_t kStatusOverLimit = 206;
constexpr size_t kStatusUnderLimit = 210;

// Temperature history table.
constexpr size_t kHistoryLimits = 6;  // max operating, over limit, min operating, under limit
constexpr size_t kHistoryRingSize = 30;
constexpr size_t kHistoryRingIndex = 32;
constexpr size_t kHistorySamples = 34;

// A drive near its maximum is worth a word before it gets there.
constexpr int kNearMaximumCelsius = 10;

std::optional<int> celsius(uint8_t byte) {
  if (byte == kNoTemperature) return std::nullopt;
  return static_cast<int8_t>(byte);
}

std::string degrees(int value) { return std::to_string(value) + " °C"; }

}  // namespace

std::optional<SctStatus> decodeSctStatus(const LogPage& page) {
  SctStatus status;
  status.formatVersion = loadLe16(page.data());
  if (status.formatVersion != 2 && status.formatVersion != 3) return std::nullopt;
  status.sctVersion = loadLe16(page.data() + 2);
  const uint8_t* t = page.data() + kStatusTemperatures;
  status.currentCelsius = celsius(t[0]);
  status.minCelsius = celsius(t[1]);
  status.maxCelsius = celsius(t[2]);
  status.lifetimeMinCelsius = celsius(t[3]);
  status.lifetimeMaxCelsius = celsius(t[4]);
  status.overLimitCount = loadLe32(page.data() + kStatusOverLimit);
  status.underLimitCount = loadLe32(page.data() + kStatusUnderLimit);
  return status;
}

// Bytes 0..1 action code 0005h (data table), 2..3 function code 0001h (read table), 4..5
// table ID 0002h (temperature history), 6..511 zero.
LogPage sctTemperatureHistoryRequest() {
  LogPage request{};
  request[0] = 0x05;
  request[2] = 0x01;
  request[4] = 0x02;
  return request;
}

std::optional<SctTemperatureHistory> decodeSctTemperatureHistory(const LogPage& page) {
  SctTemperatureHistory history;
  history.formatVersion = loadLe16(page.data());
  if (history.formatVersion != 2) return std::nullopt;
  const size_t size = loadLe16(page.data() + kHistoryRingSize);
  const size_t newest = loadLe16(page.data() + kHistoryRingIndex);
  if (size == 0 || size > page.size() - kHistorySamples || newest >= size) return std::nullopt;
  history.samplingPeriodMinutes = loadLe16(page.data() + 2);
  history.intervalMinutes = loadLe16(page.data() + 4);
  const uint8_t* limits = page.data() + kHistoryLimits;
  history.maxOperating = celsius(limits[0]);
  history.overLimit = celsius(limits[1]);
  history.minOperating = celsius(limits[2]);
  history.underLimit = celsius(limits[3]);
  history.samples.reserve(size);
  for (size_t k = 1; k <= size; ++k) history.samples.push_back(celsius(page[kHistorySamples + (newest + k) % size]));
  return history;
}

namespace {

std::string timesText(uint32_t count) {
  if (count == 1) return "once";
  if (count == 2) return "twice";
  return std::to_string(count) + " times";
}

}  // namespace

std::vector<std::string> temperatureHints(const std::optional<SctStatus>& status,
                                          const std::optional<SctTemperatureHistory>& history) {
  std::vector<std::string> hints;
  // A maximum of zero or below is no real limit: some drives leave the field unset.
  std::optional<int> maximum;
  std::optional<int> minimum;
  std::optional<int> peak;
  std::optional<int> newest;
  if (history) {
    if (history->maxOperating && *history->maxOperating > 0) maximum = history->maxOperating;
    minimum = history->minOperating;
    for (const std::optional<int>& sample : history->samples) {
      if (!sample) continue;
      peak = peak ? std::max(*peak, *sample) : *sample;
      newest = sample;
    }
  }
  const std::optional<int> current = status && status->currentCelsius ? status->currentCelsius : newest;
  if (maximum) {
    if (peak && *peak > *maximum) {
      hints.push_back("The drive's recorded temperature reached " + degrees(*peak) + ", above its limit of " +
                      degrees(*maximum) + ".");
    } else if (status && status->lifetimeMaxCelsius && *status->lifetimeMaxCelsius > *maximum) {
      hints.push_back("The drive's highest temperature in its life was " + degrees(*status->lifetimeMaxCelsius) +
                      ", above its limit of " + degrees(*maximum) + ".");
    }
    if (current) {
      const int margin = *maximum - *current;
      if (margin < 0) {
        hints.push_back("The drive is at " + degrees(*current) + ", above its maximum operating temperature of " +
                        degrees(*maximum) + ".");
      } else if (margin == 0) {
        hints.push_back("The drive is at " + degrees(*current) + ", its maximum operating temperature.");
      } else if (margin <= kNearMaximumCelsius) {
        hints.push_back("The drive is at " + degrees(*current) + ", within " + degrees(margin) +
                        " of its maximum operating temperature of " + degrees(*maximum) + ".");
      }
    }
  }
  if (minimum && current && *current < *minimum) {
    hints.push_back("The drive is at " + degrees(*current) + ", below its minimum operating temperature of " +
                    degrees(*minimum) + ".");
  }
  if (status && status->overLimitCount > 0) {
    hints.push_back("The drive has gone above its temperature limit " + timesText(status->overLimitCount) + ".");
  }
  if (status && status->underLimitCount > 0) {
    hints.push_back("The drive has gone below its temperature limit " + timesText(status->underLimitCount) + ".");
  }
  return hints;
}

}  // namespace palvoro
