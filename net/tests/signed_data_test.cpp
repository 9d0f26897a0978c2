// The pieces the signer and the verifier share: the header's end, the "Mode" option, the
// signed header lines, the content feed, and the Base64 text of header values.
#include <gtest/gtest.h>

#include <openssl/bio.h>

#include <cstdio>
#include <string>

#include "net/signing/base64_text.h"
#include "net/signing/openssl_handles.h"
#include "net/signing/signed_data.h"
#include "scoped_sandbox.h"
#include "test_pki.h"

namespace {

TEST(HeaderEndScannerTest, TwoLineFeedsWithOnlyCarriageReturnsBetweenEndTheHeader) {
  size_t length = 0;
  HeaderEndScanner scanner;
  EXPECT_FALSE(scanner.Scan("[Credentials]\r\nA=1\r\n", length));
  EXPECT_FALSE(scanner.Scan("\r", length));
  EXPECT_TRUE(scanner.Scan("\r\n<xml/>\n\n", length));
  EXPECT_EQ(length, 2u);

  HeaderEndScanner other;
  EXPECT_FALSE(other.Scan("a\n \nb\n\t\nc\n", length));  // blanks are not empty lines
  EXPECT_TRUE(other.Scan("\n", length));
  EXPECT_EQ(length, 1u);
}

TEST(ModeTest, IgnoreWhitespaceIsOneOptionAmongBarsInAnyCase) {
  EXPECT_TRUE(ModeIgnoresWhitespace("Ignore-Whitespace"));
  EXPECT_TRUE(ModeIgnoresWhitespace(" Binary |  IGNORE-whitespace\t| Other"));
  EXPECT_TRUE(ModeIgnoresWhitespace("|ignore-whitespace|"));
  EXPECT_FALSE(ModeIgnoresWhitespace(""));
  EXPECT_FALSE(ModeIgnoresWhitespace("Ignore-Whitespaces"));
  EXPECT_FALSE(ModeIgnoresWhitespace("Ignore Whitespace"));
  EXPECT_FALSE(ModeIgnoresWhitespace("Binary,Ignore-Whitespace"));
}

TEST(SignedHeaderTextTest, PairsWithoutSignatureInKeyOrderEndedByCrlf) {
  HxKVList credentials;
  credentials.Set("signature", "xyz");
  credentials.Set("b", "2");
  credentials.Set("A", "1");
  credentials.Set("c", "");
  EXPECT_EQ(SignedHeaderText(credentials), "A=1\r\nb=2\r\nc=\r\n");
  EXPECT_TRUE(credentials.Contains("Signature")) << "the caller's list is left as it was";
}

TEST(ReduceTest, KeepsOnlyBytesAboveThirtyTwoAsSignedNumbers) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const size_t kept = ReduceToSignificantBytes(all.data(), all.size());
  std::string expected;
  for (int c = 33; c < 128; ++c) expected += static_cast<char>(c);
  EXPECT_EQ(all.substr(0, kept), expected);
}

class FeedContentTest : public ::testing::Test {
 protected:
  // Feeds `content` under `rule`; returns what the sink received.
  std::string Feed(const std::string& content, const ContentRule& rule, uint64_t& fed) {
    const std::string path = sandbox_.Root() + "/content";
    WriteBytes(path, content);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    BioPtr sink(BIO_new(BIO_s_mem()));
    EXPECT_TRUE(FeedContent(file, rule, sink.get(), fed));
    std::fclose(file);
    char* data = nullptr;
    const long size = BIO_get_mem_data(sink.get(), &data);
    return std::string(data, static_cast<size_t>(size));
  }
  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(FeedContentTest, LimitCountsFedBytesAcrossBlocks) {
  std::string content;
  for (int i = 0; i < 5000; ++i) content += static_cast<char>('a' + i % 26);
  uint64_t fed = 0;
  EXPECT_EQ(Feed(content, {false, 2100}, fed), content.substr(0, 2100));
  EXPECT_EQ(fed, 2100u);
  EXPECT_EQ(Feed(content, {}, fed), content);
  EXPECT_EQ(fed, 5000u);
  EXPECT_EQ(Feed(content, {false, 0}, fed), "");
}

TEST_F(FeedContentTest, IgnoringWhitespaceTheLimitCountsReducedBytes) {
  std::string content;
  std::string significant;
  for (int i = 0; i < 3000; ++i) {
    content += "x \r\n";
    significant += 'x';
  }
  uint64_t fed = 0;
  EXPECT_EQ(Feed(content, {true, 2500}, fed), significant.substr(0, 2500));
  EXPECT_EQ(fed, 2500u);
  EXPECT_EQ(Feed(content, {true, kNoContentLimit}, fed), significant);
}

TEST(Base64Test, RoundTripOnOneLine) {
  std::vector<unsigned char> bytes;
  for (int i = 0; i < 3001; ++i) bytes.push_back(static_cast<unsigned char>(i * 7));
  const std::string text = EncodeBase64(bytes);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.size(), 4004u);
  std::vector<unsigned char> decoded;
  ASSERT_TRUE(DecodeBase64(text, decoded));
  EXPECT_EQ(decoded, bytes);
  EXPECT_TRUE(DecodeBase64("aGVsbG8=", decoded));
  EXPECT_EQ(std::string(decoded.begin(), decoded.end()), "hello");
  EXPECT_FALSE(DecodeBase64("", decoded));
  EXPECT_FALSE(DecodeBase64("%%%%", decoded));
}

}  // namespace
