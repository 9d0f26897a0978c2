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
using platform::RegistryValue;
using Bytes = std::vector<uint8_t>;

constexpr const char* kProviderKey = "SOFTWARE\\Strovane\\ProviderList\\prov";
constexpr const char* kAliceKey = "SOFTWARE\\Strovane\\ProviderList\\prov\\users\\alice";

// Writes a raw value straight into the registry.
void Put(uint32_t root, const std::string& path, const char* name, uint32_t type, const Bytes& data) {
  RegistryKey key;
  ASSERT_EQ(key.Create(root, path, platform::kKeyAllAccess), 0u);
  ASSERT_EQ(key.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())), 0u);
}

// A raw value's data, or "<absent>".
std::string Get(uint32_t root, const std::string& path, const char* name) {
  RegistryKey key;
  RegistryValue value;
  if (key.Open(root, path, platform::kKeyRead) != 0 || key.QueryValue(name, value) != 0) {
    return "<absent>";
  }
  return std::string(value.data.begin(), value.data.end());
}

class ProviderStoreTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_{"alice"};
  ScopedStoreIdentity identity_{"prov", "alice"};
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
  RegistryKey key;
  uint32_t number = 7;
  for (const auto& [what, result, expected] : std::vector<std::tuple<const char*, uint32_t, uint32_t>>{
           {"too long", ProviderKeyPath(subKey.c_str(), path, sizeof path, false), kStoreNoKeyPath},
           {"emptied", path[0], 0},
           {"small buffer", ProviderKeyPath(nullptr, path, machineKey.size(), false), kStoreNoKeyPath},
           {"no buffer", ProviderKeyPath(nullptr, nullptr, 0, false), kStoreBadValue},
           {"open too long", OpenProviderKey(key, kStoreReadAccess, subKey.c_str(), false),
            kStoreOpenNoKeyPath},
           {"write too long", WriteDword(subKey.c_str(), "v", 1, true), kStoreOpenNoKeyPath}}) {
    EXPECT_EQ(result, expected) << what;
  }
  ScopedStoreIdentity::Current().userName = "";
  EXPECT_EQ(ProviderKeyPath(nullptr, path, sizeof path, true), kStoreNoKeyPath);
  ScopedStoreIdentity::Current().providerId = "";
  EXPECT_EQ(ProviderKeyPath(nullptr, path, sizeof path, false), kStoreNoKeyPath);
  EXPECT_EQ(ReadDword("General", "UserIdType", number, false), kStoreOpenNoKeyPath);
  EXPECT_EQ(number, 0u);
}

// Each kind of read of each kind of stored value: its result, and what it leaves in its
// out-parameter (emptied, zeroed or false on failure).
TEST_F(ProviderStoreTest, ReadsByTypeAndSize) {
  enum How { kDword, kText, kBuffer6, kBuffer5, kBuffer0, kBool };
  auto read = [](How how, const char* name) {
    uint32_t number = 99;
    bool flag = true;
    char buffer[8] = "stale";
    HxStr text = "stale";
    const size_t sizes[] = {0, 0, 6, 5, 0};
    uint32_t code = how == kDword  ? ReadDword(nullptr, name, number, true)
                    : how == kBool ? ReadBool(nullptr, name, flag, true)
                    : how == kText ? ReadString(nullptr, name, text, true)
                                   : ReadString(nullptr, name, buffer, sizes[how], true);
    std::string out = how == kDword  ? std::to_string(number)
                      : how == kBool ? (flag ? "true" : "false")
                      : how == kText ? std::string(text.c_str())
                                     : std::string(buffer);
    return std::to_string(code) + " " + out;
  };
  const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
  struct Case {
    const char* name;
    uint32_t type;
    Bytes data;
    How how;
    const char* result;
  };
  for (const Case& c : {
           Case{"text", platform::kRegSz, {'1', '2'}, kDword, "1012 0"},
           {"number", platform::kRegDword, {12, 0, 0, 0}, kBuffer6, "1012 "},
           {"number", platform::kRegDword, {12, 0, 0, 0}, kText, "1012 "},
           {"short", platform::kRegDword, {1, 0}, kDword, "1012 0"},
           {"big", platform::kRegDword, {0xef, 0xbe, 0xad, 0xde}, kDword, "0 3735928559"},
           {"hello", platform::kRegSz, hello, kBuffer6, "0 hello"},  // just fits
           {"hello", platform::kRegSz, hello, kBuffer5, "234 "},
           {"hello", platform::kRegSz, hello, kBuffer0, "1012 stale"},
           {"expand", platform::kRegExpandSz, {'%', 'x', '%', 0}, kText, "0 %x%"},
           {"absent", UINT32_MAX, {}, kDword, "2 0"},
           // ReadBool looks at the first byte.
           {"text0", platform::kRegSz, {'0', 0}, kBool, "0 true"},
           {"dword0", platform::kRegDword, {0, 0, 0, 0}, kBool, "0 false"},
           {"dword256", platform::kRegDword, {0, 1, 0, 0}, kBool, "0 false"},
           {"dword1", platform::kRegDword, {1, 0, 0, 0}, kBool, "0 true"},
           {"multi", platform::kRegMultiSz, {'a', 0, 0}, kBool, "0 true"},
           {"emptyBinary", platform::kRegBinary, {}, kBool, "0 false"},
           {"none", platform::kRegNone, {1}, kBool, "1012 false"},
           {"qword", platform::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}, kBool, "1012 false"},
           {"huge", platform::kRegBinary, Bytes(261, 1), kBool, "234 false"}}) {
    if (c.type != UINT32_MAX) Put(kHkeyCurrentUser, kAliceKey, c.name, c.type, c.data);
    EXPECT_EQ(read(c.how, c.name), c.result) << c.name << " " << c.how;
  }
}

