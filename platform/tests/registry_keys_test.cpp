// Keys and values in one process: types, names, access masks, enumeration, depth, deletion,
// transactions and the classes view.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "scoped_sandbox.h"

namespace {

using namespace platform;
using Names = std::vector<std::string>;

class RegistryKeyTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;
};

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

RegistryKey OpenKey(uint32_t root, std::string_view path, uint32_t access = kKeyAllAccess,
                    bool create = true) {
  RegistryKey key;
  EXPECT_EQ(create ? key.Create(root, path, access) : key.Open(root, path, access), kErrorSuccess)
      << path;
  return key;
}

Names SubKeys(const RegistryKey& key) {
  Names names;
  std::string name;
  uint32_t error;
  for (uint32_t i = 0; (error = key.EnumKey(i, name)) == kErrorSuccess; ++i) names.push_back(name);
  EXPECT_EQ(error, kErrorNoMoreItems);
  return names;
}

Names ValueNames(const RegistryKey& key) {
  Names names;
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
  RegistryKey key = OpenKey(kHkeyCurrentUser, "Software\\Types");
  const std::vector<RegistryValue> written = {
      {"sz unterminated", kRegSz, Bytes("abc")},
      {"sz", kRegSz, RegistryStringData("abc")},
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
              kErrorSuccess);
  }
  RegistryKey reopened = OpenKey(kHkeyCurrentUser, "Software\\Types", kKeyRead, false);
  for (const RegistryValue& expected : written) {
    RegistryValue read;
    ASSERT_EQ(reopened.QueryValue(expected.name, read), kErrorSuccess) << expected.name;
    EXPECT_EQ(read.type, expected.type) << expected.name;
    EXPECT_EQ(read.data, expected.data) << expected.name;
  }
  EXPECT_EQ(RegistryDwordData(42), (std::vector<uint8_t>{42, 0, 0, 0}));
}

TEST_F(RegistryKeyTest, BufferReadsReportTheSizeAndMoreData) {
  RegistryKey key = OpenKey(kHkeyCurrentUser, "Software\\Buffers");
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
  RegistryKey created = OpenKey(kHkeyLocalMachine, "Software\\MixedCase\\Inner");
  ASSERT_EQ(created.SetString("ValueName", "one"), kErrorSuccess);
  ASSERT_EQ(created.SetString("VALUENAME", "two"), kErrorSuccess);
  RegistryKey opened = OpenKey(kHkeyLocalMachine, "SOFTWARE\\mixedcase\\INNER\\", kKeyRead, false);
  EXPECT_EQ(opened.Path(), "HKEY_LOCAL_MACHINE\\Software\\MixedCase\\Inner");
  EXPECT_EQ(ValueNames(opened), Names{"ValueName"});
  EXPECT_EQ(StringOf(opened, "valuename"), std::string("two", 4));
  bool made = true;
  RegistryKey again;
  ASSERT_EQ(again.Create(kHkeyLocalMachine, "software\\MIXEDCASE", kKeyRead, &made), kErrorSuccess);
  EXPECT_FALSE(made);
  EXPECT_EQ(SubKeys(again), Names{"Inner"});
}

TEST_F(RegistryKeyTest, BadPathsClosedKeysAndWhatTheAccessMaskDoesNotGrantAreRefused) {
  RegistryKey full = OpenKey(kHkeyCurrentUser, "Software\\Masks");
  ASSERT_EQ(full.SetDword("n", 7), kErrorSuccess);
  OpenKey(kHkeyCurrentUser, "Software\\Masks\\Child");
  RegistryKey closed;
  RegistryKey queryOnly = OpenKey(kHkeyCurrentUser, "Software\\Masks", kKeyQueryValue, false);
  RegistryKey setOnly = OpenKey(kHkeyCurrentUser, "Software\\Masks", kKeySetValue, false);
  RegistryKey key;
  RegistryValue value;
  std::string name;
  struct Case {
    const char* what;
    uint32_t result;
    uint32_t expected;
  };
  for (const Case& c : {
           Case{"leading backslash", key.Open(kHkeyLocalMachine, "\\Software", kKeyRead),
                kErrorBadPathname},
           {"name of 256", key.Create(kHkeyLocalMachine, std::string(256, 'k'), kKeyRead),
            kErrorInvalidParameter},
           {"absent", key.Open(kHkeyLocalMachine, "Software\\Nowhere", kKeyRead), kErrorFileNotFound},
           {"no such root", key.Open(0x80000003u, "", kKeyRead), kErrorInvalidHandle},
           {"closed query", closed.QueryValue("x", value), kErrorInvalidHandle},
           {"closed set", closed.SetDword("x", 1), kErrorInvalidHandle},
           {"query-only query", queryOnly.QueryValue("n", value), kErrorSuccess},
           {"query-only set", queryOnly.SetDword("n", 8), kErrorAccessDenied},
           {"query-only delete", queryOnly.DeleteValue("n"), kErrorAccessDenied},
           {"query-only enum", queryOnly.EnumKey(0, name), kErrorAccessDenied},
           {"query-only create", key.Create(queryOnly, "New", kKeyRead), kErrorAccessDenied},
           {"query-only tree", queryOnly.DeleteTree("Child"), kErrorAccessDenied},
           {"set-only query", setOnly.QueryValue("n", value), kErrorAccessDenied},
           {"set-only set", setOnly.SetDword("n", 9), kErrorSuccess},
       }) {
    EXPECT_EQ(c.result, c.expected) << c.what;
  }
  EXPECT_EQ(PredefinedKeyName(0x80000003u), nullptr);
  // The context stores the roots as signed decimal text of the Windows handle values.
  EXPECT_EQ(static_cast<int32_t>(kHkeyCurrentUser), -2147483647);
  EXPECT_EQ(StringOf(full, "n"), std::string("\x09\0\0\0", 4));
  EXPECT_EQ(OpenKey(kHkeyCurrentUser, "Software\\Masks", kGenericRead, false).Access(), kKeyRead);
  EXPECT_EQ(OpenKey(kHkeyCurrentUser, "Software\\Masks", kMaximumAllowed, false).Access(),
            kKeyAllAccess);
}

