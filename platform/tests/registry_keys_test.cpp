// Keys and values in one process: types, names, access masks, enumeration, deletion and the
// classes view.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "scoped_sandbox.h"

namespace {

using namespace platform;

class RegistryKeyTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;
};

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

RegistryKey CreateKey(uint32_t root, std::string_view path) {
  RegistryKey key;
  EXPECT_EQ(key.Create(root, path, kKeyAllAccess), kErrorSuccess) << path;
  return key;
}

RegistryKey OpenKey(uint32_t root, std::string_view path, uint32_t access) {
  RegistryKey key;
  EXPECT_EQ(key.Open(root, path, access), kErrorSuccess) << path;
  return key;
}

std::vector<std::string> SubKeys(const RegistryKey& key) {
  std::vector<std::string> names;
  std::string name;
  uint32_t error;
  for (uint32_t i = 0; (error = key.EnumKey(i, name)) == kErrorSuccess; ++i) names.push_back(name);
  EXPECT_EQ(error, kErrorNoMoreItems);
  return names;
}

std::vector<std::string> ValueNames(const RegistryKey& key) {
  std::vector<std::string> names;
  RegistryValue value;
  uint32_t error;
  for (uint32_t i = 0; (error = key.EnumValue(i, value)) == kErrorSuccess; ++i) {
    names.push_back(value.name);
  }
  EXPECT_EQ(error, kErrorNoMoreItems);
  return names;
}

std::string StringOf(const RegistryKey& key, std::string_view name) {
  RegistryValue value;
  if (key.QueryValue(name, value) != kErrorSuccess) return "<missing>";
  return std::string(value.data.begin(), value.data.end());
}

TEST_F(RegistryKeyTest, EveryTypeKeepsItsTypeAndBytes) {
  RegistryKey key = CreateKey(kHkeyCurrentUser, "Software\\Types");
  const std::vector<RegistryValue> written = {
      {"sz unterminated", kRegSz, Bytes("abc")},
      {"sz", kRegSz, RegistryStringData("abc")},
      {"expand", kRegExpandSz, RegistryStringData("%TEMP%\\x")},
      {"binary", kRegBinary, {0x00, 0xff, 0x00, 0x7f}},
      {"dword", kRegDword, RegistryDwordData(0xdeadbeef)},
      {"short dword", kRegDword, {1, 2, 3}},
      {"multi", kRegMultiSz, Bytes(std::string_view("a\0bc\0\0", 6))},
      {"qword", kRegQword, RegistryQwordData(0x0123456789abcdefULL)},
      {"none", kRegNone, {}},
      {"", kRegSz, RegistryStringData("default")},
      {"odd type", 0x1234, {9}},
  };
  for (const RegistryValue& value : written) {
    ASSERT_EQ(key.SetValue(value.name, value.type, value.data.data(),
                           static_cast<uint32_t>(value.data.size())),
              kErrorSuccess)
        << value.name;
  }
  RegistryKey reopened = OpenKey(kHkeyCurrentUser, "Software\\Types", kKeyRead);
  for (const RegistryValue& expected : written) {
    RegistryValue read;
    ASSERT_EQ(reopened.QueryValue(expected.name, read), kErrorSuccess) << expected.name;
    EXPECT_EQ(read.type, expected.type) << expected.name;
    EXPECT_EQ(read.data, expected.data) << expected.name;
  }
  EXPECT_EQ(RegistryDwordData(42), (std::vector<uint8_t>{42, 0, 0, 0}));
}

