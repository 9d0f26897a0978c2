// The manifest step of an update: the query, the download location, the cut of the credentials
// header, and manifests signed by noltpub, served from loopback, that are taken, refused as
// unsigned, tampered, replayed or expired (the local manifest.xml then stays as it was), with no
// temporary directory left behind in any case.
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
#include "noltsync/updater/download_file.h"
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

// "YYYY-MM-DDTHH:MM:SSZ" of the clock in force moved by `seconds`.
std::string ExpiryText(int64_t seconds) {
  platform::CalendarTime time;
  platform::FileTimeToCalendar(
      platform::FileTimeNow() + static_cast<uint64_t>(seconds * 10000000LL), time);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  return text;
}

void Zip(const std::string& path, const std::string& entry, const std::string& bytes) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  zip_fileinfo info{};
  ASSERT_EQ(zipOpenNewFileInZip64(zip, entry.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                  Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0),
            ZIP_OK);
  ASSERT_EQ(zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size())), ZIP_OK);
  ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

class UpdaterManifestTest : public EngineTest {
 protected:
  UpdaterManifestTest() : root_(std::getenv("NOLT_ROOT")), pki_(SharedPki()) {
    RegisterHttpTransferObjects();
    // The test certificates are valid from the moment they were made.
    const uint64_t realNow = platform::kFileTimeUnixEpoch +
                             static_cast<uint64_t>(std::time(nullptr)) * 10000000ULL;
    AdvanceSeconds((realNow - platform::FileTimeNow()) / 10000000ULL + 1);
    const std::string program = root_ + "/opt/tidesync/";
    fs::create_directories(program + "Credentials");
    fs::copy_file(pki_.rootBundle, program + "Credentials/pki_cacert.p7b");
    PutMachineString("InstallPaths", "ProgramRoot", program);
    fs::create_directories(root_ + "/pub");
    server_.ServeFile("/data/manifest.zip", root_ + "/pub/manifest.zip");
  }

  // Kept-alive connections would hold the server's stop.
  ~UpdaterManifestTest() override { http_binding::DropSharedConnectionsForTesting(); }

