// Key names, type names, and value data as people type and read it.
#include <gtest/gtest.h>

#include "key_name.h"
#include "platform/registry.h"
#include "value_text.h"

namespace {

using namespace noltreg;
using Bytes = std::vector<uint8_t>;

Bytes Of(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(NoltregKeyName, RootsInShortAndLongFormWithAPath) {
  KeyName key;
  ASSERT_TRUE(ParseKeyName("HKLM\\Software\\Tidesync\\", key));
  EXPECT_EQ(key.root, platform::kHkeyLocalMachine);
  EXPECT_EQ(key.subKey, "Software\\Tidesync");
  ASSERT_TRUE(ParseKeyName("hkey_current_user", key));
  EXPECT_EQ(key.root, platform::kHkeyCurrentUser);
  EXPECT_EQ(key.subKey, "");
  ASSERT_TRUE(ParseKeyName("HKCR\\.txt", key));
  EXPECT_EQ(key.root, platform::kHkeyClassesRoot);
  EXPECT_FALSE(ParseKeyName("HKU\\x", key));
  EXPECT_FALSE(ParseKeyName("HKLMX\\Software", key));
  EXPECT_FALSE(ParseKeyName("", key));
}

TEST(NoltregValueText, TypeNames) {
  uint32_t type = 99;
  ASSERT_TRUE(TypeFromName("REG_QWORD", type));
  EXPECT_EQ(type, platform::kRegQword);
  EXPECT_FALSE(TypeFromName("REG_LINK", type));
  EXPECT_FALSE(TypeFromName("reg_sz", type));
  EXPECT_EQ(TypeName(platform::kRegExpandSz), "REG_EXPAND_SZ");
  EXPECT_EQ(TypeName(0x1234), "0x1234");
}

TEST(NoltregValueText, DataFromTextPerType) {
  Bytes data;
  ASSERT_TRUE(DataFromText(platform::kRegSz, "abc", data));
  EXPECT_EQ(data, Of(std::string_view("abc\0", 4)));
  ASSERT_TRUE(DataFromText(platform::kRegMultiSz, "a\\0bc", data));
  EXPECT_EQ(data, Of(std::string_view("a\0bc\0\0", 6)));
  ASSERT_TRUE(DataFromText(platform::kRegMultiSz, "", data));
  EXPECT_EQ(data, Bytes{0});
  ASSERT_TRUE(DataFromText(platform::kRegDword, "42", data));
  EXPECT_EQ(data, (Bytes{42, 0, 0, 0}));
  ASSERT_TRUE(DataFromText(platform::kRegDword, "0xFFFFFFFF", data));
  EXPECT_EQ(data, (Bytes{255, 255, 255, 255}));
  ASSERT_TRUE(DataFromText(platform::kRegQword, "0x0102030405060708", data));
  EXPECT_EQ(data, (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  ASSERT_TRUE(DataFromText(platform::kRegBinary, "00fFa0", data));
  EXPECT_EQ(data, (Bytes{0, 255, 160}));
  ASSERT_TRUE(DataFromText(platform::kRegNone, "", data));
  EXPECT_EQ(data, Bytes{});
  for (const char* bad : {"4294967296", "-1", "0x", "", "12a", " 1"}) {
    EXPECT_FALSE(DataFromText(platform::kRegDword, bad, data)) << bad;
  }
  EXPECT_FALSE(DataFromText(platform::kRegBinary, "0f0", data));
  EXPECT_FALSE(DataFromText(platform::kRegBinary, "zz", data));
}

TEST(NoltregValueText, DataForDisplayPerType) {
  EXPECT_EQ(DataForDisplay(platform::kRegDword, {42, 0, 0, 0}), "0x2a");
  EXPECT_EQ(DataForDisplay(platform::kRegQword, {0, 0, 0, 0, 1, 0, 0, 0}), "0x100000000");
  EXPECT_EQ(DataForDisplay(platform::kRegDword, {1, 2, 3}), "010203");  // not a number's size
  EXPECT_EQ(DataForDisplay(platform::kRegSz, Of("abc")), "abc");         // no terminator
  EXPECT_EQ(DataForDisplay(platform::kRegSz, Of(std::string_view("ab\0cd", 5))), "ab");
  EXPECT_EQ(DataForDisplay(platform::kRegMultiSz, Of(std::string_view("a\0bc\0\0", 6))), "a\\0bc");
  EXPECT_EQ(DataForDisplay(platform::kRegBinary, {0, 0xab}), "00AB");
  EXPECT_EQ(DataForDisplay(platform::kRegNone, {}), "");
}

}  // namespace
