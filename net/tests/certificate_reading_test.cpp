// The validater's reading of certificates: names as text and validity times as HxTime.
#include <gtest/gtest.h>

#include <openssl/pem.h>

#include <cstdio>

#include "net/signing/certificate_validater.h"
#include "net/signing/openssl_handles.h"
#include "test_pki.h"

namespace {

HxTime Parse(const char* text, bool fourDigitYear = false) {
  HxTime time;
  EXPECT_TRUE(TuSSLCertificateValidater::ParseValidityTime(text, fourDigitYear, time)) << text;
  return time;
}

HxTime Utc(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
           uint16_t second) {
  platform::CalendarTime fields;
  fields.year = year;
  fields.month = month;
  fields.day = day;
  fields.hour = hour;
  fields.minute = minute;
  fields.second = second;
  return HxTime(fields);
}

TEST(ValidityTimeTest, TwoDigitYearsBelowFiftyAreThisCentury) {
  EXPECT_EQ(Parse("491231235959Z").FileTime(), Utc(2049, 12, 31, 23, 59, 59).FileTime());
  EXPECT_EQ(Parse("500101000000Z").FileTime(), Utc(1950, 1, 1, 0, 0, 0).FileTime());
  EXPECT_EQ(Parse("2603151045").FileTime(), Utc(2026, 3, 15, 10, 45, 0).FileTime());
  EXPECT_EQ(Parse("20610704083015Z", true).FileTime(), Utc(2061, 7, 4, 8, 30, 15).FileTime());
}

TEST(ValidityTimeTest, MalformedTimesAreRefused) {
  HxTime time;
  for (const char* text : {"261315104500Z", "260015104500Z", "26031510", "2603151O45", ""}) {
    EXPECT_FALSE(TuSSLCertificateValidater::ParseValidityTime(text, false, time)) << text;
  }
}

TEST(CertificateReadingTest, SubjectIssuerAndValidityOfTheSigner) {
  std::FILE* file = std::fopen(SharedPki().signer.certificate.c_str(), "r");
  ASSERT_NE(file, nullptr);
  X509Ptr certificate(PEM_read_X509(file, nullptr, nullptr, nullptr));
  std::fclose(file);
  ASSERT_TRUE(certificate);

  CertificateDetails details;
  ASSERT_TRUE(TuSSLCertificateValidater::ReadCertificate(certificate.get(), details));
  EXPECT_STREQ(details.subject.c_str(), "/CN=Test Signer");
  EXPECT_STREQ(details.issuer.c_str(), "/CN=Test Root");
  EXPECT_EQ(details.notAfter.Difference(details.notBefore), HxTime::Span(365, 0, 0, 0));
  EXPECT_FALSE(TuSSLCertificateValidater::ReadCertificate(nullptr, details));
}

}  // namespace
