#include "diagnostics/run_event_texts.h"

#include <cinttypes>
#include <cstdio>

#include "diagnostics/run_messages.h"
#include "resources/string_table.h"

namespace palvoro {
namespace {

std::string twoDigitTime(const char* format, int64_t hours, int64_t minutes, int64_t seconds) {
  char line[96];
  std::snprintf(line, sizeof line, format, static_cast<int>(hours), static_cast<int>(minutes),
                static_cast<int>(seconds));
  return line;
}

}  // namespace

std::string runTitleText(int32_t kind) {
  char line[64];
  std::snprintf(line, sizeof line, kTitleFormat, testKindWord(kind));
  return line;
}

std::string driveLineText(int driveNumber) {
  char line[48];
  std::snprintf(line, sizeof line, kDriveLineFormat, driveNumber);
  return line;
}

std::string sectorLineText(const SectorPosition& position) {
  const uint64_t last = position.last;
  const double percent =
      last == 0 ? 100.0 : static_cast<double>(position.current) * 100.0 / static_cast<double>(last);
  char text[80];
  std::snprintf(text, sizeof text, "%" PRIu64 " of %" PRIu64 " (%5.2f%%)", position.current, last, percent);
  return text;
}

std::string elapsedClock(int64_t seconds) {
  const int64_t s = seconds < 0 ? 0 : seconds;
  return twoDigitTime("%02d:%02d:%02d", (s / 3600) % 24, (s / 60) % 60, s % 60);
}

std::string remainingClock(int64_t seconds) {
  const int64_t s = seconds < 0 ? 0 : seconds;
  return twoDigitTime("%02d:%02d:%02d", s / 3600, (s / 60) % 60, s % 60);
}

std::string elapsedText(std::optional<int64_t> seconds) {
  if (!seconds) return "Elapsed Time:";
  return "Elapsed Time: " + elapsedClock(*seconds);
}

std::string remainingText(int64_t seconds) {
  const int64_t s = seconds < 0 ? 0 : seconds;
  return twoDigitTime(loadString(kStrEstimatedTimeRemaining), s / 3600, (s / 60) % 60, s % 60);
}

std::string estimatedMinutesText(int minutes) {
  return "Estimated Time: " + std::to_string(minutes) + " minute(s)";
}

std::string temperaturePauseText(int celsius, int criticalCelsius, int warningCelsius) {
  const char* where = celsius > criticalCelsius ? "above" : "at";
  return "Paused: the drive is at " + std::to_string(celsius) + " °C, " + where + " its critical limit of " +
         std::to_string(criticalCelsius) + " °C; resuming below " + std::to_string(warningCelsius) + " °C.";
}

std::string temperatureResumeText(std::optional<int> celsius, int warningCelsius) {
  if (!celsius) return "Resumed: the drive's temperature can no longer be read.";
  return "Resumed: the drive has cooled to " + std::to_string(*celsius) + " °C, below " +
         std::to_string(warningCelsius) + " °C.";
}

std::string closeLabelText() { return kCloseLabel; }

}  // namespace palvoro
