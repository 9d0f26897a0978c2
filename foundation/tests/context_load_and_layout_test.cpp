// LoadContext (identity, hive, server, data directories, "config.cfg" and the server layout), the
// local directory layout, the well-known folders and the temporary directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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
constexpr const char* kUserKey = "SOFTWARE\\Strovane\\ProviderList\\prov\\users\\alice";

class LoadContextTest : public ContextTest {
 protected:
  explicit LoadContextTest(const char* processUser = "tester") : ContextTest(processUser) {}

  static std::string Path(const char* key) { return S(GetValue("Paths", key)); }
  static std::string Stored(uint32_t root, const std::string& key, const char* name) {
    platform::RegistryValue value;
    if (!GetRaw(root, key, name, value)) return "<absent>";
    return std::string(value.data.begin(), value.data.end());
  }
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

TEST_F(LoadContextTest, IdentityDirectoriesAndAServerArgumentTrimmedToOneBackslash) {
  ASSERT_TRUE(LoadContext("PROV", "  http://host/path  ", "alice", false));
  const std::string common = platform::CommonAppDataDirectory() + "\\Strovane\\prov\\";
  for (const auto& [key, value] : std::vector<std::pair<const char*, std::string>>{
           {"ProviderId", "prov"},
           {"UserName", "alice"},
           {"HKCU", "-2147483647"},
           {"DnaServer", "http:\\\\host\\path\\"},
           {"Encoding", "utf8"},
           {"DirUserServer", platform::LocalAppDataDirectory() + "\\Strovane\\prov\\alice\\"},
           {"DirSysProfile_Old", common + "[SYSTEM]\\"},
           {"DirSysProfile", common + "SYSTEM\\"}}) {
    EXPECT_EQ(Value(key), value) << key;
  }
  EXPECT_FALSE(LoadContext("second", "", "alice", false));  // kept without reload
  EXPECT_EQ(Value("ProviderId"), "prov");
  ASSERT_TRUE(LoadContext("prov", "", "", true));
  EXPECT_EQ(Value("UserName"), "tester");  // the process user by default
  std::string seen, own;
  bool loaded = false;
  OnOtherThread([&] {
    seen = Value("UserName");
    loaded = LoadContext("other", "http://two", "alice", false);
    own = Value("ProviderId");
  });
  EXPECT_EQ(seen, "tester");
  EXPECT_TRUE(loaded);
  EXPECT_EQ(own, "other");
  EXPECT_EQ(Value("ProviderId"), "prov");
}

TEST_F(LoadContextTest, TheServerFromTheRegistryIsNormalisedAndWrittenBackOnlyWhenItChanged) {
  struct Case {
    std::vector<std::pair<const char*, std::string>> values;
    const char* server;
    const char* writtenTo;  // the value that now holds the server with its zero, or null
  };
  const Case cases[] = {
      {{{"prov", " http://host/sub"}}, "http:\\\\host\\sub\\", "prov"},
      {{{"prov", "http:\\\\byprov\\"}, {"FANOUT_URL", "http://fanout"}},
       "http:\\\\fanout\\",
       "FANOUT_URL"},
      {{{"prov", "http:\\\\byprov\\"}, {"FANOUT_URL", "   "}}, "http:\\\\byprov\\", nullptr},
  };
  for (const Case& c : cases) {
    for (const auto& [name, text] : c.values) PutText(kHkeyCurrentUser, kUserKey, name, text);
    ASSERT_TRUE(LoadContext("prov", "", "alice", true));
    EXPECT_EQ(Value("DnaServer"), c.server);
    if (c.writtenTo) {
      EXPECT_EQ(Stored(kHkeyCurrentUser, kUserKey, c.writtenTo), std::string(c.server) + '\0');
    }
  }
  // One already normalised is not rewritten (it keeps its missing terminating zero).
  PutRaw(kHkeyCurrentUser, kUserKey, "FANOUT_URL", platform::kRegSz,
         {'h', 't', 't', 'p', ':', '\\', '\\', 'x', '\\'});
  ASSERT_TRUE(LoadContext("prov", "", "alice", true));
  EXPECT_EQ(Stored(kHkeyCurrentUser, kUserKey, "FANOUT_URL"), "http:\\\\x\\");
  EXPECT_EQ(S(context_registry::FindProviderIdByServer("HTTP:\\\\BYPROV\\")), "prov");
  EXPECT_EQ(S(context_registry::FindProviderIdByServer("http://none")), "");

  PutText(kHkeyLocalMachine, kProviderKey, "UserKeyRoot", "hklm");
  PutText(kHkeyLocalMachine, kUserKey, "prov", "http:\\\\machine\\");
  ASSERT_TRUE(LoadContext("prov", "", "alice", true));
  EXPECT_EQ(Value("HKCU"), "-2147483646");
  EXPECT_EQ(Value("DnaServer"), "http:\\\\machine\\");
  EXPECT_EQ(ContextUserHive(), kHkeyLocalMachine);
}

TEST_F(LoadContextTest, ConfigPathsKeepTheirValuesDefaultsAreExpandedAndTheMarkDecidesTheEncoding) {
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));
  const std::string machine = platform::ComputerName();
  EXPECT_EQ(Path("DirVault"), "%SERVERROOT%vault\\");  // without a server the token stays
  EXPECT_EQ(Path("DirLogs"), "%SERVERROOT%profiles\\" + machine + "\\alice\\logs\\");
  HxKVListMap earlier;
  earlier.AddSection("General").Put("Old", "1");
  MergeContext(earlier, true, true);
  WriteConfig("\xEF\xBB\xBF[General]\nMode=1\n");
  ASSERT_TRUE(LoadContext("prov", "", "alice", true));
  EXPECT_EQ(Value("Encoding"), "utf8");  // a byte-order mark keeps utf8
  EXPECT_EQ(S(GetValue("General", "Mode")), "1");
  EXPECT_EQ(S(GetValue("General", "Old")), "");  // the file's section replaces it whole

  WriteConfig("[Paths]\nDirLogs=\\\\share\\logs\\\n");
  ASSERT_TRUE(LoadContext("prov", "http://srv/root", "alice", true));
  EXPECT_EQ(Value("Encoding"), "MB");  // the file carries no byte-order mark
  const std::string server = "http:\\\\srv\\root\\";
  for (const auto& [key, value] : std::vector<std::pair<const char*, std::string>>{
           {"DirLogs", "\\\\share\\logs\\"},
           {"DirDnaBackup", server + "profiles\\"},
           {"DirDna", server + "dna\\"},
           {"DirData", server + "prefs\\"},
           {"DirUserProfile", server + "profiles\\" + machine + "\\alice\\"}}) {
    EXPECT_EQ(Path(key), value) << key;
  }
}

