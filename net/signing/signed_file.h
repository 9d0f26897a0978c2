// Verification of a signed file: a "Credentials" header (PKCS#7 signature, signer certificate,
// optional "Mode" and "Content-Length") up to the first empty line, then the content. The
// signature must cover the rebuilt signed data and the signer must chain to the store.
#pragma once
#include <openssl/types.h>

#include <cstdint>
#include <string_view>

#include "foundation/kv/hx_kv_list.h"
#include "foundation/strings/hx_str.h"

enum class VerifyOutcome {
  kVerified,
  kUnreadableFile,     // cannot be opened
  kNoHeaderEnd,        // no empty line (or a header beyond all reason)
  kNoCredentials,      // no "Credentials" section
  kBadSignature,       // "Signature" is not Base64 of a signed PKCS#7 structure
  kBadCertificate,     // "Certificate" is not Base64 of an X.509 certificate
  kBadContentLength,   // "Content-Length" is not plain decimal digits below 2^32
  kReadError,          // the content could not be read
  kSignatureMismatch,  // the signature does not cover the signed data
  kUntrustedSigner,    // the signer does not chain to the store
};

// Why a verification ended as it did; `detail` names the certificate a chain check refused.
// A verified file's "Credentials" pairs, "Signature" left out, are in `credentials`, so that a
// caller reads further signed keys from the very bytes that were checked.
struct VerifyReport {
  VerifyOutcome outcome = VerifyOutcome::kUnreadableFile;
  HxStr detail;
  HxKVList credentials;
};

// A few words for an outcome ("verified", "no empty line after the header", ...).
const char* OutcomeText(VerifyOutcome outcome);

// Verifies the file at `path` against `store`. Flag kVerifyIgnoreWhitespaceByDefault reads a
// file without "Mode" as "Ignore-Whitespace". The content streams through the digest.
bool VerifySignedFile(std::string_view path, X509_STORE* store, uint32_t flags,
                      VerifyReport* report = nullptr);