TEST_F(RegistryKeyTest, BufferReadsReportTheSizeAndMoreData) {
  RegistryKey key = CreateKey(kHkeyCurrentUser, "Software\\Buffers");
  ASSERT_EQ(key.SetString("text", "hello"), kErrorSuccess);
  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(key.QueryValue("text", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 6u);
  char buffer[8] = {};
  size = 3;
  EXPECT_EQ(key.QueryValue("text", nullptr, buffer, &size), kErrorMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(buffer[0], '\0');
  size = sizeof buffer;
  EXPECT_EQ(key.QueryValue("text", nullptr, buffer, &size), kErrorSuccess);
  EXPECT_EQ(size, 6u);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(key.QueryValue("text", nullptr, buffer, nullptr), kErrorInvalidParameter);
  EXPECT_EQ(key.QueryValue("absent", nullptr, nullptr, &size), kErrorFileNotFound);

  std::string name;
  size = 2;
  EXPECT_EQ(key.EnumValue(0, name, &type, buffer, &size), kErrorMoreData);
  EXPECT_EQ(name, "text");
  EXPECT_EQ(size, 6u);
}

TEST_F(RegistryKeyTest, NamesCompareWithoutCaseAndKeepTheirFirstCase) {
  RegistryKey created = CreateKey(kHkeyLocalMachine, "Software\\MixedCase\\Inner");
  ASSERT_EQ(created.SetString("ValueName", "one"), kErrorSuccess);
  ASSERT_EQ(created.SetString("VALUENAME", "two"), kErrorSuccess);

  RegistryKey opened = OpenKey(kHkeyLocalMachine, "SOFTWARE\\mixedcase\\INNER", kKeyRead);
  EXPECT_EQ(opened.Path(), "HKEY_LOCAL_MACHINE\\Software\\MixedCase\\Inner");
  EXPECT_EQ(ValueNames(opened), std::vector<std::string>{"ValueName"});
  EXPECT_EQ(StringOf(opened, "valuename"), std::string("two", 4));

  bool made = true;
  RegistryKey again;
  ASSERT_EQ(again.Create(kHkeyLocalMachine, "software\\MIXEDCASE", kKeyRead, &made), kErrorSuccess);
  EXPECT_FALSE(made);
  EXPECT_EQ(SubKeys(again), std::vector<std::string>{"Inner"});
}

TEST_F(RegistryKeyTest, BadPathsClosedKeysAndWhatTheAccessMaskDoesNotGrantAreRefused) {
  RegistryKey key;
  EXPECT_EQ(key.Open(kHkeyLocalMachine, "\\Software", kKeyRead), kErrorBadPathname);
  EXPECT_EQ(key.Create(kHkeyLocalMachine, std::string(256, 'k'), kKeyRead), kErrorInvalidParameter);
  EXPECT_EQ(key.Open(kHkeyLocalMachine, "Software\\Nowhere", kKeyRead), kErrorFileNotFound);
  EXPECT_EQ(key.Open(0x80000003u, "", kKeyRead), kErrorInvalidHandle);
  EXPECT_EQ(PredefinedKeyName(0x80000003u), nullptr);
  // The context stores the roots as signed decimal text of the Windows handle values.
  EXPECT_EQ(static_cast<int32_t>(kHkeyCurrentUser), -2147483647);
  EXPECT_FALSE(key.IsOpen());
  RegistryValue value;
  EXPECT_EQ(key.QueryValue("x", value), kErrorInvalidHandle);
  EXPECT_EQ(key.SetDword("x", 1), kErrorInvalidHandle);
  // A trailing backslash names the same key.
  CreateKey(kHkeyLocalMachine, "Software\\Trailing");
  EXPECT_EQ(key.Open(kHkeyLocalMachine, "Software\\Trailing\\", kKeyRead), kErrorSuccess);
  EXPECT_EQ(key.Path(), "HKEY_LOCAL_MACHINE\\Software\\Trailing");

  RegistryKey full = CreateKey(kHkeyCurrentUser, "Software\\Masks");
  ASSERT_EQ(full.SetDword("n", 7), kErrorSuccess);
  CreateKey(kHkeyCurrentUser, "Software\\Masks\\Child");

  RegistryKey queryOnly = OpenKey(kHkeyCurrentUser, "Software\\Masks", kKeyQueryValue);
  RegistryValue read;
  EXPECT_EQ(queryOnly.QueryValue("n", read), kErrorSuccess);
  EXPECT_EQ(queryOnly.SetDword("n", 8), kErrorAccessDenied);
  EXPECT_EQ(queryOnly.DeleteValue("n"), kErrorAccessDenied);
  std::string name;
  EXPECT_EQ(queryOnly.EnumKey(0, name), kErrorAccessDenied);
  RegistryKey child;
  EXPECT_EQ(child.Create(queryOnly, "New", kKeyRead), kErrorAccessDenied);
  EXPECT_EQ(queryOnly.DeleteTree("Child"), kErrorAccessDenied);

  RegistryKey setOnly = OpenKey(kHkeyCurrentUser, "Software\\Masks", kKeySetValue);
  EXPECT_EQ(setOnly.QueryValue("n", read), kErrorAccessDenied);
  EXPECT_EQ(setOnly.SetDword("n", 9), kErrorSuccess);
  EXPECT_EQ(full.QueryValue("n", read), kErrorSuccess);
  EXPECT_EQ(read.data, RegistryDwordData(9));

  RegistryKey generic = OpenKey(kHkeyCurrentUser, "Software\\Masks", kGenericRead);
  EXPECT_EQ(generic.Access(), kKeyRead);
  RegistryKey maximum = OpenKey(kHkeyCurrentUser, "Software\\Masks", kMaximumAllowed);
  EXPECT_EQ(maximum.Access(), kKeyAllAccess);
}

TEST_F(RegistryKeyTest, EnumerationOrderAndEnds) {
  RegistryKey key = CreateKey(kHkeyCurrentUser, "Software\\Order");
  EXPECT_EQ(SubKeys(key), std::vector<std::string>{});
  for (const char* name : {"b", "_x", "C", "a"})
    CreateKey(kHkeyCurrentUser, std::string("Software\\Order\\") + name);
  // By upper-case name, as Windows lists them: '_' sorts after the letters.
  EXPECT_EQ(SubKeys(key), (std::vector<std::string>{"a", "b", "C", "_x"}));

  for (const char* name : {"z", "a", "m"}) ASSERT_EQ(key.SetDword(name, 1), kErrorSuccess);
  ASSERT_EQ(key.SetDword("Z", 2), kErrorSuccess);  // rewriting keeps the place
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"z", "a", "m"}));
  ASSERT_EQ(key.DeleteValue("A"), kErrorSuccess);
  ASSERT_EQ(key.SetDword("a", 3), kErrorSuccess);  // a new value goes last
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"z", "m", "a"}));

  RegistryKeyInfo info;
  ASSERT_EQ(key.QueryInfo(info), kErrorSuccess);
  EXPECT_EQ(info.subKeys, 4u);
  EXPECT_EQ(info.maxSubKeyLength, 2u);
  EXPECT_EQ(info.values, 3u);
  EXPECT_EQ(info.maxValueNameLength, 1u);
  EXPECT_EQ(info.maxValueLength, 4u);
}

