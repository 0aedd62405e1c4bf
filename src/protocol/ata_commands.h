#pragma once
// The ATA commands the program sends and the values that travel with SMART (T13 ACS):
// command opcodes, the SMART sub-commands the features register names, the 4Fh/C2h key
// every SMART command carries in LBA mid/high and the answer SMART RETURN STATUS gives in
// its place when a threshold is exceeded. The simulator names these in its own code.

#include <cstddef>
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

// The drive's own erase and its hidden areas: the Security and Sanitize feature sets, the
// Host Protected Area and the Device Configuration Overlay (T13 ACS).
enum AtaPurgeCommandCode : uint8_t {
  kAtaReadNativeMaxExt = 0x27,
  kAtaSetMaxExt = 0x37,
  kAtaDeviceConfiguration = 0xB1,
  kAtaSecuritySetPassword = 0xF1,
  kAtaSecurityUnlock = 0xF2,
  kAtaSecurityErasePrepare = 0xF3,
  kAtaSecurityEraseUnit = 0xF4,
  kAtaSecurityDisablePassword = 0xF6,
  kAtaReadNativeMax = 0xF8,
  kAtaSetMax = 0xF9,
};

// SANITIZE DEVICE functions, in features 15:0, and the key each erase carries in LBA.
enum SanitizeFunction : uint16_t {
  kSanitizeStatus = 0x0000,
  kSanitizeCryptoScramble = 0x0011,
  kSanitizeBlockErase = 0x0012,
  kSanitizeOverwrite = 0x0014,
};
inline constexpr uint32_t kSanitizeCryptoKey = 0x43727970;     // "Cryp", LBA 31:0
inline constexpr uint32_t kSanitizeBlockKey = 0x426B4572;      // "BkEr", LBA 31:0
inline constexpr uint16_t kSanitizeOverwriteKey = 0x4F57;      // "OW", LBA 47:32
// SANITIZE STATUS EXT's answer in count 15:0.
inline constexpr uint16_t kSanitizeCompletedOk = 0x8000;       // the last one ended without error
inline constexpr uint16_t kSanitizeInProgress = 0x4000;

// DEVICE CONFIGURATION IDENTIFY, in features.
inline constexpr uint8_t kDcoIdentify = 0xC2;

// SECURITY commands' 512-byte data: the control word, and the password from byte 2.
inline constexpr uint16_t kSecurityMasterPassword = 0x0001;   // control bit 0: the master, not the user password
inline constexpr uint16_t kSecurityEnhancedErase = 0x0002;    // ERASE UNIT control bit 1
inline constexpr uint16_t kSecurityMaximumLevel = 0x0100;     // SET PASSWORD control bit 8
inline constexpr size_t kSecurityPasswordAt = 2;
inline constexpr size_t kSecurityPasswordBytes = 32;

// IDENTIFY DEVICE words and bits the erase reads.
inline constexpr int kIdSanitizeWord = 59;       // bit 12 supported, 13 crypto, 14 overwrite, 15 block
inline constexpr uint16_t kIdSanitizeSupported = 0x1000;
inline constexpr uint16_t kIdSanitizeCrypto = 0x2000;
inline constexpr uint16_t kIdSanitizeOverwrite = 0x4000;
inline constexpr uint16_t kIdSanitizeBlock = 0x8000;
inline constexpr int kIdCommandSet1 = 82;        // bit 1 Security, bit 10 HPA
inline constexpr int kIdCommandSet2 = 83;        // bit 10 48-bit addresses, bit 11 DCO
inline constexpr int kIdCommandSet1Enabled = 85;
inline constexpr uint16_t kIdSecurityFeature = 0x0002;
inline constexpr uint16_t kIdHpaFeature = 0x0400;
inline constexpr uint16_t kIdLba48 = 0x0400;
inline constexpr uint16_t kIdDcoFeature = 0x0800;
inline constexpr int kIdEraseTime = 89;          // minutes / 2; bit 15 marks bits 14:0 valid, else 7:0
inline constexpr int kIdEnhancedEraseTime = 90;
inline constexpr uint16_t kIdEraseTimeExtended = 0x8000;
inline constexpr int kIdSecurityStatus = 128;
inline constexpr uint16_t kIdSecuritySupported = 0x0001;
inline constexpr uint16_t kIdSecurityEnabled = 0x0002;
inline constexpr uint16_t kIdSecurityLocked = 0x0004;
inline constexpr uint16_t kIdSecurityFrozen = 0x0008;
inline constexpr uint16_t kIdSecurityExpired = 0x0010;
inline constexpr uint16_t kIdSecurityEnhanced = 0x0020;
inline constexpr uint16_t kIdSecurityMaximum = 0x0100;
inline constexpr int kIdSectors28 = 60;          // words 60-61
inline constexpr int kIdSectors48 = 100;         // words 100-103
inline constexpr int kIdWorldWideName = 108;     // words 108-111, the world wide name

}  // namespace palvoro
