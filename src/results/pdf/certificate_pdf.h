#pragma once
// The erase certificate drawn as one A4 page of PDF, for a person to read, file and sign
// by hand; the JSON beside it is the record a verifier checks. Every text from a drive or
// a user is drawn as plain text, its control characters replaced and cut to its box.
//
// Qt draws the page, and Qt's fonts need a QGuiApplication. palvoro-cli has none: the
// first call creates one on the offscreen platform, on the calling thread, and keeps it
// until the process exits (then it is deleted). So the first call must come from the
// thread that would own an application: the main thread. A command that will write
// certificates calls preparePdfDrawing() there before its runs start (beside
// loadSigningKey), since a bench writes them from each drive's thread; a program that
// makes its own QGuiApplication must do so before it. Pages are drawn one at a time
// whatever thread asks.

#include <optional>
#include <string>

#include "results/erase_certificate.h"

namespace palvoro {

// Makes sure a QGuiApplication exists (see above); false when a QCoreApplication that
// cannot draw already stands in its place.
[[nodiscard]] bool preparePdfDrawing();

// The page of one drive's certificate. `fingerprint` is the signing key's, empty when the
// certificate is not signed; `jsonName` the file the page stands beside. Nothing when Qt
// cannot draw.
[[nodiscard]] std::optional<std::string> certificatePdf(const ErasureCertificate& certificate,
                                                        const std::string& fingerprint, const std::string& jsonName);
// The summary of a bench: its host, operator and times, then a table of its drives, as
// many pages as the drives take.
[[nodiscard]] std::optional<std::string> benchCertificatePdf(const BenchCertificate& bench,
                                                             const std::string& fingerprint,
                                                             const std::string& jsonName);

}  // namespace palvoro
