#include "results/certificate_signature.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "results/erase_certificate.h"

namespace palvoro {
namespace {

using Json = nlohmann::ordered_json;
using Fields = std::map<std::string, std::string>;  // leaf path -> SHA-256 of its value, hex

// Ahead of the key and the field list in the signed bytes, so a signature made by this
// key for anything else can never pass for a certificate's.
constexpr std::string_view kSignedPrefix = "palvoro-certificate-fields\n";
constexpr std::string_view kAlgorithm = "Ed25519";
// No key file is this long; a larger file is not read into memory.
constexpr std::streamsize kLargestKeyFile = 64 * 1024;

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Every dump the digests and signature see: strings that are not UTF-8 are replaced, never
// thrown over, so a hostile device text cannot stop a certificate being written.
std::string canonical(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string hex(const unsigned char* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0f]);
  }
  return text;
}

std::string sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1) return {};
  return hex(digest, size);
}

std::string base64(const unsigned char* bytes, size_t size) {
  std::string text;
  text.append(4 * ((size + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, static_cast<int>(size));
  return text.substr(0, static_cast<size_t>(n));
}

// Exactly `size` bytes from their base64, or nothing; only the one spelling base64()
// gives is taken, so the text cannot be altered without the bytes changing.
template <size_t N>
std::optional<std::array<unsigned char, N>> fromBase64(std::string_view text) {
  if (text.size() != 4 * ((N + 2) / 3)) return std::nullopt;
  std::string decoded;
  decoded.append(text.size(), '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < static_cast<int>(N)) return std::nullopt;
  std::array<unsigned char, N> bytes{};
  std::copy_n(decoded.begin(), N, bytes.begin());
  if (base64(bytes.data(), N) != text) return std::nullopt;
  return bytes;
}

// Deeper than any certificate nests (a bench's drive is three levels down); a file nested
// deeper is refused before it can exhaust the stack.
constexpr int kDeepest = 16;

// Every leaf of the document but the seal itself, by its dotted path; false when two
// leaves would share a path (a key holding a dot made to shadow another field) or the
// document nests too deep.
bool collectLeaves(const Json& value, const std::string& path, Fields& fields, int depth = 0) {
  const bool container = value.is_object() || value.is_array();
  if (!container || value.empty()) return fields.emplace(path, sha256Hex(canonical(value))).second;
  if (depth == kDeepest) return false;
  if (value.is_array()) {
    for (size_t i = 0; i < value.size(); ++i) {
      if (!collectLeaves(value[i], path + "." + std::to_string(i), fields, depth + 1)) return false;
    }
    return true;
  }
  for (const auto& [key, child] : value.items()) {
    if (path.empty() && (key == "fields" || key == "signature")) continue;
    if (!collectLeaves(child, path.empty() ? key : path + "." + key, fields, depth + 1)) return false;
  }
  return true;
}

std::string signedBytes(const std::string& publicKeyBase64, const Fields& fields) {
  std::string bytes(kSignedPrefix);
  bytes.append(publicKeyBase64).append("\n").append(nlohmann::json(fields).dump());
  return bytes;
}

std::optional<std::string> sign(const SigningKey& key, const std::string& bytes) {
  const Pkey pkey(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key.privateKey().data(), 32));
  const std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  unsigned char signature[64];
  size_t size = sizeof signature;
  if (!pkey || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1 ||
      EVP_DigestSign(ctx.get(), signature, &size, reinterpret_cast<const unsigned char*>(bytes.data()),
                     bytes.size()) != 1) {
    ERR_clear_error();
    return std::nullopt;
  }
  return base64(signature, size);
}

bool signatureHolds(const std::array<unsigned char, 32>& publicKey, const std::array<unsigned char, 64>& signature,
                    const std::string& bytes) {
  const Pkey pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
  const std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  const bool holds = pkey && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
                     EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                                      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
  ERR_clear_error();
  return holds;
}

// Never asks: a key with a pass phrase is refused instead of a prompt appearing mid-run.
int noPassphrase(char*, int, int, void*) { return 0; }

Pkey readPem(std::string_view pem, bool privateKey) {
  const std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  Pkey key(privateKey ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr)
                      : PEM_read_bio_PUBKEY(bio.get(), nullptr, noPassphrase, nullptr));
  ERR_clear_error();
  return key;
}

std::optional<std::array<unsigned char, 32>> trustedKeyOf(const std::string& pem) {
  const Pkey key = readPem(pem, false);
  std::array<unsigned char, 32> raw{};
  size_t size = raw.size();
  if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519 ||
      EVP_PKEY_get_raw_public_key(key.get(), raw.data(), &size) != 1 || size != raw.size()) {
    return std::nullopt;
  }
  return raw;
}

