// The protocol-neutral side of the drive's own erase: each method's name, category and
// sentence, and the purge device of a drive nothing carries the commands to.

#include "device/purge.h"

#include <array>

namespace palvoro {
namespace {

struct MethodText {
  PurgeMethod method;
  const char* name;
  const char* sentence;
};

// One row per method, so that a name and its sentence cannot drift apart.
constexpr std::array<MethodText, 8> kMethods{{
    {PurgeMethod::Overwrite, "overwrite",
     "The program writes zeros over every block the drive shows; spare and hidden blocks keep what they held."},
    {PurgeMethod::SecurityErase, "security-erase",
     "The drive's own security erase: it overwrites every block of its user data area."},
    {PurgeMethod::SecurityEraseEnhanced, "security-erase-enhanced",
     "The drive's own enhanced security erase: it erases every block it has ever used, spare blocks included."},
    {PurgeMethod::SanitizeCrypto, "sanitize-crypto",
     "The drive's own cryptographic erase: it replaces the key its data is encrypted with, so every block, spare "
     "blocks included, becomes unreadable."},
    {PurgeMethod::SanitizeBlock, "sanitize-block",
     "The drive's own block erase: it erases every block of its flash, spare blocks included."},
    {PurgeMethod::SanitizeOverwrite, "sanitize-overwrite",
     "The drive's own overwrite: it writes a pattern over every block, spare blocks included."},
    {PurgeMethod::Format, "format",
     "The drive's own format with user data erase: every block of the namespace is erased."},
    {PurgeMethod::FormatCrypto, "format-crypto",
     "The drive's own format with cryptographic erase: the key of the namespace is replaced, so its data becomes "
     "unreadable."},
}};

const MethodText& textOf(PurgeMethod method) {
  for (const MethodText& t : kMethods) {
    if (t.method == method) return t;
  }
  return kMethods[0];
}

class RefusingPurge final : public PurgeDevice {
 public:
  explicit RefusingPurge(std::string why) : m_why(std::move(why)) {}
  std::vector<MethodSupport> methods() override {
    std::vector<MethodSupport> out;
    for (const MethodText& t : kMethods) {
      if (t.method != PurgeMethod::Overwrite) out.push_back(MethodSupport{t.method, false, m_why, 0});
    }
    return out;
  }
  PurgeReport run(PurgeMethod, const PurgeHooks&) override {
    PurgeReport r;
    r.status = PurgeStatus::Unsupported;
    r.detail = m_why;
    return r;
  }

 private:
  std::string m_why;
};

}  // namespace

const char* purgeCategory(PurgeMethod method) { return method == PurgeMethod::Overwrite ? "Clear" : "Purge"; }

const char* purgeMethodName(PurgeMethod method) { return textOf(method).name; }

std::optional<PurgeMethod> purgeMethodNamed(const std::string& name) {
  for (const MethodText& t : kMethods) {
    if (name == t.name) return t.method;
  }
  return std::nullopt;
}

const char* purgeMethodSentence(PurgeMethod method) { return textOf(method).sentence; }

std::unique_ptr<PurgeDevice> refusingPurgeDevice(std::string why) {
  return std::make_unique<RefusingPurge>(std::move(why));
}

PurgeReport purgeEnded(PurgeStatus status, std::string detail) {
  PurgeReport report;
  report.status = status;
  report.detail = std::move(detail);
  return report;
}

}  // namespace palvoro
