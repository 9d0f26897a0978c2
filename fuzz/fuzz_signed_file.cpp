// The signed-file checker: the input is the signed file, verified against a fixed root (a
// self-signed test CA that issued the signer of the "verified" seed), with and without
// "Ignore-Whitespace" as the default mode.
#include <string_view>

#include "fuzz_support.h"
#include "net/signing/certificate_store.h"
#include "net/signing/signed_file.h"
#include "net/signing/signing_names.h"

namespace {

constexpr std::string_view kRootBundle =
    "-----BEGIN PKCS7-----\n"
    "MIIBvgYJKoZIhvcNAQcCoIIBrzCCAasCAQExADALBgkqhkiG9w0BBwGgggGTMIIB\n"
    "jzCCATWgAwIBAgIUbgZFNImcT4+HDMI43ZMFUW9SBEkwCgYIKoZIzj0EAwIwFDES\n"
    "MBAGA1UEAwwJRnV6eiBSb290MCAXDTI2MTIwNjAwNDI0NloYDzIxMjYxMTEyMDA0\n"
    "MjQ2WjAUMRIwEAYDVQQDDAlGdXp6IFJvb3QwWTATBgcqhkjOPQIBBggqhkjOPQMB\n"
    "BwNCAAT1QkX30fhHjkvbax/svmigNOcsNPkMl3eC+chNcdVfju5tHPGKtK9NKfmc\n"
    "neT7iKc4JU8362wVSCr3cy7hyoEOo2MwYTAdBgNVHQ4EFgQU/kGAu9xVodE4Ljce\n"
    "LslAkD71UVUwHwYDVR0jBBgwFoAU/kGAu9xVodE4LjceLslAkD71UVUwDwYDVR0T\n"
    "AQH/BAUwAwEB/zAOBgNVHQ8BAf8EBAMCAQYwCgYIKoZIzj0EAwIDSAAwRQIhANYi\n"
    "4kYtJo7i5/cayGvLF6WhbWnBQa6E5o2k9vPmtNb5AiBcYi86MmFdChvQYUj8msZw\n"
    "Nr93RV0X0CrvDmcLmhZrejEA\n"
    "-----END PKCS7-----\n";

// The store, made once; null when the bundle cannot be read.
X509_STORE* FixedRootStore() {
  static X509_STORE* const store = [] {
    X509_STORE* made = CreateStore();
    const auto* bytes = reinterpret_cast<const unsigned char*>(kRootBundle.data());
    if (made != nullptr && !AddBundleCertificates(made, {bytes, kRootBundle.size()})) {
      FreeStore(made);
      made = nullptr;
    }
    return made;
  }();
  return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  X509_STORE* store = FixedRootStore();
  if (store == nullptr) __builtin_trap();  // the fixed root must always load
  const std::string path = WriteFuzzInput("signed.xml", data, size);
  VerifyReport report;
  VerifySignedFile(path, store, 0, &report);
  OutcomeText(report.outcome);
  VerifySignedFile(path, store, kVerifyIgnoreWhitespaceByDefault, &report);
  return 0;
}
