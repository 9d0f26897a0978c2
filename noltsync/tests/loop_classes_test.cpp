// The updater and uploader as the loops use them: their registry settings, what construction
// derives, the service update's lock, the start-up prune request, and the dispatch's user name.
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

TEST_F(UpdaterTest, BitsSettingsKeepOnlyWhatTheyAccept) {
  const struct {
    const char* name;
    const char* text;
    uint32_t timeout;  // NoProgressTimeoutSeconds after storing text under name
    bool enabled;      // BitsEnabled
  } rows[] = {
      {"NoltSync:BitsNoProgTimeout", "299", 86400, true},
      {"NoltSync:BitsNoProgTimeout", "300", 300, true},
      {"NoltSync:BitsNoProgTimeout", "1209600", 1209600, true},
      {"NoltSync:BitsNoProgTimeout", "1209601", 86400, true},
      {"NoltSync:BitsNoProgTimeout", "abc", 86400, true},
      {"NoltSync:BitsNoProgTimeout", "-600", 86400, true},
      {"NoltSync:BitsNoProgTimeout", "3600", 3600, true},
      {"NoltSync:BitsEnabled", "00", 3600, true},  // only the single character "0" disables
      {"NoltSync:BitsEnabled", "1", 3600, true},
      {"NoltSync:BitsEnabled", " 0", 3600, true},
      {"NoltSync:BitsEnabled", "0 ", 3600, true},
      {"NoltSync:BitsEnabled", "0", 3600, false},
  };
  EXPECT_TRUE(bits_settings::BitsEnabled());  // absent
  for (const auto& row : rows) {
    PutUserString(row.name, row.text);
    EXPECT_EQ(bits_settings::NoProgressTimeoutSeconds(), row.timeout) << row.text;
    EXPECT_EQ(bits_settings::BitsEnabled(), row.enabled) << '"' << row.text << '"';
  }
  // Construction reads the time-out only while BITS is enabled.
  NoltUpdater direct(kProvider, kServer);
  EXPECT_EQ(direct.BitsNoProgressTimeout(), 86400u);
  EXPECT_FALSE(direct.HasBits());
  PutUserString("NoltSync:BitsEnabled", "1");
  EXPECT_EQ(NoltUpdater(kProvider, kServer).BitsNoProgressTimeout(), 3600u);
}

TEST_F(UpdaterTest, ConstructionDerivesTheManifestUrlAndLooksForTheDefaultProfile) {
  NoltUpdater updater(kProvider, " http://host/path ");
  EXPECT_EQ(std::string(updater.GetManifestUrl().c_str()),
            "http:\\\\host\\path\\data\\manifest.zip");
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

TEST_F(UpdaterTest, TheServiceUpdateReleasesItsSyncLock) {
  NoltUpdaterInNoltsvc updater(kProvider, kServer);
  EXPECT_NE(updater.DoUpdate(), 0);  // no manifest from this server; the lock goes all the same
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
  const struct {
    const char* mask;  // nullptr: none stored; a prune is asked for and the mask becomes "op"
    bool signalled;
  } rows[] = {{nullptr, true}, {"op", false}, {"Op", true},
              {"aP", true},    {"ap", false}, {"o", false}};
  for (const auto& row : rows) {
    if (row.mask != nullptr) PutUserString("PruneOfflineMask", row.mask);
    updater.RequestPruneIfNeeded();
    EXPECT_EQ(platform::WaitForOne(*prune, 0) == platform::kWaitObject0, row.signalled);
    std::string stored;
    EXPECT_TRUE(UserString("PruneOfflineMask", stored));
    EXPECT_EQ(stored, row.mask != nullptr ? row.mask : "op");  // a set mask stays as it is
  }
}

using UploaderTest = EngineTest;

TEST_F(UploaderTest, TheInProgressMutexIsNamedInUpperCaseAndInitBitsReadsTheSwitch) {
  NoltUploader named("Prov.x", kServer, true);
  EXPECT_EQ(std::string(named.InProgressMutexName().c_str()),
            "NOLT_TIDESYNC_UPLOAD_INPROGRESS_PROV.X");
  EXPECT_FALSE(named.UseBits());
  struct Probe : NoltUploader {
    using NoltUploader::InitBits;
    using NoltUploader::NoltUploader;
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

}  // namespace
