#pragma once
// Sealing a certificate document and checking one. A sealed document carries "fields":
// each leaf's path ("drive.serial", "drives.3.outcome") and the SHA-256 of its canonical
// value; with a key it also carries "signature", an Ed25519 signature over that map and
// the signer's public key. So a verifier can say which field was changed, added or
// removed, and whether the list of digests itself was touched.
//
// What is signed, byte for byte: "palvoro-certificate-fields\n", the public key in base64,
// "\n", then the "fields" object serialised with its keys sorted, no spaces (nlohmann's
// dump()). A field's canonical value is its JSON value serialised the same way.

#include <array>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace palvoro {

// An Ed25519 private key held as its raw 32 bytes, with its public half; wiped when it goes.
class SigningKey {
 public:
  SigningKey(const std::array<uint8_t, 32>& privateKey, const std::array<uint8_t, 32>& publicKey);
  SigningKey(const SigningKey& other) = default;
  SigningKey& operator=(const SigningKey& other) = default;
  ~SigningKey();
  const std::array<uint8_t, 32>& privateKey() const { return m_private; }
  const std::array<uint8_t, 32>& publicKey() const { return m_public; }

 private:
  std::array<uint8_t, 32> m_private;
  std::array<uint8_t, 32> m_public;
};

// How reading a signing key ended.
enum class SigningKeyError : int {
  Loaded = 0,      // the key is in `key`
  Unreadable = 1,  // the file cannot be opened or read, or is larger than any key file
  NotAKey = 2,     // the file holds no unencrypted private key in PEM
  NotEd25519 = 3,  // the key is of another algorithm (RSA, an elliptic curve, ...)
};

struct SigningKeyLoad {
  SigningKeyError error = SigningKeyError::Unreadable;
  std::optional<SigningKey> key;
  std::string message;  // the refusal as a sentence naming the file; empty when loaded
};

// Reads the private key `--sign-key FILE` names (PEM, as `openssl genpkey -algorithm
// ed25519` writes it). Called before an erase starts, so a key that cannot sign stops the
// erase before it has begun rather than after the drive is gone. Never asks for a pass phrase.
[[nodiscard]] SigningKeyLoad loadSigningKey(const std::string& path);

// The SHA-256 of a raw public key, in hex, in groups of four for reading aloud.
std::string keyFingerprint(const std::array<uint8_t, 32>& publicKey);

// The document with its "fields" map and, with a key, its "signature" block, as the text
// to write (indented, ending with a newline). Nothing when the signing fails.
[[nodiscard]] std::optional<std::string> sealCertificate(const nlohmann::ordered_json& document,
                                                         const SigningKey* key);

// A verifier's verdict, most serious first where several apply (Malformed, KeyUnreadable,
// BadSignature, Changed, UntrustedKey, NotSigned).
enum class CertificateStatus : int {
  Valid = 0,         // signed, every field as signed, and by the expected key when one was named
  NotSigned = 1,     // every field matches its digest, but nothing proves who wrote them
  Changed = 2,       // a field was changed, added or removed after the digests were made
  BadSignature = 3,  // the signature does not cover this field list: the list itself was changed
  UntrustedKey = 4,  // a sound signature, but by another key than the one named
  Malformed = 5,     // not a certificate document: not JSON, no field list, an unknown format
  KeyUnreadable = 6, // the trusted key given holds no Ed25519 public key
};

struct CertificateCheck {
  CertificateStatus status = CertificateStatus::Malformed;
  std::vector<std::string> changes;  // one sentence each: "drive.serial was changed"
  std::string fingerprint;           // of the key that signed it; empty when not signed
  std::string summary;               // what the document certifies, in a line
};

// Checks a certificate document. `trustedKeyPem`, when given, is the public key (PEM) the
// signature must be made with.
[[nodiscard]] CertificateCheck verifyCertificate(std::string_view text,
                                                 const std::optional<std::string>& trustedKeyPem = std::nullopt);

// The verdict in a few words: "valid", "not signed", "changed", ...
const char* certificateStatusText(CertificateStatus status);

}  // namespace palvoro
