#include "net/signing/certificate_validater.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/x509.h>

#include "foundation/log/host_logger.h"
#include "net/signing/certificate_store.h"
#include "net/signing/signing_names.h"

namespace {

HxStr NameText(const X509_NAME* name) {
  if (name == nullptr) return HxStr();
  char* text = X509_NAME_oneline(name, nullptr, 0);
  HxStr result(text);
  OPENSSL_free(text);
  return result;
}

bool ReadTime(const ASN1_TIME* asn1, HxTime& time) {
  if (asn1 == nullptr) return false;
  const std::string_view text(reinterpret_cast<const char*>(ASN1_STRING_get0_data(asn1)),
                              static_cast<size_t>(ASN1_STRING_length(asn1)));
  return TuSSLCertificateValidater::ParseValidityTime(
      text, ASN1_STRING_type(asn1) == V_ASN1_GENERALIZEDTIME, time);
}

// The number in the next `count` digits of `text`, which move on; false without them.
bool TakeDigits(std::string_view& text, size_t count, uint16_t& value) {
  if (text.size() < count) return false;
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = static_cast<uint16_t>(value * 10 + (text[i] - '0'));
  }
  text.remove_prefix(count);
  return true;
}

}  // namespace

TuSSLCertificateValidater::TuSSLCertificateValidater() : m_store(CreateStore()) {}

TuSSLCertificateValidater::~TuSSLCertificateValidater() { FreeStore(m_store); }

bool TuSSLCertificateValidater::LoadTrustedRoots(const ModuleResources* module) {
  bool loaded = AddResourceCertificates(m_store, module);
  HxStr path;
  if (FindCredentialsFile(signing_names::kCredentialsFileName, path)) {
    HostLog(kLogDetail, "Using credentials file: [%s].\n", path.c_str());
    loaded = AddFileCertificates(m_store, path) || loaded;
  } else {
    HostLog(kLogWarning, "** Failed to locate credentials file: [%s].***\n",
            signing_names::kCredentialsFileName);
  }
  if (!loaded) HostLog(kLogError, "** Failed to load certificate store to verify signing..***\n");
  return loaded;
}

bool TuSSLCertificateValidater::VerifySignedFile(std::string_view path, uint32_t flags,
                                                 VerifyReport* report) {
  return ::VerifySignedFile(path, m_store, flags, report);
}

bool TuSSLCertificateValidater::ReadCertificate(const X509* certificate,
                                                CertificateDetails& details) {
  if (certificate == nullptr) return false;
  details.subject = NameText(X509_get_subject_name(certificate));
  details.issuer = NameText(X509_get_issuer_name(certificate));
  return ReadTime(X509_get0_notBefore(certificate), details.notBefore) &&
         ReadTime(X509_get0_notAfter(certificate), details.notAfter);
}

bool TuSSLCertificateValidater::ParseValidityTime(std::string_view text, bool fourDigitYear,
                                                  HxTime& time) {
  platform::CalendarTime fields;
  if (!TakeDigits(text, fourDigitYear ? 4 : 2, fields.year)) return false;
  if (!fourDigitYear)
    fields.year = static_cast<uint16_t>(fields.year + (fields.year < 50 ? 2000 : 1900));
  if (!TakeDigits(text, 2, fields.month) || !TakeDigits(text, 2, fields.day) ||
      !TakeDigits(text, 2, fields.hour) || !TakeDigits(text, 2, fields.minute)) {
    return false;
  }
  if (!TakeDigits(text, 2, fields.second)) fields.second = 0;
  if (fields.month < 1 || fields.month > 12) return false;
  time = HxTime(fields);
  return !time.IsZero();
}
