#pragma once
// The temperature guard of a walk over the drive (a scan, an erase, a read-back). Between
// requests, at most every half minute of the drive's clock, it reads the drive's
// temperature; at or above the critical limit the walk lets its requests in flight finish
// and waits, reading again every ten seconds, until the drive is below its warning limit.
// The time is the platform's monotonic clock and the waiting its sleep: on a simulated
// machine a pause takes the machine's time, never the wall's. A drive that reports no
// temperature is never paused.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "diagnostics/run_values.h"
#include "platform/platform.h"
#include "smart/drive_temperature.h"

namespace palvoro {

// How often a walk reads the temperature: a drive warms over minutes, and each reading
// is a command or two beside the walk's own.
inline constexpr uint64_t kTemperatureReadingMicroseconds = 30'000'000;
// How often a paused walk reads it again.
inline constexpr uint32_t kPausedReadingMilliseconds = 10'000;
// How often a paused walk looks at Cancel between two readings.
inline constexpr uint32_t kPausedStopMilliseconds = 1'000;

// What the guard does besides reading: let the walk's requests in flight finish, say that
// the walk paused and that it resumed, and look at the walk's Cancel.
struct TemperatureGuardHooks {
  std::function<void()> settle;
  std::function<void(const std::string&)> paused;
  std::function<void(const std::string&)> resumed;
  std::function<bool()> stopped;
  // Each reading the drive gave, for whoever shows its temperature as the walk goes.
  std::function<void(int celsius)> measured = {};
};

class TemperatureGuard {
 public:
  // `watch` keeps the readings and pauses for the report; a guard that is not `enabled`
  // neither reads nor pauses.
  TemperatureGuard(Platform& platform, DriveThermometer& thermometer, TemperatureWatch& watch, bool enabled,
                   TemperatureGuardHooks hooks);

  // Between two requests: reads the temperature when it is due, and pauses the walk when
  // it is too hot. Returns true to go on; false when Cancel came during a pause (seen
  // within a second).
  [[nodiscard]] bool between();

 private:
  // One reading, kept in the watch; nothing when the drive gave none.
  std::optional<int> reading();
  bool pause(int celsius);
  // Sleeps one reading's wait in pieces, looking at Cancel between them; false on Cancel.
  bool waitOnePoll();

  Platform& m_platform;
  DriveThermometer& m_thermometer;
  TemperatureWatch& m_watch;
  const bool m_enabled;
  TemperatureGuardHooks m_hooks;
  std::optional<uint64_t> m_lastReading;  // on the drive's clock, in microseconds
};

}  // namespace palvoro