TEST_F(ProviderStoreTest, WritesStoreTextsWithoutTerminatorAndErrorsPassThrough) {
  const std::string sub = std::string(kAliceKey) + "\\Sub";
  ASSERT_EQ(WriteString("Sub", "text", "hello", true), kStoreSuccess);
  ASSERT_EQ(WriteString("Sub", "empty", "", true), kStoreSuccess);
  ASSERT_EQ(WriteDword("Sub", "number", 7, true), kStoreSuccess);
  EXPECT_EQ(Get(kHkeyCurrentUser, sub, "text"), "hello");
  EXPECT_EQ(Get(kHkeyCurrentUser, sub, "empty"), "");
  EXPECT_EQ(Get(kHkeyCurrentUser, sub, "number"), std::string("\7\0\0\0", 4));
  uint32_t number = 0;
  EXPECT_EQ(WriteString(nullptr, "Missing", nullptr, true), kStoreBadValue);
  EXPECT_EQ(ReadDword("NoSuchKey", "number", number, true), platform::kErrorFileNotFound);
  EXPECT_EQ(DeleteValue("Sub", "empty", true), kStoreSuccess);
  EXPECT_EQ(Get(kHkeyCurrentUser, sub, "empty"), "<absent>");
  EXPECT_EQ(DeleteValue("Sub", "empty", true), platform::kErrorFileNotFound);
}

TEST_F(ProviderStoreTest, UserValuesLiveInTheContextsHiveOrForTheSystemAccountInTheMachines) {
  ASSERT_EQ(WriteDword(nullptr, "InCurrentUser", 1, true), kStoreSuccess);
  EXPECT_NE(Get(kHkeyCurrentUser, kAliceKey, "InCurrentUser"), "<absent>");
  EXPECT_EQ(Get(kHkeyLocalMachine, kAliceKey, "InCurrentUser"), "<absent>");
  for (bool system : {true, false}) {
    // Running as the system account, or the loader chose the machine hive for the users.
    platform::testing::SetEnvironment("NOLT_USER", system ? "SYSTEM" : "alice");
    ScopedStoreIdentity::Current().userHive = system ? kHkeyCurrentUser : kHkeyLocalMachine;
    EXPECT_EQ(PerUserHive(), kHkeyLocalMachine);
    ASSERT_EQ(WriteDword(nullptr, system ? "BySystem" : "ByLoader", 5, true), kStoreSuccess);
    EXPECT_EQ(Get(kHkeyLocalMachine, kAliceKey, system ? "BySystem" : "ByLoader"),
              std::string("\5\0\0\0", 4));
  }
}

