#include "test_pki.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// A new directory below `parent`, named `prefix` and a random number.
std::string MakeDirectory(const fs::path& parent, const std::string& prefix) {
  std::random_device random;
  std::error_code error;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = parent / (prefix + std::to_string(random()));
    if (fs::create_directories(candidate, error)) return candidate.string();
  }
  return std::string();
}

// This process's scratch directory, removed at exit.
const std::string& ScratchDirectory() {
  static const struct Remover {
    std::string path = MakeDirectory(fs::temp_directory_path(), "tidesync-pki-");
    ~Remover() {
      std::error_code ignored;
      if (!path.empty()) fs::remove_all(path, ignored);
    }
  } scratch;
  return scratch.path;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// A certificate dir/<file>.pem with its key dir/<file>.key for `name`: a self-signed CA valid
// ten years without an issuer, else a signer valid 365 days issued by the CA dir/<issuer>.pem,
// with its DER as one line of Base64 in dir/<file>.b64.
bool MakeCertificate(const std::string& dir, const std::string& file, const std::string& name,
                     const std::string& issuer = "") {
  const std::string base = Quote(dir + "/" + file);
  const std::string request =
      "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
      "-nodes -subj " +
      Quote("/CN=" + name) + " -keyout " + Quote(dir + "/" + file + ".key");
  if (issuer.empty()) {
    return RunCommand(request + " -x509 -days 3650 -out " + Quote(dir + "/" + file + ".pem") +
                      " -addext basicConstraints=critical,CA:TRUE"
                      " -addext keyUsage=critical,keyCertSign,cRLSign");
  }
  const std::string ca = dir + "/" + issuer;
  std::ofstream(dir + "/signer.ext") << "basicConstraints=CA:FALSE\n"
                                        "keyUsage=critical,digitalSignature\n";
  return RunCommand(request + " -out " + Quote(dir + "/" + file + ".csr")) &&
         RunCommand("openssl x509 -req -in " + Quote(dir + "/" + file + ".csr") + " -CA " +
                    Quote(ca + ".pem") + " -CAkey " + Quote(ca + ".key") +
                    " -CAcreateserial -days 365 -extfile " + Quote(dir + "/signer.ext") + " -out " +
                    Quote(dir + "/" + file + ".pem")) &&
         RunCommand("openssl x509 -in " + Quote(dir + "/" + file + ".pem") +
                    " -outform DER | openssl base64 -A -out " + Quote(dir + "/" + file + ".b64"));
}

bool MakePki(const std::string& dir) {
  const std::string bundle = "openssl crl2pkcs7 -nocrl ";
  const std::string root = "-certfile " + Quote(dir + "/root.pem");
  return MakeCertificate(dir, "root", "Test Root") && MakeCertificate(dir, "other", "Other Root") &&
         MakeCertificate(dir, "signer", "Test Signer", "root") &&
         MakeCertificate(dir, "stranger", "Stranger Signer", "other") &&
         RunCommand(bundle + root + " -outform DER -out " + Quote(dir + "/root.p7b")) &&
         RunCommand(bundle + root + " -out " + Quote(dir + "/root-pem.p7b")) &&
         RunCommand(bundle + "-outform DER -out " + Quote(dir + "/empty.p7b"));
}

// Names the files of the PKI in `dir`.
TestPki Describe(const std::string& dir) {
  TestPki pki;
  pki.directory = dir;
  pki.rootCertificate = dir + "/root.pem";
  pki.rootBundle = dir + "/root.p7b";
  pki.rootBundlePem = dir + "/root-pem.p7b";
  pki.emptyBundle = dir + "/empty.p7b";
  for (auto [signer, file] :
       {std::pair{&pki.signer, "signer"}, std::pair{&pki.stranger, "stranger"}}) {
    *signer = {dir + "/" + file + ".pem", dir + "/" + file + ".key",
               ReadBytes(dir + "/" + file + ".b64")};
  }
  return pki;
}

// The PKI's directory. With a build tree it is kept there for every test process of the month
// (the signers are valid for a year): made beside its place and renamed into it, so that a
// process that loses the race uses the winner's. Without one it is made in the scratch folder.
std::string PkiDirectory() {
  const char* build = std::getenv("TIDESYNC_BUILD_DIR");
  std::string place;
  if (build != nullptr && *build != '\0') {
    const std::time_t now = std::time(nullptr);
    char month[16];
    std::strftime(month, sizeof(month), "%Y-%m", std::gmtime(&now));
    place = (fs::path(build) / "net-test-pki" / ("v1-" + std::string(month))).string();
    std::error_code error;
    if (fs::exists(fs::path(place) / "complete", error)) return place;
  }
  const std::string made = MakeDirectory(
      place.empty() ? fs::path(ScratchDirectory()) : fs::path(place).parent_path(), "making-");
  if (made.empty() || !MakePki(made)) return std::string();
  if (place.empty()) return made;
  WriteBytes(made + "/complete", "");
  std::error_code error;
  fs::rename(made, place, error);
  if (error) fs::remove_all(made, error);
  return place;
}

}  // namespace

bool RunCommand(const std::string& command) {
  const fs::path log = fs::path(ScratchDirectory()) / "command.log";
  const std::string redirected = "(" + command + ") >" + Quote(log.string()) + " 2>&1";
  const bool succeeded = std::system(redirected.c_str()) == 0;
  if (!succeeded) ADD_FAILURE() << "command failed: " << command << "\n" << ReadBytes(log.string());
  return succeeded;
}

const TestPki& SharedPki() {
  static const TestPki pki = [] {
    const std::string dir = PkiDirectory();
    EXPECT_FALSE(dir.empty()) << "the test PKI could not be made";
    return dir.empty() ? TestPki() : Describe(dir);
  }();
  return pki;
}

std::string OpensslSignature(const std::string& signedData, const TestSigner& signer,
                             const std::string& options) {
  const std::string& dir = ScratchDirectory();
  WriteBytes(dir + "/signed-data.bin", signedData);
  if (!RunCommand("openssl smime -sign -binary -md sha256 -in " + Quote(dir + "/signed-data.bin") +
                  " -signer " + Quote(signer.certificate) + " -inkey " + Quote(signer.key) +
                  " -outform DER " + options + " | openssl base64 -A -out " +
                  Quote(dir + "/signature.b64"))) {
    return std::string();
  }
  return ReadBytes(dir + "/signature.b64");
}

std::string SignedFileBytes(const std::vector<std::pair<std::string, std::string>>& pairs,
                            const std::string& content, const std::string& lineEnd) {
  std::string bytes = "[Credentials]" + lineEnd;
  for (const auto& [key, value] : pairs) bytes += key + "=" + value + lineEnd;
  return bytes + lineEnd + content;
}

std::string PlainSignedFile(const TestSigner& signer, const std::string& content) {
  const std::string& cert = signer.certificateBase64;
  return SignedFileBytes(
      {{"Signature", OpensslSignature("Certificate=" + cert + "\r\n" + content, signer)},
       {"Certificate", cert}},
      content);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
