#pragma once
// What an erase leaves besides the result page: for each drive its certificate as JSON
// (the record, sealed and signed when a key was given) and as a PDF page, and for a bench
// a summary naming every drive's certificate. Written through WriteFolder, as every file
// of the program's own is.

#include <string>
#include <vector>

#include "results/certificate_signature.h"
#include "results/erase_certificate.h"

namespace palvoro {

// How writing the certificates ended.
enum class CertificateWrite : int {
  Written = 0,        // every file is there, whole
  FolderRefused = 1,  // nothing written: the folder did not pass WriteFolder's check
  NotSealed = 2,      // nothing written: the document could not be digested or signed
  NoPdf = 3,          // the JSON is written, the PDF could not be drawn
  NotWritten = 4,     // a file could not be written (disk full, a folder of its name)
};

struct CertificateFiles {
  CertificateWrite result = CertificateWrite::NotWritten;
  std::vector<std::string> names;  // the files written, by name in the folder, in order
  std::string message;             // what went wrong, as a sentence; empty when written
};

// Writes erasure-<serial>-<time>.json and .pdf into `folder`, signed with `key` when it
// is not null (the key loadSigningKey read before the erase began).
[[nodiscard]] CertificateFiles writeCertificates(const ErasureCertificate& certificate, const std::string& folder,
                                                 const SigningKey* key);
// Every drive's certificate, then erasure-bench-<time>.json and .pdf; stops at the first
// failure, naming what was written before it.
[[nodiscard]] CertificateFiles writeBenchCertificates(const BenchCertificate& bench, const std::string& folder,
                                                      const SigningKey* key);

}  // namespace palvoro
