#include "results/erase_certificate.h"

#include <nlohmann/json.hpp>

namespace palvoro {
namespace {

using Json = nlohmann::ordered_json;

Json driveJson(const CertificateDrive& d) {
  return {{"model", d.model},
          {"serial", d.serial},
          {"firmware", d.firmware},
          {"capacityBytes", d.capacityBytes},
          {"sectorSize", d.sectorSize},
          {"bus", d.bus},
          {"wwn", d.wwn},
          {"smartHealth", d.smartHealth}};
}

Json hiddenJson(const CertificateHiddenAreas& h) {
  return {{"hpaKnown", h.hpaKnown},
          {"hpaSectors", h.hpaSectors},
          {"dcoKnown", h.dcoKnown},
          {"dcoSectors", h.dcoSectors},
          {"handling", h.handling}};
}

Json verificationJson(const CertificateVerification& v) {
  return {{"method", v.method},
          {"sectorsRead", v.sectorsRead},
          {"sectorsFailed", v.sectorsFailed},
          {"passed", v.passed},
          {"detail", v.detail}};
}

// Reads `key` of `object` into `value` when it is there with the value's type; a missing
// key or another type fails the whole read, so a verifier never shows half a record.
class Reader {
 public:
  explicit Reader(const Json& object) : m_object(object) { m_ok = object.is_object(); }
  bool ok() const { return m_ok; }
  const Json* child(const char* key) {
    if (!m_ok) return nullptr;
    const auto it = m_object.find(key);
    if (it == m_object.end() || !it->is_object()) {
      m_ok = false;
      return nullptr;
    }
    return &*it;
  }
  void read(const char* key, std::string& value) {
    if (const Json* v = find(key); v != nullptr && v->is_string()) value = v->get<std::string>(); else m_ok = false;
  }
  void read(const char* key, bool& value) {
    if (const Json* v = find(key); v != nullptr && v->is_boolean()) value = v->get<bool>(); else m_ok = false;
  }
  template <typename Unsigned>
  void read(const char* key, Unsigned& value) {
    const Json* v = find(key);
    if (v != nullptr && v->is_number_unsigned() && v->get<uint64_t>() <= static_cast<uint64_t>(Unsigned(~Unsigned(0)))) {
      value = static_cast<Unsigned>(v->get<uint64_t>());
    } else {
      m_ok = false;
    }
  }

