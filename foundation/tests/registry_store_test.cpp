// The registry provider store: key paths, the hive rule, typed reads and writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/registry/provider_store.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "registry_store_identity.h"
#include "scoped_sandbox.h"

namespace {

using namespace provider_store;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
using platform::RegistryKey;

constexpr const char* kProviderKey = "SOFTWARE\\Strovane\\ProviderList\\prov";
constexpr const char* kAliceKey = "SOFTWARE\\Strovane\\ProviderList\\prov\\users\\alice";

class ProviderStoreTest : public ::testing::Test {
 protected:
  explicit ProviderStoreTest(const char* processUser = "alice") : sandbox_(processUser) {}

  // Writes a raw value straight into the registry.
  static void Put(uint32_t root, const std::string& path, const char* name, uint32_t type,
                  const std::vector<uint8_t>& data) {
    RegistryKey key;
    ASSERT_EQ(key.Create(root, path, platform::kKeyAllAccess), 0u);
    ASSERT_EQ(key.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())), 0u);
  }
  // Reads a raw value; false when absent.
  static bool Get(uint32_t root, const std::string& path, const char* name,
                  platform::RegistryValue& value) {
    RegistryKey key;
    return key.Open(root, path, platform::kKeyRead) == 0 && key.QueryValue(name, value) == 0;
  }

  platform::testing::ScopedSandbox sandbox_;
  ScopedStoreIdentity identity_{"prov", "alice"};
};

class ProviderStoreAsSystemTest : public ProviderStoreTest {
 protected:
  ProviderStoreAsSystemTest() : ProviderStoreTest("SYSTEM") {}
};

TEST_F(ProviderStoreTest, KeyPathsOfEachLevel) {
  char path[kKeyPathSize];
  ASSERT_EQ(ProviderKeyPath(nullptr, path, sizeof path, false), kStoreSuccess);
  EXPECT_STREQ(path, kProviderKey);
  ASSERT_EQ(ProviderKeyPath("General", path, sizeof path, false), kStoreSuccess);
  EXPECT_STREQ(path, "SOFTWARE\\Strovane\\ProviderList\\prov\\General");
  ASSERT_EQ(ProviderKeyPath("", path, sizeof path, true), kStoreSuccess);
  EXPECT_STREQ(path, kAliceKey);
  ASSERT_EQ(ProviderKeyPath("Jobs", path, sizeof path, true), kStoreSuccess);
  EXPECT_STREQ(path, "SOFTWARE\\Strovane\\ProviderList\\prov\\users\\alice\\Jobs");
}

TEST_F(ProviderStoreTest, KeyPathsThatCannotBeBuilt) {
  char path[kKeyPathSize];
  const std::string machineKey = kProviderKey;
  // 259 characters fit the 260-byte buffer; one more does not.
  std::string subKey(kKeyPathSize - 1 - machineKey.size() - 1, 'k');
  EXPECT_EQ(ProviderKeyPath(subKey.c_str(), path, sizeof path, false), kStoreSuccess);
  EXPECT_EQ(std::strlen(path), kKeyPathSize - 1);
  subKey += 'k';
  EXPECT_EQ(ProviderKeyPath(subKey.c_str(), path, sizeof path, false), kStoreNoKeyPath);
  EXPECT_STREQ(path, "");
  EXPECT_EQ(ProviderKeyPath(nullptr, path, machineKey.size(), false), kStoreNoKeyPath);
  EXPECT_EQ(ProviderKeyPath(nullptr, nullptr, 0, false), kStoreBadValue);

  RegistryKey key;
  EXPECT_EQ(OpenProviderKey(key, kStoreReadAccess, subKey.c_str(), false), kStoreOpenNoKeyPath);
  EXPECT_EQ(WriteDword(subKey.c_str(), "v", 1, true), kStoreOpenNoKeyPath);

  ScopedStoreIdentity::Current().userName = "";
  EXPECT_EQ(ProviderKeyPath(nullptr, path, sizeof path, true), kStoreNoKeyPath);
  ScopedStoreIdentity::Current().providerId = "";
  EXPECT_EQ(ProviderKeyPath(nullptr, path, sizeof path, false), kStoreNoKeyPath);
  uint32_t number = 7;
  EXPECT_EQ(ReadDword("General", "UserIdType", number, false), kStoreOpenNoKeyPath);
  EXPECT_EQ(number, 0u);
}

