#pragma once
// The certificate of one erase: what was erased (the drive's identity), how (the method
// and the category it meets), when, how it was verified and by whom. It is written as a
// JSON document, signed when the user gives a key, and drawn as a PDF beside it.

#include <cstdint>
#include <ctime>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace palvoro {

struct CertificateDrive {
  std::string model;
  std::string serial;
  std::string firmware;
  uint64_t capacityBytes = 0;
  uint32_t sectorSize = 512;
  std::string bus;               // "SATA", "USB", "NVMe", ...
  std::string wwn;               // "" when unknown
  std::string smartHealth;       // the verdict at the time of the erase: "GOOD", "BAD", "Unknown", ...
};

struct CertificateHiddenAreas {
  bool hpaKnown = false;
  uint64_t hpaSectors = 0;
  bool dcoKnown = false;
  uint64_t dcoSectors = 0;
  std::string handling;          // what the erase did about them, in a sentence
};

struct CertificateVerification {
  std::string method;            // "none", "sample", "every sector"
  uint64_t sectorsRead = 0;
  uint64_t sectorsFailed = 0;    // read back holding something else, or not read at all
  bool passed = false;
  std::string detail;
};

struct ErasureCertificate {
  std::string id;                // serial and start time, as in the file name
  CertificateDrive drive;
  CertificateHiddenAreas hidden;
  std::string method;            // "sanitize-crypto", "overwrite (full)", ...
  std::string methodSentence;
  std::string category;          // "Clear" or "Purge"
  std::string started;           // ISO 8601, UTC: "2026-12-10T04:00:00Z"
  std::string ended;
  std::string outcome;           // "COMPLETE", "FAIL", "STOPPED"
  std::string outcomeDetail;
  CertificateVerification verification;
  std::string host;
  std::string operatorName;
  std::string program;           // "PALVORO 3.1.0"
};

// Several drives erased at once: one line per drive, each naming its own certificate.
struct BenchCertificate {
  std::string id;
  std::string started;
  std::string ended;
  std::string host;
  std::string operatorName;
  std::string program;
  std::vector<ErasureCertificate> drives;
};

// The version of the certificate documents' layout (the "format" key); raised whenever a
// key changes meaning, so a verifier never reads an old document with new words.
inline constexpr int kCertificateFormat = 1;

// The document of one erase: "format", "kind": "erasure", then one key per field of the
// record, named as the field. The "fields" digests and the signature are added when it
// is sealed (certificate_signature.h).
nlohmann::ordered_json certificateJson(const ErasureCertificate& certificate);
// The summary of a bench: "kind": "bench", its own fields, and "drives": one object per
// drive naming its certificate file ("certificate"), its identity, method and outcome.
nlohmann::ordered_json benchCertificateJson(const BenchCertificate& bench);

// The record back from its document; nothing when a key is missing or of another type.
// A bench's drives come back with the fields its summary names (id, drive model and
// serial, method, category, outcome, verification.passed).
std::optional<ErasureCertificate> certificateFromJson(const nlohmann::ordered_json& document);
std::optional<BenchCertificate> benchCertificateFromJson(const nlohmann::ordered_json& document);

// A time as the certificates write it: ISO 8601 in UTC, to the second ("2026-12-10T04:00:00Z").
std::string certificateTime(std::time_t time);
// A device's or user's text made fit for a file name: every byte but [A-Za-z0-9._-]
// becomes '_', cut to 64 bytes, "unknown" when nothing is left.
std::string fileNamePart(std::string_view text);
// The id the filler gives a certificate: the serial made safe and the start time without
// its separators ("WD-123-20261210T040000Z"), as in the file names.
std::string certificateIdOf(std::string_view serial, std::string_view started);
// "erasure-<serial>-<YYYYMMDDTHHMMSSZ><extension>", extension with its dot (".json", ".pdf").
std::string certificateFileName(const ErasureCertificate& certificate, std::string_view extension);
// "erasure-bench-<YYYYMMDDTHHMMSSZ><extension>".
std::string benchCertificateFileName(const BenchCertificate& bench, std::string_view extension);

}  // namespace palvoro