TEST_F(RegistryKeyTest, EnumerationFollowsEveryChange) {
  RegistryKey key = OpenKey(kHkeyCurrentUser, "Software\\Order");
  RegistryKey other = OpenKey(kHkeyCurrentUser, "Software\\Order", kKeyRead, false);
  EXPECT_EQ(SubKeys(key), Names{});
  for (const char* name : {"b", "_x", "C", "a"}) OpenKey(kHkeyCurrentUser, std::string("Software\\Order\\") + name);
  // By upper-case name, as Windows lists them: '_' sorts after the letters.
  EXPECT_EQ(SubKeys(key), (Names{"a", "b", "C", "_x"}));

  for (const char* name : {"z", "a", "m"}) ASSERT_EQ(key.SetDword(name, 1), kErrorSuccess);
  EXPECT_EQ(ValueNames(other), (Names{"z", "a", "m"}));
  ASSERT_EQ(key.SetDword("Z", 2), kErrorSuccess);  // rewriting keeps the place
  ASSERT_EQ(key.DeleteValue("A"), kErrorSuccess);
  ASSERT_EQ(key.SetString("a", "three"), kErrorSuccess);  // a new value goes last
  // What one handle listed before does not hide the changes made through another.
  EXPECT_EQ(ValueNames(other), (Names{"z", "m", "a"}));
  RegistryValue value;
  ASSERT_EQ(other.EnumValue(0, value), kErrorSuccess);
  EXPECT_EQ(value.data, RegistryDwordData(2));
  ASSERT_EQ(key.DeleteKey("b"), kErrorSuccess);
  RegistryKeyInfo info;
  ASSERT_EQ(other.QueryInfo(info), kErrorSuccess);
  EXPECT_EQ(info.subKeys, 3u);
  EXPECT_EQ(info.maxSubKeyLength, 2u);
  EXPECT_EQ(info.values, 3u);
  EXPECT_EQ(info.maxValueNameLength, 1u);
  EXPECT_EQ(info.maxValueLength, 6u);
}

TEST_F(RegistryKeyTest, DeletingKeysWithSubkeysNeedsATreeDelete) {
  RegistryKey software = OpenKey(kHkeyCurrentUser, "Software");
  RegistryKey inner = OpenKey(kHkeyCurrentUser, "Software\\Doomed\\Inner");
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
  EXPECT_EQ(inner.EnumValue(0, value), kErrorKeyDeleted);

  // A key without subkeys goes with a plain delete; values go with it.
  RegistryKey leaf = OpenKey(kHkeyCurrentUser, "Software\\Leaf");
  ASSERT_EQ(leaf.SetDword("v", 1), kErrorSuccess);
  EXPECT_EQ(software.DeleteKey("LEAF"), kErrorSuccess);
  RegistryKey recreated = OpenKey(kHkeyCurrentUser, "Software\\Leaf");
  EXPECT_EQ(recreated.DeleteValue("v"), kErrorFileNotFound);
  // A tree delete of the key itself empties it.
  OpenKey(kHkeyCurrentUser, "Software\\Leaf\\Sub");
  ASSERT_EQ(recreated.SetDword("w", 1), kErrorSuccess);
  EXPECT_EQ(recreated.DeleteTree(""), kErrorSuccess);
  EXPECT_EQ(SubKeys(recreated), Names{});
  EXPECT_EQ(ValueNames(recreated), Names{});
  EXPECT_EQ(OpenKey(kHkeyCurrentUser, "", kKeyAllAccess, false).DeleteKey(""), kErrorAccessDenied);
}

