#pragma once
// Wall-clock time for the test run: seconds for elapsed and remaining times, and the
// local time the result page prints. Tests use a clock they move by hand.

#include <cstdint>
#include <ctime>

namespace palvoro {

class TestClock {
 public:
  virtual ~TestClock() = default;
  // Seconds since the epoch.
  virtual int64_t nowSeconds() = 0;
  // The local calendar time of now.
  virtual std::tm localTime() = 0;
};

class SystemTestClock : public TestClock {
 public:
  int64_t nowSeconds() override { return static_cast<int64_t>(std::time(nullptr)); }
  std::tm localTime() override {
    const std::time_t t = std::time(nullptr);
    std::tm out{};
    localtime_r(&t, &out);
    return out;
  }
};

}  // namespace palvoro
