#pragma once
// Identity of an NVMe drive from its Identify pages (the Identify Controller and Identify
// Namespace data structures of the NVM Express command set): model, serial number and
// firmware from the controller, the namespace's size and logical block size from its
// formatted LBA format, and what the controller offers for the quick test.

#include <cstdint>
#include <span>

#include "discovery/drive_record.h"

namespace palvoro {

using NvmeIdentifyPage = std::span<const uint8_t, 4096>;

// Optional Admin Command Support (OACS) bit 4: the controller takes Device Self-test.
inline constexpr uint16_t kNvmeOacsSelfTest = 0x0010;

struct NvmeControllerIdentity {
  uint16_t vendorId = 0;
  uint16_t optionalAdminCommands = 0;  // OACS
  uint16_t extendedSelfTestMinutes = 0;  // EDSTT
  uint32_t namespaceCount = 0;           // NN
  // The composite temperatures at which the controller warns (WCTEMP) and at which it is
  // in danger (CCTEMP), in kelvin; 0 where the controller names none.
  uint16_t warningTemperatureKelvin = 0;
  uint16_t criticalTemperatureKelvin = 0;
  bool selfTest() const { return (optionalAdminCommands & kNvmeOacsSelfTest) != 0; }
};

struct NvmeNamespaceFormat {
  uint64_t sectors = 0;      // NSZE, in logical blocks
  uint32_t sectorSize = 0;   // 2^LBADS of the formatted LBA format; 0 when it names none
};

// The controller's fields, and its model (40 bytes), serial (20) and firmware (8) copied
// into the record's texts with the padding spaces after them removed. A text's bytes are
// kept as they are (an embedded zero ends it), within the record's field widths.
NvmeControllerIdentity nvmeControllerIdentity(NvmeIdentifyPage page, DriveRecord& record);
NvmeControllerIdentity nvmeControllerFields(NvmeIdentifyPage page);
// The namespace's size and block size. A block size outside what transfers can be built on
// (below 512, above 64 KiB) is reported as 0, so the drive is taken as untestable rather
// than read with a wrong length.
NvmeNamespaceFormat nvmeNamespaceFormat(NvmeIdentifyPage page);

}  // namespace palvoro
