// `noltpub ca init`: a root that openssl accepts, a signer it issued, keys kept private, the
// bundle the agent trusts, and a whole round through sign and verify with them.
#include <filesystem>

#include "certificate_authority.h"
#include "noltpub_test_fixture.h"
#include "test_pki.h"

namespace {

namespace fs = std::filesystem;

TEST_F(NoltpubTest, CaInitMakesARootASignerAndTheBundleThatTrustsIt) {
  const std::string ca = Path("publisher/ca");
  const NoltpubResult made = Run({"ca", "init", ca, "--name", "Acme Publishing"});
  ASSERT_EQ(made.code, 0) << made.err;

  const auto permissions = [&](const char* file) {
    return fs::status(ca + "/" + file).permissions() & fs::perms::all;
  };
  EXPECT_EQ(permissions(noltpub::kRootKeyFile), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(permissions(noltpub::kSigningKeyFile), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE((permissions(noltpub::kRootBundleFile) & fs::perms::others_read) != fs::perms::none);

  const std::string root = ca + "/root.pem";
  const std::string signing = ca + "/signing.pem";
  EXPECT_TRUE(RunCommand("openssl verify -x509_strict -CAfile '" + root + "' '" + signing + "'"));
  EXPECT_TRUE(RunCommand("openssl x509 -in '" + signing +
                         "' -noout -subject | grep -qx 'subject=CN = Acme Publishing Signing'"));
  EXPECT_TRUE(RunCommand("openssl pkcs7 -inform DER -in '" + ca +
                         "/pki_cacert.p7b' -print_certs"
                         " | grep -qx 'subject=CN = Acme Publishing Root'"));
  EXPECT_TRUE(RunCommand("openssl x509 -in '" + root +
                         "' -noout -ext basicConstraints"
                         " | grep -q 'CA:TRUE'"));

  // The whole round: sign with the new signer, verify against the new bundle and with openssl.
  const std::string content = "<manifest/>\n";
  WriteBytes(Path("m.xml"), content);
  ASSERT_EQ(Run({"sign", "--cert", signing, "--key", ca + "/signing.key", Path("m.xml"),
                 Path("signed.xml")})
                .code,
            0);
  EXPECT_EQ(Run({"verify", "--store", ca + "/pki_cacert.p7b", Path("signed.xml")}).code, 0);
  EXPECT_EQ(Run({"verify", "--store", SharedPki().rootBundle, Path("signed.xml")}).code, 1);

  // A second init leaves the authority as it was.
  const std::string key = ReadBytes(ca + "/root.key");
  const NoltpubResult again = Run({"ca", "init", ca});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("exists"), std::string::npos);
  EXPECT_EQ(ReadBytes(ca + "/root.key"), key);
}

}  // namespace
