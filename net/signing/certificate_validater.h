// TuSSLCertificateValidater: owns a trusted store, loads it as the updater does (the module's
// root resource, then the credentials file, with their log lines), verifies signed files
// against it, and reads certificates into text and times.
#pragma once
#include <openssl/types.h>

#include <cstdint>
#include <string_view>

#include "foundation/strings/hx_str.h"
#include "foundation/time/hx_time.h"
#include "net/resources/module_resources.h"
#include "net/signing/signed_file.h"

struct CertificateDetails {
  HxStr subject;
  HxStr issuer;
  HxTime notBefore;  // UTC
  HxTime notAfter;
};

class TuSSLCertificateValidater {
 public:
  TuSSLCertificateValidater();
  ~TuSSLCertificateValidater();
  TuSSLCertificateValidater(const TuSSLCertificateValidater&) = delete;
  TuSSLCertificateValidater& operator=(const TuSSLCertificateValidater&) = delete;

  // Adds the module's "pki_cacert" resource (null: this module's) and the credentials file
  // "pki_cacert.p7b", logging what was found. False, after logging the failure, when neither
  // gave a certificate: nothing can then be verified.
  bool LoadTrustedRoots(const ModuleResources* module = nullptr);

  bool VerifySignedFile(std::string_view path, uint32_t flags, VerifyReport* report = nullptr);

  X509_STORE* Store() const { return m_store; }

  // Subject and issuer as one-line text, validity times as HxTime; false for a null or
  // unreadable certificate.
  static bool ReadCertificate(const X509* certificate, CertificateDetails& details);

  // A validity time: ten digits of two-digit year (below 50: 20xx, else 19xx), month, day,
  // hour and minute, optionally two more of seconds; with `fourDigitYear` (the generalized
  // form) the year has four. The month must be 1 to 12. False when the text does not scan.
  static bool ParseValidityTime(std::string_view text, bool fourDigitYear, HxTime& time);

 private:
  X509_STORE* m_store;
};
