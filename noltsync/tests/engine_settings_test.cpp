// The engine's settings and the shared base: "Sync" values with their defaults, the registry
// switches, the server normalisation and location base, and the context macros.
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine_test_fixture.h"
#include "foundation/context/directory_layout.h"
#include "foundation/registry/provider_store.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "noltsync/engine/nolt_sync_base.h"
#include "noltsync/engine/sync_settings.h"
#include "platform/registry.h"

namespace {

using SettingsTest = EngineTest;

// Each step stores one value (or none), then reads the setting again.
TEST_F(SettingsTest, SwitchesFollowTheContextAndTheUsersValues) {
  struct Step {
    const char* what;
    std::function<void()> store;
    uint32_t expected;
  };
  const std::pair<std::function<uint32_t()>, std::vector<Step>> settings[] = {
      // "MaxUpdateTimeOut": hours, three days when absent or 0.
      {sync_settings::MaxUpdateTimeOutSeconds,
       {{"absent", [] {}, 259200},
        {"0", [] { SetSync("MaxUpdateTimeOut", "0"); }, 259200},
        {"1", [] { SetSync("MaxUpdateTimeOut", "1"); }, 3600},
        {"12hours", [] { SetSync("MaxUpdateTimeOut", "12hours"); }, 43200}}},
      // "CacheIp": the context decides unless it is 0; then the user's switch.
      {sync_settings::CacheIpEnabled,
       {{"absent", [] {}, true},
        {"user 0", [] { PutUserDword("CacheIp", 0, "Sync"); }, false},
        {"context 0", [] { SetSync("CacheIp", "0"); }, false},
        {"context 1", [] { SetSync("CacheIp", "1"); }, true},
        {"user 1", [] { PutUserDword("CacheIp", 1, "Sync"); }, true},
        {"context -1", [] { SetSync("CacheIp", "-1"); }, false},
        {"context 0 again", [] { SetSync("CacheIp", "0"); }, true}}},
      // "PrivacyMode": the context's 1, else the user's switch (a string counts as a boolean).
      {sync_settings::PrivacyModeEnabled,
       {{"absent", [] {}, false},
        {"user \"1\"", [] { PutUserString("PrivacyMode", "1", "Sync"); }, true},
        {"user 0", [] { PutUserDword("PrivacyMode", 0, "Sync"); }, false},
        {"context 1", [] { SetSync("PrivacyMode", "1"); }, true},
        {"context 2", [] { SetSync("PrivacyMode", "2"); }, false}}},
      // The disable switches need a non-zero double word.
      {sync_settings::UserDisableDownload,
       {{"absent", [] {}, false},
        {"\"1\"", [] { PutUserString("DisableDownload", "1"); }, false},
        {"0", [] { PutUserDword("DisableDownload", 0); }, false},
        {"2", [] { PutUserDword("DisableDownload", 2); }, true}}},
      {sync_settings::MachineDisableUpload,
       {{"absent", [] {}, false}, {"1", [] { PutServiceDword("DisableUpload", 1); }, true}}},
      {sync_settings::UserDisableUpload, {{"the machine's does not count", [] {}, false}}},
  };
  for (const auto& [read, steps] : settings) {
    for (const Step& step : steps) {
      step.store();
      EXPECT_EQ(read(), step.expected) << step.what;
    }
  }
}

TEST_F(SettingsTest, ServerLocationPrefersTheFanOutUrl) {
  auto location = [] {
    return std::string(sync_settings::ServerLocationSetting(kProvider).c_str());
  };
  EXPECT_EQ(location(), "");
  PutUserString(kProvider, "  http://own/  ");
  EXPECT_EQ(location(), "http://own/");
  PutUserString("FANOUT_URL", "   ");
  EXPECT_EQ(location(), "http://own/");
  PutUserString("FANOUT_URL", " http://fan/ ");
  EXPECT_EQ(location(), "http://fan/");
}

TEST(ServerLocationTest, NormalisedToBackslashesEndingInOneAndItsBaseIsSchemeAndHost) {
  EXPECT_EQ(NormalizeServerLocation("  http://host/a/b  "), "http:\\\\host\\a\\b\\");
  EXPECT_EQ(NormalizeServerLocation("http://host/a/"), "http:\\\\host\\a\\");
  EXPECT_EQ(NormalizeServerLocation("   "), "");
  EXPECT_EQ(NormalizeServerLocation(HxStr("http://") + HxStr('x', 400)).GetLength(), 260);
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

TEST_F(SyncBaseTest, ContextLoadInsertsServerProgramAndDirectoryMacrosAndKeepsPresentOnes) {
  platform::RegistryKey key;
  ASSERT_EQ(key.Create(platform::kHkeyLocalMachine,
                       std::string(provider_store::kProviderListKey) + kProvider + "\\InstallPaths",
                       platform::kKeyAllAccess),
            0u);
  ASSERT_EQ(key.SetString("ProgramRoot", "/opt/tide"), 0u);
  NoltSyncBase base(kProvider, " http://host:81/data ");
  EXPECT_EQ(base.Server(), "http:\\\\host:81\\data\\");
  EXPECT_EQ(Macro(base, "%SERVERROOT%"), "http:\\\\host:81\\data\\");
  EXPECT_EQ(Macro(base, "%SERVERBASE%"), "http:\\\\host:81\\");
  EXPECT_EQ(Macro(base, "%DirRoot%"), "/opt/tide\\");
  unsigned parts[4];
  EXPECT_EQ(std::sscanf(Macro(base, "%MODULEVERSION%").c_str(), "%u.%u.%u.%u", &parts[0], &parts[1],
                        &parts[2], &parts[3]),
            4);
  EXPECT_NE(Macro(base, "%MODULEPATH%"), "<absent>");
  for (const char* dir : {"DirContent", "DirZCatalog", "DirUserServer", "DirLogs"}) {
    HxStr expected;
    ASSERT_TRUE(GetDirectory(dir, expected)) << dir;
    EXPECT_EQ(Macro(base, (std::string("%") + dir + "%").c_str()), expected.c_str()) << dir;
  }
  EXPECT_TRUE(NoltSyncBase(kProvider, "").Macros().empty());  // no server, no macros
  key.DeleteValue("ProgramRoot");
  base.ClearMacros();
  base.Macros().Set("%SERVERROOT%", "kept");
  base.LoadContextMacros();
  EXPECT_EQ(Macro(base, "%SERVERROOT%"), "kept");
  EXPECT_EQ(Macro(base, "%DirRoot%"), "<absent>");
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

TEST_F(SyncBaseTest, TranslationExpandsMacrosAndHandsWhatIsLeftToTheHarvestObject) {
  NoltSyncBase base(kProvider, kServer);
  StandInHarvest resolving(true);
  StandInHarvest failing(false);
  const struct {
    StandInHarvest* harvest;
    const char* text;
    bool translated;
    const char* result;
  } rows[] = {
      {nullptr, "%SERVERROOT%manifest.zip", true, "http:\\\\host\\path\\manifest.zip"},
      {nullptr, "no macros", false, "no macros"},
      {nullptr, "%NOSUCH%", false, "%NOSUCH%"},
      {&resolving, "%SERVERROOT%%Os::?::Name%", true, "http:\\\\host\\path\\Debian"},
      {&resolving, "%SERVERROOT%x", true, "http:\\\\host\\path\\x"},  // nothing left for it
      // Its failure is only logged; the result stays the macro machine's.
      {&failing, "%Os::?::Name%", false, "%Os::?::Name%"},
      {&failing, "%SERVERROOT%%Os::?::Name%", true, "http:\\\\host\\path\\%Os::?::Name%"},
  };
  for (const auto& row : rows) {
    HxStr text = row.text;
    EXPECT_EQ(base.TranslateMacros(row.harvest, text), row.translated) << row.text;
    EXPECT_EQ(std::string(text.c_str()), row.result) << row.text;
  }
  EXPECT_EQ(resolving.calls, 1);
  EXPECT_EQ(failing.calls, 2);
  EXPECT_TRUE(Logged("Failed to translate SI macro [%Os::?::Name%]\n", 1));
}

}  // namespace
