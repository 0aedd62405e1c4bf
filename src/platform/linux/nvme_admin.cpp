#include "platform/linux/nvme_admin.h"

#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/linux/block_devices.h"
#include "platform/linux/sg_io.h"
#include "platform/records.h"
#include "platform/win_types.h"
#include "protocol/nvme_command.h"

namespace palvoro::real {
namespace {

constexpr uint32_t kQueryHeaderBytes = sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR);  // 8 + 40
constexpr uint32_t kProtocolDataBytes = sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);   // 40
// The protocol command's header and the 64-byte submission entry behind it.
constexpr uint32_t kCommandEnd = kProtocolCommandHeaderBytes + STORAGE_PROTOCOL_COMMAND_LENGTH_NVME;
// The smallest page the driver hands out, as it asks of every query.
constexpr uint32_t kMinimumDataLength = 512;
// A controller answers a page in milliseconds; one that has not answered in 15 s is hung,
// and the kernel's recovery (an abort, then a reset) had better start then than after its
// default minute.
constexpr uint32_t kQueryTimeoutMs = 15000;

}  // namespace

NvmeAdminOutcome nvmeAdminCommand(SysCalls& sys, int fd, const NvmeAdminCommand& command, uint8_t* data) {
  nvme_admin_cmd cmd{};
  // The entry's other fields (fused operation, data pointers, metadata) are the kernel's
  // to fill: none of them goes from here.
  const NVME_COMMAND& e = command.entry;
  cmd.opcode = e.Opcode;
  cmd.nsid = e.Nsid;
  cmd.addr = command.dataLength == 0 ? 0 : reinterpret_cast<uintptr_t>(data);
  cmd.data_len = command.dataLength;
  cmd.cdw10 = e.Cdw10;
  cmd.cdw11 = e.Cdw11;
  cmd.cdw12 = e.Cdw12;
  cmd.cdw13 = e.Cdw13;
  cmd.cdw14 = e.Cdw14;
  cmd.cdw15 = e.Cdw15;
  cmd.timeout_ms = command.timeoutMs;
  NvmeAdminOutcome outcome;
  outcome.result = sys.ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
  outcome.dword0 = cmd.result;
  return outcome;
}

uint32_t nvmeNamespaceOf(SysCalls& sys, const std::string& sysBlockPath, int fd) {
  if (const auto text = sys.readText(sysBlockPath + "/nsid")) {
    const std::string t = trimmed(*text);
    uint32_t nsid = 0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), nsid);
    if (error == std::errc() && end == t.data() + t.size() && nsid != 0) return nsid;
  }
  // Kernels before the attribute answer the same question on the node.
  const int nsid = sys.ioctl(fd, NVME_IOCTL_ID, nullptr);
  return nsid > 0 ? static_cast<uint32_t>(nsid) : 0;
}

uint32_t parseNvmeQuery(const uint8_t* in, uint32_t inSize, uint32_t outSize, NvmeQuery* query) {
  if (inSize < kQueryHeaderBytes) return ERROR_INVALID_PARAMETER;
  STORAGE_PROPERTY_QUERY head{};
  std::memcpy(&head, in, kPropertyQueryParametersOffset);
  STORAGE_PROTOCOL_SPECIFIC_DATA data{};
  std::memcpy(&data, in + kPropertyQueryParametersOffset, sizeof data);
  if (head.QueryType != PropertyStandardQuery || data.ProtocolType != ProtocolTypeNvme ||
      data.ProtocolDataOffset < kProtocolDataBytes || data.ProtocolDataLength < kMinimumDataLength) {
    return ERROR_INVALID_PARAMETER;
  }
  // The data area the caller describes must lie inside the buffer it gave.
  const uint64_t end = uint64_t{kPropertyQueryParametersOffset} + data.ProtocolDataOffset + data.ProtocolDataLength;
  if (end > outSize) return ERROR_INVALID_PARAMETER;

  const bool controller = head.PropertyId == StorageAdapterProtocolSpecificProperty;
  NvmeQuery q;
  NvmeAdminCommand& c = q.command;
  c.timeoutMs = kQueryTimeoutMs;
  if (data.DataType == NVMeDataTypeIdentify) {
    // Identify Controller on the controller's property, Identify Namespace on the
    // namespace's, for the namespace the disk is and no other.
    if (controller && (data.ProtocolDataRequestValue != kNvmeIdentifyCnsController ||
                       data.ProtocolDataRequestSubValue != 0)) {
      return ERROR_INVALID_PARAMETER;
    }
    if (!controller && data.ProtocolDataRequestValue != kNvmeIdentifyCnsNamespace) return ERROR_INVALID_PARAMETER;
    c.entry.Opcode = kNvmeAdminIdentify;
    c.entry.Cdw10 = data.ProtocolDataRequestValue;
    // The controller always sends the whole 4096 bytes: a shorter buffer would take them
    // all the same.
    c.dataLength = kNvmeIdentifyBytes;
    q.ownNamespace = !controller;
    q.namedNamespace = controller ? 0 : data.ProtocolDataRequestSubValue;
    q.replyLength = std::min(data.ProtocolDataLength, kNvmeIdentifyBytes);
  } else if (data.DataType == NVMeDataTypeLogPage) {
    // The controller's logs (health, self-test) for every namespace. The log-specific
    // identifier and field are left out: some logs start work on the drive when given one.
    const uint64_t offset =
        data.ProtocolDataRequestSubValue | (uint64_t{data.ProtocolDataRequestSubValue2} << 32);
    if (!controller || data.ProtocolDataRequestValue == 0 || data.ProtocolDataRequestValue > 0xFF ||
        data.ProtocolDataLength % 4 != 0 || offset % 4 != 0 || data.ProtocolDataRequestSubValue3 != 0 ||
        (data.ProtocolDataRequestSubValue4 & ~kLogPageRetainAsyncEvent) != 0) {
      return ERROR_INVALID_PARAMETER;
    }
    // Number of dwords, zero-based: the lower half beside the log identifier, the upper
    // half in CDW11; the offset in bytes in CDW12/13. Asynchronous events are retained
    // whether or not the query asked: a read from here never takes from a monitoring
    // daemon the event it waits for.
    const uint32_t dwords = data.ProtocolDataLength / 4 - 1;
    c.entry.Opcode = kNvmeAdminGetLogPage;
    c.entry.Nsid = kNvmeNamespaceAll;
    c.entry.Cdw10 = ((dwords & 0xFFFF) << 16) | kNvmeGetLogPageRae | data.ProtocolDataRequestValue;
    c.entry.Cdw11 = dwords >> 16;
    c.entry.Cdw12 = data.ProtocolDataRequestSubValue;
    c.entry.Cdw13 = data.ProtocolDataRequestSubValue2;
    c.dataLength = data.ProtocolDataLength;
    q.replyLength = data.ProtocolDataLength;
  } else {
    return ERROR_INVALID_PARAMETER;
  }
  *query = q;
  return ERROR_SUCCESS;
}

