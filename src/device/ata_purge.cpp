// The ATA drive's own erase: SECURITY ERASE UNIT and SANITIZE DEVICE, and the Host
// Protected Area and Device Configuration Overlay around them, over ATA pass-through or
// a USB bridge's carrier.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/ata_command.h"
#include "device/purge.h"
#include "protocol/ata_commands.h"
#include "protocol/byte_order.h"

namespace palvoro {
namespace {

// The temporary user password the security erase sets and clears again. A user who
// finds a drive left locked by an interrupted erase types it to unlock the drive.
constexpr char kErasePassword[] = "PALVORO-ERASE";

// SANITIZE returns at once; the drive is asked how far it got this often, quicker at
// first so that a short crypto scramble is not waited on for long.
constexpr uint32_t kPollScheduleMs[] = {100, 250, 500, 1000};
constexpr uint32_t kPollMs = 2000;
// A drive still busy after this many polls (about four days) has stopped working.
constexpr uint32_t kMaxPolls = 180000;

// Without an estimate from the drive, SECURITY ERASE UNIT may take this long.
constexpr uint32_t kEraseTimeoutWithoutEstimate = 12 * 3600;

const char* const kVendorBlockNo48 = "the USB bridge's command block cannot carry the drive's SANITIZE command";

enum class Dir { None, In, Out };

// One command as this file sends it, whatever carries it.
struct Cmd {
  AtaRegisters current;
  AtaRegisters previous;
  bool ext = false;              // 48-bit: the previous registers go too
  Dir dir = Dir::None;
  uint32_t timeoutSeconds = kAtaTimeoutSeconds;
  bool wantRegisters = false;    // the answer's registers matter (a bridge must be asked)
};

struct Answer {
  bool ok = false;               // delivered, and the drive ended it without ERR
  bool haveRegisters = false;
  AtaRegisters current;
  AtaRegisters previous;
};

// What IDENTIFY DEVICE says of the erase, decoded once per question.
struct IdentifyFacts {
  std::array<uint16_t, 256> w{};
  [[nodiscard]] bool has(int word, uint16_t bits) const { return (w[static_cast<size_t>(word)] & bits) == bits; }
  [[nodiscard]] bool security() const {
    return has(kIdCommandSet1, kIdSecurityFeature) && has(kIdSecurityStatus, kIdSecuritySupported);
  }
  [[nodiscard]] bool sanitize() const { return has(kIdSanitizeWord, kIdSanitizeSupported); }
  // The erase time of word 89 or 90 in minutes, 0 when the drive gives none.
  [[nodiscard]] uint32_t eraseMinutes(int word) const {
    const uint16_t v = w[static_cast<size_t>(word)];
    const uint32_t units = (v & kIdEraseTimeExtended) != 0 ? (v & 0x7FFFu) : (v & 0xFFu);
    return units * 2;
  }
  [[nodiscard]] uint64_t userSectors() const {
    if (has(kIdCommandSet2, kIdLba48)) {
      uint64_t n = 0;
      for (int i = 3; i >= 0; --i) n = (n << 16) | w[static_cast<size_t>(kIdSectors48 + i)];
      if (n != 0) return n;
    }
    return static_cast<uint64_t>(w[kIdSectors28]) | (static_cast<uint64_t>(w[kIdSectors28 + 1]) << 16);
  }
};

// The SECURITY commands' data: the control word and the password.
std::array<uint8_t, kSectorBytes> passwordBlock(uint16_t control) {
  std::array<uint8_t, kSectorBytes> b{};
  storeLe16(b.data(), control);
  std::memcpy(b.data() + kSecurityPasswordAt, kErasePassword, sizeof kErasePassword - 1);
  return b;
}

const char* sanitizeReason(uint8_t reason) {
  switch (reason) {
    case 1: return "the sanitize operation was unsuccessful";
    case 2: return "the drive did not accept the sanitize function asked for";
    case 3: return "the drive is in the sanitize frozen state";
    case 4: return "the drive's sanitize antifreeze lock is on";
    default: return "no reason given";
  }
}

class AtaPurge final : public PurgeDevice {
 public:
  AtaPurge(Platform& platform, Handle handle, const AtaRoute& route)
      : m_platform(platform), m_handle(handle), m_route(route) {}

