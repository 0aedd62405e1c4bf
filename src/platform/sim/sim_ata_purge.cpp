// The emulated drive's own erase and hidden areas: the Security feature set, the Sanitize
// feature set on the drive's clock, the Host Protected Area and the Device Configuration
// Overlay. Decodes the registers itself, as the rest of the emulated drive does.

#include <algorithm>
#include <cstring>

#include "platform/sim/sim_ata.h"
#include "protocol/byte_order.h"

namespace palvoro::sim {
namespace {

constexpr uint8_t kStatusReady = 0x50;
constexpr uint8_t kStatusError = 0x51;
constexpr uint8_t kErrAbort = 0x04;
constexpr uint8_t kErrIdNotFound = 0x10;

constexpr uint8_t kSetPassword = 0xF1, kUnlock = 0xF2, kErasePrepare = 0xF3, kEraseUnit = 0xF4, kFreezeLock = 0xF5,
                  kDisablePassword = 0xF6;
constexpr uint8_t kReadNativeMax = 0xF8, kSetMax = 0xF9, kReadNativeMaxExt = 0x27, kSetMaxExt = 0x37;
constexpr uint8_t kDeviceConfiguration = 0xB1, kDcoIdentify = 0xC2;
constexpr uint8_t kSanitize = 0xB4, kIdentify = 0xEC;
constexpr uint32_t kCryptoKey = 0x43727970, kBlockKey = 0x426B4572;
constexpr uint16_t kOverwriteKey = 0x4F57;
// SANITIZE's error reasons in LBA 7:0.
constexpr uint8_t kReasonUnsuccessful = 1, kReasonUnsupported = 2;

struct Reply {
  AtaResult r;
  explicit Reply(const AtaExchange& x) {
    r.current = x.current;
    r.previous = x.previous;
    r.current.command = kStatusReady;
    r.current.features = 0;
  }
  AtaResult abort(uint8_t error = kErrAbort) {
    r.current.command = kStatusError;
    r.current.features = error;
    r.inData.clear();
    return r;
  }
  AtaResult ok() { return r; }
};

uint64_t lba28(const TaskRegisters& c) {
  return c.lbaLow | (static_cast<uint64_t>(c.lbaMid) << 8) | (static_cast<uint64_t>(c.lbaHigh) << 16) |
         (static_cast<uint64_t>(c.device & 0x0F) << 24);
}
uint64_t lba48(const AtaExchange& x) {
  return x.current.lbaLow | (static_cast<uint64_t>(x.current.lbaMid) << 8) |
         (static_cast<uint64_t>(x.current.lbaHigh) << 16) | (static_cast<uint64_t>(x.previous.lbaLow) << 24) |
         (static_cast<uint64_t>(x.previous.lbaMid) << 32) | (static_cast<uint64_t>(x.previous.lbaHigh) << 40);
}

// The password of a SECURITY command's data, bytes 2..33.
std::string passwordOf(const AtaExchange& x) { return std::string(reinterpret_cast<const char*>(x.outData + 2), 32); }
std::string padded(const std::string& text) {
  std::string p = text.substr(0, 32);
  p.append(32 - p.size(), '\0');
  return p;
}

// Whether the password in `x` opens the drive: the user's, or the master's at high level.
bool passwordMatches(const SimSecurity& s, const AtaExchange& x) {
  const bool master = (loadLe16(x.outData) & 0x0001) != 0;
  const std::string given = passwordOf(x);
  if (master) return !s.masterMaximum && !s.masterPassword.empty() && given == padded(s.masterPassword);
  return s.enabled && given == padded(s.userPassword);
}

AtaResult security(SimAtaDrive& drive, const AtaExchange& x, bool prepared, Reply& reply) {
  if (!drive.security) return reply.abort();
  SimSecurity& s = *drive.security;
  const uint8_t command = x.current.command;
  const bool data = command != kErasePrepare && command != kFreezeLock;
  if (data && (!x.dataOut || x.outLength != 512)) return reply.abort();
  if (command == kFreezeLock) {
    if (s.locked) return reply.abort();
    s.frozen = true;
    return reply.ok();
  }
  if (s.frozen) return reply.abort();
  // A wrong password counts; after five the drive takes no password until power-off.
  const auto wrong = [&] {
    if (s.attemptsLeft > 0) --s.attemptsLeft;
    return reply.abort();
  };
  switch (command) {
    case kSetPassword: {
      if (s.locked) return reply.abort();
      const uint16_t control = loadLe16(x.outData);
      if ((control & 0x0001) != 0) {
        s.masterPassword = passwordOf(x);
      } else {
        s.userPassword = passwordOf(x);
        s.enabled = true;
        s.masterMaximum = (control & 0x0100) != 0;
      }
      return reply.ok();
    }
    case kUnlock:
      if (s.attemptsLeft == 0 || !s.enabled) return reply.abort();
      if (!passwordMatches(s, x)) return wrong();
      s.locked = false;
      return reply.ok();
    case kErasePrepare:
      s.erasePrepared = true;
      return reply.ok();
    case kEraseUnit: {
      const bool enhanced = (loadLe16(x.outData) & 0x0002) != 0;
      if (!prepared || !s.enabled || (enhanced && !s.enhanced) || s.attemptsLeft == 0) return reply.abort();
      if (!passwordMatches(s, x)) return wrong();
      // Every sector the drive has, those behind a Host Protected Area included.
      for (auto& [number, unit] : drive.units) unit.media.fillAll(0u);
      s.enabled = s.locked = false;
      s.userPassword.clear();
      s.masterMaximum = false;
      return reply.ok();
    }
    case kDisablePassword:
      if (s.locked || s.attemptsLeft == 0) return reply.abort();
      if (!passwordMatches(s, x)) return wrong();
      s.enabled = false;
      s.userPassword.clear();
      s.masterMaximum = false;
      return reply.ok();
    default: return reply.abort();
  }
}

void returnLba48(Reply& reply, uint64_t lba) {
  reply.r.current.lbaLow = static_cast<uint8_t>(lba);
  reply.r.current.lbaMid = static_cast<uint8_t>(lba >> 8);
  reply.r.current.lbaHigh = static_cast<uint8_t>(lba >> 16);
  reply.r.previous.lbaLow = static_cast<uint8_t>(lba >> 24);
  reply.r.previous.lbaMid = static_cast<uint8_t>(lba >> 32);
  reply.r.previous.lbaHigh = static_cast<uint8_t>(lba >> 40);
}

// READ NATIVE MAX ADDRESS (EXT) and SET MAX ADDRESS (EXT). SET MAX is taken only right
// after READ NATIVE MAX; count bit 0 set makes it last over power-off.
AtaResult hostProtectedArea(SimAtaDrive& drive, const AtaExchange& x, bool nativeMaxBefore, Reply& reply) {
  if (!drive.nativeSectors) return reply.abort();
  SimMedia& media = drive.units.at(0).media;
  const uint64_t nativeMax = *drive.nativeSectors - 1;
  const uint8_t command = x.current.command;
  if (command == kReadNativeMax || command == kReadNativeMaxExt) {
    drive.nativeMaxRead = true;
    if (command == kReadNativeMaxExt) {
      returnLba48(reply, nativeMax);
    } else {
      const uint64_t max = std::min<uint64_t>(nativeMax, 0x0FFFFFFF);
      reply.r.current.lbaLow = static_cast<uint8_t>(max);
      reply.r.current.lbaMid = static_cast<uint8_t>(max >> 8);
      reply.r.current.lbaHigh = static_cast<uint8_t>(max >> 16);
      reply.r.current.device = static_cast<uint8_t>((x.current.device & 0xF0) | ((max >> 24) & 0x0F));
    }
    return reply.ok();
  }
  // Features other than 0 are the SET MAX security extensions, which this drive lacks.
  if (!nativeMaxBefore || x.current.features != 0 || (drive.security && drive.security->locked)) {
    return reply.abort();
  }
  const uint64_t lba = command == kSetMaxExt ? lba48(x) : lba28(x.current);
  if (lba > nativeMax) return reply.abort(kErrIdNotFound | kErrAbort);
  if ((x.current.count & 0x01) != 0) drive.maxSetPersistent = true;
  media.setHostSectors(lba + 1);
  return reply.ok();
}

AtaResult deviceConfiguration(SimAtaDrive& drive, const AtaExchange& x, Reply& reply) {
  // Only the identify is modelled: RESTORE, FREEZE LOCK and SET are refused.
  if (!drive.dcoSectors || x.current.features != kDcoIdentify || !x.dataIn || x.inCapacity < 512) {
    return reply.abort();
  }
  Page page{};
  storeLe16(page.data(), 0x0002);  // the overlay's revision
  storeLe(page.data() + 6, *drive.dcoSectors - 1, 8);
  page[510] = 0xA5;
  uint8_t sum = 0;
  for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + page[i]);
  page[511] = static_cast<uint8_t>(0x100 - sum);
  reply.r.inData.assign(page.begin(), page.end());
  return reply.ok();
}

AtaResult sanitizeCommand(SimAtaDrive& drive, const AtaExchange& x, Reply& reply) {
  SimSanitize& s = *drive.sanitizeSet;
  const uint16_t function = static_cast<uint16_t>(x.current.features | (x.previous.features << 8));
  const uint64_t lba = lba48(x);
  if (function == 0x0000) {  // SANITIZE STATUS EXT; features bit 0 would clear a failure
    if (s.failed) {
      if ((x.current.features & 0x01) != 0) s.failed = false;
      reply.r.current.lbaLow = kReasonUnsuccessful;
      return reply.abort();
    }
    uint16_t state = s.completedOk ? 0x8000 : 0;
    uint16_t progress = 0xFFFF;
    if (s.running) {
      state = 0x4000;
      const uint64_t total = static_cast<uint64_t>(s.seconds) * 1000;
      progress = static_cast<uint16_t>(total == 0 ? 0 : std::min<uint64_t>((x.nowMs - s.startedMs) * 65536 / total, 0xFFFF));
    }
    reply.r.current.count = static_cast<uint8_t>(state);
    reply.r.previous.count = static_cast<uint8_t>(state >> 8);
    reply.r.current.lbaLow = static_cast<uint8_t>(progress);
    reply.r.current.lbaMid = static_cast<uint8_t>(progress >> 8);
    return reply.ok();
  }
  if (s.running) return reply.abort();
  const uint32_t key = static_cast<uint32_t>(lba);
  const bool valid = (function == 0x0011 && s.crypto && key == kCryptoKey) ||
                     (function == 0x0012 && s.block && key == kBlockKey) ||
                     (function == 0x0014 && s.overwrite && (lba >> 32) == kOverwriteKey);
  if (!valid || (drive.security && drive.security->locked)) {
    reply.r.current.lbaLow = kReasonUnsupported;
    return reply.abort();
  }
  s.running = true;
  s.function = function;
  s.pattern = key;
  s.startedMs = x.nowMs;
  s.completedOk = s.failed = false;
  return reply.ok();
}

}  // namespace

