// LoadContext: identity, hive, server, data directories, "config.cfg" and the server layout.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "context_test_fixture.h"
#include "foundation/context/context_registry.h"
#include "foundation/context/directory_layout.h"
#include "platform/identity.h"
#include "platform/locations.h"

namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

constexpr const char* kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class LoadContextTest : public ContextTest {
 protected:
  explicit LoadContextTest(const char* processUser = "tester") : ContextTest(processUser) {}

  static std::string UserKey(const char* user) {
    return std::string(kProviderKey) + "\\users\\" + user;
  }
  static std::string Value(const char* key) { return S(GetContextValue(key)); }
  static std::string Path(const char* key) { return S(GetValue("Paths", key)); }

  // Writes "config.cfg" into the content directory of the loaded context.
  static void WriteConfig(const std::string& bytes) {
    HxStr content;
    ASSERT_TRUE(GetDirectory("DirContent", content, true));
    std::ofstream(LocalPath(content + "config.cfg"), std::ios::binary) << bytes;
  }
};

class LoadContextAsSystemTest : public LoadContextTest {
 protected:
  LoadContextAsSystemTest() : LoadContextTest("SYSTEM") {}
};

TEST_F(LoadContextTest, IdentityAndLocalDirectoriesOfAUser) {
  ASSERT_TRUE(LoadContext("PROV", "http://host/path", "alice", false));
  EXPECT_EQ(Value("ProviderId"), "prov");
  EXPECT_EQ(Value("UserName"), "alice");
  EXPECT_EQ(Value("HKCU"), "-2147483647");
  EXPECT_EQ(Value("DnaServer"), "http:\\\\host\\path\\");
  EXPECT_EQ(Value("Encoding"), "utf8");
  const std::string local = platform::LocalAppDataDirectory();
  const std::string common = platform::CommonAppDataDirectory();
  EXPECT_EQ(Value("DirUserServer"), local + "\\Strovane\\prov\\alice\\");
  EXPECT_EQ(Value("DirSysProfile_Old"), common + "\\Strovane\\prov\\[SYSTEM]\\");
  EXPECT_EQ(Value("DirSysProfile"), common + "\\Strovane\\prov\\SYSTEM\\");
}

TEST_F(LoadContextTest, ServerArgumentIsTrimmedAndEndsInOneBackslash) {
  ASSERT_TRUE(LoadContext("prov", "  http://host/dir/  ", "alice", false));
  EXPECT_EQ(Value("DnaServer"), "http:\\\\host\\dir\\");
}

TEST_F(LoadContextTest, UserKeyRootHklmKeepsUserDataInTheMachineHive) {
  PutText(kHkeyLocalMachine, kProviderKey, "UserKeyRoot", "hklm");
  PutText(kHkeyLocalMachine, UserKey("alice"), "prov", "http:\\\\machine\\");
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  EXPECT_EQ(Value("HKCU"), "-2147483646");
  EXPECT_EQ(Value("DnaServer"), "http:\\\\machine\\");
  EXPECT_EQ(ContextUserHive(), kHkeyLocalMachine);
}

TEST_F(LoadContextTest, ServerFromTheUserKeyIsNormalisedAndWrittenBack) {
  PutText(kHkeyCurrentUser, UserKey("alice"), "prov", " http://host/sub");
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  EXPECT_EQ(Value("DnaServer"), "http:\\\\host\\sub\\");
  platform::RegistryValue stored;
  ASSERT_TRUE(GetRaw(kHkeyCurrentUser, UserKey("alice"), "prov", stored));
  EXPECT_EQ(stored.type, platform::kRegSz);
  EXPECT_EQ(stored.data, platform::RegistryStringData("http:\\\\host\\sub\\"));
}

TEST_F(LoadContextTest, ServerAlreadyNormalisedIsNotRewritten) {
  const std::string server = "http:\\\\host\\";
  PutRaw(kHkeyCurrentUser, UserKey("alice"), "prov", platform::kRegSz,
         std::vector<uint8_t>(server.begin(), server.end()));  // no terminating zero
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  EXPECT_EQ(Value("DnaServer"), server);
  platform::RegistryValue stored;
  ASSERT_TRUE(GetRaw(kHkeyCurrentUser, UserKey("alice"), "prov", stored));
  EXPECT_EQ(stored.data.size(), server.size());
}

