#pragma once
// The words a run's events are shown with, in one place for every front end: the progress
// dialog puts them on its controls, the console on its bar, lines and JSON.

#include <cstdint>
#include <optional>
#include <string>

#include "diagnostics/run_events.h"

namespace palvoro {

// "PALVORO - QUICK TEST": the window's title for TestKind `kind`.
std::string runTitleText(int32_t kind);
// "Physical Drive 1:".
std::string driveLineText(int driveNumber);
// "%I64u of %I64u (%5.2f%%)": the current sector against the range's last one.
std::string sectorLineText(const SectorPosition& position);
// "Elapsed Time: 00:01:02" (hours wrap at a day), or the bare label before the first tick.
std::string elapsedText(std::optional<int64_t> seconds);
// "Estimated Time Remaining: 00:01:02" (string 118).
std::string remainingText(int64_t seconds);
// "00:01:02": an elapsed time alone (hours wrap at a day), or a remaining one, as the
// console's bar puts them beside its own words.
std::string elapsedClock(int64_t seconds);
std::string remainingClock(int64_t seconds);
// "Estimated Time: 2 minute(s)": what a self-test or an erase step is said to take.
std::string estimatedMinutesText(int minutes);
// "Paused: the drive is at 72 °C, above its critical limit of 70 °C; resuming below 65 °C."
std::string temperaturePauseText(int celsius, int criticalCelsius, int warningCelsius);
// "Resumed: the drive has cooled to 64 °C, below 65 °C.", or, when the drive no longer
// gives a reading, that it went on without one.
std::string temperatureResumeText(std::optional<int> celsius, int warningCelsius);
// The label of Cancel once the run has ended.
std::string closeLabelText();

}  // namespace palvoro