// The field list the document carries; nothing when it is missing or holds a non-digest.
std::optional<Fields> carriedFields(const Json& document) {
  const auto it = document.find("fields");
  if (it == document.end() || !it->is_object()) return std::nullopt;
  Fields fields;
  for (const auto& [path, digest] : it->items()) {
    if (!digest.is_string()) return std::nullopt;
    fields.emplace(path, digest.get<std::string>());
  }
  return fields;
}

std::vector<std::string> differences(const Fields& carried, const Fields& now) {
  std::vector<std::string> changes;
  for (const auto& [path, digest] : carried) {
    const auto it = now.find(path);
    if (it == now.end()) changes.push_back(path + " was removed");
    else if (it->second != digest) changes.push_back(path + " was changed");
  }
  for (const auto& [path, digest] : now) {
    if (carried.count(path) == 0) changes.push_back(path + " was added");
  }
  return changes;
}

std::string summaryOf(const Json& document) {
  if (const auto c = certificateFromJson(document)) {
    return "the erasure of drive " + c->drive.serial + " (" + c->drive.model + ") by " + c->method + ", " +
           c->outcome + ", ended " + c->ended;
  }
  if (const auto b = benchCertificateFromJson(document)) {
    return "the erasure of a bench of " + std::to_string(b->drives.size()) + " drives, ended " + b->ended;
  }
  return "a certificate whose fields cannot all be read";
}

CertificateCheck malformed(std::string why) {
  CertificateCheck check;
  check.status = CertificateStatus::Malformed;
  check.changes.push_back(std::move(why));
  return check;
}

struct SignatureFinding {
  bool present = false;
  bool holds = false;
  std::array<unsigned char, 32> publicKey{};
};

// Checks the signature block against the field list it claims to cover.
SignatureFinding checkSignature(const Json& document, const Fields& carried, CertificateCheck& check) {
  SignatureFinding finding;
  const auto block = document.find("signature");
  if (block == document.end()) return finding;
  finding.present = true;
  const auto text = [&](const char* key) {
    const auto it = block->is_object() ? block->find(key) : block->end();
    return it != block->end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  const std::string keyText = text("publicKey");
  const auto key = fromBase64<32>(keyText);
  const auto value = fromBase64<64>(text("value"));
  if (text("algorithm") != kAlgorithm || !key || !value) {
    check.changes.push_back("the signature block cannot be read: it was changed or is of another kind");
    return finding;
  }
  finding.publicKey = *key;
  check.fingerprint = keyFingerprint(*key);
  finding.holds = signatureHolds(*key, *value, signedBytes(keyText, carried));
  if (!finding.holds) {
    check.changes.push_back("the signature does not match the signed field list: the list itself was changed");
  } else if (text("fingerprint") != check.fingerprint) {
    check.changes.push_back("signature.fingerprint was changed: it does not name the key that signed");
  }
  return finding;
}

}  // namespace

SigningKey::SigningKey(const std::array<uint8_t, 32>& privateKey, const std::array<uint8_t, 32>& publicKey)
    : m_private(privateKey), m_public(publicKey) {}

SigningKey::~SigningKey() { OPENSSL_cleanse(m_private.data(), m_private.size()); }

SigningKeyLoad loadSigningKey(const std::string& path) {
  SigningKeyLoad load;
  std::ifstream file(path, std::ios::binary);
  std::string pem;
  if (file) {
    pem.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  if (!file.good() && !file.eof()) pem.clear();
  if (pem.empty() || static_cast<std::streamsize>(pem.size()) > kLargestKeyFile) {
    load.error = SigningKeyError::Unreadable;
    load.message = "the signing key " + path + " cannot be read";
    return load;
  }
  const Pkey key = readPem(pem, true);
  OPENSSL_cleanse(pem.data(), pem.size());
  if (!key) {
    load.error = SigningKeyError::NotAKey;
    load.message = path + " holds no private key in PEM (a key with a pass phrase is not taken)";
    return load;
  }
  std::array<uint8_t, 32> privateKey{};
  std::array<uint8_t, 32> publicKey{};
  size_t privateSize = privateKey.size();
  size_t publicSize = publicKey.size();
  if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519 ||
      EVP_PKEY_get_raw_private_key(key.get(), privateKey.data(), &privateSize) != 1 ||
      EVP_PKEY_get_raw_public_key(key.get(), publicKey.data(), &publicSize) != 1) {
    ERR_clear_error();
    load.error = SigningKeyError::NotEd25519;
    load.message = path + " is not an Ed25519 key (make one with: openssl genpkey -algorithm ed25519)";
    return load;
  }
  load.error = SigningKeyError::Loaded;
  load.key.emplace(privateKey, publicKey);
  OPENSSL_cleanse(privateKey.data(), privateKey.size());
  return load;
}

