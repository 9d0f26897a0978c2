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
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = parent / (prefix + std::to_string(random()));
    std::error_code error;
    if (fs::create_directories(candidate, error)) return candidate.string();
  }
  return std::string();
}

// Removes the directory when the process ends.
struct DirectoryRemover {
  std::string path;
  ~DirectoryRemover() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

// This process's scratch directory, removed at exit.
const std::string& ScratchDirectory() {
  static DirectoryRemover remover{MakeDirectory(fs::temp_directory_path(), "tidesync-pki-")};
  return remover.path;
}

// Where the PKI is kept: in the build tree for every test process of the month (the signers are
// valid for a year), else in the scratch directory. Empty when it must be made.
std::string CachedPkiDirectory(std::string& publishAs) {
  const char* build = std::getenv("TIDESYNC_BUILD_DIR");
  if (build == nullptr || *build == '\0') return std::string();
  const std::time_t now = std::time(nullptr);
  char month[16];
  std::strftime(month, sizeof(month), "%Y-%m", std::gmtime(&now));
  publishAs = (fs::path(build) / "net-test-pki" / ("v1-" + std::string(month))).string();
  std::error_code error;
  return fs::exists(fs::path(publishAs) / "complete", error) ? publishAs : std::string();
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

const char* kCurve = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

// A self-signed CA named `name` with its key: dir/<file>.pem, dir/<file>.key.
bool MakeRoot(const std::string& dir, const std::string& file, const std::string& name) {
  return RunCommand("openssl req -x509 " + std::string(kCurve) + " -keyout " +
                    Quote(dir + "/" + file + ".key") + " -out " + Quote(dir + "/" + file + ".pem") +
                    " -days 3650 -subj " + Quote("/CN=" + name) +
                    " -addext basicConstraints=critical,CA:TRUE"
                    " -addext keyUsage=critical,keyCertSign,cRLSign");
}

// A signing certificate for `name`, issued by the CA dir/<issuer>.pem, valid 365 days:
// dir/<file>.pem, .key and .b64 (the certificate's DER as one line of Base64).
bool MakeSigner(const std::string& dir, const std::string& file, const std::string& name,
                const std::string& issuer) {
  const std::string base = dir + "/" + file;
  std::ofstream(dir + "/signer.ext") << "basicConstraints=CA:FALSE\n"
                                        "keyUsage=critical,digitalSignature\n";
  return RunCommand("openssl req " + std::string(kCurve) + " -keyout " + Quote(base + ".key") +
                    " -out " + Quote(base + ".csr") + " -subj " + Quote("/CN=" + name)) &&
         RunCommand("openssl x509 -req -in " + Quote(base + ".csr") + " -CA " +
                    Quote(dir + "/" + issuer + ".pem") + " -CAkey " +
                    Quote(dir + "/" + issuer + ".key") + " -CAcreateserial -days 365 -extfile " +
                    Quote(dir + "/signer.ext") + " -out " + Quote(base + ".pem")) &&
         RunCommand("openssl x509 -in " + Quote(base + ".pem") +
                    " -outform DER | openssl base64 -A -out " + Quote(base + ".b64"));
}

bool MakePki(const std::string& dir) {
  const std::string root = Quote(dir + "/root.pem");
  return MakeRoot(dir, "root", "Test Root") && MakeRoot(dir, "other", "Other Root") &&
         MakeSigner(dir, "signer", "Test Signer", "root") &&
         MakeSigner(dir, "stranger", "Stranger Signer", "other") &&
         RunCommand("openssl crl2pkcs7 -nocrl -certfile " + root + " -outform DER -out " +
                    Quote(dir + "/root.p7b")) &&
         RunCommand("openssl crl2pkcs7 -nocrl -certfile " + root + " -out " +
                    Quote(dir + "/root-pem.p7b")) &&
         RunCommand("openssl crl2pkcs7 -nocrl -outform DER -out " + Quote(dir + "/empty.p7b"));
}

// Names the files of a PKI in `directory`.
void Describe(const std::string& directory, TestPki& pki) {
  pki.directory = directory;
  pki.rootCertificate = directory + "/root.pem";
  pki.rootBundle = directory + "/root.p7b";
  pki.rootBundlePem = directory + "/root-pem.p7b";
  pki.emptyBundle = directory + "/empty.p7b";
  for (auto [signer, file] :
       {std::pair{&pki.signer, "signer"}, std::pair{&pki.stranger, "stranger"}}) {
    signer->certificate = directory + "/" + file + ".pem";
    signer->key = directory + "/" + file + ".key";
    signer->certificateBase64 = ReadBytes(directory + "/" + file + ".b64");
  }
}

// Makes a PKI and, when a cache place is given, publishes it there by renaming its directory;
// a process that loses the race uses the winner's.
bool MakeAndPublish(const std::string& publishAs, TestPki& pki) {
  const fs::path parent =
      publishAs.empty() ? fs::path(ScratchDirectory()) : fs::path(publishAs).parent_path();
  const std::string made = MakeDirectory(parent, "making-");
  if (made.empty() || !MakePki(made)) return false;
  WriteBytes(made + "/complete", "");
  std::error_code error;
  if (publishAs.empty()) {
    Describe(made, pki);
  } else {
    fs::rename(made, publishAs, error);
    if (error) fs::remove_all(made, error);
    Describe(publishAs, pki);
  }
  return true;
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
  static TestPki pki;
  static bool ready = false;
  if (!ready) {
    std::string publishAs;
    const std::string cached = CachedPkiDirectory(publishAs);
    if (!cached.empty()) {
      Describe(cached, pki);
      ready = true;
    } else {
      ready = MakeAndPublish(publishAs, pki);
    }
    EXPECT_TRUE(ready) << "the test PKI could not be made";
  }
  return pki;
}

std::string OpensslSignature(const std::string& signedData, const TestSigner& signer,
                             const std::string& options) {
  const std::string& dir = ScratchDirectory();
  const std::string data = dir + "/signed-data.bin";
  WriteBytes(data, signedData);
  if (!RunCommand("openssl smime -sign -binary -md sha256 -in " + Quote(data) + " -signer " +
                  Quote(signer.certificate) + " -inkey " + Quote(signer.key) + " -outform DER " +
                  options + " | openssl base64 -A -out " + Quote(dir + "/signature.b64"))) {
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

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