  std::vector<MethodSupport> methods() override;
  PurgeReport run(PurgeMethod method, const PurgeHooks& hooks) override;
  std::optional<HiddenAreas> hiddenAreas() override;
  std::string worldWideName() override;
  bool liftHpa() override { return setMax(std::nullopt); }
  bool restoreHpa(uint64_t userSectors) override { return userSectors != 0 && setMax(userSectors); }

 private:
  [[nodiscard]] bool vendorBlock() const {
    return m_route.kind == AtaRoute::Kind::Carrier && m_route.carrier == kCarrierAtacb;
  }
  [[nodiscard]] uint8_t device(bool lba) const {
    const uint8_t base = m_route.kind == AtaRoute::Kind::Carrier ? m_route.device
                                                                 : static_cast<uint8_t>(kAtaDeviceBase | m_route.unit);
    return static_cast<uint8_t>(lba ? base | 0x40 : base);
  }
  [[nodiscard]] Answer send(const Cmd& c, uint8_t* data);
  Answer sendPassThrough(const Cmd& c, uint8_t* data);
  Answer sendCarrier(const Cmd& c, uint8_t* data);
  [[nodiscard]] std::optional<IdentifyFacts> identify();
  [[nodiscard]] MethodSupport support(PurgeMethod method, const IdentifyFacts& id) const;
  [[nodiscard]] bool securityCommand(uint8_t command, uint16_t control, uint32_t timeoutSeconds = kAtaTimeoutSeconds);
  PurgeReport securityErase(bool enhanced, const IdentifyFacts& id, const PurgeHooks& hooks);
  void removePassword(PurgeReport& report, std::optional<IdentifyFacts> id);
  PurgeReport sanitize(PurgeMethod method, const PurgeHooks& hooks);
  PurgeReport pollSanitize(const PurgeHooks& hooks);
  [[nodiscard]] std::optional<uint64_t> readNativeMax(bool ext);
  [[nodiscard]] bool setMax(std::optional<uint64_t> sectors);

