#pragma once
// The ATA commands the program sends and the values that travel with SMART (T13 ACS):
// command opcodes, the SMART sub-commands the features register names, the 4Fh/C2h key
// every SMART command carries in LBA mid/high and the answer SMART RETURN STATUS gives in
// its place when a threshold is exceeded. The simulator names these in its own code.

#include <cstdint>

namespace palvoro {

// Command register values.
enum AtaCommandCode : uint8_t { kAtaReadLogExt = 0x2F, kAtaSmart = 0xB0, kAtaSanitize = 0xB4, kAtaIdentifyDevice = 0xEC };

// SMART sub-commands, in the features register.
enum SmartFeature : uint8_t {
  kSmartReadData = 0xD0,
  kSmartReadThresholds = 0xD1,
  kSmartExecuteOffline = 0xD4,
  kSmartReadLog = 0xD5,
  kSmartWriteLog = 0xD6,
  kSmartEnableOperations = 0xD8,
  kSmartReturnStatus = 0xDA,
};

// SMART EXECUTE OFF-LINE IMMEDIATE: the self-tests, in LBA low.
enum SelfTestSubcommand : uint8_t {
  kSelfTestShort = 1,
  kSelfTestConveyance = 3,
  kSelfTestAbort = 0x7F,
};

// Which self-tests the drive offers: the off-line data collection capability, byte 367 of
// the SMART data page.
inline constexpr uint8_t kCapabilitySelfTest = 0x10;
inline constexpr uint8_t kCapabilityConveyance = 0x20;
inline constexpr uint8_t kCapabilityAnySelfTest = 0x70;

// LBA mid/high of every SMART command, and of SMART RETURN STATUS's answer.
inline constexpr uint8_t kSmartKeyMid = 0x4F;
inline constexpr uint8_t kSmartKeyHigh = 0xC2;
inline constexpr uint8_t kSmartExceededMid = 0xF4;
inline constexpr uint8_t kSmartExceededHigh = 0x2C;

// The SCT command log: SCT status when read, an SCT command when written.
inline constexpr uint8_t kSctCommandLog = 0xE0;

// The device register's obsolete bits 7 and 5, set as drives expect; OR the unit.
inline constexpr uint8_t kAtaDeviceBase = 0xA0;

}  // namespace palvoro
