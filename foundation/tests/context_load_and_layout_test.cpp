// LoadContext (identity, hive, server, data directories, "config.cfg" and the server layout), the
// local directory layout, the well-known folders and the temporary directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "context_test_fixture.h"
#include "foundation/context/context_registry.h"
#include "foundation/context/directory_layout.h"
#include "foundation/context/system_folders.h"
#include "foundation/transfer/transfer_temp.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/locations.h"
#include "platform/sandbox.h"

namespace {

namespace fs = std::filesystem;
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

  // Deletes a shell-folder value, reloads, and expects the folder derived afresh, used for the
  // user's server directory and recorded.
  static void ExpectShellFolderDerived(uint32_t root, const char* name, const std::string& user,
                                       const std::string& derived) {
    DeleteValue(root, kShellFolders, name);
    ASSERT_TRUE(LoadContext("prov", "", user.c_str(), true));
    EXPECT_EQ(Value("DirUserServer"), derived + "\\Strovane\\prov\\" + user + "\\");
    HxStr recorded;
    ASSERT_TRUE(context_registry::ReadText(root, kShellFolders, name, recorded));
    EXPECT_EQ(S(recorded), derived);
  }

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

TEST_F(LoadContextTest, IdentityLocalDirectoriesAndTrimmedServerOfAUser) {
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
  // The server argument is trimmed and ends in one backslash.
  ASSERT_TRUE(LoadContext("prov", "  http://host/dir/  ", "alice", true));
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

TEST_F(LoadContextTest, ServerFromTheUserKeyIsNormalisedAndWrittenBackOnlyWhenItChanged) {
  PutText(kHkeyCurrentUser, UserKey("alice"), "prov", " http://host/sub");
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  EXPECT_EQ(Value("DnaServer"), "http:\\\\host\\sub\\");
  platform::RegistryValue stored;
  ASSERT_TRUE(GetRaw(kHkeyCurrentUser, UserKey("alice"), "prov", stored));
  EXPECT_EQ(stored.type, platform::kRegSz);
  EXPECT_EQ(stored.data, platform::RegistryStringData("http:\\\\host\\sub\\"));

  // One already normalised is not rewritten.
  const std::string server = "http:\\\\host\\";
  PutRaw(kHkeyCurrentUser, UserKey("alice"), "prov", platform::kRegSz,
         std::vector<uint8_t>(server.begin(), server.end()));  // no terminating zero
  ASSERT_TRUE(LoadContext("prov", "", "alice", true));
  EXPECT_EQ(Value("DnaServer"), server);
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

TEST_F(LoadContextTest, ConfigPathsKeepTheirValuesDefaultsAreExpandedAndTheMarkDecidesTheEncoding) {
  // Without a server or "config.cfg", the defaults keep the server token.
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  EXPECT_EQ(Value("DnaServer"), "");
  EXPECT_EQ(Path("DirVault"), "%SERVERROOT%vault\\");
  EXPECT_EQ(Path("DirLogs"),
            "%SERVERROOT%profiles\\" + platform::ComputerName() + "\\alice\\logs\\");
  EXPECT_EQ(Value("Encoding"), "utf8");
  WriteConfig("\xEF\xBB\xBF[General]\nMode=1\n");
  ASSERT_TRUE(LoadContext("prov", "", "alice", true));
  EXPECT_EQ(Value("Encoding"), "utf8");  // a byte-order mark keeps utf8
  EXPECT_EQ(S(GetValue("General", "Mode")), "1");

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

TEST_F(LoadContextTest,
       SecondLoadWithoutReloadKeepsTheContextAndTheUserNameDefaultsToTheProcessUser) {
  ASSERT_TRUE(LoadContext("first", "", "alice", false));
  EXPECT_FALSE(LoadContext("second", "", "alice", false));
  EXPECT_EQ(Value("ProviderId"), "first");
  ASSERT_TRUE(LoadContext("second", "", "alice", true));
  EXPECT_EQ(Value("ProviderId"), "second");
  // The user name defaults to the process user.
  ASSERT_TRUE(LoadContext("prov", "", "", true));
  EXPECT_EQ(Value("UserName"), "tester");
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

TEST_F(LoadContextTest, MissingLocalAppDataIsDerivedAndRecorded) {
  const std::string roaming = platform::RoamingAppDataDirectory();
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));  // the user's hive now exists
  const std::string parent = roaming.substr(0, roaming.rfind('/'));
  ExpectShellFolderDerived(kHkeyCurrentUser, "Local AppData", "alice",
                           parent + "\\Local Settings\\roaming");
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
  ExpectShellFolderDerived(
      kHkeyLocalMachine, "Common AppData", "SYSTEM",
      platform::WindowsDirectory() + "\\Profiles\\All Users\\Application Data");
}

TEST_F(LoadContextTest, ProviderIdIsFoundByItsServerInTheUserKey) {
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  PutText(kHkeyCurrentUser, UserKey("alice"), "Other", "http://elsewhere");
  PutText(kHkeyCurrentUser, UserKey("alice"), "Acme", "http://Srv/Acme");
  EXPECT_EQ(S(context_registry::FindProviderIdByServer("HTTP://srv/acme")), "Acme");
  EXPECT_EQ(S(context_registry::FindProviderIdByServer("http://none")), "");
}

// The local directory layout, the well-known folders and the temporary directory.
class DirectoryLayoutTest : public ContextTest {
 protected:
  void SetUp() override { ASSERT_TRUE(LoadContext("prov", "http://srv", "alice", false)); }

  static std::string Directory(const char* name) {
    HxStr path;
    return GetDirectory(name, path) ? S(path) : "<none>";
  }
  void SetProgramRoot(const std::string& root) {
    PutText(kHkeyLocalMachine, std::string(kProviderKey) + "\\InstallPaths", "ProgramRoot", root);
  }
};

TEST_F(DirectoryLayoutTest,
       NamesBelowTheUserServerDirectoryMadeWithTheirParentsWhenAskedAndNoneWithoutIt) {
  const std::string base = S(GetContextValue("DirUserServer"));
  EXPECT_EQ(Directory("DirUserServer"), base);
  EXPECT_EQ(Directory("dircontent"), base + "data\\");
  EXPECT_EQ(Directory("DirDna"), base + "state\\dnaback\\");
  EXPECT_EQ(Directory("DirDnaBackup"), base + "state\\dnaback\\");
  EXPECT_EQ(Directory("DirLogs"), base + "state\\logs\\");
  EXPECT_EQ(Directory("DirZCatalog"), base + "state\\zcat\\");
  EXPECT_EQ(Directory("DirPatchOut"), base + "state\\patchout\\");
  EXPECT_EQ(Directory("DirProfiles"), S(GetSystemFolder(kFolderProfiles)));

  HxStr path;
  ASSERT_TRUE(GetDirectory("DirZCatalog", path, true));
  EXPECT_TRUE(platform::IsDirectory(LocalPath(path)));
  EXPECT_EQ(LocalPath(path).find('\\'), std::string::npos);
  // Without the base there are none.
  SetContextValue("DirUserServer", "");
  EXPECT_EQ(Directory("DirContent"), "<none>");
  EXPECT_FALSE(GetDirectory("DirLogs", path, true));
}

TEST_F(DirectoryLayoutTest,
       ProgramRootNamesAnyOtherNameAndTheSystemLastRunPreferringTheFormerProfile) {
  EXPECT_EQ(Directory("DirBin"), "<none>");
  EXPECT_EQ(Directory("Unknown"), "<none>");
  EXPECT_EQ(Directory("AppDataUserEx"), "<none>");  // without its trailing blank
  EXPECT_EQ(Directory("AppDataUserEx "),
            platform::RoamingAppDataDirectory() + "\\Strovane\\Profiles\\prov\\");
  EXPECT_EQ(Directory("AppDataUser"),
            platform::CommonAppDataDirectory() + "\\Strovane\\Profiles\\alice\\");

  SetProgramRoot("/opt/tidesync");
  EXPECT_EQ(Directory("DirRoot"), "/opt/tidesync\\");
  EXPECT_EQ(Directory("DirFilter"), "/opt/tidesync\\bin\\probeflt\\");
  EXPECT_EQ(Directory("DirPublish"), "/opt/tidesync\\pub\\");
  EXPECT_EQ(Directory("Unknown"), "/opt/tidesync\\");
  EXPECT_EQ(Directory("AppDataUser"), "/opt/tidesync\\");

  const std::string current = S(GetContextValue("DirSysProfile"));
  EXPECT_EQ(Directory("DirSysLastRun"), current + "state\\lastrun\\");
  const std::string old = S(GetContextValue("DirSysProfile_Old"));
  ASSERT_TRUE(platform::EnsureDirectory(LocalPath(old)));
  EXPECT_EQ(Directory("DirSysLastRun"), old);
}

TEST_F(DirectoryLayoutTest, WellKnownFoldersAndTheirFallback) {
  EXPECT_EQ(S(GetSystemFolder(kFolderLocalAppData)), platform::LocalAppDataDirectory());
  EXPECT_EQ(S(GetSystemFolder(kFolderAppData)), platform::RoamingAppDataDirectory());
  EXPECT_EQ(S(GetSystemFolder(3)), platform::ProgramFilesDirectory());
  EXPECT_EQ(S(GetSystemFolder(kFolderMachineName)), platform::ComputerName());
  EXPECT_EQ(S(GetSystemFolder(24)), "alice");
  EXPECT_EQ(S(GetSystemFolder(kSystemFolderCount)), "");
  EXPECT_STREQ(SystemFolderToken(22), "%SF_COMMON_APPDATA%");
  EXPECT_STREQ(SystemFolderToken(30), "%DirProfiles%");
  EXPECT_EQ(SystemFolderToken(-1), nullptr);
  // Common data naming a missing folder falls back to the platform's.
  PutText(kHkeyLocalMachine, kShellFolders, "Common AppData", Root() + "/absent");
  EXPECT_EQ(S(GetSystemFolder(kFolderCommonAppData)), platform::CommonAppDataDirectory());
}

TEST_F(DirectoryLayoutTest, TempRootDefaultsToTheSystemsOrComesFromTheContextAndIsUsedByTransfers) {
  EXPECT_EQ(S(GetTempRoot()), platform::TempDirectory());
  EXPECT_EQ(S(GetContextValue("TempRoot")), platform::TempDirectory());  // stored
  const std::string chosen = Root() + "/chosen\\tmp\\";
  SetContextValue("TempRoot", chosen);
  EXPECT_EQ(S(GetTempRoot()), chosen);
  EXPECT_TRUE(platform::IsDirectory(LocalPath(chosen)));
  EXPECT_EQ(S(TransferTempDirectory()), LocalPath(chosen));
}

// The system's temporary directory is refused when it is the current directory.
class TempRootInCurrentDirectoryTest : public DirectoryLayoutTest {
 protected:
  void SetUp() override {
    DirectoryLayoutTest::SetUp();
    previous_ = fs::current_path();
    const char* tmp = std::getenv("TMP");
    previousTmp_ = tmp != nullptr ? tmp : "";
    fs::current_path(platform::TempDirectory());
  }
  void TearDown() override {
    fs::current_path(previous_);
    platform::testing::SetEnvironment("TMP", previousTmp_);
  }
  static void SetTmp(const std::string& value) { platform::testing::SetEnvironment("TMP", value); }

 private:
  fs::path previous_;
  std::string previousTmp_;
};

TEST_F(TempRootInCurrentDirectoryTest, TmpVariableIsUsed) {
  const std::string tmp = Root() + "/envtmp";
  ASSERT_TRUE(platform::EnsureDirectory(tmp));
  SetTmp(tmp);
  EXPECT_EQ(S(GetTempRoot()), tmp + "\\");
}

TEST_F(TempRootInCurrentDirectoryTest, MissingTmpDirectoryFallsBackToTheProgramRoot) {
  SetTmp(Root() + "/absent");
  SetProgramRoot(Root() + "/program");
  EXPECT_EQ(S(GetTempRoot()), Root() + "/program\\temp\\");
  EXPECT_TRUE(platform::IsDirectory(Root() + "/program/temp"));
}

}  // namespace
