// Key names, type names, value data as people type and read it, and values as .reg lines.
#include <gtest/gtest.h>

#include "key_name.h"
#include "platform/registry.h"
#include "reg_file.h"
#include "value_text.h"

namespace {

using namespace noltreg;
using namespace platform;
using Bytes = std::vector<uint8_t>;

Bytes Of(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(NoltregValueText, KeyAndTypeNames) {
  for (const auto& [text, root, subKey] : std::vector<std::tuple<const char*, uint32_t, const char*>>{
           {"HKLM\\Software\\Tidesync\\", kHkeyLocalMachine, "Software\\Tidesync"},
           {"hkey_current_user", kHkeyCurrentUser, ""}, {"HKCR\\.txt", kHkeyClassesRoot, ".txt"},
           {"HKCU\\\\", kHkeyCurrentUser, ""}, {"HKU\\x", 0, ""}, {"HKLMX\\S", 0, ""}, {"", 0, ""}}) {
    KeyName key;
    EXPECT_EQ(ParseKeyName(text, key), root != 0) << text;
    EXPECT_EQ(root != 0 ? key.root : 0, root) << text;
    EXPECT_EQ(root != 0 ? key.subKey : "", subKey) << text;
  }
  uint32_t type = 99;
  ASSERT_TRUE(TypeFromName("REG_QWORD", type));
  EXPECT_EQ(type, kRegQword);
  EXPECT_FALSE(TypeFromName("REG_LINK", type));
  EXPECT_FALSE(TypeFromName("reg_sz", type));
  EXPECT_EQ(TypeName(kRegExpandSz), "REG_EXPAND_SZ");
  EXPECT_EQ(TypeName(0x1234), "0x1234");
}

TEST(NoltregValueText, DataFromTextPerType) {
  for (const auto& [type, text, data] : std::vector<std::tuple<uint32_t, const char*, Bytes>>{
           {kRegSz, "abc", Of(std::string_view("abc\0", 4))},
           {kRegMultiSz, "a\\0bc", Of(std::string_view("a\0bc\0\0", 6))},
           {kRegMultiSz, "", {0}}, {kRegDword, "42", {42, 0, 0, 0}},
           {kRegDword, "0xFFFFFFFF", {255, 255, 255, 255}},
           {kRegQword, "0x0102030405060708", {8, 7, 6, 5, 4, 3, 2, 1}},
           {kRegBinary, "00fFa0", {0, 255, 160}}, {kRegNone, "", {}}}) {
    Bytes read;
    ASSERT_TRUE(DataFromText(type, text, read)) << text;
    EXPECT_EQ(read, data) << text;
  }
  Bytes read;
  for (const char* bad : {"4294967296", "-1", "0x", "", "12a", " 1"}) {
    EXPECT_FALSE(DataFromText(kRegDword, bad, read)) << bad;
  }
  EXPECT_FALSE(DataFromText(kRegBinary, "0f0", read));
  EXPECT_FALSE(DataFromText(kRegBinary, "zz", read));
}

TEST(NoltregValueText, DataForDisplayPerType) {
  for (const auto& [type, data, shown] : std::vector<std::tuple<uint32_t, Bytes, std::string>>{
           {kRegDword, {42, 0, 0, 0}, "0x2a"}, {kRegQword, {0, 0, 0, 0, 1, 0, 0, 0}, "0x100000000"},
           {kRegDword, {1, 2, 3}, "010203"},  // not a number's size
           {kRegSz, Of("abc"), "abc"},        // no terminator
           {kRegSz, Of(std::string_view("ab\0cd", 5)), "ab"}, {kRegNone, {}, ""},
           {kRegMultiSz, Of(std::string_view("a\0bc\0\0", 6)), "a\\0bc"}, {kRegBinary, {0, 0xab}, "00AB"}}) {
    EXPECT_EQ(DataForDisplay(type, data), shown);
  }
}

TEST(NoltregRegFile, ValueLines) {
  for (const auto& [value, line] : std::vector<std::pair<RegistryValue, std::string>>{
           {{"Na\"me", kRegSz, RegistryStringData("C:\\dir")}, "\"Na\\\"me\"=\"C:\\\\dir\""},
           {{"", kRegSz, RegistryStringData("")}, "@=\"\""},
           {{"n", kRegDword, RegistryDwordData(42)}, "\"n\"=dword:0000002a"},
           {{"n", kRegBinary, {0, 0xff}}, "\"n\"=hex:00,ff"},
           {{"n", kRegNone, {}}, "\"n\"=hex(0):"},
           {{"n", kRegQword, RegistryQwordData(1)}, "\"n\"=hex(b):01,00,00,00,00,00,00,00"},
           {{"n", kRegDword, {1, 2}}, "\"n\"=hex(4):01,02"},
           // Texts in hex form are UTF-16, as Windows writes them.
           {{"n", kRegExpandSz, RegistryStringData("%a%")}, "\"n\"=hex(2):25,00,61,00,25,00,00,00"},
           {{"n", kRegMultiSz, Of("\xc3\xbc")}, "\"n\"=hex(7):fc,00"},
           // What a quoted text would not give back exactly is written as hex.
           {{"n", kRegSz, Of("ab")}, "\"n\"=hex(1):61,00,62,00"},
           {{"n", kRegSz, Of(std::string_view("a\nb\0", 4))}, "\"n\"=hex(1):61,00,0a,00,62,00,00,00"},
           // A byte that is no character of UTF-8 goes as 0xDC00 + byte.
           {{"n", kRegSz, Of(std::string_view("\xe9\0", 2))}, "\"n\"=hex(1):e9,dc,00,00"},
           {{"n", kRegSz, Of(std::string_view("\xc0\x80\0", 3))}, "\"n\"=hex(1):c0,dc,80,dc,00,00"}}) {
    EXPECT_EQ(RegValueText(value), line);
  }
}

}  // namespace