TEST_F(LoadContextTest, FanoutUrlWinsUnlessItHoldsOnlyBlanks) {
  PutText(kHkeyCurrentUser, UserKey("alice"), "prov", "http:\\\\byprovider\\");
  PutText(kHkeyCurrentUser, UserKey("alice"), "FANOUT_URL", "http://fanout");
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  EXPECT_EQ(Value("DnaServer"), "http:\\\\fanout\\");
  platform::RegistryValue stored;
  ASSERT_TRUE(GetRaw(kHkeyCurrentUser, UserKey("alice"), "FANOUT_URL", stored));
  EXPECT_EQ(stored.data, platform::RegistryStringData("http:\\\\fanout\\"));

  PutText(kHkeyCurrentUser, UserKey("alice"), "FANOUT_URL", "   ");
  ASSERT_TRUE(LoadContext("prov", "", "alice", true));
  EXPECT_EQ(Value("DnaServer"), "http:\\\\byprovider\\");
}

TEST_F(LoadContextTest, ConfigPathsKeepTheirValuesAndDefaultsAreExpanded) {
  ASSERT_TRUE(LoadContext("prov", "http://srv/root", "alice", false));
  WriteConfig("[Paths]\nDirLogs=\\\\share\\logs\\\n[General]\nMode=2\n");
  ASSERT_TRUE(LoadContext("prov", "http://srv/root", "alice", true));
  const std::string machine = platform::ComputerName();
  EXPECT_EQ(Path("DirLogs"), "\\\\share\\logs\\");
  EXPECT_EQ(Path("DirDnaBackup"), "http:\\\\srv\\root\\profiles\\");
  EXPECT_EQ(Path("DirDna"), "http:\\\\srv\\root\\dna\\");
  EXPECT_EQ(Path("DirData"), "http:\\\\srv\\root\\prefs\\");
  EXPECT_EQ(Path("DirUserProfile"), "http:\\\\srv\\root\\profiles\\" + machine + "\\alice\\");
  EXPECT_EQ(S(GetValue("General", "Mode")), "2");
  EXPECT_EQ(Value("Encoding"), "MB");  // the file carries no byte-order mark
}

TEST_F(LoadContextTest, WithoutAServerTheDefaultsKeepTheServerToken) {
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  EXPECT_EQ(Value("DnaServer"), "");
  EXPECT_EQ(Path("DirVault"), "%SERVERROOT%vault\\");
  EXPECT_EQ(Path("DirLogs"),
            "%SERVERROOT%profiles\\" + platform::ComputerName() + "\\alice\\logs\\");
  EXPECT_EQ(Value("Encoding"), "utf8");  // no "config.cfg"
}

TEST_F(LoadContextTest, ConfigWithAByteOrderMarkKeepsUtf8) {
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  WriteConfig("\xEF\xBB\xBF[General]\nMode=1\n");
  ASSERT_TRUE(LoadContext("prov", "", "alice", true));
  EXPECT_EQ(Value("Encoding"), "utf8");
  EXPECT_EQ(S(GetValue("General", "Mode")), "1");
}

TEST_F(LoadContextTest, ConfigSectionReplacesTheSectionWhole) {
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  HxKVListMap earlier;
  earlier.AddSection("General").Put("Old", "1");
  MergeContext(earlier, true, true);
  WriteConfig("[General]\nNew=1\n");
  ASSERT_TRUE(LoadContext("prov", "", "alice", true));
  EXPECT_EQ(S(GetValue("General", "Old")), "");
  EXPECT_EQ(S(GetValue("General", "New")), "1");
}