TEST_F(ProviderStoreTest, ValuesOfTheWrongTypeGive1012AndEmptyOutputs) {
  ASSERT_EQ(WriteString(nullptr, "text", "12", true), kStoreSuccess);
  ASSERT_EQ(WriteDword(nullptr, "number", 12, true), kStoreSuccess);
  uint32_t number = 99;
  EXPECT_EQ(ReadDword(nullptr, "text", number, true), kStoreBadValue);
  EXPECT_EQ(number, 0u);
  char buffer[16] = "stale";
  EXPECT_EQ(ReadString(nullptr, "number", buffer, sizeof buffer, true), kStoreBadValue);
  EXPECT_STREQ(buffer, "");
  HxStr text = "stale";
  EXPECT_EQ(ReadString(nullptr, "number", text, true), kStoreBadValue);
  EXPECT_TRUE(text.IsEmpty());
  EXPECT_EQ(ReadString(nullptr, "text", buffer, 0, true), kStoreBadValue);
  // A double word of the wrong size is refused too.
  Put(kHkeyCurrentUser, kAliceKey, "short", platform::kRegDword, {1, 0});
  EXPECT_EQ(ReadDword(nullptr, "short", number, true), kStoreBadValue);
}

TEST_F(ProviderStoreTest, ReadsRoundTripAndPassRegistryErrorsThrough) {
  ASSERT_EQ(WriteString("Sub", "text", "hello", true), kStoreSuccess);
  ASSERT_EQ(WriteDword("Sub", "number", 0xDEADBEEF, true), kStoreSuccess);
  char buffer[6];
  ASSERT_EQ(ReadString("Sub", "text", buffer, sizeof buffer, true), kStoreSuccess);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(ReadString("Sub", "text", buffer, 5, true), platform::kErrorMoreData);
  EXPECT_STREQ(buffer, "");
  uint32_t number = 0;
  ASSERT_EQ(ReadDword("Sub", "number", number, true), kStoreSuccess);
  EXPECT_EQ(number, 0xDEADBEEF);
  Put(kHkeyCurrentUser, std::string(kAliceKey) + "\\Sub", "expand", platform::kRegExpandSz,
      {'%', 'x', '%', 0});
  HxStr text;
  ASSERT_EQ(ReadString("Sub", "expand", text, true), kStoreSuccess);
  EXPECT_EQ(text, "%x%");
  EXPECT_EQ(ReadDword("Sub", "absent", number, true), platform::kErrorFileNotFound);
  EXPECT_EQ(ReadDword("NoSuchKey", "number", number, true), platform::kErrorFileNotFound);
}

TEST_F(ProviderStoreTest, ReadBoolLooksAtTheFirstByte) {
  const std::string key = kAliceKey;
  Put(kHkeyCurrentUser, key, "text0", platform::kRegSz, {'0', 0});
  Put(kHkeyCurrentUser, key, "dword0", platform::kRegDword, {0, 0, 0, 0});
  Put(kHkeyCurrentUser, key, "dword256", platform::kRegDword, {0, 1, 0, 0});
  Put(kHkeyCurrentUser, key, "dword1", platform::kRegDword, {1, 0, 0, 0});
  Put(kHkeyCurrentUser, key, "multi", platform::kRegMultiSz, {'a', 0, 0});
  Put(kHkeyCurrentUser, key, "emptyBinary", platform::kRegBinary, {});
  Put(kHkeyCurrentUser, key, "none", platform::kRegNone, {1});
  Put(kHkeyCurrentUser, key, "qword", platform::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0});
  Put(kHkeyCurrentUser, key, "huge", platform::kRegBinary, std::vector<uint8_t>(261, 1));
  struct Case {
    const char* name;
    uint32_t code;
    bool value;
  };
  for (const Case& c :
       {Case{"text0", 0, true}, Case{"dword0", 0, false}, Case{"dword256", 0, false},
        Case{"dword1", 0, true}, Case{"multi", 0, true}, Case{"emptyBinary", 0, false},
        Case{"none", kStoreBadValue, false}, Case{"qword", kStoreBadValue, false},
        Case{"huge", platform::kErrorMoreData, false}}) {
    bool value = !c.value;
    EXPECT_EQ(ReadBool(nullptr, c.name, value, true), c.code) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
}

TEST_F(ProviderStoreTest, WriteStringStoresNoTerminator) {
  ASSERT_EQ(WriteString(nullptr, "ProfileKey", "abc", true), kStoreSuccess);
  platform::RegistryValue value;
  ASSERT_TRUE(Get(kHkeyCurrentUser, kAliceKey, "ProfileKey", value));
  EXPECT_EQ(value.type, platform::kRegSz);
  EXPECT_EQ(value.data, (std::vector<uint8_t>{'a', 'b', 'c'}));
  ASSERT_EQ(WriteString(nullptr, "Empty", "", true), kStoreSuccess);
  ASSERT_TRUE(Get(kHkeyCurrentUser, kAliceKey, "Empty", value));
  EXPECT_TRUE(value.data.empty());
  EXPECT_EQ(WriteString(nullptr, "Missing", nullptr, true), kStoreBadValue);
}