uint32_t writeNvmeQueryReply(const uint8_t* in, const uint8_t* data, uint32_t length, uint32_t dword0, uint8_t* out) {
  STORAGE_PROTOCOL_DATA_DESCRIPTOR reply{};
  reply.Version = sizeof reply;
  reply.Size = sizeof reply;
  std::memcpy(&reply.ProtocolSpecificData, in + kPropertyQueryParametersOffset, kProtocolDataBytes);
  reply.ProtocolSpecificData.ProtocolDataOffset = kProtocolDataBytes;
  reply.ProtocolSpecificData.ProtocolDataLength = length;
  reply.ProtocolSpecificData.FixedProtocolReturnData = dword0;
  std::memcpy(out, &reply, sizeof reply);
  if (length > 0) std::memcpy(out + kQueryHeaderBytes, data, length);
  return kQueryHeaderBytes + length;
}

uint32_t parseNvmeProtocolCommand(const uint8_t* in, uint32_t inSize, uint32_t outSize, NvmeAdminCommand* command,
                                  uint32_t* replySize) {
  if (inSize < kCommandEnd) return ERROR_INVALID_PARAMETER;
  if (outSize < kCommandEnd) return ERROR_INSUFFICIENT_BUFFER;
  STORAGE_PROTOCOL_COMMAND r{};
  std::memcpy(&r, in, kProtocolCommandHeaderBytes);
  NVME_COMMAND entry{};
  std::memcpy(&entry, in + kProtocolCommandHeaderBytes, sizeof entry);
  // An admin command for the controller, in this record's one version and layout.
  if (r.Version != STORAGE_PROTOCOL_STRUCTURE_VERSION || r.Length != sizeof(STORAGE_PROTOCOL_COMMAND) ||
      r.ProtocolType != ProtocolTypeNvme || r.Flags != STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST ||
      r.CommandLength != STORAGE_PROTOCOL_COMMAND_LENGTH_NVME ||
      r.CommandSpecific != STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND || r.TimeOutValue == 0) {
    return ERROR_INVALID_PARAMETER;
  }
  // Fused operations and the data pointer's form are the driver's own business.
  if (entry.Flags != 0) return ERROR_INVALID_PARAMETER;
  // No command that may go moves data.
  if (r.DataToDeviceTransferLength != 0 || r.DataFromDeviceTransferLength != 0) return ERROR_INVALID_PARAMETER;
  uint32_t size = kCommandEnd;
  if (r.ErrorInfoLength > 0) {
    const uint64_t end = uint64_t{r.ErrorInfoOffset} + r.ErrorInfoLength;
    if (r.ErrorInfoOffset < kCommandEnd || end > outSize) return ERROR_INVALID_PARAMETER;
    size = static_cast<uint32_t>(end);
  }
  NvmeAdminCommand c;
  c.entry = entry;
  // The minute of an ordinary command; the platform gives a purge its longer time
  // (commandTimeoutMs) once the guard has said it is one.
  c.timeoutMs = commandTimeoutMs(r.TimeOutValue, false);
  c.timeoutSeconds = r.TimeOutValue;
  *command = c;
  *replySize = size;
  return ERROR_SUCCESS;
}

void writeNvmeProtocolReply(const uint8_t* in, uint32_t size, uint32_t returnStatus, uint32_t errorCode,
                            uint32_t dword0, uint8_t* out) {
  // The kernel does not hand back the controller's error information entry: its room
  // stays zero.
  std::memcpy(out, in, kCommandEnd);
  if (size > kCommandEnd) std::memset(out + kCommandEnd, 0, size - kCommandEnd);
  STORAGE_PROTOCOL_COMMAND r{};
  std::memcpy(&r, out, kProtocolCommandHeaderBytes);
  r.ReturnStatus = returnStatus;
  r.ErrorCode = errorCode;
  r.FixedProtocolReturnData = dword0;
  r.FixedProtocolReturnData2 = 0;
  std::memcpy(out, &r, kProtocolCommandHeaderBytes);
}

}  // namespace palvoro::real