std::string keyFingerprint(const std::array<uint8_t, 32>& publicKey) {
  const std::string digest = sha256Hex(std::string_view(reinterpret_cast<const char*>(publicKey.data()), 32));
  std::string grouped;
  for (size_t i = 0; i < digest.size(); i += 4) {
    if (i != 0) grouped.push_back(' ');
    grouped.append(digest.substr(i, 4));
  }
  return grouped;
}

std::optional<std::string> sealCertificate(const Json& document, const SigningKey* key) {
  // Sealed as it will be read back: a text that is not UTF-8 is replaced before the
  // digests are made, so the verifier digests exactly what the file holds.
  Json sealed = Json::parse(canonical(document), nullptr, false);
  Fields fields;
  if (!sealed.is_object() || !collectLeaves(sealed, "", fields)) return std::nullopt;
  sealed["fields"] = fields;
  if (key != nullptr) {
    const std::string publicKey = base64(key->publicKey().data(), key->publicKey().size());
    const std::optional<std::string> value = sign(*key, signedBytes(publicKey, fields));
    if (!value) return std::nullopt;
    sealed["signature"] = {{"algorithm", kAlgorithm},
                           {"publicKey", publicKey},
                           {"fingerprint", keyFingerprint(key->publicKey())},
                           {"value", *value}};
  }
  return sealed.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

CertificateCheck verifyCertificate(std::string_view text, const std::optional<std::string>& trustedKeyPem) {
  std::optional<std::array<unsigned char, 32>> trusted;
  if (trustedKeyPem) {
    trusted = trustedKeyOf(*trustedKeyPem);
    if (!trusted) {
      CertificateCheck check = malformed("the key given holds no Ed25519 public key in PEM");
      check.status = CertificateStatus::KeyUnreadable;
      return check;
    }
  }
  const Json document = Json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) return malformed("the file is not a JSON document");
  const auto format = document.find("format");
  if (format == document.end() || *format != kCertificateFormat) {
    return malformed("the file is not a certificate of the layout this program reads (\"format\": " +
                     std::to_string(kCertificateFormat) + ")");
  }
  const std::optional<Fields> carried = carriedFields(document);
  if (!carried) return malformed("the certificate carries no field list (\"fields\")");
  Fields now;
  if (!collectLeaves(document, "", now)) return malformed("two fields of the certificate have the same path, or it nests deeper than any certificate");

  CertificateCheck check;
  check.summary = summaryOf(document);
  const SignatureFinding signature = checkSignature(document, *carried, check);
  const bool badSignature = signature.present && !signature.holds;
  for (std::string& change : differences(*carried, now)) check.changes.push_back(std::move(change));

  if (badSignature) {
    check.status = CertificateStatus::BadSignature;
  } else if (!check.changes.empty()) {
    check.status = CertificateStatus::Changed;
  } else if (!signature.present) {
    check.status = CertificateStatus::NotSigned;
  } else if (trusted && *trusted != signature.publicKey) {
    check.status = CertificateStatus::UntrustedKey;
    check.changes.push_back("it was signed by another key than the one given");
  } else {
    check.status = CertificateStatus::Valid;
  }
  return check;
}

const char* certificateStatusText(CertificateStatus status) {
  switch (status) {
    case CertificateStatus::Valid: return "valid";
    case CertificateStatus::NotSigned: return "not signed";
    case CertificateStatus::Changed: return "changed";
    case CertificateStatus::BadSignature: return "bad signature";
    case CertificateStatus::UntrustedKey: return "signed by another key";
    case CertificateStatus::Malformed: return "not a certificate";
    case CertificateStatus::KeyUnreadable: return "the key given cannot be read";
  }
  return "unknown";
}

}  // namespace palvoro
