#pragma once
// The logs an emulated ATA drive keeps beside its SMART pages, as the 512-byte pages it
// answers SMART READ LOG and READ LOG EXT with: the two log directories, the summary and
// the extended comprehensive error logs, device statistics, the SMART and the extended
// self-test logs, SCT status and the SCT temperature history. Laid out here with offsets of our own, from the ATA
// command set (T13 ACS-3/ACS-4); nothing of the command layer is used.

#include <cstdint>
#include <vector>

#include "platform/sim/sim_machine.h"

namespace palvoro::sim {

// Log addresses the drive knows.
inline constexpr uint8_t kLogDirectory = 0x00;
inline constexpr uint8_t kLogSummaryError = 0x01;
inline constexpr uint8_t kLogExtendedError = 0x03;
inline constexpr uint8_t kLogDeviceStatistics = 0x04;
inline constexpr uint8_t kLogSelfTest = 0x06;
inline constexpr uint8_t kLogExtendedSelfTest = 0x07;
inline constexpr uint8_t kLogIdentifyData = 0x30;
inline constexpr uint8_t kLogSctStatus = 0xE0;
inline constexpr uint8_t kLogSctData = 0xE1;

// The SCT data table the drive has: the temperature history.
inline constexpr uint16_t kSctTemperatureHistory = 2;

// Which command reads a log: each reaches its own set of them.
enum class LogCommand { SmartReadLog, ReadLogExt };

// How many pages the drive keeps of `log` for `command`, 0 when it keeps no such log there.
// `words` is what IDENTIFY reports now, which decides the logs that exist.
uint32_t logPageCount(const SimUnit& unit, const IdentifyWords& words, LogCommand command, uint8_t log);

// Pages `first` .. `first + count - 1` of a log logPageCount covers; empty when the drive has
// nothing to give (the SCT data log before any data table command asked for a table).
std::vector<uint8_t> readLogPages(const SimUnit& unit, const IdentifyWords& words, LogCommand command, uint8_t log,
                                  uint32_t first, uint32_t count, uint64_t nowMs);

// The unit's power-on hours at `nowMs`: the described ones (else attribute 9's raw value)
// moved on by the machine's clock.
uint64_t unitPowerOnHours(const SimUnit& unit, uint64_t nowMs);

// Writes a self-test's descriptor into the logs' rings.
void logSelfTest(SimDriveLogs& logs, const SimSelfTestLogEntry& entry);

}  // namespace palvoro::sim
