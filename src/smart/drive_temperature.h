#pragma once
// A drive's temperature now and the limits a long run keeps it within, read through the
// carrier its SMART data comes by: an NVMe controller's health log and Identify
// Controller, an ATA drive's SCT status, SMART attributes or device statistics and its SCT
// temperature history. A run reads it every half minute or so, so after the first reading
// each one costs a single command.

#include <cstdint>
#include <optional>
#include <vector>

#include "discovery/drive_record.h"
#include "platform/platform.h"
#include "smart/device_statistics.h"
#include "smart/sct_temperature.h"
#include "smart/smart_pages.h"

namespace palvoro {

// Where a run pauses (at or above critical) and where it goes on again (below warning),
// in degrees Celsius.
struct TemperatureLimits {
  int warningCelsius = 0;
  int criticalCelsius = 0;
  bool fromDrive = false;  // the drive named at least one of them; otherwise the defaults of its kind

  bool operator==(const TemperatureLimits&) const = default;
};

// An ATA drive that names no limit: 60 °C is the top of the operating range most hard disks
// are specified for (SATA SSDs usually allow 70), so no drive is held above what it was
// built for; resuming 5 °C lower lets it cool for a few minutes first, instead of pausing
// and resuming at every reading while it hovers at its limit.
inline constexpr TemperatureLimits kAtaDefaultLimits{55, 60, false};
// An NVMe controller that names neither WCTEMP nor CCTEMP: 70 and 80 °C, about where
// controllers that do name them put them (they throttle themselves beyond that).
inline constexpr TemperatureLimits kNvmeDefaultLimits{70, 80, false};
// A drive that names only one of its two limits gets the other this far from it.
inline constexpr int kTemperatureHysteresisCelsius = 5;

// The limits from what a drive names (nullopt where it names nothing; zero and below is
// no real limit, as some drives leave the fields unset), else `defaults`. The warning
// limit always ends up below the critical one.
TemperatureLimits temperatureLimits(std::optional<int> warningCelsius, std::optional<int> criticalCelsius,
                                    const TemperatureLimits& defaults);

// ATA: the warning limit is the SCT temperature history's maximum operating temperature,
// the critical one its over-limit temperature.
TemperatureLimits ataTemperatureLimits(const std::optional<SctTemperatureHistory>& history);
// NVMe: WCTEMP and CCTEMP of Identify Controller, in kelvin, 0 where not reported.
TemperatureLimits nvmeTemperatureLimits(uint16_t warningKelvin, uint16_t criticalKelvin);

// The temperature an ATA drive reports in its SMART data page: the raw value's low byte of
// attribute 194 (temperature), else of 190 (airflow temperature); nothing when neither is
// there or the byte holds no plausible reading.
[[nodiscard]] std::optional<int> attributeCelsius(SmartPage page);
// The valid "Current Temperature" statistic (page 5, offset 08h), if any.
[[nodiscard]] std::optional<int> statisticsCelsius(const std::vector<DeviceStatistic>& statistics);

class DriveThermometer {
 public:
  // `raidMemberSelect` is the device byte of a bridge's carrier, as for the drive's logs.
  DriveThermometer(Platform& platform, const DriveRecord& drive, bool miniportMode, uint8_t raidMemberSelect);

  // Degrees Celsius now, or nothing when the drive gave no reading. The first reading
  // tries every source the drive's kind has, keeps the one that answered and reads the
  // limits; a drive with none is not asked again.
  [[nodiscard]] std::optional<int> read();
  // The limits, known once a reading has arrived.
  const TemperatureLimits& limits() const { return m_limits; }

 private:
  // What answered the first reading.
  enum class Source { Unknown, None, NvmeHealth, SctStatus, Attributes, Statistics };

  std::optional<int> readNvme();
  std::optional<int> readAta();

  Platform& m_platform;
  const DriveRecord m_drive;
  const bool m_miniportMode;
  const uint8_t m_raidMemberSelect;
  Source m_source = Source::Unknown;
  TemperatureLimits m_limits{};
};

}  // namespace palvoro
