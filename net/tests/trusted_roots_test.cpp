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

TEST(CertificateBundleTest, DerAndPemBundlesAddTheirCertificates) {
  const TestPki& pki = SharedPki();
  for (const std::string& bundle : {pki.rootBundle, pki.rootBundlePem}) {
    X509_STORE* store = CreateStore();
    EXPECT_TRUE(AddBundleCertificates(store, Bytes(bundle))) << bundle;
    EXPECT_TRUE(AddFileCertificates(store, bundle)) << "again, into the same store";
    FreeStore(store);
  }
}

TEST(CertificateBundleTest, BundlesWithoutCertificatesOrNotBundlesAddNothing) {
  const TestPki& pki = SharedPki();
  X509_STORE* store = CreateStore();
  EXPECT_FALSE(AddBundleCertificates(store, Bytes(pki.emptyBundle)));
  EXPECT_FALSE(AddBundleCertificates(store, Bytes(pki.rootCertificate)));  // a bare certificate
  EXPECT_FALSE(AddBundleCertificates(store, {}));
  EXPECT_FALSE(AddFileCertificates(store, pki.directory + "/missing.p7b"));
  EXPECT_FALSE(AddBundleCertificates(nullptr, Bytes(pki.rootBundle)));
  FreeStore(store);
}

TEST(ModuleResourceTest, GeneratedTableHoldsTheFileBytesUnderItsNameAndType) {
  std::span<const unsigned char> bytes;
  ASSERT_TRUE(EmbeddedFixtureResources().Find("PKI_CACERT", "pkcs7", bytes));
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.end()), Bytes(EMBED_FIXTURE_PATH));
  EXPECT_FALSE(EmbeddedFixtureResources().Find("pki_cacert", "RCDATA", bytes));
  EXPECT_FALSE(EmbeddedFixtureResources().Find("other", "PKCS7", bytes));
}

TEST(ModuleResourceTest, ThisModuleHoldsTheRootOnlyWhenTheBuildNamedOne) {
  std::span<const unsigned char> bytes;
  EXPECT_EQ(FindModuleResource("pki_cacert", "PKCS7", bytes), TIDESYNC_HAS_ROOT_BUNDLE != 0);
}

class TrustedRootsTest : public ::testing::Test {
 protected:
  TrustedRootsTest() : pki_(SharedPki()) {
    ClearContextStore();
    EXPECT_TRUE(LoadContext("prov", "http://srv", "alice", false));
  }
  ~TrustedRootsTest() override { ClearContextStore(); }

  // The program root, below the sandbox, in the registry's Windows form.
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
  // A file signed by the test signer, made with openssl.
  std::string SignedManifest() {
    const std::string content = "<manifest/>\n";
    const std::string& certificate = pki_.signer.certificateBase64;
    const std::string signature =
        OpensslSignature("Certificate=" + certificate + "\r\n" + content, pki_.signer);
    const std::string path = sandbox_.Root() + "/manifest.xml";
    WriteBytes(path,
               SignedFileBytes({{"Signature", signature}, {"Certificate", certificate}}, content));
    return path;
  }

  platform::testing::ScopedSandbox sandbox_;
  const TestPki& pki_;
};

TEST_F(TrustedRootsTest, CredentialsBesideTheProgramRootComeBeforeThoseAboveIt) {
  const std::string root = SetProgramRoot();
  EXPECT_EQ(Found(), "<none>");
  const std::string above = PlaceBundle(root + "/../Credentials");
  EXPECT_EQ(Found(), sandbox_.Root() + "/opt/Credentials/pki_cacert.p7b");
  EXPECT_EQ(Found(), above);
  const std::string beside = PlaceBundle(root + "/Credentials");
  EXPECT_EQ(Found(), beside);
}

TEST_F(TrustedRootsTest, WithoutProgramRootTheUsersProfileFolderIsSearched) {
  const std::string profiles = platform::CommonAppDataDirectory() + "/Strovane/Profiles";
  fs::create_directories(profiles + "/alice/Credentials/pki_cacert.p7b");  // a directory: skipped
  EXPECT_EQ(Found(), "<none>");
  const std::string above = PlaceBundle(profiles + "/Credentials");
  EXPECT_EQ(Found(), above);
  fs::remove_all(profiles + "/alice/Credentials");
  const std::string beside = PlaceBundle(profiles + "/alice/Credentials");
  EXPECT_EQ(fs::path(Found()).lexically_normal().string(), beside);
}

TEST_F(TrustedRootsTest, WithNeitherResourceNorCredentialsFileNothingVerifies) {
  HostLogCapture log;
  TuSSLCertificateValidater validater;
  const ModuleResources none(nullptr, 0);
  EXPECT_FALSE(validater.LoadTrustedRoots(&none));
  ASSERT_EQ(log.Lines().size(), 2u);
  EXPECT_EQ(log.Lines()[0].level, 4u);
  EXPECT_EQ(log.Lines()[0].text, "** Failed to locate credentials file: [pki_cacert.p7b].***\n");
  EXPECT_EQ(log.Lines()[1].level, 8u);
  EXPECT_EQ(log.Lines()[1].text, "** Failed to load certificate store to verify signing..***\n");

  VerifyReport report;
  EXPECT_FALSE(validater.VerifySignedFile(SignedManifest(), 0, &report));
  EXPECT_EQ(report.outcome, VerifyOutcome::kUntrustedSigner);
}

TEST_F(TrustedRootsTest, TheModuleResourceAloneMakesAStore) {
  const std::vector<unsigned char> bundle = Bytes(pki_.rootBundle);
  const ModuleResourceEntry entries[] = {{"pki_cacert", "PKCS7", bundle.data(), bundle.size()}};
  const ModuleResources module(entries, 1);
  HostLogCapture log;
  TuSSLCertificateValidater validater;
  EXPECT_TRUE(validater.LoadTrustedRoots(&module));
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0].format, "** Failed to locate credentials file: [%s].***\n");
  EXPECT_TRUE(validater.VerifySignedFile(SignedManifest(), 0));

  X509_STORE* store = CreateStore();
  EXPECT_FALSE(AddResourceCertificates(store, &module, "pki_cacert", "RCDATA"));
  EXPECT_FALSE(AddResourceCertificates(store, &module, "other"));
  EXPECT_TRUE(AddResourceCertificates(store, &module));
  FreeStore(store);
}

TEST_F(TrustedRootsTest, TheCredentialsFileAloneMakesAStore) {
  const std::string path = PlaceBundle(SetProgramRoot() + "/Credentials");
  HostLogCapture log;
  TuSSLCertificateValidater validater;
  const ModuleResources none(nullptr, 0);
  EXPECT_TRUE(validater.LoadTrustedRoots(&none));
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0].level, 1u);
  EXPECT_EQ(log.Lines()[0].text, "Using credentials file: [" + path + "].\n");
  EXPECT_TRUE(validater.VerifySignedFile(SignedManifest(), 0));
}

}  // namespace
