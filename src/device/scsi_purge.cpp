// SCSI SANITIZE as a PurgeDevice, for SAS and SCSI drives and whatever a bridge presents
// as one. REPORT SUPPORTED OPERATION CODES tells which service actions the device takes;
// SANITIZE goes with IMMED set and is followed through REQUEST SENSE until the device is
// ready again.

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "device/purge.h"
#include "device/scsi_transport.h"
#include "protocol/byte_order.h"
#include "protocol/scsi_cdb.h"

namespace palvoro {
namespace {

// The commands that only ask answer at once; SANITIZE with IMMED set answers once it has
// checked its fields, which a device may take a while over.
constexpr uint32_t kQueryTimeoutSeconds = 20;
constexpr uint32_t kSanitizeTimeoutSeconds = 600;
constexpr uint32_t kPollMilliseconds = 2000;
constexpr uint64_t kGiveUpMilliseconds = 48ull * 3600 * 1000;  // a sanitize stuck for two days never ends
// Answers in a row that neither show the sanitize running nor the device ready.
constexpr int kOddAnswersAllowed = 3;
constexpr double kProgressUnits = 65536.0;

constexpr const char* kNotSaid = "the drive does not say whether it supports SANITIZE";
constexpr const char* kBridgeRefuses = "the USB bridge does not pass the SANITIZE command";
constexpr const char* kFailureMode =
    "the drive reported the sanitize failed; it stays in its sanitize failure mode, refusing reads and writes, "
    "until a SANITIZE with the EXIT FAILURE MODE service action (or a new sanitize that completes) is sent";

struct SanitizeKind {
  PurgeMethod method;
  SanitizeAction action;
  const char* missing;
};
constexpr std::array<SanitizeKind, 3> kKinds = {{
    {PurgeMethod::SanitizeCrypto, SanitizeAction::CryptoErase, "the drive cannot erase cryptographically"},
    {PurgeMethod::SanitizeBlock, SanitizeAction::BlockErase, "the drive does not support SANITIZE BLOCK ERASE"},
    {PurgeMethod::SanitizeOverwrite, SanitizeAction::Overwrite, "the drive does not support SANITIZE OVERWRITE"},
}};

const SanitizeKind* kindOf(PurgeMethod method) {
  for (const SanitizeKind& k : kKinds) {
    if (k.method == method) return &k;
  }
  return nullptr;
}

uint16_t ascOf(const Sense& sense) { return static_cast<uint16_t>((sense.asc << 8) | sense.ascq); }

std::string senseText(const ScsiOutcome& o) {
  if (!o.delivered) return "the request did not reach the drive (error " + std::to_string(o.lastError) + ")";
  char text[80];
  std::snprintf(text, sizeof text, "status %02Xh, sense key %Xh, ASC %02Xh, ASCQ %02Xh", o.status, o.sense.key,
                o.sense.asc, o.sense.ascq);
  return text;
}

// Whether the device takes SANITIZE with `action`: "" when it does, else why not.
std::string whyNotOffered(Platform& platform, Handle handle, const SanitizeKind& kind) {
  const auto cdb = reportOpcodeCdb(kScsiSanitize, static_cast<uint16_t>(kind.action), kReportOpcodeBytes);
  std::array<uint8_t, kReportOpcodeBytes> reply{};
  const ScsiOutcome o = scsiCommand(platform, handle, cdb.data(), cdb.size(), ScsiData::In, reply.data(),
                                    reply.size(), kQueryTimeoutSeconds);
  if (!o.good()) return kNotSaid;
  const uint8_t support = reply[1] & kOpcodeSupportMask;
  return support == kOpcodeSupported || support == kOpcodeSupportedVendor ? "" : kind.missing;
}

class ScsiPurgeDevice final : public PurgeDevice {
 public:
  ScsiPurgeDevice(Platform& platform, Handle handle) : m_platform(platform), m_handle(handle) {}

  std::vector<MethodSupport> methods() override {
    std::vector<MethodSupport> all;
    for (PurgeMethod m : {PurgeMethod::SecurityErase, PurgeMethod::SecurityEraseEnhanced, PurgeMethod::SanitizeCrypto,
                          PurgeMethod::SanitizeBlock, PurgeMethod::SanitizeOverwrite, PurgeMethod::Format,
                          PurgeMethod::FormatCrypto}) {
      MethodSupport s;
      s.method = m;
      s.whyNot = whyNot(m);
      s.offered = s.whyNot.empty();
      all.push_back(s);
    }
    return all;
  }

