// The validater's reading of certificates: names as text and validity times as HxTime.
#include <gtest/gtest.h>

#include <openssl/pem.h>

#include <cstdio>

#include "net/signing/certificate_validater.h"
#include "net/signing/openssl_handles.h"
#include "test_pki.h"

namespace {

TEST(ValidityTimeTest, TwoDigitYearsBelowFiftyAreThisCenturyAndMalformedTimesAreRefused) {
  const struct {
    const char* text;
    bool fourDigitYear;
    platform::CalendarTime expected;  // year, month, day-of-week, day, hour, minute, second
  } valid[] = {{"491231235959Z", false, {2049, 12, 0, 31, 23, 59, 59, 0}},
               {"500101000000Z", false, {1950, 1, 0, 1, 0, 0, 0, 0}},
               {"2603151045", false, {2026, 3, 0, 15, 10, 45, 0, 0}},
               {"20610704083015Z", true, {2061, 7, 0, 4, 8, 30, 15, 0}}};
  HxTime time;
  for (const auto& test : valid) {
    ASSERT_TRUE(TuSSLCertificateValidater::ParseValidityTime(test.text, test.fourDigitYear, time))
        << test.text;
    EXPECT_EQ(time.FileTime(), HxTime(test.expected).FileTime()) << test.text;
  }
  for (const char* text : {"261315104500Z", "260015104500Z", "26031510", "2603151O45", ""}) {
    EXPECT_FALSE(TuSSLCertificateValidater::ParseValidityTime(text, false, time)) << text;
  }
}

TEST(CertificateReadingTest, SubjectIssuerAndValidityOfTheSigner) {
  std::FILE* file = std::fopen(SharedPki().signer.certificate.c_str(), "r");
  ASSERT_NE(file, nullptr);
  X509Ptr certificate(PEM_read_X509(file, nullptr, nullptr, nullptr));
  std::fclose(file);
  CertificateDetails details;
  ASSERT_TRUE(TuSSLCertificateValidater::ReadCertificate(certificate.get(), details));
  EXPECT_STREQ(details.subject.c_str(), "/CN=Test Signer");
  EXPECT_STREQ(details.issuer.c_str(), "/CN=Test Root");
  EXPECT_EQ(details.notAfter.Difference(details.notBefore), HxTime::Span(365, 0, 0, 0));
  EXPECT_FALSE(TuSSLCertificateValidater::ReadCertificate(nullptr, details));
}

}  // namespace
