// The updater and uploader as the loops use them: construction and its registry reads, the
// update's guard, the start-up prune request, the upload queue check, and the dispatch's user
// name.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "engine_test_fixture.h"
#include "foundation/context/directory_layout.h"
#include "foundation/context/system_folders.h"
#include "noltsync/runmode/run_mode_dispatch.h"
#include "noltsync/updater/bits_settings.h"
#include "noltsync/updater/nolt_updater.h"
#include "noltsync/updater/nolt_updater_in_noltsvc.h"
#include "noltsync/uploader/nolt_uploader.h"
#include "platform/sync.h"

namespace {

using UpdaterTest = EngineTest;

TEST_F(UpdaterTest, NoProgressTimeoutKeepsOnlyValuesInRange) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"299", 86400},   {"300", 300},   {"1209600", 1209600}, {"1209601", 86400},
      {"abc", 86400},   {"-600", 86400},  {"3600", 3600}};
  for (const auto& [text, expected] : cases) {
    PutUserString("NoltSync:BitsNoProgTimeout", text);
    EXPECT_EQ(bits_settings::NoProgressTimeoutSeconds(), expected) << text;
  }
}

TEST_F(UpdaterTest, OnlyTheSingleCharacterZeroDisablesTheBitsFlow) {
  EXPECT_TRUE(bits_settings::BitsEnabled());  // absent
  const std::pair<const char*, bool> cases[] = {
      {"0", false}, {"00", true}, {"1", true}, {" 0", true}, {"0 ", true}};
  for (const auto& [text, expected] : cases) {
    PutUserString("NoltSync:BitsEnabled", text);
    EXPECT_EQ(bits_settings::BitsEnabled(), expected) << '"' << text << '"';
  }
}

TEST_F(UpdaterTest, ConstructionReadsTheTimeoutOnlyWhenBitsIsEnabled) {
  PutUserString("NoltSync:BitsNoProgTimeout", "600");
  EXPECT_EQ(NoltUpdater(kProvider, kServer).BitsNoProgressTimeout(), 600u);
  PutUserString("NoltSync:BitsEnabled", "0");
  NoltUpdater direct(kProvider, kServer);
  EXPECT_EQ(direct.BitsNoProgressTimeout(), 86400u);
  EXPECT_FALSE(direct.HasBits());
}

TEST_F(UpdaterTest, ConstructionDerivesTheManifestUrlAndDirectories) {
  NoltUpdater updater(kProvider, " http://host/path ");
  EXPECT_EQ(std::string(updater.GetManifestUrl().c_str()), "http:\\\\host\\path\\data\\manifest.zip");
  HxStr content;
  ASSERT_TRUE(GetDirectory("DirContent", content));
  EXPECT_EQ(std::string(updater.ContentDirectory().c_str()), content.c_str());
  EXPECT_FALSE(updater.ZipCatalogDirectory().IsEmpty());
  EXPECT_EQ(updater.ZipCatalogDirectory().Find('%'), -1);
  EXPECT_TRUE(Logged("Can't locate _default profile directory, skipping profile copy.\n", 4));

  ClearLog();
  std::filesystem::create_directories(
      LocalPath(GetSystemFolder(kFolderCommonAppData) + "Strovane\\prov\\_default\\"));
  NoltUpdater withDefault(kProvider, kServer);
  EXPECT_EQ(CountLogged("Can't locate _default profile directory"), 0);
}

TEST_F(UpdaterTest, UpdateRunsUnderTheReadWriteGuardAndReportsNoJob) {
  NoltUpdater updater(kProvider, kServer);
  ClearLog();
  int count = -1;
  EXPECT_EQ(updater.Update(&count), 0);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(Log().size(), 2u);
  EXPECT_EQ(Log()[0].text, "Acquiring NOLTCMD_READWRITE_LOCK guard...\n");
  EXPECT_EQ(Log()[1].text, "Releasing NOLTCMD_READWRITE_LOCK guard...\n");

  HxStr state = "UNKNOWN";
  HxStr jobId = "UNKNOWN";
  EXPECT_EQ(updater.GetBitsDownloadState(&jobId, &state, nullptr), 0);
  EXPECT_EQ(std::string(state.c_str()), "N/A");
  EXPECT_EQ(std::string(jobId.c_str()), "UNKNOWN");
  EXPECT_FALSE(updater.IsContextReloadNeeded());
}