TEST_F(RegistryKeyTest, DeletingKeysWithSubkeysNeedsATreeDelete) {
  RegistryKey software = CreateKey(kHkeyCurrentUser, "Software");
  RegistryKey inner = CreateKey(kHkeyCurrentUser, "Software\\Doomed\\Inner");
  ASSERT_EQ(inner.SetDword("v", 1), kErrorSuccess);

  EXPECT_EQ(software.DeleteKey("Doomed"), kErrorAccessDenied);
  RegistryKey still;
  EXPECT_EQ(still.Open(software, "Doomed\\Inner", kKeyRead), kErrorSuccess);
  EXPECT_EQ(software.DeleteKey("Absent"), kErrorFileNotFound);

  EXPECT_EQ(software.DeleteTree("doomed"), kErrorSuccess);
  EXPECT_EQ(still.Open(software, "Doomed", kKeyRead), kErrorFileNotFound);
  // A handle to a deleted key says so.
  RegistryValue value;
  EXPECT_EQ(inner.QueryValue("v", value), kErrorKeyDeleted);
  EXPECT_EQ(inner.SetDword("v", 2), kErrorKeyDeleted);

  // A key without subkeys goes with a plain delete; values go with it.
  RegistryKey leaf = CreateKey(kHkeyCurrentUser, "Software\\Leaf");
  ASSERT_EQ(leaf.SetDword("v", 1), kErrorSuccess);
  EXPECT_EQ(software.DeleteKey("LEAF"), kErrorSuccess);
  RegistryKey recreated = CreateKey(kHkeyCurrentUser, "Software\\Leaf");
  EXPECT_EQ(ValueNames(recreated), std::vector<std::string>{});
  EXPECT_EQ(recreated.DeleteValue("v"), kErrorFileNotFound);

  // A tree delete of the key itself empties it.
  CreateKey(kHkeyCurrentUser, "Software\\Leaf\\Sub");
  ASSERT_EQ(recreated.SetDword("w", 1), kErrorSuccess);
  EXPECT_EQ(recreated.DeleteTree(""), kErrorSuccess);
  EXPECT_EQ(SubKeys(recreated), std::vector<std::string>{});
  EXPECT_EQ(ValueNames(recreated), std::vector<std::string>{});

  RegistryKey root = OpenKey(kHkeyCurrentUser, "", kKeyAllAccess);
  EXPECT_EQ(root.DeleteKey(""), kErrorAccessDenied);
}

