// A small PKI made with the openssl command line, independent of the code under test: a root
// and a signer it issued, a stranger root with a signer of its own, and their bundles. Made
// once per test process in a temporary directory that is removed at exit. Signatures for test
// files are made with `openssl smime` over signed data that the tests spell out byte by byte.
#pragma once
#include <string>
#include <utility>
#include <vector>

struct TestSigner {
  std::string certificate;        // PEM file
  std::string key;                // PEM file
  std::string certificateBase64;  // DER, one line of Base64
};

struct TestPki {
  std::string directory;
  std::string rootCertificate;  // PEM file
  std::string rootBundle;       // DER PKCS#7 bundle holding the root
  std::string rootBundlePem;    // the same bundle in PEM
  std::string emptyBundle;      // a PKCS#7 bundle without certificates
  TestSigner signer;            // issued by the root
  TestSigner stranger;          // issued by another root
};

// The process's PKI; a failed openssl command fails the calling test.
const TestPki& SharedPki();

// Runs a shell command; true when it exits 0. Its output goes to a log shown on failure.
bool RunCommand(const std::string& command);

// The Base64 text of a detached PKCS#7 signature that `openssl smime -sign -binary` makes
// over exactly `signedData` (SHA-256, signed attributes), with any further `options`.
std::string OpensslSignature(const std::string& signedData, const TestSigner& signer,
                             const std::string& options = "");

// A file signed by `signer` with its certificate alone in the header and `content` after it.
std::string PlainSignedFile(const TestSigner& signer, const std::string& content);

// The bytes of a signed file: "[Credentials]", the pairs in the given order, an empty line,
// then `content`. Line ends are `lineEnd`.
std::string SignedFileBytes(const std::vector<std::pair<std::string, std::string>>& pairs,
                            const std::string& content, const std::string& lineEnd = "\n");

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