 private:
  const Json* find(const char* key) {
    if (!m_ok) return nullptr;
    const auto it = m_object.find(key);
    return it == m_object.end() ? nullptr : &*it;
  }
  const Json& m_object;
  bool m_ok = false;
};

bool readDrive(const Json* object, CertificateDrive& d) {
  if (object == nullptr) return false;
  Reader r(*object);
  r.read("model", d.model);
  r.read("serial", d.serial);
  r.read("firmware", d.firmware);
  r.read("capacityBytes", d.capacityBytes);
  r.read("sectorSize", d.sectorSize);
  r.read("bus", d.bus);
  r.read("wwn", d.wwn);
  r.read("smartHealth", d.smartHealth);
  return r.ok();
}

bool readHidden(const Json* object, CertificateHiddenAreas& h) {
  if (object == nullptr) return false;
  Reader r(*object);
  r.read("hpaKnown", h.hpaKnown);
  r.read("hpaSectors", h.hpaSectors);
  r.read("dcoKnown", h.dcoKnown);
  r.read("dcoSectors", h.dcoSectors);
  r.read("handling", h.handling);
  return r.ok();
}

bool readVerification(const Json* object, CertificateVerification& v) {
  if (object == nullptr) return false;
  Reader r(*object);
  r.read("method", v.method);
  r.read("sectorsRead", v.sectorsRead);
  r.read("sectorsFailed", v.sectorsFailed);
  r.read("passed", v.passed);
  r.read("detail", v.detail);
  return r.ok();
}

// Whether the document says it is of this kind, in the layout this program writes.
bool isKind(const Json& document, const char* kind) {
  if (!document.is_object()) return false;
  const auto format = document.find("format");
  const auto k = document.find("kind");
  return format != document.end() && *format == kCertificateFormat && k != document.end() && *k == kind;
}

// "2026-12-10T04:00:00Z" -> "20261210T040000Z": the separators a file name does not need.
std::string compactTime(std::string_view iso) {
  std::string compact;
  for (const char c : iso) {
    if (c != '-' && c != ':') compact.push_back(c);
  }
  return fileNamePart(compact);
}

}  // namespace

Json certificateJson(const ErasureCertificate& c) {
  return {{"format", kCertificateFormat},
          {"kind", "erasure"},
          {"id", c.id},
          {"drive", driveJson(c.drive)},
          {"hidden", hiddenJson(c.hidden)},
          {"method", c.method},
          {"methodSentence", c.methodSentence},
          {"category", c.category},
          {"started", c.started},
          {"ended", c.ended},
          {"outcome", c.outcome},
          {"outcomeDetail", c.outcomeDetail},
          {"verification", verificationJson(c.verification)},
          {"host", c.host},
          {"operatorName", c.operatorName},
          {"program", c.program}};
}

Json benchCertificateJson(const BenchCertificate& b) {
  Json drives = Json::array();
  for (const ErasureCertificate& c : b.drives) {
    drives.push_back({{"certificate", certificateFileName(c, ".json")},
                      {"id", c.id},
                      {"model", c.drive.model},
                      {"serial", c.drive.serial},
                      {"method", c.method},
                      {"category", c.category},
                      {"outcome", c.outcome},
                      {"verified", c.verification.passed}});
  }
  return {{"format", kCertificateFormat}, {"kind", "bench"},       {"id", b.id},
          {"started", b.started},         {"ended", b.ended},       {"host", b.host},
          {"operatorName", b.operatorName}, {"program", b.program}, {"drives", std::move(drives)}};
}

std::optional<ErasureCertificate> certificateFromJson(const Json& document) {
  if (!isKind(document, "erasure")) return std::nullopt;
  ErasureCertificate c;
  Reader r(document);
  r.read("id", c.id);
  const bool parts = readDrive(r.child("drive"), c.drive) && readHidden(r.child("hidden"), c.hidden) &&
                     readVerification(r.child("verification"), c.verification);
  r.read("method", c.method);
  r.read("methodSentence", c.methodSentence);
  r.read("category", c.category);
  r.read("started", c.started);
  r.read("ended", c.ended);
  r.read("outcome", c.outcome);
  r.read("outcomeDetail", c.outcomeDetail);
  r.read("host", c.host);
  r.read("operatorName", c.operatorName);
  r.read("program", c.program);
  if (!parts || !r.ok()) return std::nullopt;
  return c;
}

std::optional<BenchCertificate> benchCertificateFromJson(const Json& document) {
  if (!isKind(document, "bench")) return std::nullopt;
  BenchCertificate b;
  Reader r(document);
  r.read("id", b.id);
  r.read("started", b.started);
  r.read("ended", b.ended);
  r.read("host", b.host);
  r.read("operatorName", b.operatorName);
  r.read("program", b.program);
  const auto drives = document.find("drives");
  if (!r.ok() || drives == document.end() || !drives->is_array()) return std::nullopt;
  for (const Json& row : *drives) {
    ErasureCertificate c;
    std::string file;
    Reader d(row);
    d.read("certificate", file);
    d.read("id", c.id);
    d.read("model", c.drive.model);
    d.read("serial", c.drive.serial);
    d.read("method", c.method);
    d.read("category", c.category);
    d.read("outcome", c.outcome);
    d.read("verified", c.verification.passed);
    if (!d.ok()) return std::nullopt;
    b.drives.push_back(std::move(c));
  }
  return b;
}

std::string certificateTime(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string(text, n);
}

std::string fileNamePart(std::string_view text) {
  // Long enough for any serial a drive reports (20 bytes for ATA, 20 for NVMe), short
  // enough that the whole name stays far below a file system's 255.
  constexpr size_t kLongest = 64;
  std::string part;
  for (const char c : text.substr(0, kLongest)) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-';
    part.push_back(plain ? c : '_');
  }
  return part.empty() ? std::string("unknown") : part;
}

std::string certificateIdOf(std::string_view serial, std::string_view started) {
  return fileNamePart(serial) + "-" + compactTime(started);
}

std::string certificateFileName(const ErasureCertificate& certificate, std::string_view extension) {
  return "erasure-" + certificateIdOf(certificate.drive.serial, certificate.started) + std::string(extension);
}

std::string benchCertificateFileName(const BenchCertificate& bench, std::string_view extension) {
  return "erasure-bench-" + compactTime(bench.started) + std::string(extension);
}

}  // namespace palvoro
