// The manifest step of an update against a loopback server: the query, the cut of the
// credentials header, and manifests signed by noltpub that are taken, or refused as unsigned,
// tampered, replayed or expired with the local manifest.xml kept as it was; no temporary
// directory is left behind in any case.
#include <zip.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "engine_test_fixture.h"
#include "foundation/context/directory_layout.h"
#include "foundation/context/machine_id.h"
#include "foundation/registry/provider_store.h"
#include "http_test_server.h"
#include "net/http/curl_binding_for_testing.h"
#include "net/http/http_transfer.h"
#include "noltsync/updater/manifest_freshness.h"
#include "noltsync/updater/nolt_updater_in_noltsvc.h"
#include "platform/identity.h"
#include "platform/registry.h"
#include "platform/timefmt.h"
#include "scoped_proxy_environment.h"
#include "test_pki.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kXml = "<manifest><profile-set><file><property name=\"filename\">p.dat"
                             "</property></file></profile-set></manifest>\n";
constexpr const char* kPrevious = "PREVIOUS manifest.xml";
constexpr uint64_t kTicksPerSecond = 10000000ULL;

// "YYYY-MM-DDTHH:MM:SSZ" of the clock in force moved by `seconds`, cut to whole seconds.
std::string ExpiryText(int64_t seconds) {
  platform::CalendarTime t;
  platform::FileTimeToCalendar(platform::FileTimeNow() + seconds * kTicksPerSecond, t);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return text;
}

class UpdaterManifestTest : public EngineTest {
 protected:
  UpdaterManifestTest() : root_(std::getenv("NOLT_ROOT")), pki_(SharedPki()) {
    RegisterHttpTransferObjects();
    // The test certificates are valid from the moment they were made.
    const uint64_t realNow = platform::kFileTimeUnixEpoch + std::time(nullptr) * kTicksPerSecond;
    AdvanceSeconds((realNow - platform::FileTimeNow()) / kTicksPerSecond + 1);
    const std::string program = root_ + "/opt/tidesync/";
    fs::create_directories(program + "Credentials");
    fs::copy_file(pki_.rootBundle, program + "Credentials/pki_cacert.p7b");
    PutMachineString("\\InstallPaths", "ProgramRoot", program);
    fs::create_directories(root_ + "/pub");
    server_.ServeFile("/data/manifest.zip", root_ + "/pub/manifest.zip");
  }
  // Kept-alive connections would hold the server's stop.
  ~UpdaterManifestTest() override { http_binding::DropSharedConnectionsForTesting(); }

  static void PutMachineString(const std::string& subKey, const char* name,
                               const std::string& text) {
    platform::RegistryKey key;
    ASSERT_EQ(key.Create(platform::kHkeyLocalMachine,
                         provider_store::kProviderListKey + std::string(kProvider) + subKey,
                         platform::kKeyAllAccess),
              0u);
    ASSERT_EQ(key.SetString(name, text), 0u);
  }
  std::string ContentFile(const char* name) {
    return LocalPath(updater_.ContentDirectory()) + name;
  }
  // Signs `xml` with noltpub and serves it zipped under `entry`; `tamper` changes it once signed.
  void Publish(const std::string& xml, const std::vector<std::string>& options,
               const std::string& entry, bool tamper) {
    const std::string file = root_ + "/pub/signed.xml", archive = root_ + "/pub/manifest.zip";
    WriteBytes(file, xml);
    std::vector<std::string> args = {"sign", "--cert", pki_.signer.certificate, "--key",
                                     pki_.signer.key};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {file, file});
    std::ostringstream out, err;
    ASSERT_EQ(noltpub::RunNoltpub(args, out, err), 0) << err.str();
    std::string bytes = ReadBytes(file);
    if (tamper) bytes.back() = ' ';
    fs::remove(archive);
    zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
    zip_fileinfo info{};
    ASSERT_EQ(zipOpenNewFileInZip64(zip, entry.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                    Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0),
              ZIP_OK);
    zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size()));
    zipCloseFileInZip(zip);
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
  }
  size_t LeftoverTempDirectories() const {
    size_t left = 0;
    for (const auto& item : fs::directory_iterator(LocalPath(GetTempRoot()))) {
      left += item.path().filename().string().starts_with("prov_") ? 1 : 0;
    }
    return left;
  }

  std::string root_;
  const TestPki& pki_;
  net_test::ScopedProxyEnvironment noEnvironmentProxy_;
  net_test::HttpTestServer server_;
  NoltUpdater updater_{kProvider, HxStr(server_.Url("/"))};
};

TEST_F(UpdaterManifestTest, TheQueryNamesMachineUserAndProfileOrPlaceholdersInPrivacyMode) {
  PutUserString("ProfileKey", "K1");
  PutMachineString("", "LastClientPackageVersion", "1.2.3.4");
  NoltUpdaterInNoltsvc service(kProvider, HxStr(server_.Url("/")));
  service.SetUserName("SYSTEM");
  updater_.SetUserName(kUser);
  const std::string ip(NoltSyncBase::CachedIpList()), computer = platform::ComputerName();
  const struct {
    bool privacy;
    NoltUpdater* updater;
    std::string ip, user, computer;
  } cases[] = {
      {false, &updater_, ip, kUser, computer},
      {false, &service, ip, "SYSTEM", computer},
      {true, &updater_, "{private_ip}", "{private_user_name}", "{private_machine_name}"},
      {true, &service, "{private_ip}", "{private_system_user}", "{private_machine_name}"},
  };
  for (const auto& test : cases) {
    SetSync("PrivacyMode", test.privacy ? "1" : "0");
    EXPECT_EQ(std::string(test.updater->BuildManifestQuery()),
              "macid=" + std::string(GetMachineId()) + "&ip=" + test.ip + "&pkey=K1&u=" +
                  test.user + "&nb=" + test.computer + "&ver=1.2.3.4");
  }
}