TEST_F(RegistryKeyTest, ClassesRootMergesTheUsersClassesOverTheMachines) {
  RegistryKey machineTxt = CreateKey(kHkeyLocalMachine, "Software\\Classes\\.txt");
  ASSERT_EQ(machineTxt.SetString("", "machine"), kErrorSuccess);
  ASSERT_EQ(machineTxt.SetString("Content Type", "text/plain"), kErrorSuccess);
  CreateKey(kHkeyLocalMachine, "Software\\Classes\\.doc");
  RegistryKey userTxt = CreateKey(kHkeyCurrentUser, "Software\\Classes\\.TXT");
  ASSERT_EQ(userTxt.SetString("", "user"), kErrorSuccess);
  CreateKey(kHkeyCurrentUser, "Software\\Classes\\.mine");

  RegistryKey root = OpenKey(kHkeyClassesRoot, "", kKeyAllAccess);
  EXPECT_EQ(root.Path(), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(SubKeys(root), (std::vector<std::string>{".doc", ".mine", ".TXT"}));

  RegistryKey txt = OpenKey(kHkeyClassesRoot, ".txt", kKeyAllAccess);
  EXPECT_EQ(txt.Path(), "HKEY_CLASSES_ROOT\\.TXT");
  EXPECT_EQ(StringOf(txt, ""), std::string("user", 5));
  EXPECT_EQ(StringOf(txt, "content type"), std::string("text/plain", 11));
  EXPECT_EQ(ValueNames(txt), (std::vector<std::string>{"", "Content Type"}));

  // Values written through the view go to the user's side when the key is there.
  ASSERT_EQ(txt.SetString("Added", "x"), kErrorSuccess);
  EXPECT_EQ(StringOf(userTxt, "Added"), std::string("x", 2));
  EXPECT_EQ(StringOf(machineTxt, "Added"), "<missing>");

  // A new key under the view goes to the machine's side.
  RegistryKey made;
  ASSERT_EQ(made.Create(kHkeyClassesRoot, ".new", kKeyAllAccess), kErrorSuccess);
  RegistryKey check;
  EXPECT_EQ(check.Open(kHkeyLocalMachine, "Software\\Classes\\.new", kKeyRead), kErrorSuccess);
  EXPECT_EQ(check.Open(kHkeyCurrentUser, "Software\\Classes\\.new", kKeyRead), kErrorFileNotFound);
}

}  // namespace
