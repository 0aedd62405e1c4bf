#pragma once
// The certificate of one erase: what was erased (the drive's identity), how (the method
// and the category it meets), when, how it was verified and by whom. It is written as a
// JSON document, signed when the user gives a key, and drawn as a PDF beside it.

#include <cstdint>
#include <optional>
#include <string>
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

}  // namespace palvoro
