// The .reg text: how each value is written, and reading it back byte for byte.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/errors.h"
#include "platform/registry.h"
#include "reg_file.h"
#include "scoped_sandbox.h"

namespace {

using namespace noltreg;
using platform::RegistryKey;
using platform::RegistryValue;
using Bytes = std::vector<uint8_t>;

Bytes Of(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(NoltregRegFile, ValueLines) {
  EXPECT_EQ(RegValueText({"Na\"me", platform::kRegSz, platform::RegistryStringData("C:\\dir")}),
            "\"Na\\\"me\"=\"C:\\\\dir\"");
  EXPECT_EQ(RegValueText({"", platform::kRegSz, platform::RegistryStringData("")}), "@=\"\"");
  EXPECT_EQ(RegValueText({"n", platform::kRegDword, platform::RegistryDwordData(42)}),
            "\"n\"=dword:0000002a");
  EXPECT_EQ(RegValueText({"n", platform::kRegBinary, {0, 0xff}}), "\"n\"=hex:00,ff");
  EXPECT_EQ(RegValueText({"n", platform::kRegNone, {}}), "\"n\"=hex(0):");
  EXPECT_EQ(RegValueText({"n", platform::kRegQword, platform::RegistryQwordData(1)}),
            "\"n\"=hex(b):01,00,00,00,00,00,00,00");
  EXPECT_EQ(RegValueText({"n", platform::kRegExpandSz, platform::RegistryStringData("%a%")}),
            "\"n\"=hex(2):25,61,25,00");
  // What a quoted text or dword: would not give back exactly is written as hex.
  EXPECT_EQ(RegValueText({"n", platform::kRegSz, Of("ab")}), "\"n\"=hex(1):61,62");
  EXPECT_EQ(RegValueText({"n", platform::kRegSz, Of(std::string_view("a\nb\0", 4))}),
            "\"n\"=hex(1):61,0a,62,00");
  EXPECT_EQ(RegValueText({"n", platform::kRegDword, {1, 2}}), "\"n\"=hex(4):01,02");
}

TEST(NoltregRegFile, LongHexDataWrapsOntoIndentedLines) {
  std::string text = RegValueText({"long", platform::kRegBinary, Bytes(100, 0xab)});
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_LE(line.size(), 80u) << line;
    if (count++ > 0) {
      EXPECT_EQ(line.substr(0, 2), "  ");
    }
    if (lines.peek() != EOF) {
      EXPECT_EQ(line.substr(line.size() - 2), ",\\");
    }
  }
  EXPECT_GT(count, 3);
}

class NoltregImportTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;

  bool Import(const std::string& text, std::string& error) {
    std::istringstream in(text);
    return ImportRegText(in, error);
  }
};

TEST_F(NoltregImportTest, ExportedValuesComeBackByteForByte) {
  const std::vector<RegistryValue> values = {
      {"", platform::kRegSz, platform::RegistryStringData("top \"quoted\" \\ back")},
      {"unterminated", platform::kRegSz, Of("abc")},
      {"dword", platform::kRegDword, platform::RegistryDwordData(0xfffffffe)},
      {"short", platform::kRegDword, {7}},
      {"long", platform::kRegBinary, Bytes(300, 0x5a)},
      {"multi", platform::kRegMultiSz, Of(std::string_view("a\0b\0\0", 5))},
      {"none", platform::kRegNone, {}},
      {"odd", 0x1234, {1, 2, 3}},
  };
  RegistryKey key;
  ASSERT_EQ(key.Create(platform::kHkeyCurrentUser, "Software\\Source", platform::kKeyAllAccess), 0u);
  for (const RegistryValue& v : values) {
    ASSERT_EQ(key.SetValue(v.name, v.type, v.data.data(), static_cast<uint32_t>(v.data.size())), 0u);
  }
  std::ostringstream exported;
  ASSERT_EQ(ExportTree(key, exported), 0u);
  std::string text = exported.str();
  // Import it under another name.
  std::string from = "[HKEY_CURRENT_USER\\Software\\Source]";
  text.replace(text.find(from), from.size(), "[HKEY_CURRENT_USER\\Software\\Copy]");
  std::string error;
  ASSERT_TRUE(Import(text, error)) << error;
  RegistryKey copy;
  ASSERT_EQ(copy.Open(platform::kHkeyCurrentUser, "Software\\Copy", platform::kKeyRead), 0u);
  for (const RegistryValue& v : values) {
    RegistryValue read;
    ASSERT_EQ(copy.QueryValue(v.name, read), 0u) << v.name;
    EXPECT_EQ(read.type, v.type) << v.name;
    EXPECT_EQ(read.data, v.data) << v.name;
  }
}

TEST_F(NoltregImportTest, DeletionsCommentsAndWindowsLineEnds) {
  RegistryKey doomed;
  ASSERT_EQ(doomed.Create(platform::kHkeyCurrentUser, "Software\\Doomed\\Inner", platform::kKeyAllAccess), 0u);
  std::string error;
  ASSERT_TRUE(Import("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                     "\r\n"
                     "; a comment\r\n"
                     "[-HKEY_CURRENT_USER\\Software\\Doomed]\r\n"
                     "[-HKCU\\Software\\NeverThere]\r\n"
                     "[HKCU\\Software\\Kept]\r\n"
                     "\"a\"=\"1\"\r\n"
                     "\"b\"=dword:00000002\r\n"
                     "\"b\"=-\r\n"
                     "\"c\"=hex:01,\\\r\n"
                     "  02,03\r\n",
                     error))
      << error;
  RegistryKey key;
  EXPECT_EQ(key.Open(platform::kHkeyCurrentUser, "Software\\Doomed", platform::kKeyRead),
            platform::kErrorFileNotFound);
  ASSERT_EQ(key.Open(platform::kHkeyCurrentUser, "Software\\Kept", platform::kKeyRead), 0u);
  RegistryValue value;
  EXPECT_EQ(key.QueryValue("b", value), platform::kErrorFileNotFound);
  ASSERT_EQ(key.QueryValue("c", value), 0u);
  EXPECT_EQ(value.data, (Bytes{1, 2, 3}));
}

TEST_F(NoltregImportTest, ErrorsNameTheLine) {
  std::string error;
  EXPECT_FALSE(Import("REGEDIT5\n", error));
  EXPECT_EQ(error, "ERROR: line 1: not a registry file.");
  EXPECT_FALSE(Import(std::string(kRegFileHeader) + "\n\"a\"=\"1\"\n", error));
  EXPECT_EQ(error, "ERROR: line 2: a value before any key.");
  EXPECT_FALSE(Import(std::string(kRegFileHeader) + "\n[HKCU\\X]\n\"a\"=hex:1g\n", error));
  EXPECT_EQ(error, "ERROR: line 3: the data cannot be read.");
  EXPECT_FALSE(Import(std::string(kRegFileHeader) + "\n[HKXX\\X]\n", error));
  EXPECT_EQ(error, "ERROR: line 2: an unknown root key.");
  EXPECT_FALSE(Import(std::string(kRegFileHeader) + "\n[HKCU\\X]\n\"a\"=dword:123\n", error));
  EXPECT_EQ(error, "ERROR: line 3: the data cannot be read.");
  EXPECT_FALSE(Import("", error));
  EXPECT_EQ(error, "ERROR: not a registry file.");
}

}  // namespace