  Platform& m_platform;
  Handle m_handle;
  AtaRoute m_route;
};

Answer AtaPurge::send(const Cmd& c, uint8_t* data) {
  return m_route.kind == AtaRoute::Kind::PassThrough ? sendPassThrough(c, data) : sendCarrier(c, data);
}

Answer AtaPurge::sendPassThrough(const Cmd& c, uint8_t* data) {
  AtaCommand a;
  a.current = c.current;
  a.previous = c.previous;
  a.flags = ATA_FLAGS_DRDY_REQUIRED;
  if (c.ext) a.flags |= ATA_FLAGS_48BIT_COMMAND;
  if (c.dir == Dir::In) {
    a.flags |= ATA_FLAGS_DATA_IN;
    a.direction = AtaDirection::In;
    a.outSize = sizeof(AtaCommandRecord);
  } else if (c.dir == Dir::Out) {
    a.flags |= ATA_FLAGS_DATA_OUT;
    a.direction = AtaDirection::Out;
    a.inSize = sizeof(AtaCommandRecord);
  }
  a.timeoutSeconds = c.timeoutSeconds;
  const AtaReply r = sendAtaCommand(m_platform, m_handle, a, c.dir == Dir::Out ? data : nullptr,
                                    c.dir == Dir::In ? data : nullptr);
  return Answer{r.requestOk && !r.errSet(), r.requestOk, r.current, r.previous};
}

// Over a bridge: 28-bit commands in the (12) block or the vendor block, 48-bit ones in
// the (16) block. A bridge hands back no registers with the command, so when they matter
// the SAT bridge is asked for the response of the drive's last command.
Answer AtaPurge::sendCarrier(const Cmd& c, uint8_t* data) {
  Answer a;
  if (c.ext) {
    if (m_route.carrier != kCarrierSat12) return a;
    const Sat16Protocol protocol = c.dir == Dir::In    ? Sat16Protocol::PioIn
                                   : c.dir == Dir::Out ? Sat16Protocol::PioOut
                                                       : Sat16Protocol::NonData;
    a.ok = satPassThrough16(m_platform, m_handle, AtaRegisters48{c.current, c.previous}, protocol, 1, data,
                            c.dir == Dir::None ? 0 : kSectorBytes, c.timeoutSeconds);
  } else {
    const CarrierDirection dir = c.dir == Dir::Out ? CarrierDirection::Out : CarrierDirection::In;
    uint8_t* moved = c.dir == Dir::None ? nullptr : data;
    if (m_route.carrier == kCarrierSat12) {
      a.ok = satPassThrough12(m_platform, m_handle, c.current, dir, moved, c.timeoutSeconds);
    } else if (m_route.carrier == kCarrierAtacb) {
      a.ok = atacbCommand(m_platform, m_handle, c.current, dir, moved, c.timeoutSeconds);
    }
  }
  if (c.wantRegisters && m_route.carrier == kCarrierSat12) {
    // The response block: the seven registers, then the high-order bytes of a 48-bit
    // command (features, count, LBA 31:24, 39:32, 47:40).
    uint8_t block[kSectorBytes] = {};
    if (satMemberProbe(m_platform, m_handle, m_route.device == kRaidMemberB ? 1 : 0, block)) {
      a.haveRegisters = true;
      a.current = takeRegisters(block);
      a.previous = AtaRegisters{block[7], block[8], block[9], block[10], block[11], 0, 0};
    }
  }
  return a;
}

std::optional<IdentifyFacts> AtaPurge::identify() {
  Cmd c;
  c.current = {0x00, 0x01, 0x01, 0x00, 0x00, device(false), kAtaIdentifyDevice};
  c.dir = Dir::In;
  uint8_t data[kSectorBytes] = {};
  if (!send(c, data).ok) return std::nullopt;
  IdentifyFacts f;
  for (size_t i = 0; i < f.w.size(); ++i) f.w[i] = loadLe16(data + 2 * i);
  return f;
}

MethodSupport AtaPurge::support(PurgeMethod method, const IdentifyFacts& id) const {
  MethodSupport s;
  s.method = method;
  const auto refuse = [&](const char* why) {
    s.whyNot = why;
    return s;
  };
  switch (method) {
    case PurgeMethod::Overwrite: return refuse("the program's own overwrite is not a drive command");
    case PurgeMethod::Format:
    case PurgeMethod::FormatCrypto: return refuse("Format NVM is an NVMe command");
    case PurgeMethod::SecurityErase:
    case PurgeMethod::SecurityEraseEnhanced: {
      const bool enhanced = method == PurgeMethod::SecurityEraseEnhanced;
      if (!id.security()) return refuse("the drive has no Security feature set");
      if (enhanced && !id.has(kIdSecurityStatus, kIdSecurityEnhanced)) {
        return refuse("the drive does not offer the enhanced security erase");
      }
      if (id.has(kIdSecurityStatus, kIdSecurityExpired)) {
        return refuse("the drive refused too many wrong passwords: power it off and on");
      }
      if (id.has(kIdSecurityStatus, kIdSecurityLocked)) {
        return refuse("the drive is locked with a password this program did not set");
      }
      if (id.has(kIdSecurityStatus, kIdSecurityFrozen)) {
        return refuse(
            "security is frozen: a suspend and resume of the computer, or unplugging the drive and plugging it "
            "back in, unfreezes it");
      }
      s.estimatedMinutes = id.eraseMinutes(enhanced ? kIdEnhancedEraseTime : kIdEraseTime);
      break;
    }
    case PurgeMethod::SanitizeCrypto:
    case PurgeMethod::SanitizeBlock:
    case PurgeMethod::SanitizeOverwrite: {
      if (!id.sanitize()) return refuse("the drive has no Sanitize feature set");
      if (vendorBlock()) return refuse(kVendorBlockNo48);
      if (method == PurgeMethod::SanitizeCrypto && !id.has(kIdSanitizeWord, kIdSanitizeCrypto)) {
        return refuse("the drive does not offer CRYPTO SCRAMBLE");
      }
      if (method == PurgeMethod::SanitizeBlock && !id.has(kIdSanitizeWord, kIdSanitizeBlock)) {
        return refuse("the drive does not offer BLOCK ERASE");
      }
      if (method == PurgeMethod::SanitizeOverwrite && !id.has(kIdSanitizeWord, kIdSanitizeOverwrite)) {
        return refuse("the drive does not offer the sanitize OVERWRITE");
      }
      break;
    }
  }
  s.offered = true;
  return s;
}

std::vector<MethodSupport> AtaPurge::methods() {
  const std::optional<IdentifyFacts> id = identify();
  std::vector<MethodSupport> out;
  for (PurgeMethod m : {PurgeMethod::SecurityErase, PurgeMethod::SecurityEraseEnhanced, PurgeMethod::SanitizeCrypto,
                        PurgeMethod::SanitizeBlock, PurgeMethod::SanitizeOverwrite, PurgeMethod::Format,
                        PurgeMethod::FormatCrypto}) {
    if (id) {
      out.push_back(support(m, *id));
    } else {
      out.push_back(MethodSupport{m, false, "the drive did not answer IDENTIFY DEVICE", 0});
    }
  }
  return out;
}

PurgeReport AtaPurge::run(PurgeMethod method, const PurgeHooks& hooks) {
  PurgeReport report;
  const std::optional<IdentifyFacts> id = identify();
  if (!id) {
    report.detail = "the drive did not answer IDENTIFY DEVICE";
    return report;
  }
  const MethodSupport s = support(method, *id);
  if (!s.offered) {
    report.detail = s.whyNot;
    const bool security = method == PurgeMethod::SecurityErase || method == PurgeMethod::SecurityEraseEnhanced;
    report.status = PurgeStatus::Unsupported;
    if (security && id->security() && id->has(kIdSecurityStatus, kIdSecurityLocked)) {
      report.status = PurgeStatus::Locked;
    } else if (security && id->security() && id->has(kIdSecurityStatus, kIdSecurityFrozen)) {
      report.status = PurgeStatus::Frozen;
    }
    return report;
  }
  if (method == PurgeMethod::SecurityErase || method == PurgeMethod::SecurityEraseEnhanced) {
    return securityErase(method == PurgeMethod::SecurityEraseEnhanced, *id, hooks);
  }
  return sanitize(method, hooks);
}

// F1/F2/F4/F6: count 1, device; 512 bytes out (the control word and the password).
bool AtaPurge::securityCommand(uint8_t command, uint16_t control, uint32_t timeoutSeconds) {
  Cmd c;
  c.current = {0x00, 0x01, 0x00, 0x00, 0x00, device(false), command};
  c.dir = Dir::Out;
  c.timeoutSeconds = timeoutSeconds;
  std::array<uint8_t, kSectorBytes> block = passwordBlock(control);
  return send(c, block.data()).ok;
}

PurgeReport AtaPurge::securityErase(bool enhanced, const IdentifyFacts& id, const PurgeHooks& hooks) {
  PurgeReport report;
  // User password, high security: the master password keeps working, so a drive left with
  // ours can still be opened by whoever holds the master.
  if (!securityCommand(kAtaSecuritySetPassword, 0)) {
    report.detail = "the drive refused SECURITY SET PASSWORD";
    removePassword(report, identify());  // a bridge may have lost the answer of a command that took
    return report;
  }
  const uint32_t minutes = id.eraseMinutes(enhanced ? kIdEnhancedEraseTime : kIdEraseTime);
  const uint32_t timeout = minutes != 0 ? minutes * 60 * 2 + 600 : kEraseTimeoutWithoutEstimate;
  if (hooks.progress) {
    std::string stage = "Waiting for SECURITY ERASE UNIT to finish";
    if (minutes != 0) stage += " (the drive estimates " + std::to_string(minutes) + " minutes)";
    hooks.progress(PurgeProgress{std::nullopt, stage + "..."});
  }
  Cmd prepare;
  prepare.current = {0x00, 0x00, 0x00, 0x00, 0x00, device(false), kAtaSecurityErasePrepare};
  const bool erased = send(prepare, nullptr).ok &&
                      securityCommand(kAtaSecurityEraseUnit, enhanced ? kSecurityEnhancedErase : 0, timeout);
  const std::optional<IdentifyFacts> after = identify();
  if (erased && after && !after->has(kIdSecurityStatus, kIdSecurityEnabled)) {
    report.status = PurgeStatus::Completed;
    return report;
  }
  report.detail = erased ? "the drive still had security enabled after SECURITY ERASE UNIT"
                         : "the drive refused SECURITY ERASE UNIT";
  removePassword(report, after);
  return report;
}

// After a failure once our password may be set: finds out and takes it off again.
void AtaPurge::removePassword(PurgeReport& report, std::optional<IdentifyFacts> id) {
  if (id && !id->has(kIdSecurityStatus, kIdSecurityEnabled) && !id->has(kIdSecurityStatus, kIdSecurityLocked)) {
    return;  // nothing of ours is left
  }
  if (id && securityCommand(kAtaSecurityUnlock, 0) && securityCommand(kAtaSecurityDisablePassword, 0)) {
    report.passwordRemoved = true;
    return;
  }
  report.passwordLeft = true;
  report.detail += std::string("; the drive may keep the user password \"") + kErasePassword +
                   "\": unlock it and disable the password with that text";
}

PurgeReport AtaPurge::sanitize(PurgeMethod method, const PurgeHooks& hooks) {
  PurgeReport report;
  // B4 | features 15:0 the function | LBA 31:0 the key (OVERWRITE: the pattern, its key
  // in LBA 47:32) | count 0 (OVERWRITE: one pass) | device.
  uint16_t function = kSanitizeBlockErase;
  uint64_t lba = kSanitizeBlockKey;
  uint16_t count = 0;
  if (method == PurgeMethod::SanitizeCrypto) {
    function = kSanitizeCryptoScramble;
    lba = kSanitizeCryptoKey;
  } else if (method == PurgeMethod::SanitizeOverwrite) {
    function = kSanitizeOverwrite;
    lba = static_cast<uint64_t>(kSanitizeOverwriteKey) << 32;  // pattern 0
    count = 0x0001;
  }
  Cmd c;
  c.ext = true;
  c.current = {static_cast<uint8_t>(function), static_cast<uint8_t>(count), static_cast<uint8_t>(lba),
               static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba >> 16), device(false), kAtaSanitize};
  c.previous = {static_cast<uint8_t>(function >> 8), static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(lba >> 24),
                static_cast<uint8_t>(lba >> 32), static_cast<uint8_t>(lba >> 40), 0, 0};
  c.wantRegisters = true;
  const Answer a = send(c, nullptr);
  if (!a.ok) {
    report.detail = std::string("the drive refused SANITIZE DEVICE: ") +
                    sanitizeReason(a.haveRegisters ? a.current.lbaLow : 0);
    return report;
  }
  return pollSanitize(hooks);
}

PurgeReport AtaPurge::pollSanitize(const PurgeHooks& hooks) {
  PurgeReport report;
  Cmd status;
  status.ext = true;
  status.current = {0x00, 0x00, 0x00, 0x00, 0x00, device(false), kAtaSanitize};
  status.wantRegisters = true;
  for (uint32_t poll = 0; poll < kMaxPolls; ++poll) {
    m_platform.sleep(poll < std::size(kPollScheduleMs) ? kPollScheduleMs[poll] : kPollMs);
    const Answer a = send(status, nullptr);
    if (!a.haveRegisters) {
      report.detail = "the drive stopped answering SANITIZE STATUS EXT";
      return report;
    }
    if (!a.ok) {
      report.detail = std::string("the sanitize operation failed: ") + sanitizeReason(a.current.lbaLow);
      return report;
    }
    const uint16_t state = static_cast<uint16_t>(a.current.count | (a.previous.count << 8));
    if ((state & kSanitizeCompletedOk) != 0) {
      report.status = PurgeStatus::Completed;
      return report;
    }
    if ((state & kSanitizeInProgress) == 0) {
      report.detail = "the drive ended the sanitize operation without reporting success";
      return report;
    }
    if (hooks.progress) {
      const uint16_t done = static_cast<uint16_t>(a.current.lbaLow | (a.current.lbaMid << 8));
      hooks.progress(PurgeProgress{done / 65536.0, "Waiting for SANITIZE to finish..."});
    }
  }
  report.detail = "the drive was still sanitizing after four days";
  return report;
}

// F8 (27h EXT): no data; the answer's LBA is the native maximum.
std::optional<uint64_t> AtaPurge::readNativeMax(bool ext) {
  Cmd c;
  c.ext = ext;
  c.current = {0x00, 0x00, 0x00, 0x00, 0x00, device(true), ext ? kAtaReadNativeMaxExt : kAtaReadNativeMax};
  c.wantRegisters = true;
  if (vendorBlock()) return std::nullopt;  // its answer's registers never come back
  const Answer a = send(c, nullptr);
  if (!a.ok || !a.haveRegisters) return std::nullopt;
  uint64_t lba = a.current.lbaLow | (static_cast<uint64_t>(a.current.lbaMid) << 8) |
                 (static_cast<uint64_t>(a.current.lbaHigh) << 16);
  if (ext) {
    lba |= (static_cast<uint64_t>(a.previous.lbaLow) << 24) | (static_cast<uint64_t>(a.previous.lbaMid) << 32) |
           (static_cast<uint64_t>(a.previous.lbaHigh) << 40);
  } else {
    lba |= static_cast<uint64_t>(a.current.device & 0x0F) << 24;
  }
  return lba;
}

std::string AtaPurge::worldWideName() {
  const std::optional<IdentifyFacts> id = identify();
  if (!id) return "";
  // Words 108..111, most significant first; a drive without one leaves them zero.
  uint64_t name = 0;
  for (int word = kIdWorldWideName; word < kIdWorldWideName + 4; ++word) name = (name << 16) | id->w[static_cast<size_t>(word)];
  if (name == 0) return "";
  char text[24];
  std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(name));
  return text;
}