void updateSanitize(SimAtaDrive& drive, uint64_t nowMs) {
  if (!drive.sanitizeSet || !drive.sanitizeSet->running) return;
  SimSanitize& s = *drive.sanitizeSet;
  if (nowMs - s.startedMs < static_cast<uint64_t>(s.seconds) * 1000) return;
  s.running = false;
  s.failed = s.fails;
  s.completedOk = !s.fails;
  if (s.fails) return;
  for (auto& [number, unit] : drive.units) {
    SimMedia& media = unit.media;
    if (s.function == 0x0011) media.scrambleAll(0x5EED0000ull + s.startedMs);
    if (s.function == 0x0012) media.fillAll(s.erasedValue * 0x01010101u);  // the byte in every place
    if (s.function == 0x0014) media.fillAll(static_cast<uint32_t>(s.pattern));
  }
}

std::optional<AtaResult> executePurgeCommand(SimAtaDrive& drive, const AtaExchange& x) {
  // SECURITY ERASE UNIT must follow ERASE PREPARE, SET MAX follow READ NATIVE MAX: any
  // command between ends the pairing.
  const bool prepared = drive.security && drive.security->erasePrepared;
  const bool nativeMaxBefore = drive.nativeMaxRead;
  if (drive.security) drive.security->erasePrepared = false;
  drive.nativeMaxRead = false;
  updateSanitize(drive, x.nowMs);
  Reply reply(x);
  const uint8_t command = x.current.command;
  // While a sanitize runs the drive answers only SANITIZE STATUS and IDENTIFY.
  if (drive.sanitizeSet && drive.sanitizeSet->running && command != kIdentify &&
      !(command == kSanitize && x.current.features == 0 && x.previous.features == 0)) {
    return reply.abort();
  }
  switch (command) {
    case kSetPassword:
    case kUnlock:
    case kErasePrepare:
    case kEraseUnit:
    case kFreezeLock:
    case kDisablePassword: return security(drive, x, prepared, reply);
    case kReadNativeMax:
    case kSetMax:
    case kReadNativeMaxExt:
    case kSetMaxExt: return hostProtectedArea(drive, x, nativeMaxBefore, reply);
    case kDeviceConfiguration: return deviceConfiguration(drive, x, reply);
    case kSanitize:
      if (!drive.sanitizeSet) return std::nullopt;
      return sanitizeCommand(drive, x, reply);
    default: return std::nullopt;
  }
}

