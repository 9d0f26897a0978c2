// The registry provider store (key paths, the hive rule, typed reads and writes) and HxRegKey
// and HxRegVal (opening, closing and reading any key, with their failure traces).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/registry/hx_reg_key.h"
#include "foundation/registry/provider_store.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "registry_store_identity.h"
#include "scoped_sandbox.h"
#include "trace_capture.h"

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

TEST_F(ProviderStoreTest, KeyPathsOfEachLevelAndThoseThatCannotBeBuilt) {
  char path[kKeyPathSize];
  for (const auto& [subKey, perUser, expected] :
       {std::tuple<const char*, bool, std::string>{nullptr, false, kProviderKey},
        {"General", false, std::string(kProviderKey) + "\\General"},
        {"", true, kAliceKey},
        {"Jobs", true, std::string(kAliceKey) + "\\Jobs"}}) {
    ASSERT_EQ(ProviderKeyPath(subKey, path, sizeof path, perUser), kStoreSuccess);
    EXPECT_EQ(path, expected);
  }

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

TEST_F(ProviderStoreTest, ReadsRoundTripPassRegistryErrorsThroughAndTheWrongTypeGives1012) {
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

  ASSERT_EQ(WriteString("Sub", "text", "hello", true), kStoreSuccess);
  ASSERT_EQ(WriteDword("Sub", "number", 0xDEADBEEF, true), kStoreSuccess);
  ASSERT_EQ(ReadString("Sub", "text", buffer, 6, true), kStoreSuccess);  // just fits
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(ReadString("Sub", "text", buffer, 5, true), platform::kErrorMoreData);
  EXPECT_STREQ(buffer, "");
  ASSERT_EQ(ReadDword("Sub", "number", number, true), kStoreSuccess);
  EXPECT_EQ(number, 0xDEADBEEF);
  Put(kHkeyCurrentUser, std::string(kAliceKey) + "\\Sub", "expand", platform::kRegExpandSz,
      {'%', 'x', '%', 0});
  ASSERT_EQ(ReadString("Sub", "expand", text, true), kStoreSuccess);
  EXPECT_EQ(text, "%x%");
  EXPECT_EQ(ReadDword("Sub", "absent", number, true), platform::kErrorFileNotFound);
  EXPECT_EQ(ReadDword("NoSuchKey", "number", number, true), platform::kErrorFileNotFound);
}

TEST_F(ProviderStoreTest, ReadBoolLooksAtTheFirstByte) {
  struct Case {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> data;
    uint32_t code;
    bool value;
  };
  for (const Case& c :
       {Case{"text0", platform::kRegSz, {'0', 0}, 0, true},
        Case{"dword0", platform::kRegDword, {0, 0, 0, 0}, 0, false},
        Case{"dword256", platform::kRegDword, {0, 1, 0, 0}, 0, false},
        Case{"dword1", platform::kRegDword, {1, 0, 0, 0}, 0, true},
        Case{"multi", platform::kRegMultiSz, {'a', 0, 0}, 0, true},
        Case{"emptyBinary", platform::kRegBinary, {}, 0, false},
        Case{"none", platform::kRegNone, {1}, kStoreBadValue, false},
        Case{"qword", platform::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}, kStoreBadValue, false},
        Case{"huge", platform::kRegBinary, std::vector<uint8_t>(261, 1), platform::kErrorMoreData,
             false}}) {
    Put(kHkeyCurrentUser, kAliceKey, c.name, c.type, c.data);
    bool value = !c.value;
    EXPECT_EQ(ReadBool(nullptr, c.name, value, true), c.code) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
}

TEST_F(ProviderStoreTest, WriteStringStoresNoTerminatorAndDeleteValueRemovesIt) {
  ASSERT_EQ(WriteString(nullptr, "ProfileKey", "abc", true), kStoreSuccess);
  platform::RegistryValue value;
  ASSERT_TRUE(Get(kHkeyCurrentUser, kAliceKey, "ProfileKey", value));
  EXPECT_EQ(value.type, platform::kRegSz);
  EXPECT_EQ(value.data, (std::vector<uint8_t>{'a', 'b', 'c'}));
  ASSERT_EQ(WriteString(nullptr, "Empty", "", true), kStoreSuccess);
  ASSERT_TRUE(Get(kHkeyCurrentUser, kAliceKey, "Empty", value));
  EXPECT_TRUE(value.data.empty());
  EXPECT_EQ(WriteString(nullptr, "Missing", nullptr, true), kStoreBadValue);

  // DeleteValue removes a user value.
  EXPECT_EQ(DeleteValue(nullptr, "Empty", true), kStoreSuccess);
  EXPECT_FALSE(Get(kHkeyCurrentUser, kAliceKey, "Empty", value));
  EXPECT_EQ(DeleteValue(nullptr, "Empty", true), platform::kErrorFileNotFound);
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

TEST_F(ProviderStoreTest,
       MachineKeysOpenReadOnlySoExistingOnesRefuseChangesAndUserKeysOfAnyProviderOpen) {
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

  RegistryKey userKey;
  EXPECT_EQ(OpenUserKey(userKey, kHkeyLocalMachine, "other", "bob", false),
            platform::kErrorFileNotFound);
  ASSERT_EQ(OpenUserKey(userKey, kHkeyLocalMachine, "other", "bob", true), kStoreSuccess);
  EXPECT_EQ(userKey.Access(), kStoreWriteAccess);
  EXPECT_EQ(userKey.SetDword("x", 1), 0u);
  userKey.Close();
  ASSERT_EQ(OpenUserKey(userKey, kHkeyLocalMachine, "other", "bob", false), kStoreSuccess);
  EXPECT_EQ(
      CompareNoCase(userKey.Path(),
                    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Strovane\\ProviderList\\other\\users\\bob"),
      0)
      << userKey.Path();
  EXPECT_EQ(OpenUserKey(userKey, kHkeyLocalMachine, "", "bob", true), kStoreNoKeyPath);
  EXPECT_EQ(OpenUserKey(userKey, kHkeyLocalMachine, "other", nullptr, true), kStoreBadValue);
  EXPECT_EQ(OpenUserKey(userKey, kHkeyLocalMachine, std::string(250, 'p').c_str(), "bob", true),
            kStoreNoKeyPath);
  EXPECT_FALSE(userKey.IsOpen());
}

class HxRegKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegistryKey key;
    ASSERT_EQ(
        key.Create(platform::kHkeyLocalMachine, "Software\\Test\\Child", platform::kKeyAllAccess),
        0u);
    ASSERT_EQ(key.SetValue("bare", platform::kRegSz, "abc", 3), 0u);
    ASSERT_EQ(key.SetDword("number", 0x01020304), 0u);
    ASSERT_EQ(key.SetValue("empty", platform::kRegBinary, nullptr, 0), 0u);
  }

  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(HxRegKeyTest, OpenCloseFailuresTracedAndCreate) {
  HxRegKey key;
  EXPECT_EQ(key.Access(), HxRegKey::kClosedAccess);
  ASSERT_TRUE(key.Open("Software\\Test", platform::kKeyRead));
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.Path(), "Software\\Test");
  EXPECT_EQ(key.Access(), platform::kKeyRead);
  // Opening again closes the first key.
  ASSERT_TRUE(key.Open("Software\\Test\\Child", platform::kKeyQueryValue));
  EXPECT_EQ(key.Path(), "Software\\Test\\Child");
  EXPECT_TRUE(key.Close());
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.Access(), HxRegKey::kClosedAccess);
  TraceCapture trace;
  EXPECT_FALSE(key.Close());
  EXPECT_FALSE(key.Open("Software\\Missing", platform::kKeyRead));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(trace.Text(),
            "   REGTREE: ERROR RegCloseKey failed!: 6\n"
            "   REGTREE: ERROR RegOpenKeyEx failed!: Software\\Missing 2\n");
  EXPECT_TRUE(key.Open("Software\\Missing", platform::kKeyAllAccess, true));
  platform::RegistryKey check;
  EXPECT_EQ(check.Open(platform::kHkeyLocalMachine, "Software\\Missing", platform::kKeyRead), 0u);
}

