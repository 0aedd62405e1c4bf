#include "diagnostics/temperature_guard.h"

#include <algorithm>
#include <utility>

#include "diagnostics/run_event_texts.h"

namespace palvoro {
namespace {

constexpr uint64_t kMicrosecondsPerSecond = 1'000'000;

}  // namespace

TemperatureGuard::TemperatureGuard(Platform& platform, DriveThermometer& thermometer, TemperatureWatch& watch,
                                   bool enabled, TemperatureGuardHooks hooks)
    : m_platform(platform), m_thermometer(thermometer), m_watch(watch), m_enabled(enabled), m_hooks(std::move(hooks)) {}

bool TemperatureGuard::between() {
  if (!m_enabled) return true;
  const uint64_t now = m_platform.monotonicMicroseconds();
  if (m_lastReading && now - *m_lastReading < kTemperatureReadingMicroseconds) return true;
  m_lastReading = now;
  // A drive that gives no reading is not paused (the thermometer stops asking one that
  // never gave any).
  const std::optional<int> celsius = reading();
  if (!celsius || *celsius < m_watch.criticalCelsius) return true;
  return pause(*celsius);
}

std::optional<int> TemperatureGuard::reading() {
  const std::optional<int> celsius = m_thermometer.read();
  if (!celsius) return std::nullopt;
  const TemperatureLimits& limits = m_thermometer.limits();
  m_watch.warningCelsius = limits.warningCelsius;
  m_watch.criticalCelsius = limits.criticalCelsius;
  m_watch.limitsFromDrive = limits.fromDrive;
  m_watch.highestCelsius = std::max(m_watch.highestCelsius.value_or(*celsius), *celsius);
  if (m_hooks.measured) m_hooks.measured(*celsius);
  return celsius;
}

bool TemperatureGuard::pause(int celsius) {
  // Nothing more goes to the drive, and what it was given ends before the wait begins.
  if (m_hooks.settle) m_hooks.settle();
  const uint64_t began = m_platform.monotonicMicroseconds();
  ++m_watch.pauses;
  if (m_hooks.paused) m_hooks.paused(temperaturePauseText(celsius, m_watch.criticalCelsius, m_watch.warningCelsius));
  bool goOn = true;
  for (;;) {
    if (!waitOnePoll()) {
      goOn = false;
      break;
    }
    const std::optional<int> now = reading();
    // A drive that no longer answers is not waited for: whatever the walk sends it next
    // shows what has become of it.
    if (!now || *now < m_watch.warningCelsius) {
      if (m_hooks.resumed) m_hooks.resumed(temperatureResumeText(now, m_watch.warningCelsius));
      break;
    }
  }
  const uint64_t ended = m_platform.monotonicMicroseconds();
  m_watch.pausedSeconds += (ended - began) / kMicrosecondsPerSecond;
  m_lastReading = ended;
  return goOn;
}

bool TemperatureGuard::waitOnePoll() {
  for (uint32_t waited = 0; waited < kPausedReadingMilliseconds; waited += kPausedStopMilliseconds) {
    if (m_hooks.stopped && m_hooks.stopped()) return false;
    m_platform.sleep(kPausedStopMilliseconds);
  }
  return !(m_hooks.stopped && m_hooks.stopped());
}

}  // namespace palvoro