  PurgeReport run(PurgeMethod method, const PurgeHooks& hooks) override {
    const std::string why = whyNot(method);
    if (!why.empty()) return purgeEnded(PurgeStatus::Unsupported, why);
    const SanitizeKind& kind = *kindOf(method);
    const auto list = sanitizeOverwriteList();
    const bool overwrite = kind.action == SanitizeAction::Overwrite;
    const auto cdb = sanitizeCdb(kind.action, overwrite ? kSanitizeOverwriteListBytes : 0);
    std::array<uint8_t, kSanitizeOverwriteListBytes> data = list;
    const ScsiOutcome o = scsiCommand(m_platform, m_handle, cdb.data(), cdb.size(),
                                      overwrite ? ScsiData::Out : ScsiData::None, overwrite ? data.data() : nullptr,
                                      overwrite ? kSanitizeOverwriteListBytes : 0, kSanitizeTimeoutSeconds);
    if (!o.good()) return refused(o);
    PurgeReport report = poll(hooks);
    if (report.status == PurgeStatus::Completed && overwrite) report.erasedValue = uint8_t{0x00};
    return report;
  }

 private:
  std::string whyNot(PurgeMethod method) {
    switch (method) {
      case PurgeMethod::Overwrite: return "the program's own overwrite, not a drive command";
      case PurgeMethod::SecurityErase:
      case PurgeMethod::SecurityEraseEnhanced: return "an ATA command";
      case PurgeMethod::Format:
      case PurgeMethod::FormatCrypto: return "an NVMe command";
      default: return whyNotOffered(m_platform, m_handle, *kindOf(method));
    }
  }

  // SANITIZE answered with other than GOOD. The device said it takes the command, so an
  // unknown operation code comes from something in between that filters it.
  static PurgeReport refused(const ScsiOutcome& o) {
    if (o.delivered && o.sense.key == kIllegalRequest) {
      if (ascOf(o.sense) == kAscInvalidOpcode) return purgeEnded(PurgeStatus::Unsupported, kBridgeRefuses);
      return purgeEnded(PurgeStatus::Unsupported, "the drive refused SANITIZE (" + senseText(o) + ")");
    }
    if (o.delivered && ascOf(o.sense) == kAscSanitizeInProgress) {
      return purgeEnded(PurgeStatus::Failed, "the drive is already sanitizing (" + senseText(o) + ")");
    }
    return purgeEnded(PurgeStatus::Failed, "SANITIZE failed (" + senseText(o) + ")");
  }

  // What REQUEST SENSE says now: running (with its progress when the device gives it),
  // failed, or neither. Empty when the command itself failed.
  std::optional<Sense> requestSense(std::optional<double>& progress) {
    const auto cdb = requestSenseCdb(kRequestSenseBytes);
    std::array<uint8_t, kRequestSenseBytes> data{};
    const ScsiOutcome o = scsiCommand(m_platform, m_handle, cdb.data(), cdb.size(), ScsiData::In, data.data(),
                                      data.size(), kQueryTimeoutSeconds);
    if (!o.good()) return std::nullopt;
    progress.reset();
    if ((data[kSenseKeySpecific] & kSenseKeySpecificValid) != 0) {
      progress = loadBe16(&data[kSenseKeySpecific + 1]) / kProgressUnits;
    }
    return decodeSense(data.data(), data.size());
  }

  PurgeReport poll(const PurgeHooks& hooks);

  Platform& m_platform;
  Handle m_handle;
};

// Follows the sanitize until the device is ready again: REQUEST SENSE shows it running
// with its progress; once it no longer does, TEST UNIT READY tells done from failed.
PurgeReport ScsiPurgeDevice::poll(const PurgeHooks& hooks) {
  int odd = 0;
  for (uint64_t waited = 0; waited <= kGiveUpMilliseconds; waited += kPollMilliseconds) {
    m_platform.sleep(kPollMilliseconds);
    std::optional<double> progress;
    const std::optional<Sense> sense = requestSense(progress);
    if (sense && ascOf(*sense) == kAscSanitizeInProgress) {
      odd = 0;
      if (hooks.progress) hooks.progress({progress, "Waiting for SANITIZE to finish..."});
      continue;
    }
    if (sense && ascOf(*sense) == kAscSanitizeFailed) return purgeEnded(PurgeStatus::Failed, kFailureMode);
    const auto cdb = testUnitReadyCdb();
    const ScsiOutcome ready =
        scsiCommand(m_platform, m_handle, cdb.data(), cdb.size(), ScsiData::None, nullptr, 0, kQueryTimeoutSeconds);
    if (ready.good()) return purgeEnded(PurgeStatus::Completed, "");
    if (ready.delivered && ascOf(ready.sense) == kAscSanitizeFailed) return purgeEnded(PurgeStatus::Failed, kFailureMode);
    if (ready.delivered && ascOf(ready.sense) == kAscSanitizeInProgress) continue;
    if (++odd >= kOddAnswersAllowed) {
      return purgeEnded(PurgeStatus::Failed, "the drive stopped answering while it sanitized (" + senseText(ready) + ")");
    }
  }
  return purgeEnded(PurgeStatus::Failed, "the sanitize did not end within two days");
}

}  // namespace

std::unique_ptr<PurgeDevice> scsiPurgeDevice(Platform& platform, Handle handle) {
  return std::make_unique<ScsiPurgeDevice>(platform, handle);
}

}  // namespace palvoro
