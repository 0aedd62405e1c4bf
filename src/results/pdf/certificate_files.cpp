#include "results/pdf/certificate_files.h"

#include <nlohmann/json.hpp>

#include "platform/write_folder.h"
#include "results/pdf/certificate_pdf.h"

namespace palvoro {
namespace {

CertificateFiles failure(CertificateFiles files, CertificateWrite result, std::string message) {
  files.result = result;
  files.message = std::move(message);
  return files;
}

// Seals `document`, draws its page with `pdf` and writes both under `stem`.
template <typename DrawPdf>
CertificateFiles writePair(const WriteFolder& folder, const std::string& stem, const nlohmann::ordered_json& document,
                           const SigningKey* key, DrawPdf pdf, CertificateFiles files) {
  const std::optional<std::string> json = sealCertificate(document, key);
  if (!json) return failure(std::move(files), CertificateWrite::NotSealed, "the certificate " + stem + " could not be sealed");
  const std::string jsonName = stem + ".json";
  if (folder.writeFile(jsonName, json->data(), json->size()) != FileWrite::Written) {
    return failure(std::move(files), CertificateWrite::NotWritten, jsonName + " could not be written");
  }
  files.names.push_back(jsonName);
  const std::string fingerprint = key != nullptr ? keyFingerprint(key->publicKey()) : std::string();
  const std::optional<std::string> page = pdf(fingerprint, jsonName);
  if (!page) return failure(std::move(files), CertificateWrite::NoPdf, "the page of " + jsonName + " could not be drawn");
  const std::string pdfName = stem + ".pdf";
  if (folder.writeFile(pdfName, page->data(), page->size()) != FileWrite::Written) {
    return failure(std::move(files), CertificateWrite::NotWritten, pdfName + " could not be written");
  }
  files.names.push_back(pdfName);
  files.result = CertificateWrite::Written;
  return files;
}

CertificateFiles writeOne(const WriteFolder& folder, const ErasureCertificate& certificate, const SigningKey* key,
                          CertificateFiles files) {
  const std::string name = certificateFileName(certificate, ".json");
  return writePair(
      folder, name.substr(0, name.size() - 5), certificateJson(certificate), key,
      [&](const std::string& fingerprint, const std::string& jsonName) {
        return certificatePdf(certificate, fingerprint, jsonName);
      },
      std::move(files));
}

}  // namespace

CertificateFiles writeCertificates(const ErasureCertificate& certificate, const std::string& folderPath,
                                   const SigningKey* key) {
  const WriteFolder folder = WriteFolder::open(folderPath);
  if (!folder.usable()) return failure({}, CertificateWrite::FolderRefused, folder.refusal());
  return writeOne(folder, certificate, key, {});
}

CertificateFiles writeBenchCertificates(const BenchCertificate& bench, const std::string& folderPath,
                                        const SigningKey* key) {
  const WriteFolder folder = WriteFolder::open(folderPath);
  if (!folder.usable()) return failure({}, CertificateWrite::FolderRefused, folder.refusal());
  CertificateFiles files;
  for (const ErasureCertificate& certificate : bench.drives) {
    files = writeOne(folder, certificate, key, std::move(files));
    if (files.result != CertificateWrite::Written) return files;
  }
  const std::string name = benchCertificateFileName(bench, ".json");
  return writePair(
      folder, name.substr(0, name.size() - 5), benchCertificateJson(bench), key,
      [&](const std::string& fingerprint, const std::string& jsonName) {
        return benchCertificatePdf(bench, fingerprint, jsonName);
      },
      std::move(files));
}

}  // namespace palvoro
