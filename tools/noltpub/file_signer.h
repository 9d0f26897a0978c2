// `noltpub sign`: prefixes a file with the "Credentials" header that the agent verifies — the
// PKCS#7 signature, the signer's certificate, and optionally "Mode", "Content-Length",
// "Sequence" and "Expires" — then an empty line and the content unchanged. The content streams; it is never held whole.
#pragma once
#include <optional>
#include <string>

namespace noltpub {

struct SignOptions {
  bool ignoreWhitespace = false;  // "Mode=Ignore-Whitespace": only significant bytes are signed
  bool contentLength = false;     // "Content-Length": the count of signed content bytes
  std::optional<std::string> sequence;  // "Sequence": decimal, at most 4294967295
  std::optional<std::string> expires;   // "Expires": "YYYY-MM-DDTHH:MM:SSZ", UTC
};

// Signs `input` with the certificate (PEM or DER) and its PEM key and writes the signed file
// to `output` (which may be `input`) through a temporary file. False with `error` otherwise.
bool SignFile(const std::string& certificatePath, const std::string& keyPath,
              const SignOptions& options, const std::string& input, const std::string& output,
              std::string& error);

}  // namespace noltpub