TEST_F(RegistryKeyTest, KeysNestAtMost512LevelsAndSoDeepTreesStillDelete) {
  std::string path = "Deep";
  for (size_t level = 2; level <= kMaxKeyDepth; ++level) path += "\\k";
  RegistryKey deepest = OpenKey(kHkeyCurrentUser, path);
  ASSERT_EQ(deepest.SetDword("v", 1), kErrorSuccess);
  RegistryKey refused;
  EXPECT_EQ(refused.Create(kHkeyCurrentUser, path + "\\k", kKeyAllAccess), kErrorBadKey);
  EXPECT_EQ(refused.Create(deepest, "k", kKeyAllAccess), kErrorBadKey);
  RegistryKey middle = OpenKey(kHkeyCurrentUser, "Deep\\k\\k", kKeyAllAccess, false);
  EXPECT_EQ(refused.Create(middle, path, kKeyAllAccess), kErrorBadKey);
  EXPECT_EQ(SubKeys(middle), Names{"k"});  // nothing of a refused path was made

  RegistryKey root = OpenKey(kHkeyCurrentUser, "", kKeyAllAccess, false);
  EXPECT_EQ(root.DeleteTree("Deep"), kErrorSuccess);
  EXPECT_EQ(refused.Open(kHkeyCurrentUser, "Deep", kKeyRead), kErrorFileNotFound);
}

TEST_F(RegistryKeyTest, ATransactionKeepsAllItsChangesOrNone) {
  for (bool commit : {false, true}) {
    {
      RegistryTransaction transaction;
      RegistryKey user = OpenKey(kHkeyCurrentUser, "Software\\Grouped");
      ASSERT_EQ(user.SetDword("n", 1), kErrorSuccess);
      RegistryKey machine = OpenKey(kHkeyLocalMachine, "Software\\Grouped");
      // A failed call inside leaves the rest standing.
      EXPECT_EQ(machine.DeleteValue("absent"), kErrorFileNotFound);
      ASSERT_EQ(machine.SetDword("n", 2), kErrorSuccess);
      EXPECT_EQ(ValueNames(user), Names{"n"});
      if (commit) {
        EXPECT_EQ(transaction.Commit(), kErrorSuccess);
      }
    }
    for (uint32_t root : {kHkeyCurrentUser, kHkeyLocalMachine}) {
      RegistryKey key;
      EXPECT_EQ(key.Open(root, "Software\\Grouped", kKeyRead),
                commit ? kErrorSuccess : kErrorFileNotFound);
    }
  }
}

TEST_F(RegistryKeyTest, ClassesRootMergesTheUsersClassesOverTheMachines) {
  RegistryKey machineTxt = OpenKey(kHkeyLocalMachine, "Software\\Classes\\.txt");
  ASSERT_EQ(machineTxt.SetString("", "machine"), kErrorSuccess);
  ASSERT_EQ(machineTxt.SetString("Content Type", "text/plain"), kErrorSuccess);
  OpenKey(kHkeyLocalMachine, "Software\\Classes\\.doc");
  RegistryKey userTxt = OpenKey(kHkeyCurrentUser, "Software\\Classes\\.TXT");
  ASSERT_EQ(userTxt.SetString("", "user"), kErrorSuccess);
  OpenKey(kHkeyCurrentUser, "Software\\Classes\\.mine");

  RegistryKey root = OpenKey(kHkeyClassesRoot, "", kKeyAllAccess, false);
  EXPECT_EQ(root.Path(), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(SubKeys(root), (Names{".doc", ".mine", ".TXT"}));
  RegistryKey txt = OpenKey(kHkeyClassesRoot, ".txt", kKeyAllAccess, false);
  EXPECT_EQ(txt.Path(), "HKEY_CLASSES_ROOT\\.TXT");
  EXPECT_EQ(StringOf(txt, ""), std::string("user", 5));
  EXPECT_EQ(StringOf(txt, "content type"), std::string("text/plain", 11));
  EXPECT_EQ(ValueNames(txt), (Names{"", "Content Type"}));
  RegistryValue first;
  ASSERT_EQ(txt.EnumValue(0, first), kErrorSuccess);
  EXPECT_EQ(first.data, RegistryStringData("user"));

  // Values written through the view go to the user's side when the key is there.
  ASSERT_EQ(txt.SetString("Added", "x"), kErrorSuccess);
  EXPECT_EQ(StringOf(userTxt, "Added"), std::string("x", 2));
  EXPECT_EQ(StringOf(machineTxt, "Added"), "<missing>");
  // A new key under the view goes to the machine's side.
  OpenKey(kHkeyClassesRoot, ".new");
  RegistryKey check;
  EXPECT_EQ(check.Open(kHkeyLocalMachine, "Software\\Classes\\.new", kKeyRead), kErrorSuccess);
  EXPECT_EQ(check.Open(kHkeyCurrentUser, "Software\\Classes\\.new", kKeyRead), kErrorFileNotFound);
}

}  // namespace
