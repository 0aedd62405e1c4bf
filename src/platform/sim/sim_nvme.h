#pragma once
// The simulated NVMe controller as the system's NVMe driver presents it: Identify and Get
// Log Page answer protocol-specific property queries (the controller's pages on the
// adapter property, the namespace's on the device property), Device Self-test arrives as
// a protocol command and runs over the machine's clock. Records are decoded here with
// offsets of our own; nothing of the command layer is used.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/sim/sim_machine.h"

namespace palvoro::sim {

// The storage property ids of the protocol-specific queries.
inline constexpr uint32_t kAdapterProtocolProperty = 49;  // the controller
inline constexpr uint32_t kDeviceProtocolProperty = 50;   // the namespace

// How an NVMe request ends: ERROR_SUCCESS, or the error the call fails with; and the
// bytes it hands back.
struct NvmeOutcome {
  uint32_t error = 0;
  uint32_t bytesReturned = 0;
};

// IOCTL_STORAGE_QUERY_PROPERTY with PropertyId 49 or 50 on an NVMe drive. `in` is the
// request; the reply overlays it in `out`.
NvmeOutcome nvmeQueryProperty(SimDrive& drive, const std::vector<uint8_t>& in, uint8_t* out, uint32_t outSize,
                              uint64_t nowMs);

// IOCTL_STORAGE_PROTOCOL_COMMAND on a handle opened with `access`. `injectedStatus`, when
// set, is the NVMe status ((type << 8) | code) the controller completes the command with
// instead of running it.
NvmeOutcome nvmeProtocolCommand(SimDrive& drive, uint32_t access, const std::vector<uint8_t>& in, uint8_t* out,
                                uint32_t outSize, uint64_t nowMs, std::optional<uint16_t> injectedStatus);

// The controller's pages as the description makes them (raw overrides included).
std::vector<uint8_t> makeNvmeIdentifyController(const SimNvme& nvme, const SimMedia& disk);  // 4096 bytes
std::vector<uint8_t> makeNvmeIdentifyNamespace(const SimNvme& nvme, const SimMedia& disk);   // 4096 bytes
std::vector<uint8_t> makeNvmeHealthLog(const SimNvme& nvme, uint64_t nowMs);                 // 512 bytes
std::vector<uint8_t> makeNvmeSelfTestLog(const SimNvme& nvme, uint64_t nowMs);               // 564 bytes
std::vector<uint8_t> makeNvmeErrorLog(const SimNvme& nvme);  // 64 entries of 64 bytes, newest first

// Brings a running self-test up to `nowMs`: when its time is up its entry heads the log.
void updateNvmeSelfTest(SimNvme& nvme, uint64_t nowMs);
// Brings a running sanitize up to `nowMs`: when its time is up it completes, erasing
// `media` (when given) as its action says, or fails, leaving the media as it was.
void updateNvmeSanitize(SimNvme& nvme, SimMedia* media, uint64_t nowMs);
// The Sanitize Status log (81h, 512 bytes).
std::vector<uint8_t> makeNvmeSanitizeLog(const SimNvme& nvme, uint64_t nowMs);

}  // namespace palvoro::sim
