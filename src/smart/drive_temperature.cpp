#include "smart/drive_temperature.h"

#include <memory>
#include <vector>

#include "device/drive_requests.h"
#include "device/nvme_transport.h"
#include "discovery/nvme_identity.h"
#include "platform/scoped_handle.h"
#include "protocol/ata_commands.h"
#include "protocol/nvme_command.h"
#include "smart/ata_log_path.h"
#include "smart/drive_logs.h"
#include "smart/nvme_health.h"

namespace palvoro {
namespace {

constexpr uint8_t kTemperatureAttribute = 194;
constexpr uint8_t kAirflowTemperatureAttribute = 190;
// The statistics page and offset of the current temperature.
constexpr uint8_t kTemperatureStatisticsPage = 5;
constexpr uint16_t kCurrentTemperatureOffset = 0x08;
// A reading outside this is a drive's placeholder, not a temperature: 0 is what drives
// without a sensor report, and no drive still answers beyond 127 °C.
constexpr int kLowestReading = 1;
constexpr int kHighestReading = 127;

std::optional<int> plausible(std::optional<int> celsius) {
  if (!celsius || *celsius < kLowestReading || *celsius > kHighestReading) return std::nullopt;
  return celsius;
}

std::optional<int> realLimit(std::optional<int> celsius) {
  if (!celsius || *celsius <= 0) return std::nullopt;
  return celsius;
}

std::optional<int> celsiusOfKelvin(uint16_t kelvin) {
  if (kelvin == 0) return std::nullopt;
  return NvmeHealth::celsius(kelvin);
}

}  // namespace

TemperatureLimits temperatureLimits(std::optional<int> warningCelsius, std::optional<int> criticalCelsius,
                                    const TemperatureLimits& defaults) {
  const std::optional<int> warning = realLimit(warningCelsius);
  const std::optional<int> critical = realLimit(criticalCelsius);
  if (!warning && !critical) return defaults;
  TemperatureLimits limits;
  limits.fromDrive = true;
  limits.criticalCelsius = critical ? *critical : *warning + kTemperatureHysteresisCelsius;
  limits.warningCelsius = warning ? *warning : *critical - kTemperatureHysteresisCelsius;
  // A drive whose warning is not below its critical limit would never resume.
  if (limits.warningCelsius >= limits.criticalCelsius) {
    limits.warningCelsius = limits.criticalCelsius - kTemperatureHysteresisCelsius;
  }
  return limits;
}

TemperatureLimits ataTemperatureLimits(const std::optional<SctTemperatureHistory>& history) {
  if (!history) return kAtaDefaultLimits;
  return temperatureLimits(history->maxOperating, history->overLimit, kAtaDefaultLimits);
}

TemperatureLimits nvmeTemperatureLimits(uint16_t warningKelvin, uint16_t criticalKelvin) {
  return temperatureLimits(celsiusOfKelvin(warningKelvin), celsiusOfKelvin(criticalKelvin), kNvmeDefaultLimits);
}

std::optional<int> attributeCelsius(SmartPage page) {
  std::optional<int> airflow;
  for (int i = 0; i < kSmartEntryCount; ++i) {
    const SmartAttribute attribute = smartAttribute(page, i);
    // The bytes above the lowest hold the drive's own minimum and maximum, or nothing.
    const int low = static_cast<int>(attribute.raw & 0xFF);
    if (attribute.id == kTemperatureAttribute) {
      if (const std::optional<int> celsius = plausible(low)) return celsius;
    }
    if (attribute.id == kAirflowTemperatureAttribute) airflow = plausible(low);
  }
  return airflow;
}

std::optional<int> statisticsCelsius(const std::vector<DeviceStatistic>& statistics) {
  for (const DeviceStatistic& s : statistics) {
    if (s.page == kTemperatureStatisticsPage && s.offset == kCurrentTemperatureOffset && s.valid) {
      return plausible(static_cast<int>(s.value));
    }
  }
  return std::nullopt;
}

DriveThermometer::DriveThermometer(Platform& platform, const DriveRecord& drive, bool miniportMode,
                                   uint8_t raidMemberSelect)
    : m_platform(platform), m_drive(drive), m_miniportMode(miniportMode), m_raidMemberSelect(raidMemberSelect) {}

std::optional<int> DriveThermometer::read() {
  if (m_source == Source::None) return std::nullopt;
  std::optional<int> celsius;
  if (m_drive.driveClass == kDriveClassNvme) {
    celsius = readNvme();
  } else if (driveLogsReachable(m_drive)) {
    celsius = readAta();
  }
  // A drive that reported nothing at first has nothing to report: a run does not ask it
  // every half minute for the rest of its hours.
  if (m_source == Source::Unknown) m_source = Source::None;
  return celsius;
}

std::optional<int> DriveThermometer::readNvme() {
  ScopedHandle handle(m_platform, openNvmeDrive(m_platform, m_drive.physicalDriveNumber));
  if (!handle.valid()) return std::nullopt;
  const std::optional<NvmeHealth> health = readNvmeHealth(m_platform, handle.get());
  const std::optional<int> celsius = health ? plausible(celsiusOfKelvin(health->temperatureKelvin)) : std::nullopt;
  if (!celsius || m_source != Source::Unknown) return celsius;
  m_source = Source::NvmeHealth;
  std::vector<uint8_t> identify(kNvmeIdentifyBytes, 0);
  if (nvmeIdentifyController(m_platform, handle.get(), identify.data())) {
    const NvmeControllerIdentity controller = nvmeControllerFields(NvmeIdentifyPage(identify.data(), identify.size()));
    m_limits = nvmeTemperatureLimits(controller.warningTemperatureKelvin, controller.criticalTemperatureKelvin);
  } else {
    m_limits = kNvmeDefaultLimits;
  }
  return celsius;
}

// The sources are tried by how directly they say it: SCT status is the temperature alone,
// the attributes are what nearly every drive has, and the statistics serve the drives that
// keep neither.
std::optional<int> DriveThermometer::readAta() {
  ScopedHandle handle(m_platform, openSmartPath(m_platform, m_drive.physicalDriveNumber, m_miniportMode));
  if (!handle.valid()) return std::nullopt;
  const std::unique_ptr<AtaLogPath> path =
      ataLogPathOf(m_platform, handle.get(), m_drive, m_miniportMode, m_raidMemberSelect);
  const bool any = m_source == Source::Unknown;
  LogPage page{};
  std::optional<int> celsius;
  bool sct = false;
  if ((any || m_source == Source::SctStatus) && path->smartLog(kSctCommandLog, page)) {
    const std::optional<SctStatus> status = decodeSctStatus(page);
    sct = status.has_value();
    if (status) celsius = plausible(status->currentCelsius);
    if (celsius && any) m_source = Source::SctStatus;
  }
  if (!celsius && (any || m_source == Source::Attributes) && path->smartData(page)) {
    celsius = attributeCelsius(SmartPage(page.data(), page.size()));
    if (celsius && any) m_source = Source::Attributes;
  }
  if (!celsius && (any || m_source == Source::Statistics) &&
      path->extLog(kDeviceStatisticsLogAddress, kTemperatureStatisticsPage, page)) {
    celsius = statisticsCelsius(decodeDeviceStatisticsPage(page));
    if (celsius && any) m_source = Source::Statistics;
  }
  if (!celsius || !any) return celsius;
  // The limits are read once: the history table is asked for with an SCT command and
  // handed over in the data log.
  std::optional<SctTemperatureHistory> history;
  if (sct && path->sctCommand(sctTemperatureHistoryRequest()) && path->smartLog(kSctDataLogAddress, page)) {
    history = decodeSctTemperatureHistory(page);
  }
  m_limits = ataTemperatureLimits(history);
  return celsius;
}

}  // namespace palvoro
