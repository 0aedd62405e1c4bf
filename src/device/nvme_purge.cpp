// NVMe Format NVM and Sanitize as a PurgeDevice. What the controller offers is read from
// Identify Controller and Identify Namespace at every asking; a method runs as one admin
// command, then (Sanitize) the Sanitize Status log is read until the controller reports
// the end.

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "device/nvme_transport.h"
#include "device/purge.h"
#include "platform/win_types.h"
#include "protocol/byte_order.h"
#include "protocol/nvme_command.h"

namespace palvoro {
namespace {

// A format or sanitize of a large drive runs for hours; the driver must not give up on
// the command before the controller does.
constexpr uint32_t kEraseTimeoutSeconds = 12 * 3600;
constexpr uint32_t kPollMilliseconds = 2000;
// A sanitize that has not ended in two days never will: the drive is stuck.
constexpr uint64_t kGiveUpMilliseconds = 48ull * 3600 * 1000;
// Log reads that may fail in a row before the drive counts as no longer answering.
constexpr int kUnansweredPollsAllowed = 3;
// The namespaces probed for the disk's own NSID.
constexpr uint32_t kMostProbedNamespaces = 64;
constexpr double kProgressUnits = 65536.0;
// Polls whose log names another sanitize before this one counts as never started.
constexpr int kForeignPollsAllowed = 30;

constexpr const char* kFailureMode =
    "; the controller is left in its sanitize failure mode and refuses reads and writes until a Sanitize "
    "with the Exit Failure Mode action (or a new sanitize that completes) is sent";

// What Identify Controller says of the erase commands.
struct ControllerFacts {
  bool known = false;
  bool format = false;
  uint8_t fna = 0;
  uint32_t sanicap = 0;
  uint32_t namespaces = 0;  // NN: how many the controller can hold
};

ControllerFacts readController(Platform& platform, Handle handle) {
  std::vector<uint8_t> page(kNvmeIdentifyBytes, 0);
  ControllerFacts c;
  if (!nvmeIdentifyController(platform, handle, page.data())) return c;
  c.known = true;
  c.format = (loadLe16(&page[kNvmeIdOacs]) & kNvmeOacsFormat) != 0;
  c.fna = page[kNvmeIdFna];
  c.sanicap = loadLe32(&page[kNvmeIdSanicap]);
  c.namespaces = loadLe32(&page[kNvmeIdNn]);
  return c;
}

// Each sanitize method: its action, the SANICAP bit that offers it, where the status log
// keeps its estimate, and what a user is told when the drive lacks it.
struct SanitizeKind {
  PurgeMethod method;
  uint32_t sanact;
  uint32_t sanicap;
  size_t estimateAt;
  const char* missing;
};
constexpr std::array<SanitizeKind, 3> kSanitizeKinds = {{
    {PurgeMethod::SanitizeBlock, kNvmeSanactBlock, kNvmeSanicapBlock, kNvmeSanitizeEstimateBlock,
     "the drive does not support Sanitize block erase"},
    {PurgeMethod::SanitizeCrypto, kNvmeSanactCrypto, kNvmeSanicapCrypto, kNvmeSanitizeEstimateCrypto,
     "the drive cannot erase cryptographically"},
    {PurgeMethod::SanitizeOverwrite, kNvmeSanactOverwrite, kNvmeSanicapOverwrite, kNvmeSanitizeEstimateOverwrite,
     "the drive does not support Sanitize overwrite"},
}};

const SanitizeKind* sanitizeKind(PurgeMethod method) {
  for (const SanitizeKind& k : kSanitizeKinds) {
    if (k.method == method) return &k;
  }
  return nullptr;
}

bool isFormat(PurgeMethod method) { return method == PurgeMethod::Format || method == PurgeMethod::FormatCrypto; }

// Why `method` is not offered on this controller, or "" when it is. A command that
// reaches every namespace is refused on a controller that can hold more than one: the
// other namespaces are other disks, which nobody asked to erase.
std::string whyNotOffered(PurgeMethod method, const ControllerFacts& c) {
  switch (method) {
    case PurgeMethod::Overwrite: return "the program's own overwrite, not a drive command";
    case PurgeMethod::SecurityErase:
    case PurgeMethod::SecurityEraseEnhanced: return "an ATA command";
    default: break;
  }
  if (!c.known) return "the drive did not answer Identify Controller";
  const SanitizeKind* kind = sanitizeKind(method);
  if (isFormat(method) && !c.format) return "the drive does not support Format NVM";
  if (method == PurgeMethod::FormatCrypto && (c.fna & kNvmeFnaCrypto) == 0) {
    return "the drive cannot erase cryptographically";
  }
  if (kind != nullptr && c.sanicap == 0) return "the drive does not support Sanitize";
  if (kind != nullptr && (c.sanicap & kind->sanicap) == 0) return kind->missing;
  const bool everyNamespace = kind != nullptr || (c.fna & (kNvmeFnaFormatAll | kNvmeFnaEraseAll)) != 0;
  if (everyNamespace && c.namespaces > 1) {
    return "the command erases every namespace of the controller, which can hold " + std::to_string(c.namespaces) +
           ": other disks may lie on it";
  }
  return "";
}

// A controller status in words, and whether it says the command or field is not there
// (nothing was changed).
bool refusedAsUnsupported(uint32_t nvmeStatus) {
  return nvmeStatus == kNvmeStatusInvalidOpcode || nvmeStatus == kNvmeStatusInvalidField ||
         nvmeStatus == kNvmeStatusInvalidFormat;
}

std::string statusText(uint32_t nvmeStatus) {
  char text[64];
  std::snprintf(text, sizeof text, "status type %Xh, code %02Xh", (nvmeStatus >> 8) & 0x7, nvmeStatus & 0xFF);
  return text;
}

// The report of a command that did not complete: not delivered, or a controller status.
PurgeReport commandRefused(const char* command, const NvmeCommandResult& r) {
  PurgeReport report;
  if (!r.delivered) {
    // The driver takes the command or not before the controller sees it.
    const bool driverRefused = r.lastError == ERROR_NOT_SUPPORTED || r.lastError == ERROR_INVALID_FUNCTION;
    report.status = driverRefused ? PurgeStatus::Unsupported : PurgeStatus::Failed;
    report.detail = std::string("the system's NVMe driver ") +
                    (driverRefused ? "does not pass " + std::string(command)
                                   : "failed " + std::string(command) + " (error " + std::to_string(r.lastError) + ")");
    return report;
  }
  report.status = refusedAsUnsupported(r.nvmeStatus) ? PurgeStatus::Unsupported : PurgeStatus::Failed;
  report.detail = std::string("the controller refused ") + command + " (" + statusText(r.nvmeStatus) + ")";
  if (r.nvmeStatus == kNvmeStatusSanitizeInProgress) report.detail += ": a sanitize is in progress";
  return report;
}

std::optional<uint8_t> erasedValueOf(uint8_t dlfeat) {
  switch (dlfeat & 0x7) {
    case 1: return uint8_t{0x00};
    case 2: return uint8_t{0xFF};
    default: return std::nullopt;
  }
}

class NvmePurgeDevice final : public PurgeDevice {
 public:
  NvmePurgeDevice(Platform& platform, Handle handle) : m_platform(platform), m_handle(handle) {}

