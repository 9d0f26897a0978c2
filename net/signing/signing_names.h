// Names of the signed-file header: the section, its keys, the mode option and the flag that
// makes that option the default.
#pragma once
#include <cstdint>

namespace signing_names {

inline constexpr const char* kCredentials = "Credentials";
inline constexpr const char* kSignature = "Signature";
inline constexpr const char* kCertificate = "Certificate";
inline constexpr const char* kContentLength = "Content-Length";
inline constexpr const char* kMode = "Mode";
inline constexpr const char* kIgnoreWhitespace = "Ignore-Whitespace";
// Optional, for files that must not be replayed or outlive their publisher: a decimal number
// that only grows from one publication to the next, and the UTC time after which the file is
// stale ("2026-12-01T10:00:00Z"). Signed like every key; a reader that does not know them
// passes them over.
inline constexpr const char* kSequence = "Sequence";
inline constexpr const char* kExpires = "Expires";

// The trusted root bundle: the module resource and the credentials file.
inline constexpr const char* kRootResourceName = "pki_cacert";
inline constexpr const char* kRootResourceType = "PKCS7";
inline constexpr const char* kCredentialsFileName = "pki_cacert.p7b";

}  // namespace signing_names

// VerifySignedFile flag: files without "Mode" are read as "Ignore-Whitespace".
inline constexpr uint32_t kVerifyIgnoreWhitespaceByDefault = 2;
