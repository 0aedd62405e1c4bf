#include "app/cli_certificate.h"

#include <CLI/CLI.hpp>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/cli.h"
#include "app/cli_report.h"
#include "app/console_text.h"
#include "results/certificate_signature.h"

namespace palvoro {
using namespace cli;
namespace {

// Certificates are a few kilobytes; anything far larger is not one and is not read.
constexpr size_t kLargestCertificate = 16 * 1024 * 1024;

std::optional<std::string> readWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text;
  std::istreambuf_iterator<char> it(file);
  for (const std::istreambuf_iterator<char> end; it != end && text.size() <= kLargestCertificate; ++it) {
    text.push_back(*it);
  }
  if (file.bad() || text.size() > kLargestCertificate) return std::nullopt;
  return text;
}

bool accepted(const CertificateCheck& check, bool allowUnsigned) {
  return check.status == CertificateStatus::Valid || (allowUnsigned && check.status == CertificateStatus::NotSigned);
}

void printCheck(const std::string& file, const CertificateCheck& check, std::ostream& out) {
  out << file << ": " << certificateStatusText(check.status) << "\n";
  if (!check.summary.empty()) out << "  it records " << check.summary << "\n";
  if (!check.fingerprint.empty()) out << "  signed by the Ed25519 key " << check.fingerprint << "\n";
  if (check.status == CertificateStatus::NotSigned) {
    out << "  every field matches its digest, but nothing proves who wrote them: anyone could have made this file\n";
  }
  for (const std::string& change : check.changes) out << "  - " << change << "\n";
}

}  // namespace

CertificateCommand::CertificateCommand(CLI::App& app) {
  CLI::App* certificate = app.add_subcommand("certificate", "Erase certificates");
  certificate->require_subcommand(1);
  m_verify = certificate->add_subcommand(
      "verify", "Check an erase certificate: whether any field was changed since it was written, and who signed it");
  m_verify->add_option("FILE", m_file, "The certificate, erasure-SERIAL-TIME.json")->required();
  m_verify->add_option("--key", m_keyFile, "The public key (PEM) the certificate must be signed with")
      ->type_name("PUB.pem");
  m_verify->add_flag("--allow-unsigned", m_allowUnsigned,
                     "Accept a certificate without a signature whose fields match their digests (exit status 0)");
}

bool CertificateCommand::parsed() const { return m_verify->parsed(); }

int CertificateCommand::run(const CliOptions& options, std::ostream& out, std::ostream& err) const {
  const std::optional<std::string> text = readWhole(m_file);
  if (!text) return fail(options, out, err, kCliUsage, "the certificate " + m_file + " cannot be read");
  std::optional<std::string> key;
  if (!m_keyFile.empty()) {
    key = readWhole(m_keyFile);
    if (!key) return fail(options, out, err, kCliUsage, "the key " + m_keyFile + " cannot be read");
  }
  const CertificateCheck check = verifyCertificate(*text, key);
  if (check.status == CertificateStatus::KeyUnreadable) {
    return fail(options, out, err, kCliUsage, m_keyFile + " holds no Ed25519 public key in PEM");
  }
  const bool valid = accepted(check, m_allowUnsigned);
  if (options.json) {
    const nlohmann::ordered_json document = {{"schema_version", kCliSchemaVersion},
                                             {"file", m_file},
                                             {"status", certificateStatusText(check.status)},
                                             {"valid", valid},
                                             {"summary", check.summary},
                                             {"fingerprint", check.fingerprint},
                                             {"changes", check.changes}};
    out << jsonText(document, 2) << "\n";
  } else {
    printCheck(m_file, check, out);
  }
  return valid ? kCliOk : kCliDriveFailed;
}

std::unique_ptr<CertificateCommand> addCertificateCommand(CLI::App& app) {
  return std::make_unique<CertificateCommand>(app);
}

}  // namespace palvoro