TEST_F(ProviderStoreTest, MachineKeysOpenReadOnlyAndUserKeysOfAnyProviderOpen) {
  RegistryKey key;
  RegistryKey user;
  uint32_t number = 0;
  const std::string bob = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Strovane\\ProviderList\\other\\users\\bob";
  for (const auto& [what, result, expected] : std::vector<std::tuple<const char*, uint32_t, uint32_t>>{
           {"absent", OpenProviderKey(key, kStoreWriteAccess, nullptr, false), 2},
           {"created for writing", WriteDword("General", "UserIdType", 3, false), 0},
           {"opens", OpenProviderKey(key, kStoreWriteAccess, "General", false), 0},
           {"only to read", key.Access(), kStoreReadAccess},
           {"so no write", WriteDword("General", "UserIdType", 4, false), 5},
           {"nor delete", DeleteValue("General", "UserIdType", false), 5},
           {"reads", ReadDword("General", "UserIdType", number, false), 0},
           {"the first", number, 3},
           {"user write", WriteDword(nullptr, "v", 1, true), 0},
           // Per-user keys open with the access asked for.
           {"user key", OpenProviderKey(key, platform::kKeySetValue, nullptr, true), 0},
           {"its access", key.Access(), platform::kKeySetValue},
           {"no user key", OpenUserKey(user, kHkeyLocalMachine, "other", "bob", false), 2},
           {"made", OpenUserKey(user, kHkeyLocalMachine, "other", "bob", true), 0},
           {"for writing", user.SetDword("x", 1), 0},
           {"opened", OpenUserKey(user, kHkeyLocalMachine, "other", "bob", false), 0},
           {"path", static_cast<uint32_t>(CompareNoCase(user.Path(), bob.c_str())), 0},
           {"access", user.Access(), kStoreWriteAccess},
           {"no provider", OpenUserKey(user, kHkeyLocalMachine, "", "bob", true), kStoreNoKeyPath},
           {"no user", OpenUserKey(user, kHkeyLocalMachine, "other", nullptr, true), kStoreBadValue},
           {"too long",
            OpenUserKey(user, kHkeyLocalMachine, std::string(250, 'p').c_str(), "bob", true),
            kStoreNoKeyPath},
           {"closed", user.IsOpen(), false}}) {
    EXPECT_EQ(result, expected) << what;
  }
}

class HxRegKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Put(kHkeyLocalMachine, "Software\\Test\\Child", "bare", platform::kRegSz, {'a', 'b', 'c'});
    Put(kHkeyLocalMachine, "Software\\Test\\Child", "number", platform::kRegDword, {4, 3, 2, 1});
    Put(kHkeyLocalMachine, "Software\\Test\\Child", "empty", platform::kRegBinary, {});
  }

  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(HxRegKeyTest, OpenCloseFailuresTracedAndCreate) {
  HxRegKey key;
  EXPECT_EQ(key.Access(), HxRegKey::kClosedAccess);
  ASSERT_TRUE(key.Open("Software\\Test", platform::kKeyRead));
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
  RegistryKey check;
  EXPECT_EQ(check.Open(kHkeyLocalMachine, "Software\\Missing", platform::kKeyRead), 0u);

}

TEST_F(HxRegKeyTest, ValuesReadWithTheirTypeSizeAndATerminatorAndFailedQueriesTraced) {
  HxRegKey parent;
  HxRegKey key(&parent);
  EXPECT_FALSE(key.Open("Child", platform::kKeyRead));  // the parent is not open yet
  ASSERT_TRUE(parent.Open("Software\\Test", platform::kKeyRead));
  ASSERT_TRUE(key.Open("Child", platform::kKeyRead));
  HxRegVal value(key);
  uint32_t number = 0;
  ASSERT_TRUE(value.Query("bare"));
  EXPECT_EQ(value.Type(), platform::kRegSz);
  EXPECT_EQ(value.Size(), 3u);
  EXPECT_STREQ(value.Text(), "abc");
  EXPECT_FALSE(value.GetDword(number));
  ASSERT_TRUE(value.Query("empty"));
  EXPECT_EQ(value.Size(), 0u);
  EXPECT_STREQ(value.Text(), "");
  ASSERT_TRUE(value.Query("number"));
  ASSERT_TRUE(value.GetDword(number));
  EXPECT_EQ(number, 0x01020304u);
  // A failed query is traced and forgets the last value.
  TraceCapture trace;
  EXPECT_FALSE(value.Query("absent"));
  EXPECT_FALSE(value.Found());
  EXPECT_FALSE(value.GetDword(number));
  EXPECT_EQ(trace.Text(), "   REGTREE: ERROR RegQueryValueEx failed!: 2\n");
  key.Close();
  EXPECT_FALSE(value.Query("number"));
}

}  // namespace