std::optional<HiddenAreas> AtaPurge::hiddenAreas() {
  const std::optional<IdentifyFacts> id = identify();
  if (!id) return std::nullopt;
  HiddenAreas h;
  h.userSectors = id->userSectors();
  const bool ext = id->has(kIdCommandSet2, kIdLba48);
  // Asked whether or not the drive claims the HPA feature set: some report a native
  // maximum without it (a virtual machine's disks do), and a drive that lacks the command
  // only aborts it.
  if (!ext || m_route.kind == AtaRoute::Kind::PassThrough || m_route.carrier == kCarrierSat12) {
    if (const std::optional<uint64_t> max = readNativeMax(ext)) {
      h.hpaKnown = true;
      h.nativeSectors = *max + 1;
    }
  }
  if (id->has(kIdCommandSet2, kIdDcoFeature)) {
    // B1 C2 | count 1 | device; 512 bytes in: words 3..6 the maximum LBA, word 255 the
    // integrity word when its low byte is A5h.
    Cmd c;
    c.current = {kDcoIdentify, 0x01, 0x00, 0x00, 0x00, device(false), kAtaDeviceConfiguration};
    c.dir = Dir::In;
    uint8_t data[kSectorBytes] = {};
    if (send(c, data).ok) {
      uint8_t sum = 0;
      for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
      if (data[510] != 0xA5 || sum == 0) {
        h.dcoKnown = true;
        h.dcoSectors = loadLe(data + 6, 6) + 1;
      }
    }
  }
  return h;
}