TEST_F(LoadContextTest, AMissingLocalAppDataIsDerivedAndRecorded) {
  const std::string roaming = platform::RoamingAppDataDirectory();
  ASSERT_TRUE(LoadContext("prov", "", "alice", false));  // the user's hive now exists
  ExpectShellFolderDerived(kHkeyCurrentUser, "Local AppData", "alice",
                           roaming.substr(0, roaming.rfind('/')) + "\\Local Settings\\roaming");
}

class LoadContextAsSystemTest : public LoadContextTest {
 protected:
  LoadContextAsSystemTest() : LoadContextTest("SYSTEM") {}
};

TEST_F(LoadContextAsSystemTest, TheSystemAccountUsesTheMachineHiveAndCommonData) {
  PutText(kHkeyLocalMachine, std::string(kProviderKey) + "\\users\\SYSTEM", "prov", "http://svc");
  ASSERT_TRUE(LoadContext("prov", "", "", false));
  EXPECT_EQ(Value("UserName"), "SYSTEM");
  EXPECT_EQ(Value("HKCU"), "-2147483646");
  EXPECT_EQ(Value("DnaServer"), "http:\\\\svc\\");
  EXPECT_EQ(Value("DirUserServer"),
            platform::CommonAppDataDirectory() + "\\Strovane\\prov\\SYSTEM\\");
  ExpectShellFolderDerived(
      kHkeyLocalMachine, "Common AppData", "SYSTEM",
      platform::WindowsDirectory() + "\\Profiles\\All Users\\Application Data");
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

TEST_F(DirectoryLayoutTest, EachNameHasItsPlaceBelowTheUserServerOrTheProgramRoot) {
  const std::string base = Value("DirUserServer");
  const std::string old = Value("DirSysProfile_Old");
  const std::string root = "/opt/tidesync\\";
  struct Case {
    const char* name;
    std::string withoutRoot, withRoot;
  };
  const Case cases[] = {
      {"DirUserServer", base, base},
      {"dircontent", base + "data\\", base + "data\\"},
      {"DirDna", base + "state\\dnaback\\", base + "state\\dnaback\\"},
      {"DirDnaBackup", base + "state\\dnaback\\", base + "state\\dnaback\\"},
      {"DirLogs", base + "state\\logs\\", base + "state\\logs\\"},
      {"DirZCatalog", base + "state\\zcat\\", base + "state\\zcat\\"},
      {"DirPatchOut", base + "state\\patchout\\", base + "state\\patchout\\"},
      {"DirProfiles", S(GetSystemFolder(kFolderProfiles)), S(GetSystemFolder(kFolderProfiles))},
      {"DirSysLastRun", Value("DirSysProfile") + "state\\lastrun\\", old},
      {"AppDataUserEx", "<none>", root},  // without its trailing blank: any other name
      {"AppDataUserEx ", platform::RoamingAppDataDirectory() + "\\Strovane\\Profiles\\prov\\",
       platform::RoamingAppDataDirectory() + "\\Strovane\\Profiles\\prov\\"},
      {"AppDataUser", platform::CommonAppDataDirectory() + "\\Strovane\\Profiles\\alice\\", root},
      {"DirFilter", "<none>", root + "bin\\probeflt\\"},
      {"DirPublish", "<none>", root + "pub\\"},
      {"Unknown", "<none>", root},
  };
  for (const Case& c : cases) EXPECT_EQ(Directory(c.name), c.withoutRoot) << c.name;
  SetProgramRoot("/opt/tidesync");
  ASSERT_TRUE(platform::EnsureDirectory(LocalPath(old)));  // the former profile is preferred
  for (const Case& c : cases) EXPECT_EQ(Directory(c.name), c.withRoot) << c.name;

  HxStr path;
  ASSERT_TRUE(GetDirectory("DirZCatalog", path, true));  // made with its parents
  EXPECT_TRUE(platform::IsDirectory(LocalPath(path)));
  SetContextValue("DirUserServer", "");
  EXPECT_EQ(Directory("DirContent"), "<none>");
  EXPECT_FALSE(GetDirectory("DirLogs", path, true));
}

TEST_F(DirectoryLayoutTest, WellKnownFoldersAndTheirFallback) {
  for (const auto& [number, path] : std::vector<std::pair<int, std::string>>{
           {kFolderLocalAppData, platform::LocalAppDataDirectory()},
           {kFolderAppData, platform::RoamingAppDataDirectory()},
           {3, platform::ProgramFilesDirectory()},
           {kFolderMachineName, platform::ComputerName()},
           {24, "alice"},
           {kSystemFolderCount, ""}}) {
    EXPECT_EQ(S(GetSystemFolder(number)), path) << number;
  }
  EXPECT_STREQ(SystemFolderToken(22), "%SF_COMMON_APPDATA%");
  EXPECT_STREQ(SystemFolderToken(30), "%DirProfiles%");
  EXPECT_EQ(SystemFolderToken(-1), nullptr);
  // Common data naming a missing folder falls back to the platform's.
  PutText(kHkeyLocalMachine, kShellFolders, "Common AppData", Root() + "/absent");
  EXPECT_EQ(S(GetSystemFolder(kFolderCommonAppData)), platform::CommonAppDataDirectory());
}

TEST_F(DirectoryLayoutTest, TheTempRootIsTheContextsTheSystemsTmpOrTheProgramRootsAndIsKept) {
  EXPECT_EQ(S(GetTempRoot()), platform::TempDirectory());
  EXPECT_EQ(Value("TempRoot"), platform::TempDirectory());  // stored
  const std::string chosen = Root() + "/chosen\\tmp\\";
  SetContextValue("TempRoot", chosen);
  EXPECT_EQ(S(GetTempRoot()), chosen);
  EXPECT_TRUE(platform::IsDirectory(LocalPath(chosen)));
  EXPECT_EQ(S(TransferTempDirectory()), LocalPath(chosen));

  // The system's temporary directory is refused when it is the current directory.
  const fs::path previous = fs::current_path();
  const char* tmp = std::getenv("TMP");
  const std::string previousTmp = tmp != nullptr ? tmp : "";
  fs::current_path(platform::TempDirectory());
  ASSERT_TRUE(platform::EnsureDirectory(Root() + "/envtmp"));
  SetProgramRoot(Root() + "/program");
  for (const auto& [tmpValue, expected] : std::vector<std::pair<std::string, std::string>>{
           {Root() + "/envtmp", Root() + "/envtmp\\"},
           {Root() + "/absent", Root() + "/program\\temp\\"}}) {
    platform::testing::SetEnvironment("TMP", tmpValue);
    SetContextValue("TempRoot", "");
    EXPECT_EQ(S(GetTempRoot()), expected);
    EXPECT_TRUE(platform::IsDirectory(LocalPath(expected)));
  }
  fs::current_path(previous);
  platform::testing::SetEnvironment("TMP", previousTmp);
}

}  // namespace
