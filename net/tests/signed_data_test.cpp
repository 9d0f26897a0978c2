// The pieces the signer and the verifier share: the header's end, the "Mode" option, the
// "Content-Length" value and the content feed.
#include <gtest/gtest.h>

#include <openssl/bio.h>

#include <cstdio>
#include <string>

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

TEST(HeaderValueTest, ModeOptionsAndContentLengths) {
  for (const char* mode :
       {"Ignore-Whitespace", " Binary |  IGNORE-whitespace\t| Other", "|ignore-whitespace|"}) {
    EXPECT_TRUE(ModeIgnoresWhitespace(mode)) << mode;
  }
  for (const char* mode :
       {"", "Ignore-Whitespaces", "Ignore Whitespace", "Binary,Ignore-Whitespace"}) {
    EXPECT_FALSE(ModeIgnoresWhitespace(mode)) << mode;
  }
  const std::pair<const char*, uint64_t> lengths[] = {
      {"0", 0}, {"11", 11}, {"4294967295", 4294967295u}, {"000000000000000000007", 7}};
  uint64_t length = 0;
  for (const auto& [text, expected] : lengths) {
    EXPECT_TRUE(ParseContentLength(text, length)) << text;
    EXPECT_EQ(length, expected);
  }
  for (const char* text : {"4294967296", "4294967300", "18446744073709551620", "", "-1", "+4", " 4",
                           "4 ", "4x", "0x10"}) {
    EXPECT_FALSE(ParseContentLength(text, length)) << text;
  }
}

TEST(ReduceTest, KeepsOnlyBytesAboveThirtyTwoAsSignedNumbers) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  std::string expected;
  for (int c = 33; c < 128; ++c) expected += static_cast<char>(c);
  EXPECT_EQ(all.substr(0, ReduceToSignificantBytes(all.data(), all.size())), expected);
}

TEST(FeedContentTest, TheLimitCountsFedBytesAcrossBlocksAfterAnyReduction) {
  platform::testing::ScopedSandbox sandbox;
  const std::string path = sandbox.Root() + "/content";
  std::string content;
  std::string significant;
  for (int i = 0; i < 3000; ++i) {
    content += static_cast<char>('a' + i % 26) + std::string(" \r\n");
    significant += static_cast<char>('a' + i % 26);
  }
  WriteBytes(path, content);
  const struct {
    ContentRule rule;
    std::string expected;
  } cases[] = {{{false, 2100}, content.substr(0, 2100)},
               {{}, content},
               {{false, 0}, ""},
               {{true, 2500}, significant.substr(0, 2500)},
               {{true, kNoContentLimit}, significant}};
  for (const auto& test : cases) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    BioPtr sink(BIO_new(BIO_s_mem()));
    uint64_t fed = 0;
    EXPECT_TRUE(FeedContent(file, test.rule, sink.get(), fed));
    std::fclose(file);
    char* data = nullptr;
    const long size = BIO_get_mem_data(sink.get(), &data);
    EXPECT_EQ(std::string(data, static_cast<size_t>(size)), test.expected) << test.rule.limit;
    EXPECT_EQ(fed, test.expected.size());
  }
}

}  // namespace