TEST_F(LoadContextTest, SecondLoadWithoutReloadKeepsTheContext) {
  ASSERT_TRUE(LoadContext("first", "", "alice", false));
  EXPECT_FALSE(LoadContext("second", "", "alice", false));
  EXPECT_EQ(Value("ProviderId"), "first");
  ASSERT_TRUE(LoadContext("second", "", "alice", true));
  EXPECT_EQ(Value("ProviderId"), "second");
}

TEST_F(LoadContextTest, ThreadWithoutContextSeesThePrimaryAndMayLoadItsOwn) {
  ASSERT_TRUE(LoadContext("prov", "http://one", "alice", false));
  std::string seen;
  bool loaded = false;
  std::string own;
  std::thread worker([&] {
    seen = Value("DnaServer");
    loaded = LoadContext("other", "http://two", "alice", false);
    own = Value("ProviderId");
  });
  worker.join();
  EXPECT_EQ(seen, "http:\\\\one\\");
  EXPECT_TRUE(loaded);
  EXPECT_EQ(own, "other");
  EXPECT_EQ(Value("ProviderId"), "prov");
}

TEST_F(LoadContextTest, UserNameDefaultsToTheProcessUser) {
  ASSERT_TRUE(LoadContext("prov", "", "", false));
  EXPECT_EQ(Value("UserName"), "tester");
}

TEST_F(LoadContextTest, MissingLocalAppDataIsDerivedAndRecorded) {
  const std::string roaming = platform::RoamingAppDataDirectory();
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));  // the user's hive now exists
  DeleteValue(kHkeyCurrentUser, kShellFolders, "Local AppData");
  ASSERT_TRUE(LoadContext("prov", "", "alice", true));
  const std::string parent = roaming.substr(0, roaming.rfind('/'));
  const std::string derived = parent + "\\Local Settings\\roaming";
  EXPECT_EQ(Value("DirUserServer"), derived + "\\Strovane\\prov\\alice\\");
  HxStr recorded;
  ASSERT_TRUE(
      context_registry::ReadText(kHkeyCurrentUser, kShellFolders, "Local AppData", recorded));
  EXPECT_EQ(S(recorded), derived);
}

TEST_F(LoadContextAsSystemTest, SystemAccountUsesTheMachineHiveAndCommonData) {
  PutText(kHkeyLocalMachine, UserKey("SYSTEM"), "prov", "http://svc");
  ASSERT_TRUE(LoadContext("prov", "", "", false));
  EXPECT_EQ(Value("UserName"), "SYSTEM");
  EXPECT_EQ(Value("HKCU"), "-2147483646");
  EXPECT_EQ(Value("DnaServer"), "http:\\\\svc\\");
  EXPECT_EQ(Value("DirUserServer"),
            platform::CommonAppDataDirectory() + "\\Strovane\\prov\\SYSTEM\\");
}

TEST_F(LoadContextAsSystemTest, MissingCommonAppDataIsDerivedFromTheWindowsFolder) {
  ASSERT_TRUE(LoadContext("prov", "", "SYSTEM", false));  // the machine hive now exists
  DeleteValue(kHkeyLocalMachine, kShellFolders, "Common AppData");
  ASSERT_TRUE(LoadContext("prov", "", "SYSTEM", true));
  const std::string derived =
      platform::WindowsDirectory() + "\\Profiles\\All Users\\Application Data";
  EXPECT_EQ(Value("DirUserServer"), derived + "\\Strovane\\prov\\SYSTEM\\");
  HxStr recorded;
  ASSERT_TRUE(
      context_registry::ReadText(kHkeyLocalMachine, kShellFolders, "Common AppData", recorded));
  EXPECT_EQ(S(recorded), derived);
}

TEST_F(LoadContextTest, ProviderIdIsFoundByItsServerInTheUserKey) {
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  PutText(kHkeyCurrentUser, UserKey("alice"), "Other", "http://elsewhere");
  PutText(kHkeyCurrentUser, UserKey("alice"), "Acme", "http://Srv/Acme");
  EXPECT_EQ(S(context_registry::FindProviderIdByServer("HTTP://srv/acme")), "Acme");
  EXPECT_EQ(S(context_registry::FindProviderIdByServer("http://none")), "");
}

}  // namespace
