// The engine's settings and the shared base: "Sync" values with their defaults, the registry
// switches, the server normalisation and location base, and the context macros.
#include <cstdio>
#include <string>

#include "engine_test_fixture.h"
#include "foundation/context/directory_layout.h"
#include "foundation/registry/provider_store.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "noltsync/engine/nolt_sync_base.h"
#include "noltsync/engine/sync_settings.h"
#include "platform/registry.h"

namespace {

using SettingsTest = EngineTest;

TEST_F(SettingsTest, MaxUpdateTimeOutIsHoursWithThreeDaysDefault) {
  EXPECT_EQ(sync_settings::MaxUpdateTimeOutSeconds(), 259200u);
  SetSync("MaxUpdateTimeOut", "0");
  EXPECT_EQ(sync_settings::MaxUpdateTimeOutSeconds(), 259200u);
  SetSync("MaxUpdateTimeOut", "1");
  EXPECT_EQ(sync_settings::MaxUpdateTimeOutSeconds(), 3600u);
  SetSync("MaxUpdateTimeOut", "12hours");
  EXPECT_EQ(sync_settings::MaxUpdateTimeOutSeconds(), 43200u);
}

TEST_F(SettingsTest, CacheIpContextDecidesUnlessZeroThenTheUsersSwitch) {
  EXPECT_TRUE(sync_settings::CacheIpEnabled());  // nothing set anywhere
  PutUserDword("CacheIp", 0, "Sync");
  EXPECT_FALSE(sync_settings::CacheIpEnabled());
  SetSync("CacheIp", "0");
  EXPECT_FALSE(sync_settings::CacheIpEnabled());
  SetSync("CacheIp", "1");
  EXPECT_TRUE(sync_settings::CacheIpEnabled());
  PutUserDword("CacheIp", 1, "Sync");
  SetSync("CacheIp", "-1");
  EXPECT_FALSE(sync_settings::CacheIpEnabled());
  SetSync("CacheIp", "0");
  EXPECT_TRUE(sync_settings::CacheIpEnabled());
}

TEST_F(SettingsTest, PrivacyModeFromContextOneElseTheUsersSwitch) {
  EXPECT_FALSE(sync_settings::PrivacyModeEnabled());
  PutUserString("PrivacyMode", "1", "Sync");  // a string counts as a boolean
  EXPECT_TRUE(sync_settings::PrivacyModeEnabled());
  PutUserDword("PrivacyMode", 0, "Sync");
  EXPECT_FALSE(sync_settings::PrivacyModeEnabled());
  SetSync("PrivacyMode", "1");
  EXPECT_TRUE(sync_settings::PrivacyModeEnabled());
  SetSync("PrivacyMode", "2");
  EXPECT_FALSE(sync_settings::PrivacyModeEnabled());
}

TEST_F(SettingsTest, SwitchesNeedANonZeroDoubleWord) {
  EXPECT_FALSE(sync_settings::UserDisableDownload());
  PutUserString("DisableDownload", "1");
  EXPECT_FALSE(sync_settings::UserDisableDownload());
  PutUserDword("DisableDownload", 0);
  EXPECT_FALSE(sync_settings::UserDisableDownload());
  PutUserDword("DisableDownload", 2);
  EXPECT_TRUE(sync_settings::UserDisableDownload());

  EXPECT_FALSE(sync_settings::MachineDisableUpload());
  PutServiceDword("DisableUpload", 1);
  EXPECT_TRUE(sync_settings::MachineDisableUpload());
  EXPECT_FALSE(sync_settings::UserDisableUpload());
}

TEST_F(SettingsTest, ServerLocationPrefersTheFanOutUrl) {
  EXPECT_EQ(std::string(sync_settings::ServerLocationSetting(kProvider).c_str()), "");
  PutUserString(kProvider, "  http://own/  ");
  EXPECT_EQ(std::string(sync_settings::ServerLocationSetting(kProvider).c_str()), "http://own/");
  PutUserString("FANOUT_URL", "   ");
  EXPECT_EQ(std::string(sync_settings::ServerLocationSetting(kProvider).c_str()), "http://own/");
  PutUserString("FANOUT_URL", " http://fan/ ");
  EXPECT_EQ(std::string(sync_settings::ServerLocationSetting(kProvider).c_str()), "http://fan/");
}

TEST(ServerLocationTest, NormalisedToBackslashesEndingInOneAndItsBaseIsSchemeAndHost) {
  EXPECT_EQ(NormalizeServerLocation("  http://host/a/b  "), "http:\\\\host\\a\\b\\");
  EXPECT_EQ(NormalizeServerLocation("http://host/a/"), "http:\\\\host\\a\\");
  EXPECT_EQ(NormalizeServerLocation("   "), "");
  const HxStr longLocation = NormalizeServerLocation(HxStr("http://") + HxStr('x', 400));
  EXPECT_EQ(longLocation.GetLength(), 260);
  // The base is the scheme and host.
  EXPECT_EQ(ServerBaseOf("http:\\\\host:8080\\data\\sub\\"), "http:\\\\host:8080\\");
  EXPECT_EQ(ServerBaseOf("https:\\\\host\\"), "https:\\\\host\\");
  EXPECT_EQ(ServerBaseOf("\\\\share\\dir\\"), "\\\\share\\");
  EXPECT_EQ(ServerBaseOf("C:\\content\\dir\\"), "C:\\");
  EXPECT_EQ(ServerBaseOf(""), "");
}

class SyncBaseTest : public EngineTest {
 protected:
  static std::string Macro(const NoltSyncBase& base, const char* name) {
    HxStr value;
    return base.Macros().Get(name, value) ? std::string(value.c_str()) : "<absent>";
  }
};

TEST_F(SyncBaseTest, ContextLoadInsertsModuleServerAndDirectoryMacros) {
  platform::RegistryKey key;
  ASSERT_EQ(key.Create(platform::kHkeyLocalMachine,
                       std::string(provider_store::kProviderListKey) + kProvider +
                           "\\InstallPaths",
                       platform::kKeyAllAccess),
            0u);
  ASSERT_EQ(key.SetString("ProgramRoot", "/opt/tide"), 0u);

  NoltSyncBase base(kProvider, " http://host:81/data ");
  EXPECT_EQ(base.Server(), "http:\\\\host:81\\data\\");
  EXPECT_EQ(Macro(base, "%SERVERROOT%"), "http:\\\\host:81\\data\\");
  EXPECT_EQ(Macro(base, "%SERVERBASE%"), "http:\\\\host:81\\");
  EXPECT_EQ(Macro(base, "%DirRoot%"), "/opt/tide\\");
  const std::string version = Macro(base, "%MODULEVERSION%");
  int parts[4];
  EXPECT_EQ(std::sscanf(version.c_str(), "%d.%d.%d.%d", &parts[0], &parts[1], &parts[2],
                        &parts[3]),
            4)
      << version;
  EXPECT_NE(Macro(base, "%MODULEPATH%"), "<absent>");
  for (const char* dir : {"DirContent", "DirZCatalog", "DirUserServer", "DirLogs"}) {
    HxStr expected;
    ASSERT_TRUE(GetDirectory(dir, expected)) << dir;
    EXPECT_EQ(Macro(base, (std::string("%") + dir + "%").c_str()), expected.c_str()) << dir;
  }
}

TEST_F(SyncBaseTest, EmptyServerLoadsNoMacrosAndPresentMacrosStay) {
  NoltSyncBase empty(kProvider, "");
  EXPECT_TRUE(empty.Macros().empty());

  NoltSyncBase base(kProvider, kServer);
  base.ClearMacros();
  base.Macros().Set("%SERVERROOT%", "kept");
  base.LoadContextMacros();
  EXPECT_EQ(Macro(base, "%SERVERROOT%"), "kept");
  EXPECT_EQ(Macro(base, "%DirRoot%"), "<absent>");  // no program root in this sandbox
}

TEST_F(SyncBaseTest, TranslationExpandsOnlyTextWithPercentSigns) {
  NoltSyncBase base(kProvider, kServer);
  HxStr text = "%SERVERROOT%manifest.zip";
  EXPECT_TRUE(base.TranslateMacros(nullptr, text));
  EXPECT_EQ(text, "http:\\\\host\\path\\manifest.zip");
  HxStr plain = "no macros";
  EXPECT_FALSE(base.TranslateMacros(nullptr, plain));
  EXPECT_EQ(plain, "no macros");
  HxStr unknown = "%NOSUCH%";
  EXPECT_FALSE(base.TranslateMacros(nullptr, unknown));
  EXPECT_FALSE(base.HasBits());
}

// Answers every inventory macro with a fixed value, or fails like a text without SI macros.
class StandInHarvest : public SdcSyncDataHarvestEx {
 public:
  explicit StandInHarvest(bool resolves) : resolves_(resolves) {}
  bool Translate(HxStr text, HxStr& out) override {
    ++calls;
    std::string translated = text.c_str();
    const std::string token = "%Os::?::Name%";
    if (resolves_ && translated.find(token) != std::string::npos) {
      translated.replace(translated.find(token), token.size(), "Debian");
    }
    out = translated.c_str();
    return resolves_;
  }
  int calls = 0;

 private:
  bool resolves_;
};

TEST_F(SyncBaseTest, InventoryMacrosLeftByTheMachineGoToTheHarvestObject) {
  NoltSyncBase base(kProvider, kServer);
  StandInHarvest resolving(true);
  HxStr text = "%SERVERROOT%%Os::?::Name%";
  EXPECT_TRUE(base.TranslateMacros(&resolving, text));
  EXPECT_EQ(text, "http:\\\\host\\path\\Debian");

  HxStr done = "%SERVERROOT%x";  // nothing left for the harvest object
  EXPECT_TRUE(base.TranslateMacros(&resolving, done));
  EXPECT_EQ(resolving.calls, 1);

  // Its failure is only logged; the result stays the macro machine's.
  StandInHarvest failing(false);
  HxStr unresolved = "%Os::?::Name%";
  EXPECT_FALSE(base.TranslateMacros(&failing, unresolved));
  EXPECT_TRUE(Logged("Failed to translate SI macro [%Os::?::Name%]\n", 1));
  HxStr mixed = "%SERVERROOT%%Os::?::Name%";
  EXPECT_TRUE(base.TranslateMacros(&failing, mixed));
  EXPECT_EQ(failing.calls, 2);
}

}  // namespace
