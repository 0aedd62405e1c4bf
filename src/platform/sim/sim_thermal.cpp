// The drive's temperature over the machine's clock: heat from what it transfers, cooling
// while it rests, and the reading put where each of the drive's reports takes it from, so
// SMART, SCT, device statistics and the NVMe health log all say the same.

#include <algorithm>
#include <cmath>

#include "platform/sim/sim_platform.h"

namespace palvoro::sim {
namespace {

constexpr uint8_t kTemperatureAttribute = 194;
constexpr uint8_t kAirflowTemperatureAttribute = 190;
constexpr int kKelvinAtZeroCelsius = 273;
constexpr double kBytesPerGigabyte = 1e9;
constexpr double kMillisecondsPerMinute = 60'000.0;

// The whole degrees a drive reports, within what its signed temperature bytes hold.
int8_t reportedCelsius(double celsius) {
  return static_cast<int8_t>(std::clamp<long>(std::lround(celsius), -127, 127));
}

void report(SimUnit& unit, int8_t celsius) {
  SimTemperature& t = unit.logs.temperature;
  t.current = celsius;
  // The extremes the drive keeps move with it when the description gave them.
  if (t.max && celsius > *t.max) t.max = celsius;
  if (t.lifetimeMax && celsius > *t.lifetimeMax) t.lifetimeMax = celsius;
  for (SimAttribute& a : unit.smart.attributes) {
    if (a.id == kTemperatureAttribute || a.id == kAirflowTemperatureAttribute) {
      a.raw = (a.raw & ~uint64_t{0xFF}) | static_cast<uint8_t>(celsius);
    }
  }
}

}  // namespace

void SimPlatform::placeTemperature(SimDrive& drive, double celsius) {
  if (!drive.thermal) {
    SimThermal still;
    still.start = still.ambient = celsius;
    drive.thermal = still;
  }
  drive.thermal->celsius = celsius;
  const int8_t shown = reportedCelsius(celsius);
  for (auto& [number, unit] : drive.ata.units) report(unit, shown);
  if (drive.memberB) {
    for (auto& [number, unit] : drive.memberB->units) report(unit, shown);
  }
  if (drive.nvme) drive.nvme->health.temperatureKelvin = static_cast<uint16_t>(shown + kKelvinAtZeroCelsius);
}

void SimPlatform::coolDrive(SimDrive& drive) {
  if (!drive.thermal) return;
  SimThermal& t = *drive.thermal;
  const uint64_t now = nowMs();
  const uint64_t idle = now > t.cooledAtMs ? now - t.cooledAtMs : 0;
  t.cooledAtMs = now;
  const double cooled = t.celsius - t.coolingPerIdleMinute * static_cast<double>(idle) / kMillisecondsPerMinute;
  // A drive already below its surroundings (set there by a test) does not warm by resting.
  placeTemperature(drive, t.celsius < t.ambient ? t.celsius : std::max(t.ambient, cooled));
}

void SimPlatform::warmDrive(SimDrive& drive, uint64_t bytes) {
  if (!drive.thermal) return;
  coolDrive(drive);
  placeTemperature(drive, drive.thermal->celsius + drive.thermal->perGigabyte * static_cast<double>(bytes) /
                                                       kBytesPerGigabyte);
}

void SimPlatform::setTemperature(int number, int celsius) {
  std::lock_guard lock(m_mutex);
  SimDrive& d = drive(number);
  coolDrive(d);
  placeTemperature(d, celsius);
}

}  // namespace palvoro::sim
