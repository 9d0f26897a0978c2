// The local directory layout, the well-known folders and the temporary directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "context_test_fixture.h"
#include "foundation/context/directory_layout.h"
#include "foundation/context/system_folders.h"
#include "foundation/transfer/transfer_temp.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/locations.h"
#include "platform/sandbox.h"

namespace {

namespace fs = std::filesystem;
using platform::kHkeyLocalMachine;

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

TEST_F(DirectoryLayoutTest, NamesBelowTheUserServerDirectory) {
  const std::string base = S(GetContextValue("DirUserServer"));
  EXPECT_EQ(Directory("DirUserServer"), base);
  EXPECT_EQ(Directory("dircontent"), base + "data\\");
  EXPECT_EQ(Directory("DirDna"), base + "state\\dnaback\\");
  EXPECT_EQ(Directory("DirDnaBackup"), base + "state\\dnaback\\");
  EXPECT_EQ(Directory("DirLogs"), base + "state\\logs\\");
  EXPECT_EQ(Directory("DirZCatalog"), base + "state\\zcat\\");
  EXPECT_EQ(Directory("DirPatchOut"), base + "state\\patchout\\");
  EXPECT_EQ(Directory("DirProfiles"), S(GetSystemFolder(kFolderProfiles)));
}

TEST_F(DirectoryLayoutTest, CreateFlagMakesTheDirectoryWithItsParents) {
  HxStr path;
  ASSERT_TRUE(GetDirectory("DirZCatalog", path, true));
  EXPECT_TRUE(platform::IsDirectory(LocalPath(path)));
  EXPECT_EQ(LocalPath(path).find('\\'), std::string::npos);
}

TEST_F(DirectoryLayoutTest, UserServerNamesNeedTheBase) {
  SetContextValue("DirUserServer", "");
  EXPECT_EQ(Directory("DirContent"), "<none>");
  HxStr path;
  EXPECT_FALSE(GetDirectory("DirLogs", path, true));
}

TEST_F(DirectoryLayoutTest, ProgramRootNamesAndAnyOtherName) {
  EXPECT_EQ(Directory("DirBin"), "<none>");
  EXPECT_EQ(Directory("Unknown"), "<none>");
  EXPECT_EQ(Directory("AppDataUserEx"), "<none>");  // without its trailing blank
  EXPECT_EQ(Directory("AppDataUser"),
            platform::CommonAppDataDirectory() + "\\Strovane\\Profiles\\alice\\");

  SetProgramRoot("/opt/tidesync");
  EXPECT_EQ(Directory("DirRoot"), "/opt/tidesync\\");
  EXPECT_EQ(Directory("DirFilter"), "/opt/tidesync\\bin\\probeflt\\");
  EXPECT_EQ(Directory("DirPublish"), "/opt/tidesync\\pub\\");
  EXPECT_EQ(Directory("Unknown"), "/opt/tidesync\\");
  EXPECT_EQ(Directory("AppDataUser"), "/opt/tidesync\\");
}

TEST_F(DirectoryLayoutTest, AppDataUserExWithItsBlankIsBelowRoamingData) {
  EXPECT_EQ(Directory("AppDataUserEx "),
            platform::RoamingAppDataDirectory() + "\\Strovane\\Profiles\\prov\\");
}

TEST_F(DirectoryLayoutTest, SystemLastRunPrefersTheFormerProfile) {
  const std::string current = S(GetContextValue("DirSysProfile"));
  EXPECT_EQ(Directory("DirSysLastRun"), current + "state\\lastrun\\");
  const std::string old = S(GetContextValue("DirSysProfile_Old"));
  ASSERT_TRUE(platform::EnsureDirectory(LocalPath(old)));
  EXPECT_EQ(Directory("DirSysLastRun"), old);
}

TEST_F(DirectoryLayoutTest, WellKnownFolders) {
  EXPECT_EQ(S(GetSystemFolder(kFolderLocalAppData)), platform::LocalAppDataDirectory());
  EXPECT_EQ(S(GetSystemFolder(kFolderAppData)), platform::RoamingAppDataDirectory());
  EXPECT_EQ(S(GetSystemFolder(3)), platform::ProgramFilesDirectory());
  EXPECT_EQ(S(GetSystemFolder(kFolderMachineName)), platform::ComputerName());
  EXPECT_EQ(S(GetSystemFolder(24)), "alice");
  EXPECT_EQ(S(GetSystemFolder(kSystemFolderCount)), "");
  EXPECT_STREQ(SystemFolderToken(22), "%SF_COMMON_APPDATA%");
  EXPECT_STREQ(SystemFolderToken(30), "%DirProfiles%");
  EXPECT_EQ(SystemFolderToken(-1), nullptr);
}

TEST_F(DirectoryLayoutTest, CommonDataNamingAMissingFolderFallsBackToThePlatforms) {
  PutText(kHkeyLocalMachine,
          "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Common AppData",
          Root() + "/absent");
  EXPECT_EQ(S(GetSystemFolder(kFolderCommonAppData)), platform::CommonAppDataDirectory());
}

TEST_F(DirectoryLayoutTest, TempRootFromTheContextIsCreatedAndUsedByTransfers) {
  const std::string chosen = Root() + "/chosen\\tmp\\";
  SetContextValue("TempRoot", chosen);
  EXPECT_EQ(S(GetTempRoot()), chosen);
  EXPECT_TRUE(platform::IsDirectory(LocalPath(chosen)));
  EXPECT_EQ(S(TransferTempDirectory()), LocalPath(chosen));
}

TEST_F(DirectoryLayoutTest, TempRootDefaultsToTheSystemsAndIsStored) {
  EXPECT_EQ(S(GetTempRoot()), platform::TempDirectory());
  EXPECT_EQ(S(GetContextValue("TempRoot")), platform::TempDirectory());
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