TEST_F(ProviderStoreTest, UserValuesLiveInTheContextsHive) {
  ASSERT_EQ(WriteDword(nullptr, "InCurrentUser", 1, true), kStoreSuccess);
  platform::RegistryValue value;
  EXPECT_TRUE(Get(kHkeyCurrentUser, kAliceKey, "InCurrentUser", value));
  EXPECT_FALSE(Get(kHkeyLocalMachine, kAliceKey, "InCurrentUser", value));
  // The loader chose the machine hive for this provider's users.
  ScopedStoreIdentity::Current().userHive = kHkeyLocalMachine;
  EXPECT_EQ(PerUserHive(), kHkeyLocalMachine);
  ASSERT_EQ(WriteDword(nullptr, "InMachine", 1, true), kStoreSuccess);
  EXPECT_TRUE(Get(kHkeyLocalMachine, kAliceKey, "InMachine", value));
}

TEST_F(ProviderStoreAsSystemTest, PerUserValueOfAliceLivesInTheMachineHive) {
  EXPECT_EQ(PerUserHive(), kHkeyLocalMachine);
  ASSERT_EQ(WriteDword(nullptr, "NextUpdateTime", 5, true), kStoreSuccess);
  platform::RegistryValue value;
  ASSERT_TRUE(Get(kHkeyLocalMachine, kAliceKey, "NextUpdateTime", value));
  EXPECT_EQ(value.type, platform::kRegDword);
  uint32_t number = 0;
  EXPECT_EQ(ReadDword(nullptr, "NextUpdateTime", number, true), kStoreSuccess);
  EXPECT_EQ(number, 5u);
}

TEST_F(ProviderStoreTest, MachineKeysOpenReadOnlySoExistingOnesRefuseChanges) {
  RegistryKey key;
  EXPECT_EQ(OpenProviderKey(key, kStoreWriteAccess, nullptr, false), platform::kErrorFileNotFound);
  // A missing machine key is created for writing.
  ASSERT_EQ(WriteDword("General", "UserIdType", 3, false), kStoreSuccess);
  ASSERT_EQ(OpenProviderKey(key, kStoreWriteAccess, "General", false), kStoreSuccess);
  EXPECT_EQ(key.Access(), kStoreReadAccess);
  EXPECT_EQ(WriteDword("General", "UserIdType", 4, false), platform::kErrorAccessDenied);
  EXPECT_EQ(DeleteValue("General", "UserIdType", false), platform::kErrorAccessDenied);
  uint32_t number = 0;
  EXPECT_EQ(ReadDword("General", "UserIdType", number, false), kStoreSuccess);
  EXPECT_EQ(number, 3u);
  // Per-user keys open with the access asked for.
  ASSERT_EQ(WriteDword(nullptr, "v", 1, true), kStoreSuccess);
  ASSERT_EQ(OpenProviderKey(key, platform::kKeySetValue, nullptr, true), kStoreSuccess);
  EXPECT_EQ(key.Access(), platform::kKeySetValue);
}

TEST_F(ProviderStoreTest, DeleteValueRemovesAUserValue) {
  ASSERT_EQ(WriteDword(nullptr, "Gone", 1, true), kStoreSuccess);
  EXPECT_EQ(DeleteValue(nullptr, "Gone", true), kStoreSuccess);
  uint32_t number = 0;
  EXPECT_EQ(ReadDword(nullptr, "Gone", number, true), platform::kErrorFileNotFound);
  EXPECT_EQ(DeleteValue(nullptr, "Gone", true), platform::kErrorFileNotFound);
}

TEST_F(ProviderStoreTest, OpenUserKeyOfAnyProviderAndUser) {
  RegistryKey key;
  EXPECT_EQ(OpenUserKey(key, kHkeyLocalMachine, "other", "bob", false),
            platform::kErrorFileNotFound);
  ASSERT_EQ(OpenUserKey(key, kHkeyLocalMachine, "other", "bob", true), kStoreSuccess);
  EXPECT_EQ(key.Access(), kStoreWriteAccess);
  EXPECT_EQ(key.SetDword("x", 1), 0u);
  key.Close();
  ASSERT_EQ(OpenUserKey(key, kHkeyLocalMachine, "other", "bob", false), kStoreSuccess);
  EXPECT_EQ(
      CompareNoCase(key.Path(),
                    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Strovane\\ProviderList\\other\\users\\bob"),
      0)
      << key.Path();
  EXPECT_EQ(OpenUserKey(key, kHkeyLocalMachine, "", "bob", true), kStoreNoKeyPath);
  EXPECT_EQ(OpenUserKey(key, kHkeyLocalMachine, "other", nullptr, true), kStoreBadValue);
  EXPECT_EQ(OpenUserKey(key, kHkeyLocalMachine, std::string(250, 'p').c_str(), "bob", true),
            kStoreNoKeyPath);
  EXPECT_FALSE(key.IsOpen());
}

}  // namespace