  std::vector<MethodSupport> methods() override {
    const ControllerFacts c = readController(m_platform, m_handle);
    std::vector<MethodSupport> all;
    for (PurgeMethod m : {PurgeMethod::SecurityErase, PurgeMethod::SecurityEraseEnhanced, PurgeMethod::SanitizeCrypto,
                          PurgeMethod::SanitizeBlock, PurgeMethod::SanitizeOverwrite, PurgeMethod::Format,
                          PurgeMethod::FormatCrypto}) {
      MethodSupport s;
      s.method = m;
      s.whyNot = whyNotOffered(m, c);
      s.offered = s.whyNot.empty();
      all.push_back(s);
    }
    addEstimates(all);
    return all;
  }

  std::string worldWideName() override {
    std::vector<uint8_t> ns(kNvmeIdentifyBytes, 0);
    if (!nvmeIdentifyNamespace(m_platform, m_handle, ns.data())) return "";
    // The EUI-64 where the namespace has one, else its NGUID; all zeros is none.
    const auto hex = [&ns](const char* prefix, size_t at, size_t length) -> std::string {
      if (std::all_of(ns.begin() + static_cast<long>(at), ns.begin() + static_cast<long>(at + length),
                      [](uint8_t b) { return b == 0; })) {
        return "";
      }
      std::string text = prefix;
      static constexpr char kDigits[] = "0123456789abcdef";
      for (size_t i = at; i < at + length; ++i) {
        text += kDigits[ns[i] >> 4];
        text += kDigits[ns[i] & 0xF];
      }
      return text;
    };
    const std::string eui = hex("eui.", kNvmeNsEui64, 8);
    return !eui.empty() ? eui : hex("nguid.", kNvmeNsNguid, 16);
  }

