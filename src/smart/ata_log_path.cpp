#include "smart/ata_log_path.h"

#include <cstring>

#include "device/ata_command.h"
#include "device/scsi_transport.h"
#include "device/smart_transport.h"
#include "smart/smart_pages.h"

namespace palvoro {
namespace {

// The SMART driver, with ATA pass-through where the driver has no request of its own.
class DriverPath final : public AtaLogPath {
 public:
  DriverPath(Platform& platform, Handle handle, bool miniportMode, int driveNumber, uint8_t unit)
      : m_platform(platform), m_handle(handle), m_miniport(miniportMode), m_driveNumber(driveNumber), m_unit(unit) {}
  bool smartLog(uint8_t address, LogPage& page) override {
    uint8_t buffer[kSmartBufferSize];
    if (!smartReadLog(m_platform, m_handle, m_miniport, m_unit, address, buffer)) return false;
    std::memcpy(page.data(), buffer + kDriverPageOffset, page.size());
    return true;
  }
  bool extLog(uint8_t address, uint16_t pageNumber, LogPage& page) override {
    if (m_miniport) return false;
    uint8_t buffer[kSectorBytes];
    if (!ataReadLogExt(m_platform, m_handle, address, pageNumber, buffer)) return false;
    std::memcpy(page.data(), buffer, page.size());
    return true;
  }
  bool sctCommand(const LogPage& command) override {
    if (m_miniport) return false;
    uint8_t buffer[kSectorBytes];
    std::memcpy(buffer, command.data(), sizeof buffer);
    return ataSctCommand(m_platform, m_handle, buffer);
  }
  bool smartData(LogPage& page) override {
    uint8_t buffer[kSmartBufferSize];
    if (!smartReadData(m_platform, m_handle, m_miniport, m_driveNumber, m_unit, buffer)) return false;
    std::memcpy(page.data(), buffer + kDriverPageOffset, page.size());
    return true;
  }

 private:
  Platform& m_platform;
  Handle m_handle;
  bool m_miniport;
  int m_driveNumber;
  uint8_t m_unit;
};

// A bridge's carrier; the device byte picks the enclosure member.
class CarrierPath final : public AtaLogPath {
 public:
  CarrierPath(Platform& platform, Handle handle, AtaCarrier carrier, uint8_t device)
      : m_platform(platform), m_handle(handle), m_carrier(carrier), m_device(device) {}
  bool smartLog(uint8_t address, LogPage& page) override {
    uint8_t buffer[512];
    if (carrierSmartReadLog(m_platform, m_handle, m_carrier, m_device, address, buffer) == 0) return false;
    std::memcpy(page.data(), buffer, page.size());
    return true;
  }
  bool extLog(uint8_t address, uint16_t pageNumber, LogPage& page) override {
    uint8_t buffer[512];
    if (carrierReadLogExt(m_platform, m_handle, m_carrier, m_device, address, pageNumber, buffer) == 0) return false;
    std::memcpy(page.data(), buffer, page.size());
    return true;
  }
  bool sctCommand(const LogPage& command) override {
    uint8_t buffer[512];
    std::memcpy(buffer, command.data(), sizeof buffer);
    return carrierSctCommand(m_platform, m_handle, m_carrier, m_device, buffer) != 0;
  }
  bool smartData(LogPage& page) override {
    uint8_t buffer[512];
    if (carrierSmartRead(m_platform, m_handle, m_carrier, kSmartReadData, m_device, buffer) == 0) return false;
    std::memcpy(page.data(), buffer, page.size());
    return true;
  }

 private:
  Platform& m_platform;
  Handle m_handle;
  AtaCarrier m_carrier;
  uint8_t m_device;
};

}  // namespace

bool usesAtaCarrier(const DriveRecord& drive) {
  return (drive.busType == kBusUsb || drive.busType == kBusFireWire) && carrierOf(drive.ataTunnel) != kCarrierNone;
}

std::unique_ptr<AtaLogPath> ataLogPathOf(Platform& platform, Handle handle, const DriveRecord& drive,
                                         bool miniportMode, uint8_t raidMemberSelect) {
  if (usesAtaCarrier(drive)) {
    return std::make_unique<CarrierPath>(platform, handle, carrierOf(drive.ataTunnel), raidMemberSelect);
  }
  return std::make_unique<DriverPath>(platform, handle, miniportMode, drive.physicalDriveNumber,
                                      static_cast<uint8_t>(drive.primaryUnit));
}

}  // namespace palvoro