TEST_F(HxRegKeyTest, KeysBelowAnOpenParent) {
  HxRegKey parent;
  HxRegKey child(&parent);
  EXPECT_FALSE(child.Open("Child", platform::kKeyRead));  // the parent is not open yet
  ASSERT_TRUE(parent.Open("Software\\Test", platform::kKeyRead));
  ASSERT_TRUE(child.Open("Child", platform::kKeyRead));
  HxRegVal value(child);
  EXPECT_TRUE(value.Query("number"));
}

TEST_F(HxRegKeyTest, ValuesReadWithTheirTypeSizeAndATerminatorAndFailedQueriesTraced) {
  HxRegKey key;
  ASSERT_TRUE(key.Open("Software\\Test\\Child", platform::kKeyRead));
  HxRegVal value(key);
  ASSERT_TRUE(value.Query("bare"));
  EXPECT_TRUE(value.Found());
  EXPECT_EQ(value.Type(), platform::kRegSz);
  EXPECT_EQ(value.Size(), 3u);
  EXPECT_STREQ(value.Text(), "abc");
  uint32_t number = 0;
  EXPECT_FALSE(value.GetDword(number));

  ASSERT_TRUE(value.Query("number"));
  ASSERT_TRUE(value.GetDword(number));
  EXPECT_EQ(number, 0x01020304u);

  ASSERT_TRUE(value.Query("empty"));
  EXPECT_EQ(value.Size(), 0u);
  EXPECT_STREQ(value.Text(), "");

  // A failed query is traced and forgets the last value.
  ASSERT_TRUE(value.Query("number"));
  TraceCapture trace;
  EXPECT_FALSE(value.Query("absent"));
  EXPECT_FALSE(value.Found());
  EXPECT_FALSE(value.GetDword(number));
  EXPECT_EQ(trace.Text(), "   REGTREE: ERROR RegQueryValueEx failed!: 2\n");
  key.Close();
  EXPECT_FALSE(value.Query("number"));
}

}  // namespace
