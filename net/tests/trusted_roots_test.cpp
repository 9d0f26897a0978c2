// The trusted store's sources: certificate bundles, the module's root resource, the credentials
// file and the order in which it is looked for, and the validater's loading with its log lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/context/context_store.h"
#include "foundation/registry/provider_store.h"
#include "host_log_capture.h"
#include "net/resources/module_resources.h"
#include "net/signing/certificate_store.h"
#include "net/signing/certificate_validater.h"
#include "platform/locations.h"
#include "scoped_sandbox.h"
#include "test_pki.h"

const ModuleResources& EmbeddedFixtureResources();  // generated from data/embed_fixture.bin

namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> Bytes(const std::string& path) {
  const std::string text = ReadBytes(path);
  return std::vector<unsigned char>(text.begin(), text.end());
}

TEST(CertificateBundleTest, OnlyBundlesHoldingCertificatesAddAny) {
  const TestPki& pki = SharedPki();
  X509_STORE* store = CreateStore();
  for (const std::string& bundle : {pki.rootBundle, pki.rootBundlePem, pki.rootBundle}) {
    EXPECT_TRUE(AddBundleCertificates(store, Bytes(bundle))) << bundle;  // also a second time
  }
  EXPECT_FALSE(AddBundleCertificates(store, Bytes(pki.emptyBundle)));
  EXPECT_FALSE(AddBundleCertificates(store, Bytes(pki.rootCertificate)));  // a bare certificate
  EXPECT_FALSE(AddBundleCertificates(store, {}));
  EXPECT_FALSE(AddFileCertificates(store, pki.directory + "/missing.p7b"));
  EXPECT_FALSE(AddBundleCertificates(nullptr, Bytes(pki.rootBundle)));
  FreeStore(store);
}

TEST(ModuleResourceTest, ResourcesAreFoundByNameAndTypeAndTheRootOnlyWhenBuiltIn) {
  std::span<const unsigned char> bytes;
  ASSERT_TRUE(EmbeddedFixtureResources().Find("PKI_CACERT", "pkcs7", bytes));
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.end()), Bytes(EMBED_FIXTURE_PATH));
  EXPECT_FALSE(EmbeddedFixtureResources().Find("pki_cacert", "RCDATA", bytes));
  EXPECT_FALSE(EmbeddedFixtureResources().Find("other", "PKCS7", bytes));
  EXPECT_EQ(FindModuleResource("pki_cacert", "PKCS7", bytes), TIDESYNC_HAS_ROOT_BUNDLE != 0);
}

class TrustedRootsTest : public ::testing::Test {
 protected:
  TrustedRootsTest() : pki_(SharedPki()) {
    ClearContextStore();
    EXPECT_TRUE(LoadContext("prov", "http://srv", "alice", false));
  }
  ~TrustedRootsTest() override { ClearContextStore(); }

  // The program root, below the sandbox.
  std::string SetProgramRoot() {
    const std::string root = sandbox_.Root() + "/opt/tidesync";
    EXPECT_EQ(provider_store::WriteString("InstallPaths", "ProgramRoot", root.c_str(), false), 0u);
    return root;
  }
  // Copies the root bundle to dir/pki_cacert.p7b; returns that path, normalised.
  std::string PlaceBundle(const std::string& dir) {
    fs::create_directories(dir);
    const fs::path path = fs::path(dir) / "pki_cacert.p7b";
    fs::copy_file(pki_.rootBundle, path, fs::copy_options::overwrite_existing);
    return path.lexically_normal().string();
  }
  static std::string Found() {
    HxStr path;
    return FindCredentialsFile("pki_cacert.p7b", path) ? std::string(path) : "<none>";
  }

  platform::testing::ScopedSandbox sandbox_;
  const TestPki& pki_;
};

TEST_F(TrustedRootsTest, CredentialsBesideTheRootThenAboveItThenInTheUsersProfileFolders) {
  const std::string profiles = platform::CommonAppDataDirectory() + "/Strovane/Profiles";
  fs::create_directories(profiles + "/alice/Credentials/pki_cacert.p7b");  // a directory: skipped
  EXPECT_EQ(Found(), "<none>");
  EXPECT_EQ(Found(), PlaceBundle(profiles + "/Credentials"));
  fs::remove_all(profiles + "/alice/Credentials");
  const std::string beside = PlaceBundle(profiles + "/alice/Credentials");
  EXPECT_EQ(fs::path(Found()).lexically_normal().string(), beside);

  const std::string root = SetProgramRoot();
  PlaceBundle(root + "/../Credentials");
  EXPECT_EQ(Found(), sandbox_.Root() + "/opt/Credentials/pki_cacert.p7b");  // a full path
  EXPECT_EQ(Found(), PlaceBundle(root + "/Credentials"));
}

TEST_F(TrustedRootsTest, TheResourceOrTheCredentialsFileMakesAStoreAndNeitherTrustsNothing) {
  const std::vector<unsigned char> bundle = Bytes(pki_.rootBundle);
  const ModuleResourceEntry entries[] = {{"pki_cacert", "PKCS7", bundle.data(), bundle.size()}};
  const ModuleResources resource(entries, 1);
  const ModuleResources none(nullptr, 0);
  const std::string found = "Using credentials file: [" + sandbox_.Root() +
                            "/opt/tidesync/Credentials/pki_cacert.p7b].\n";
  const std::string missing = "** Failed to locate credentials file: [pki_cacert.p7b].***\n";
  const std::string noStore = "** Failed to load certificate store to verify signing..***\n";
  const struct {
    const ModuleResources* module;
    bool credentialsFile;
    std::vector<std::pair<uint32_t, std::string>> lines;
  } cases[] = {{&none, false, {{4, missing}, {8, noStore}}},
               {&resource, false, {{4, missing}}},
               {&none, true, {{1, found}}}};
  const std::string manifest = sandbox_.Root() + "/manifest.xml";
  WriteBytes(manifest, PlainSignedFile(pki_.signer, "<manifest/>\n"));
  for (const auto& test : cases) {
    SCOPED_TRACE(test.lines.back().second);
    if (test.credentialsFile) PlaceBundle(SetProgramRoot() + "/Credentials");
    HostLogCapture log;
    TuSSLCertificateValidater validater;
    const bool trusted = test.module != &none || test.credentialsFile;
    EXPECT_EQ(validater.LoadTrustedRoots(test.module), trusted);
    std::vector<std::pair<uint32_t, std::string>> lines;
    for (const LoggedLine& line : log.Lines()) lines.push_back({line.level, line.text});
    EXPECT_EQ(lines, test.lines);
    EXPECT_EQ(validater.VerifySignedFile(manifest, 0), trusted);
  }

  X509_STORE* store = CreateStore();
  EXPECT_FALSE(AddResourceCertificates(store, &resource, "pki_cacert", "RCDATA"));
  EXPECT_FALSE(AddResourceCertificates(store, &resource, "other"));
  EXPECT_TRUE(AddResourceCertificates(store, &resource));
  FreeStore(store);
}

}  // namespace