void applyPurgeIdentify(const SimAtaDrive& drive, const SimUnit& unit, IdentifyWords& w) {
  if (drive.security) {
    const SimSecurity& s = *drive.security;
    const auto minutes = [](uint16_t m) { return static_cast<uint16_t>(m == 0 ? 0 : 0x8000 | std::min(0x7FFE, (m + 1) / 2)); };
    w[82] |= 0x0002;
    w[85] = static_cast<uint16_t>((w[85] & ~0x0002) | (s.enabled ? 0x0002 : 0));
    w[89] = minutes(s.eraseMinutes);
    w[90] = s.enhanced ? minutes(s.enhancedMinutes) : 0;
    w[128] = static_cast<uint16_t>(0x0001 | (s.enabled ? 0x0002 : 0) | (s.locked ? 0x0004 : 0) |
                                   (s.frozen ? 0x0008 : 0) | (s.attemptsLeft == 0 ? 0x0010 : 0) |
                                   (s.enhanced ? 0x0020 : 0) | (s.masterMaximum ? 0x0100 : 0));
  }
  if (drive.sanitizeSet) {
    const SimSanitize& s = *drive.sanitizeSet;
    w[59] = static_cast<uint16_t>((w[59] & 0x0FFF) | 0x1000 | (s.crypto ? 0x2000 : 0) | (s.overwrite ? 0x4000 : 0) |
                                  (s.block ? 0x8000 : 0));
  }
  if (drive.nativeSectors) {
    const uint64_t host = unit.media.hostSectors();
    const uint64_t sectors28 = std::min<uint64_t>(host, 0x0FFFFFFF);
    w[60] = static_cast<uint16_t>(sectors28);
    w[61] = static_cast<uint16_t>(sectors28 >> 16);
    for (int i = 0; i < 4; ++i) w[static_cast<size_t>(100 + i)] = static_cast<uint16_t>(host >> (16 * i));
    w[82] |= 0x0400;
    w[85] |= 0x0400;
  }
  if (drive.dcoSectors) {
    w[83] |= 0x0800;
    w[86] |= 0x0800;
  }
  if (drive.security || drive.sanitizeSet || drive.nativeSectors || drive.dcoSectors) setIdentifyChecksum(w);
}

}  // namespace palvoro::sim