TEST_F(UpdaterManifestTest, TheHeaderIsCutAtTheFirstEmptyLineOrRefusedWithoutOne) {
  const std::string bom = "\xEF\xBB\xBF";
  const struct {
    std::string source;
    std::optional<std::string> kept;  // none: refused
  } cases[] = {
      {"[Credentials]\r\nA=1\r\n\r\n<m/>\r\n", "<m/>\r\n"},
      {"A=1\n\r\n<m/>\n\n<n/>", "<m/>\n\n<n/>"},
      {"A=1\r\r\n\r\n<m/>", "<m/>"},
      {"A=" + std::string(2045, 'x') + "\n\n<m/>", "<m/>"},  // the end in the second block
      {bom + "A=1\n\n<m/>", "A=1\n\n<m/>"},
      {"A=1\n \n<m/>\n", std::nullopt},
      {bom + "A=1\r\n<m/>", std::nullopt},
  };
  const std::string source = root_ + "/signed.xml", local = root_ + "/manifest.xml";
  for (const auto& test : cases) {
    WriteBytes(source, test.source);
    WriteBytes(local, kPrevious);
    EXPECT_EQ(updater_.ReplaceManifest(HxStr(source), HxStr(local)), test.kept ? 0 : 12);
    EXPECT_EQ(ReadBytes(local), test.kept.value_or(kPrevious)) << test.source.substr(0, 24);
    EXPECT_FALSE(fs::exists(source));  // copied, or refused and deleted
  }
}

TEST_F(UpdaterManifestTest, AManifestIsTakenOnlyWhenSignedCurrentAndNotOlderThanTheLastTaken) {
  const std::string refused = "** Refusing manifest ", unverified = "** Unable to verify manifest";
  const struct {
    std::vector<std::string> options;
    std::optional<uint32_t> stored;  // the highest sequence taken before
    int status;
    std::vector<std::string> errors;  // level-8 line prefixes, in order
    uint32_t storedAfter = 0;
    std::string entry = "manifest.xml", xml = kXml;
    bool tamper = false;
  } cases[] = {
      {{}, {}, 0, {}, 0, "pub/v2/manifest.xml"},
      {{}, {}, 9, {"** Failed to decompress manifest"}, 0, "../manifest.xml"},
      {{}, {}, 11, {unverified}, 0, "manifest.xml", kXml, true},
      {{}, {}, 11, {unverified}, 0, "other.xml"},
      {{}, {}, 8, {"Manifest XML", "** Failed to parse manifest"}, 0, "manifest.xml", "<m>"},
      {{"--sequence", "4"}, 5, 11, {refused, unverified}, 5},
      {{"--sequence", "5"}, 5, 0, {}, 5},
      {{"--sequence", "9"}, 5, 0, {}, 9},
      {{"--sequence", "3"}, {}, 0, {}, 3},
      {{}, 5, 0, {}, 5},
      {{"--expires", ExpiryText(0)}, {}, 11, {refused, unverified}},
      {{"--expires", ExpiryText(1)}, {}, 0, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(testing::PrintToString(test.options) + test.entry);
    Publish(test.xml, test.options, test.entry, test.tamper);
    WriteBytes(ContentFile("manifest.xml"), kPrevious);
    fs::remove(ContentFile("manifest.zip"));  // rows published within one second look alike
    provider_store::DeleteValue(nullptr, kAcceptedManifestSequenceValue, true);
    if (test.stored) PutUserDword(kAcceptedManifestSequenceValue, *test.stored);
    ClearLog();
    ManifestParser parser;
    EXPECT_EQ(updater_.DownloadManifest(parser), test.status);
    std::vector<CapturedLogLine> errors;
    for (const std::string& prefix : test.errors) errors.push_back({8, prefix});
    EXPECT_TRUE(LoggedInOrder(errors));
    size_t level8 = 0;
    for (const CapturedLogLine& line : Log()) level8 += line.level == 8 ? 1 : 0;
    EXPECT_EQ(level8, test.errors.size());
    const std::string published = ReadBytes(root_ + "/pub/signed.xml");
    EXPECT_EQ(ReadBytes(ContentFile("manifest.xml")),
              test.status % 8 == 0 ? published.substr(published.find("\n\n") + 2) : kPrevious);
    EXPECT_EQ(parser.ProfileFiles().count("p.dat"), test.status == 0 ? 1u : 0u);
    EXPECT_EQ(UserDword(kAcceptedManifestSequenceValue), test.storedAfter);
    EXPECT_EQ(LeftoverTempDirectories(), 0u);
  }
}

TEST_F(UpdaterManifestTest, TheFirstCycleFetchesWholeAndTheNextAsksWhetherItIsNewer) {
  Publish(kXml, {}, "manifest.xml", false);
  WriteBytes(ContentFile("manifest.zip"), "an archive, but no manifest.xml yet");
  for (const std::string method : {"GET", "HEAD"}) {
    NoltUpdater updater(kProvider, HxStr(server_.Url("/")));
    EXPECT_EQ(updater.Update(nullptr), 0);
    EXPECT_EQ(server_.Requests().back().method, method);
    EXPECT_EQ(updater.IsContextReloadNeeded(), method == "GET");
    EXPECT_TRUE(LoggedInOrder({{2, "Start Parsing Manifest\n"},
                               {1, "DownloadProfile(mParser)\n"},
                               {1, "DownloadApplicableFiles(mParser)\n"},
                               {1, "Releasing NOLTCMD_READWRITE_LOCK guard...\n"}}));
    ClearLog();
  }
  EXPECT_EQ(server_.Requests().size(), 2u);
}

}  // namespace
