#include "discovery/nvme_identity.h"

#include <cstring>

#include "protocol/byte_order.h"

namespace palvoro {
namespace {

// Identify Controller.
constexpr size_t kVidOffset = 0;
constexpr size_t kSerialOffset = 4, kSerialBytes = 20;
constexpr size_t kModelOffset = 24, kModelBytes = 40;
constexpr size_t kFirmwareOffset = 64, kFirmwareBytes = 8;
constexpr size_t kOacsOffset = 256;
constexpr size_t kWctempOffset = 266;
constexpr size_t kCctempOffset = 268;
constexpr size_t kEdsttOffset = 316;
constexpr size_t kNnOffset = 516;
// Identify Namespace.
constexpr size_t kNszeOffset = 0;
constexpr size_t kNlbafOffset = 25;
constexpr size_t kFlbasOffset = 26;
constexpr size_t kLbafOffset = 128, kLbafBytes = 4;
constexpr int kLbafCount = 64;  // formats 16..63 follow the first 16 since NVMe 2.0

template <size_t N>
void copyPadded(char (&field)[N], NvmeIdentifyPage page, size_t offset, size_t length) {
  size_t n = 0;
  while (n < length && n + 1 < N && page[offset + n] != 0) {
    field[n] = static_cast<char>(page[offset + n]);
    ++n;
  }
  // The fields are padded with spaces at the end; leading spaces are the drive's own.
  while (n > 0 && field[n - 1] == ' ') --n;
  field[n] = '\0';
  keepPrintable(field, N);
}

}  // namespace

NvmeControllerIdentity nvmeControllerFields(NvmeIdentifyPage page) {
  NvmeControllerIdentity id;
  id.vendorId = loadLe16(page.data() + kVidOffset);
  id.optionalAdminCommands = loadLe16(page.data() + kOacsOffset);
  id.extendedSelfTestMinutes = loadLe16(page.data() + kEdsttOffset);
  id.warningTemperatureKelvin = loadLe16(page.data() + kWctempOffset);
  id.criticalTemperatureKelvin = loadLe16(page.data() + kCctempOffset);
  id.namespaceCount = loadLe32(page.data() + kNnOffset);
  return id;
}

NvmeControllerIdentity nvmeControllerIdentity(NvmeIdentifyPage page, DriveRecord& record) {
  copyPadded(record.model, page, kModelOffset, kModelBytes);
  copyPadded(record.serialNumber, page, kSerialOffset, kSerialBytes);
  copyPadded(record.firmwareRevision, page, kFirmwareOffset, kFirmwareBytes);
  return nvmeControllerFields(page);
}

NvmeNamespaceFormat nvmeNamespaceFormat(NvmeIdentifyPage page) {
  NvmeNamespaceFormat format;
  format.sectors = loadLe64(page.data() + kNszeOffset);
  // FLBAS bits 3:0 name the format, bits 6:5 its upper two bits; NLBAF is zero-based.
  const uint8_t flbas = page[kFlbasOffset];
  const int index = (flbas & 0x0F) | ((flbas & 0x60) >> 1);
  if (index > page[kNlbafOffset] || index >= kLbafCount) return format;
  const uint8_t lbads = page[kLbafOffset + kLbafBytes * static_cast<size_t>(index) + 2];
  if (lbads >= 9 && lbads <= 16) format.sectorSize = 1u << lbads;
  return format;
}

}  // namespace palvoro
