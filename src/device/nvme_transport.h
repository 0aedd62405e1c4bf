#pragma once
// NVMe admin requests through the storage stack, the way the system's NVMe driver takes
// them: Identify and Get Log Page as protocol-specific property queries (the controller's
// pages on the adapter property, the namespace's on the device property), Device
// Self-test as a protocol command. Each call opens nothing: it takes the disk handle.

#include <cstdint>

#include "platform/platform.h"
#include "protocol/nvme_command.h"

namespace palvoro {

// Opens "\\.\PhysicalDriveN" for the requests below (read and write, shared): the
// self-test is a protocol command, which the driver takes only on such a handle.
Handle openNvmeDrive(Platform& platform, int physicalDriveNumber);

// Identify Controller (CNS 01h): 4096 bytes into `out`.
[[nodiscard]] bool nvmeIdentifyController(Platform& platform, Handle handle, uint8_t* out);
// Identify Namespace (CNS 00h) of the disk's own namespace: 4096 bytes into `out`.
[[nodiscard]] bool nvmeIdentifyNamespace(Platform& platform, Handle handle, uint8_t* out);
// The same, naming the namespace as `nsid`: the driver refuses it unless the disk is that
// namespace, which tells the disk's NSID.
[[nodiscard]] bool nvmeIdentifyNamespaceNamed(Platform& platform, Handle handle, uint32_t nsid, uint8_t* out);
// Get Log Page of the controller: `length` bytes (at least 512) of log `logId` into `out`,
// with Retain Asynchronous Event set, so that reading never clears a pending event.
[[nodiscard]] bool nvmeGetLogPage(Platform& platform, Handle handle, uint8_t logId, uint32_t length, uint8_t* out);

// How a Device Self-test request ended.
struct NvmeCommandResult {
  bool delivered = false;  // the request reached the controller and came back
  uint32_t status = 0;     // STORAGE_PROTOCOL_STATUS_*
  uint32_t nvmeStatus = 0; // (status code type << 8) | status code, when it failed
  uint32_t lastError = 0;  // the platform's error, when not delivered
  [[nodiscard]] bool succeeded() const;
};
// Device Self-test (14h) for every namespace with self-test code `code` (short, extended,
// abort).
[[nodiscard]] NvmeCommandResult nvmeDeviceSelfTest(Platform& platform, Handle handle, uint32_t code);
// Any admin command without data (Format NVM, Sanitize) as a protocol command, allowed
// `timeoutSeconds` by the driver. `lastError` of the result holds the platform's error
// when it was not delivered.
[[nodiscard]] NvmeCommandResult nvmeAdminCommand(Platform& platform, Handle handle, const NVME_COMMAND& command,
                                                 uint32_t timeoutSeconds);

}  // namespace palvoro