  static void PutMachineString(const char* subKey, const char* name, const std::string& text) {
    platform::RegistryKey key;
    const std::string path = std::string(provider_store::kProviderListKey) + kProvider +
                             (subKey != nullptr ? std::string("\\") + subKey : "");
    ASSERT_EQ(key.Create(platform::kHkeyLocalMachine, path, platform::kKeyAllAccess), 0u);
    ASSERT_EQ(key.SetString(name, text), 0u);
  }
  std::string ContentFile(const char* name) {
    return LocalPath(updater_.ContentDirectory()) + name;
  }
  // Signs `xml` with noltpub and the given options and serves it zipped under `entry`;
  // `tamper` changes the content once signed.
  void Publish(const std::string& xml, std::vector<std::string> options = {},
               const std::string& entry = "manifest.xml", bool tamper = false) {
    const std::string file = root_ + "/pub/signed.xml";
    WriteBytes(file, xml);
    std::vector<std::string> args = {"sign", "--cert", pki_.signer.certificate, "--key",
                                     pki_.signer.key};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {file, file});
    std::ostringstream out, err;
    ASSERT_EQ(noltpub::RunNoltpub(args, out, err), 0) << err.str();
    std::string bytes = ReadBytes(file);
    if (tamper) bytes.back() = ' ';
    fs::remove(root_ + "/pub/manifest.zip");
    Zip(root_ + "/pub/manifest.zip", entry, bytes);
  }
  // Private temporary directories of the provider still there.
  std::vector<std::string> LeftoverTempDirectories() const {
    std::vector<std::string> left;
    for (const auto& item : fs::directory_iterator(LocalPath(GetTempRoot()))) {
      if (item.path().filename().string().starts_with("prov_")) left.push_back(item.path());
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
  PutMachineString(nullptr, "LastClientPackageVersion", "1.2.3.4");
  NoltUpdaterInNoltsvc service(kProvider, HxStr(server_.Url("/")));
  service.SetUserName("SYSTEM");
  updater_.SetUserName(kUser);
  const struct {
    bool privacy;
    NoltUpdater* updater;
    std::string ip, user, computer;
  } cases[] = {
      {false, &updater_, std::string(NoltSyncBase::CachedIpList()), kUser, platform::ComputerName()},
      {false, &service, std::string(NoltSyncBase::CachedIpList()), "SYSTEM", platform::ComputerName()},
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

TEST_F(UpdaterManifestTest, TheLocationTurnsBackslashesBeforeTheQueryAndEscapesTheQuery) {
  const struct {
    const char *source, *query, *location;
  } cases[] = {
      {"http:\\\\h\\data\\m.zip", "u={x} y&n=\\", "http://h/data/m.zip?u=%7Bx%7D%20y&n=%5C"},
      {"http://h/a\\b?c\\d", "", "http://h/a/b?c%5Cd"},
      {"\\\\srv\\share\\f", "", "//srv/share/f"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(std::string(DownloadLocation(test.source, test.query)), test.location);
  }
}

TEST_F(UpdaterManifestTest, TheHeaderIsCutAtTheFirstEmptyLineOrRefusedWithoutOne) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string longHeader = "[Credentials]\nA=" + std::string(2030, 'x');  // past a block
  const struct {
    std::string source;
    std::optional<std::string> kept;  // none: refused
  } cases[] = {
      {"[Credentials]\r\nA=1\r\n\r\n<m/>\r\n", "<m/>\r\n"},
      {"A=1\n\r\n<m/>\n\n<n/>", "<m/>\n\n<n/>"},
      {"A=1\r\r\n\r\n<m/>", "<m/>"},
      {longHeader + "\n\n<m/>", "<m/>"},
      {bom + "A=1\n\n<m/>", "A=1\n\n<m/>"},
      {"A=1\n \n<m/>\n", std::nullopt},
      {bom + "A=1\r\n<m/>", std::nullopt},
  };
  const std::string source = root_ + "/signed.xml", local = root_ + "/manifest.xml";
  for (const auto& test : cases) {
    SCOPED_TRACE(test.source.substr(0, 24));
    WriteBytes(source, test.source);
    WriteBytes(local, kPrevious);
    EXPECT_EQ(updater_.ReplaceManifest(HxStr(source), HxStr(local)), test.kept ? 0 : 12);
    EXPECT_EQ(ReadBytes(local), test.kept.value_or(kPrevious));
    EXPECT_FALSE(fs::exists(source));  // copied, or refused and deleted
  }
}

TEST_F(UpdaterManifestTest, AManifestIsTakenOnlyWhenSignedCurrentAndNotOlderThanTheLastTaken) {
  const std::string refused = "** Refusing manifest ";
  const std::string unverified = "** Unable to verify manifest file: ";
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::optional<uint32_t> stored;  // the highest sequence taken before
    std::string entry = "manifest.xml", xml = kXml;
    bool tamper = false;
    int status = 0;
    std::vector<std::string> errors = {};  // level-8 line prefixes, in order
    uint32_t storedAfter = 0;
  } cases[] = {
      {"signed, folders dropped", {}, std::nullopt, "pub/v2/manifest.xml"},
      {"an entry name leading out", {}, std::nullopt, "../manifest.xml", kXml, false, 9,
       {"** Failed to decompress manifest: "}},
      {"tampered", {}, std::nullopt, "manifest.xml", kXml, true, 11, {unverified}},
      {"no manifest.xml inside", {}, std::nullopt, "other.xml", kXml, false, 11, {unverified}},
      {"not XML", {}, std::nullopt, "manifest.xml", "<manifest>", false, 8,
       {"Manifest XML", "** Failed to parse manifest: "}},
      {"replayed", {"--sequence", "4"}, 5, "manifest.xml", kXml, false, 11,
       {refused, unverified}, 5},
      {"same sequence", {"--sequence", "5"}, 5, "manifest.xml", kXml, false, 0, {}, 5},
      {"newer sequence", {"--sequence", "9"}, 5, "manifest.xml", kXml, false, 0, {}, 9},
      {"first sequence", {"--sequence", "3"}, std::nullopt, "manifest.xml", kXml, false, 0, {}, 3},
      {"no sequence", {}, 5, "manifest.xml", kXml, false, 0, {}, 5},
      {"expired", {"--expires", ExpiryText(0)}, std::nullopt, "manifest.xml", kXml, false, 11,
       {refused, unverified}},
      {"not yet expired", {"--expires", ExpiryText(1)}, std::nullopt},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Publish(test.xml, test.options, test.entry, test.tamper);
    WriteBytes(ContentFile("manifest.xml"), kPrevious);
    fs::remove(ContentFile("manifest.zip"));  // rows published within one second look alike
    provider_store::DeleteValue(nullptr, kAcceptedManifestSequenceValue, true);
    if (test.stored) PutUserDword(kAcceptedManifestSequenceValue, *test.stored);
    ClearLog();
    ManifestParser parser;
    EXPECT_EQ(updater_.DownloadManifest(parser), test.status);
    std::vector<std::string> errors;
    for (const CapturedLogLine& line : Log()) {
      if (line.level == 8) errors.push_back(line.text);
    }
    ASSERT_EQ(errors.size(), test.errors.size());
    for (size_t i = 0; i < errors.size(); ++i) EXPECT_TRUE(errors[i].starts_with(test.errors[i]));
    const std::string published = ReadBytes(root_ + "/pub/signed.xml");
    const bool replaced = test.status == 0 || test.status == 8;
    EXPECT_EQ(ReadBytes(ContentFile("manifest.xml")),
              replaced ? published.substr(published.find("\n\n") + 2) : kPrevious);
    EXPECT_EQ(parser.ProfileFiles().count("p.dat"), test.status == 0 ? 1u : 0u);
    EXPECT_EQ(UserDword(kAcceptedManifestSequenceValue), test.storedAfter);
    EXPECT_EQ(LeftoverTempDirectories(), std::vector<std::string>());
  }
}

TEST_F(UpdaterManifestTest, TheFirstCycleFetchesWholeAndTheNextAsksWhetherItIsNewer) {
  Publish(kXml);
  WriteBytes(ContentFile("manifest.zip"), "stale archive, no manifest.xml yet");
  for (const char* method : {"GET", "HEAD"}) {
    SCOPED_TRACE(method);
    const size_t seen = server_.Requests().size();
    NoltUpdater updater(kProvider, HxStr(server_.Url("/")));
    EXPECT_EQ(updater.Update(nullptr), 0);
    const std::vector<net_test::RecordedRequest> requests = server_.Requests();
    ASSERT_EQ(requests.size(), seen + 1);
    EXPECT_EQ(requests.back().method, method);
    EXPECT_EQ(requests.back().path, "/data/manifest.zip");
    EXPECT_EQ(updater.IsContextReloadNeeded(), std::string(method) == "GET");
    EXPECT_TRUE(LoggedInOrder({{2, "Start Parsing Manifest\n"},
                               {1, "DownloadProfile(mParser)\n"},
                               {1, "DownloadApplicableFiles(mParser)\n"},
                               {1, "Releasing NOLTCMD_READWRITE_LOCK guard...\n"}}));
    ClearLog();
  }
}

}  // namespace