  PurgeReport run(PurgeMethod method, const PurgeHooks& hooks) override {
    const ControllerFacts c = readController(m_platform, m_handle);
    const std::string why = whyNotOffered(method, c);
    if (!why.empty()) return purgeEnded(PurgeStatus::Unsupported, why);
    if (isFormat(method)) return format(method, c, hooks);
    return sanitize(*sanitizeKind(method), hooks);
  }

 private:
  // The controller's own estimates of each sanitize, from the status log.
  void addEstimates(std::vector<MethodSupport>& all) {
    std::vector<uint8_t> log(kNvmeSanitizeLogBytes, 0);
    bool read = false;
    for (MethodSupport& s : all) {
      const SanitizeKind* kind = sanitizeKind(s.method);
      if (kind == nullptr || !s.offered) continue;
      if (!read && !nvmeGetLogPage(m_platform, m_handle, kNvmeLogSanitizeStatus, kNvmeSanitizeLogBytes, log.data())) {
        return;
      }
      read = true;
      const uint32_t seconds = loadLe32(&log[kind->estimateAt]);
      if (seconds != kNvmeSanitizeNoEstimate) s.estimatedMinutes = (seconds + 59) / 60;
    }
  }

  // The disk's NSID: the namespace the driver answers Identify Namespace for by name.
  uint32_t ownNamespace(uint32_t namespaces, std::vector<uint8_t>& page) {
    const uint32_t most = std::min(std::max(namespaces, 1u), kMostProbedNamespaces);
    for (uint32_t nsid = 1; nsid <= most; ++nsid) {
      if (nvmeIdentifyNamespaceNamed(m_platform, m_handle, nsid, page.data())) return nsid;
    }
    return 0;
  }

  PurgeReport format(PurgeMethod method, const ControllerFacts& c, const PurgeHooks& hooks);
  PurgeReport sanitize(const SanitizeKind& kind, const PurgeHooks& hooks);
  PurgeReport pollSanitize(uint32_t cdw10, const PurgeHooks& hooks);