TEST_F(UpdaterTest, TheServiceUpdateReleasesItsSyncLock) {
  NoltUpdaterInNoltsvc updater(kProvider, kServer);
  EXPECT_EQ(updater.DoUpdate(), 0);
  EXPECT_TRUE(Logged("Releasing NOLTCMD_READWRITE_LOCK guard...\n", 1));
  // Another thread takes the writer side at once: nothing holds it any more.
  std::thread([] {
    SwmrGuard other;
    ASSERT_TRUE(other.Create("NOLTSVC_NOLTCMD_SYNC_LOCK_prov", "Global"));
    EXPECT_EQ(other.AcquireWrite(0), 0u);
    other.ReleaseWrite();
  }).join();
}

TEST_F(UpdaterTest, StartUpPruneRequestFollowsTheMask) {
  auto prune = platform::Event::Create(std::string("MODLET_PRUNE_prov_") + kUser, false, false);
  NoltUpdater updater(kProvider, kServer);
  updater.SetUserName(kUser);
  // No mask yet: a prune is asked for and the mask becomes "op".
  updater.RequestPruneIfNeeded();
  EXPECT_EQ(platform::WaitForOne(*prune, 0), platform::kWaitObject0);
  std::string stored;
  ASSERT_TRUE(UserString("PruneOfflineMask", stored));
  EXPECT_EQ(stored, "op");

  const std::pair<const char*, bool> cases[] = {
      {"op", false}, {"Op", true}, {"aP", true}, {"ap", false}, {"o", false}};
  for (const auto& [mask, signalled] : cases) {
    PutUserString("PruneOfflineMask", mask);
    updater.RequestPruneIfNeeded();
    EXPECT_EQ(platform::WaitForOne(*prune, 0) == platform::kWaitObject0, signalled) << mask;
    ASSERT_TRUE(UserString("PruneOfflineMask", stored));
    EXPECT_EQ(stored, mask);  // a mask that is set stays as it is
  }
}

using UploaderTest = EngineTest;

TEST_F(UploaderTest, ConstructionNamesTheInProgressMutexInUpperCase) {
  NoltUploader uploader("Prov.x", kServer, true);
  EXPECT_EQ(std::string(uploader.InProgressMutexName().c_str()),
            "NOLT_TIDESYNC_UPLOAD_INPROGRESS_PROV.X");
  EXPECT_FALSE(uploader.UseBits());
}

TEST_F(UploaderTest, RunUploadChecksTheServerAndTheQueue) {
  EXPECT_EQ(NoltUploader(kProvider, "", false).RunUpload(), 1);
  NoltUploader uploader(kProvider, kServer, false);
  ClearLog();
  EXPECT_EQ(uploader.RunUpload(), 0);
  HxStr directory;
  ASSERT_TRUE(GetDirectory("DirUserServer", directory));
  EXPECT_TRUE(Logged("Upload queue [" + std::string(directory.c_str()) +
                         "uploadrequest.que] does not exist.\n",
                     1));
}

TEST_F(UploaderTest, InitBitsReadsTheUploadSwitchAndTimeout) {
  struct Probe : NoltUploader {
    using NoltUploader::NoltUploader;
    using NoltUploader::InitBits;
  };
  PutUserString("NoltSync:BitsNoProgTimeout", "1200");
  Probe uploader(kProvider, kServer, false);
  uploader.InitBits();  // the switch is absent: on
  EXPECT_TRUE(uploader.UseBits());
  EXPECT_EQ(uploader.BitsNoProgressTimeout(), 1200u);
  PutUserDword("NoltSync:BitsUploadEnabled", 0);
  uploader.InitBits();
  EXPECT_FALSE(uploader.UseBits());
}

TEST(DispatchUserName, BlanksBecomeUnderscores) {
  EXPECT_EQ(std::string(UserIdWithoutBlanks("John  Smith ").c_str()), "John__Smith_");
  EXPECT_EQ(std::string(UserIdWithoutBlanks("alice").c_str()), "alice");
}

}  // namespace
