#include "device/nvme_transport.h"

#include <cstring>
#include <vector>

#include "device/drive_requests.h"
#include "platform/ioctl_codes.h"
#include "platform/records.h"
#include "protocol/nvme_command.h"

namespace palvoro {
namespace {

// The query and its reply share one buffer: the query's parameters (8 bytes), the
// protocol-specific data (40) and the data area behind it.
constexpr uint32_t kQueryDataOffset = sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
constexpr uint32_t kQueryHeaderBytes = kPropertyQueryParametersOffset + kQueryDataOffset;
static_assert(kQueryHeaderBytes == sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR));

// A self-test is acknowledged at once; the driver's own limit is enough.
constexpr uint32_t kSelfTestTimeoutSeconds = 30;

[[nodiscard]] bool protocolQuery(Platform& platform, Handle handle, uint32_t propertyId, uint32_t dataType,
                                 uint32_t value, uint32_t subValue, uint32_t subValue4, uint32_t length, uint8_t* out) {
  std::vector<uint8_t> buffer(kQueryHeaderBytes + length, 0);
  const uint32_t query[2] = {propertyId, PropertyStandardQuery};
  std::memcpy(buffer.data(), query, sizeof query);
  STORAGE_PROTOCOL_SPECIFIC_DATA data{};
  data.ProtocolType = ProtocolTypeNvme;
  data.DataType = dataType;
  data.ProtocolDataRequestValue = value;
  data.ProtocolDataRequestSubValue = subValue;
  data.ProtocolDataOffset = kQueryDataOffset;
  data.ProtocolDataLength = length;
  data.ProtocolDataRequestSubValue4 = subValue4;
  std::memcpy(buffer.data() + kPropertyQueryParametersOffset, &data, sizeof data);

  uint32_t returned = 0;
  const auto size = static_cast<uint32_t>(buffer.size());
  if (!platform.deviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, buffer.data(), size, buffer.data(), size,
                                &returned)) {
    return false;
  }
  // The reply must say where its data is, and it must lie wholly inside what came back:
  // a page cut short would be read as zeros, and zeros read as a healthy drive.
  STORAGE_PROTOCOL_DATA_DESCRIPTOR reply{};
  if (returned < sizeof reply) return false;
  std::memcpy(&reply, buffer.data(), sizeof reply);
  const STORAGE_PROTOCOL_SPECIFIC_DATA& got = reply.ProtocolSpecificData;
  const uint64_t start = uint64_t{kPropertyQueryParametersOffset} + got.ProtocolDataOffset;
  if (got.ProtocolDataOffset < kQueryDataOffset || got.ProtocolDataLength < length ||
      start + length > returned) {
    return false;
  }
  std::memcpy(out, buffer.data() + start, length);
  return true;
}

}  // namespace

Handle openNvmeDrive(Platform& platform, int physicalDriveNumber) {
  // The SMART path of a user with rights is this very open; an NVMe drive has no
  // miniport path, so the rights do not change it.
  return openSmartPath(platform, physicalDriveNumber, false);
}

bool NvmeCommandResult::succeeded() const { return delivered && status == STORAGE_PROTOCOL_STATUS_SUCCESS; }

bool nvmeIdentifyController(Platform& platform, Handle handle, uint8_t* out) {
  return protocolQuery(platform, handle, StorageAdapterProtocolSpecificProperty, NVMeDataTypeIdentify,
                       kNvmeIdentifyCnsController, 0, 0, kNvmeIdentifyBytes, out);
}

bool nvmeIdentifyNamespace(Platform& platform, Handle handle, uint8_t* out) {
  // On the device property the driver addresses the namespace the disk is; 0 names no
  // other one.
  return protocolQuery(platform, handle, StorageDeviceProtocolSpecificProperty, NVMeDataTypeIdentify,
                       kNvmeIdentifyCnsNamespace, 0, 0, kNvmeIdentifyBytes, out);
}

bool nvmeIdentifyNamespaceNamed(Platform& platform, Handle handle, uint32_t nsid, uint8_t* out) {
  return protocolQuery(platform, handle, StorageDeviceProtocolSpecificProperty, NVMeDataTypeIdentify,
                       kNvmeIdentifyCnsNamespace, nsid, 0, kNvmeIdentifyBytes, out);
}

bool nvmeGetLogPage(Platform& platform, Handle handle, uint8_t logId, uint32_t length, uint8_t* out) {
  if (length < 512) return false;
  // Every log is read with its asynchronous events retained: a read that cleared them would
  // take from a monitoring daemon the warning it waits for (health, self-test done, errors).
  return protocolQuery(platform, handle, StorageAdapterProtocolSpecificProperty, NVMeDataTypeLogPage, logId, 0,
                       kLogPageRetainAsyncEvent, length, out);
}

NvmeCommandResult nvmeDeviceSelfTest(Platform& platform, Handle handle, uint32_t code) {
  NVME_COMMAND command{};
  command.Opcode = kNvmeAdminDeviceSelfTest;
  command.Nsid = kNvmeNamespaceAll;
  command.Cdw10 = code & 0xF;
  return nvmeAdminCommand(platform, handle, command, kSelfTestTimeoutSeconds);
}

NvmeCommandResult nvmeAdminCommand(Platform& platform, Handle handle, const NVME_COMMAND& command,
                                   uint32_t timeoutSeconds) {
  constexpr uint32_t kErrorInfoOffset = kProtocolCommandHeaderBytes + STORAGE_PROTOCOL_COMMAND_LENGTH_NVME;
  constexpr uint32_t kBytes = kErrorInfoOffset + kNvmeErrorInfoLength;
  uint8_t buffer[kBytes] = {};
  STORAGE_PROTOCOL_COMMAND request{};
  request.Version = STORAGE_PROTOCOL_STRUCTURE_VERSION;
  request.Length = sizeof(STORAGE_PROTOCOL_COMMAND);
  request.ProtocolType = ProtocolTypeNvme;
  request.Flags = STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST;
  request.CommandLength = STORAGE_PROTOCOL_COMMAND_LENGTH_NVME;
  request.ErrorInfoLength = kNvmeErrorInfoLength;
  request.ErrorInfoOffset = kErrorInfoOffset;
  request.TimeOutValue = timeoutSeconds;
  request.CommandSpecific = STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND;
  std::memcpy(buffer, &request, kProtocolCommandHeaderBytes);
  std::memcpy(buffer + kProtocolCommandHeaderBytes, &command, sizeof command);

  NvmeCommandResult result;
  uint32_t returned = 0;
  if (!platform.deviceIoControl(handle, IOCTL_STORAGE_PROTOCOL_COMMAND, buffer, kBytes, buffer, kBytes, &returned) ||
      returned < kProtocolCommandHeaderBytes) {
    result.lastError = platform.lastError();
    return result;
  }
  std::memcpy(&request, buffer, kProtocolCommandHeaderBytes);
  result.delivered = true;
  result.status = request.ReturnStatus;
  result.nvmeStatus = request.ErrorCode;
  return result;
}

}  // namespace palvoro