  Platform& m_platform;
  Handle m_handle;
};

// Format NVM of the namespace with the format it has now (block size, metadata and
// protection as they are: only the data goes), then a check that it kept that format.
PurgeReport NvmePurgeDevice::format(PurgeMethod method, const ControllerFacts& c, const PurgeHooks& hooks) {
  std::vector<uint8_t> before(kNvmeIdentifyBytes, 0);
  if (!nvmeIdentifyNamespace(m_platform, m_handle, before.data())) {
    return purgeEnded(PurgeStatus::Unsupported, "the drive did not answer Identify Namespace");
  }
  const bool everyNamespace = (c.fna & (kNvmeFnaFormatAll | kNvmeFnaEraseAll)) != 0;
  const uint32_t nsid = everyNamespace ? kNvmeNamespaceAll : ownNamespace(c.namespaces, before);
  if (nsid == 0) return purgeEnded(PurgeStatus::Unsupported, "the drive did not tell which namespace this disk is");
  const uint8_t flbas = before[kNvmeNsFlbas];
  const uint8_t dps = before[kNvmeNsDps];
  const uint32_t lbaf = (flbas & 0xFu) | (((flbas >> 5) & 0x3u) << 4);
  NVME_COMMAND command{};
  command.Opcode = kNvmeAdminFormatNvm;
  command.Nsid = nsid;
  command.Cdw10 = (lbaf & 0xF) | ((flbas & kNvmeFlbasMset) != 0 ? kNvmeFormatMset : 0) |
                  (uint32_t{dps & 0x7u} << kNvmeFormatPiShift) | ((dps & kNvmeDpsPil) != 0 ? kNvmeFormatPil : 0) |
                  ((method == PurgeMethod::FormatCrypto ? kNvmeSesCrypto : kNvmeSesUserData) << kNvmeFormatSesShift) |
                  ((lbaf >> 4) << kNvmeFormatLbafHighShift);
  if (hooks.progress) hooks.progress({std::nullopt, "Waiting for Format NVM to finish..."});
  const NvmeCommandResult r = nvmeAdminCommand(m_platform, m_handle, command, kEraseTimeoutSeconds);
  if (!r.succeeded()) return commandRefused("Format NVM", r);

  PurgeReport report;
  std::vector<uint8_t> after(kNvmeIdentifyBytes, 0);
  if (!nvmeIdentifyNamespace(m_platform, m_handle, after.data())) {
    report.detail = "the format completed, but the drive did not answer Identify Namespace after it";
    return report;
  }
  if (after[kNvmeNsFlbas] != flbas) {
    char text[96];
    std::snprintf(text, sizeof text, "the format completed with another block format (FLBAS %02Xh, was %02Xh)",
                  after[kNvmeNsFlbas], flbas);
    report.detail = text;
    return report;
  }
  report.status = PurgeStatus::Completed;
  // A cryptographic erase leaves whatever the old data decrypts to under the new key: no
  // value to check the media against.
  if (method == PurgeMethod::Format) report.erasedValue = erasedValueOf(after[kNvmeNsDlfeat]);
  return report;
}

// Sanitize with No-Deallocate and Allow Unrestricted Sanitize Exit clear: a failure leaves
// the controller in its failure mode, which a user leaves on purpose.
PurgeReport NvmePurgeDevice::sanitize(const SanitizeKind& kind, const PurgeHooks& hooks) {
  NVME_COMMAND command{};
  command.Opcode = kNvmeAdminSanitize;
  command.Cdw10 = kind.sanact;
  if (kind.sanact == kNvmeSanactOverwrite) command.Cdw10 |= 1u << kNvmeSanitizeOwpassShift;  // one pass
  command.Cdw11 = 0;  // the overwrite pattern: zeros
  const NvmeCommandResult r = nvmeAdminCommand(m_platform, m_handle, command, kEraseTimeoutSeconds);
  if (!r.succeeded()) return commandRefused("Sanitize", r);
  PurgeReport report = pollSanitize(command.Cdw10, hooks);
  if (report.status != PurgeStatus::Completed) return report;
  std::vector<uint8_t> ns(kNvmeIdentifyBytes, 0);
  if (kind.sanact == kNvmeSanactOverwrite) {
    report.erasedValue = uint8_t{0x00};
  } else if (kind.sanact == kNvmeSanactBlock && nvmeIdentifyNamespace(m_platform, m_handle, ns.data())) {
    report.erasedValue = erasedValueOf(ns[kNvmeNsDlfeat]);
  }
  return report;
}

// Reads the Sanitize Status log until it reports the end of the sanitize `cdw10` started.
PurgeReport NvmePurgeDevice::pollSanitize(uint32_t cdw10, const PurgeHooks& hooks) {
  std::vector<uint8_t> log(kNvmeSanitizeLogBytes, 0);
  int unanswered = 0;
  int foreign = 0;
  for (uint64_t waited = 0; waited <= kGiveUpMilliseconds; waited += kPollMilliseconds) {
    m_platform.sleep(kPollMilliseconds);
    if (!nvmeGetLogPage(m_platform, m_handle, kNvmeLogSanitizeStatus, kNvmeSanitizeLogBytes, log.data())) {
      if (++unanswered >= kUnansweredPollsAllowed) {
        return purgeEnded(PurgeStatus::Failed, "the drive stopped answering while it sanitized");
      }
      continue;
    }
    unanswered = 0;
    const auto status = static_cast<uint8_t>(loadLe16(&log[kNvmeSanitizeSstat]) & 0x7);
    // A status of an earlier sanitize is not this one's end.
    const bool ours = (loadLe32(&log[kNvmeSanitizeScdw10]) & 0x7) == (cdw10 & 0x7);
    if (status == kNvmeSanitizeInProgress) {
      if (hooks.progress) {
        hooks.progress({loadLe16(&log[kNvmeSanitizeSprog]) / kProgressUnits, "Waiting for Sanitize to finish..."});
      }
      continue;
    }
    if (ours && (status == kNvmeSanitizeCompleted || status == kNvmeSanitizeCompletedNoDeallocate)) {
      return purgeEnded(PurgeStatus::Completed, "");
    }
    if (ours && status == kNvmeSanitizeFailed) {
      return purgeEnded(PurgeStatus::Failed, std::string("the drive reported the sanitize failed") + kFailureMode);
    }
    if (++foreign >= kForeignPollsAllowed) {
      return purgeEnded(PurgeStatus::Failed, "the drive accepted Sanitize but its status log never showed it running");
    }
  }
  return purgeEnded(PurgeStatus::Failed, "the sanitize did not end within two days");
}

}  // namespace

std::unique_ptr<PurgeDevice> nvmePurgeDevice(Platform& platform, Handle handle) {
  return std::make_unique<NvmePurgeDevice>(platform, handle);
}

}  // namespace palvoro