// READ NATIVE MAX ADDRESS (EXT), then at once SET MAX ADDRESS (EXT) to `sectors` - 1, or
// to the native maximum: count 0, so the drive forgets it at power-off.
bool AtaPurge::setMax(std::optional<uint64_t> sectors) {
  const std::optional<IdentifyFacts> id = identify();
  if (!id || !id->has(kIdCommandSet1, kIdHpaFeature)) return false;
  const bool ext = id->has(kIdCommandSet2, kIdLba48);
  const std::optional<uint64_t> native = readNativeMax(ext);
  if (!native) return false;
  if (!sectors && *native + 1 <= id->userSectors()) return false;  // nothing hidden
  const uint64_t lba = sectors ? *sectors - 1 : *native;
  if (lba > *native) return false;
  Cmd c;
  c.ext = ext;
  if (ext) {
    c.current = {0x00, 0x00, static_cast<uint8_t>(lba), static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba >> 16),
                 device(true), kAtaSetMaxExt};
    c.previous = {0x00, 0x00, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 32),
                  static_cast<uint8_t>(lba >> 40), 0, 0};
  } else {
    c.current = {0x00, 0x00, static_cast<uint8_t>(lba), static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba >> 16),
                 static_cast<uint8_t>(device(true) | ((lba >> 24) & 0x0F)), kAtaSetMax};
  }
  return send(c, nullptr).ok;
}

}  // namespace

std::unique_ptr<PurgeDevice> ataPurgeDevice(Platform& platform, Handle handle, const AtaRoute& route) {
  return std::make_unique<AtaPurge>(platform, handle, route);
}

}  // namespace palvoro
