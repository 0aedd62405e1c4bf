#pragma once
// NVMe admin commands through the kernel. The storage stack's requests for an NVMe drive
// (Identify and Get Log Page as protocol-specific property queries, Device Self-test,
// Format NVM and Sanitize as protocol commands) become NVME_IOCTL_ADMIN_CMD on the namespace's own block node, which
// the kernel hands to the namespace's controller. Each request is checked as the NVMe
// driver checks it before anything reaches the kernel.

#include <cstdint>
#include <string>

#include "platform/linux/sys_calls.h"
#include "protocol/nvme_command.h"

namespace palvoro::real {

// One admin command as struct nvme_admin_cmd carries it: the submission entry's opcode,
// NSID and CDW10-15, the data length and the timeout. Data only ever flows from the
// controller: no command this backend sends writes anything to it.
struct NvmeAdminCommand {
  NVME_COMMAND entry{};
  uint32_t dataLength = 0;
  uint32_t timeoutMs = 0;
  uint32_t timeoutSeconds = 0;  // a protocol command's own TimeOutValue, before any cap
};

struct NvmeAdminOutcome {
  int result = 0;       // the ioctl's return: -errno, 0, or the command's NVMe status field
  uint32_t dword0 = 0;  // completion dword 0
};

// Sends `command` on `fd`; `data` takes dataLength bytes from the controller.
NvmeAdminOutcome nvmeAdminCommand(SysCalls& sys, int fd, const NvmeAdminCommand& command, uint8_t* data);

// The namespace the node `fd` is: the `nsid` attribute under `sysBlockPath`
// (root + /sys/block/<name>), else NVME_IOCTL_ID; 0 when neither tells.
uint32_t nvmeNamespaceOf(SysCalls& sys, const std::string& sysBlockPath, int fd);

// A protocol-specific property query (IOCTL_STORAGE_QUERY_PROPERTY, property 49 for the
// controller, 50 for the namespace) and the admin command it stands for.
struct NvmeQuery {
  NvmeAdminCommand command;
  // Identify Namespace: the command's NSID is the disk's own, which the request may name
  // (or leave 0).
  bool ownNamespace = false;
  uint32_t namedNamespace = 0;
  uint32_t replyLength = 0;  // data bytes handed back
};
// ERROR_SUCCESS with `query` filled, or the error that refuses the request unsent.
uint32_t parseNvmeQuery(const uint8_t* in, uint32_t inSize, uint32_t outSize, NvmeQuery* query);
// The reply into `out`: the descriptor (the request's protocol data echoed, the data at
// offset 40 of it, completion dword 0) and `length` bytes of data. Returns its size.
uint32_t writeNvmeQueryReply(const uint8_t* in, const uint8_t* data, uint32_t length, uint32_t dword0, uint8_t* out);

// A protocol command (IOCTL_STORAGE_PROTOCOL_COMMAND) carrying an NVMe admin command.
// ERROR_SUCCESS with `command` filled and `replySize` the bytes the reply covers, or the
// error that refuses the request unsent. Which commands may go is the write guard's
// (judgeNvmeAdminCommand), not this function's.
uint32_t parseNvmeProtocolCommand(const uint8_t* in, uint32_t inSize, uint32_t outSize, NvmeAdminCommand* command,
                                  uint32_t* replySize);
// The reply into `out`, `size` bytes: the request's header and command echoed with how it
// ended, the rest zero.
void writeNvmeProtocolReply(const uint8_t* in, uint32_t size, uint32_t returnStatus, uint32_t errorCode,
                            uint32_t dword0, uint8_t* out);

}  // namespace palvoro::real
