// Verifying a signed 1 MiB manifest in process, as the updater does after each download:
// header parse, digest of the streamed content, signature and chain check. The certificates and
// the signed files are made with noltpub's own code in a temporary directory. For comparison the
// same signature is checked with `openssl smime -verify` on the command line, which also pays
// for starting a process.
//
//   verify_signed_manifest [ITERATIONS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_result.h"
#include "net/tests/support/scratch_directory.h"
#include "certificate_authority.h"
#include "file_signer.h"
#include "net/signing/certificate_store.h"
#include "net/signing/signed_file.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kManifestBytes = 1 << 20;

struct Timing {
  double median = 0;
  double p90 = 0;
  double min = 0;
};

template <typename Work>
Timing Measure(int iterations, Work work) {
  std::vector<double> ms;
  for (int i = 0; i < iterations; ++i) {
    const auto start = Clock::now();
    if (!work()) return Timing{-1, -1, -1};
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return Timing{ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.front()};
}

// A manifest-like XML text of exactly kManifestBytes.
void WriteManifest(const fs::path& path) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest version=\"3\">\n";
  std::mt19937 engine(7);
  const auto random = [&engine] { return static_cast<unsigned>(engine()); };
  for (int i = 0; text.size() < kManifestBytes; ++i) {
    char line[200];
    std::snprintf(line, sizeof(line),
                  "  <file id=\"%06d\" name=\"content/pack%03d/item%06d.dat\" size=\"%u\" "
                  "md5=\"%08x%08x%08x%08x\"/>\n",
                  i, i % 997, i, random() % 100000, random(), random(), random(), random());
    text += line;
  }
  text.resize(kManifestBytes - 12);
  text += "\n</manifest>";
  std::ofstream(path, std::ios::binary) << text;
}

void Report(const char* what, const Timing& timing) {
  std::printf("%-40s median %.3f ms, p90 %.3f ms, min %.3f ms\n", what, timing.median, timing.p90,
              timing.min);
}

}  // namespace

int main(int argc, char** argv) {
  const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const net_test::ScratchDirectory dir("verify-bench-");
  const std::string ca = (fs::path(dir.Path()) / "ca").string();
  std::string error;
  if (!noltpub::InitCertificateAuthority(ca, "Bench Publisher", error)) {
    std::fprintf(stderr, "ca init: %s\n", error.c_str());
    return 1;
  }
  const fs::path manifest = fs::path(dir.Path()) / "manifest.xml";
  WriteManifest(manifest);
  X509_STORE* store = CreateStore();
  if (!AddFileCertificates(store, ca + "/pki_cacert.p7b")) return 1;

  std::printf("verifying a signed %zu KiB manifest in process, %d runs (target: median < 3 ms)\n",
              kManifestBytes / 1024, iterations);
  const struct {
    const char* name;
    const char* result;  // the name of its result line
    noltpub::SignOptions options;
  } kinds[] = {{"plain", "verify_signed_manifest.plain", {false, false}},
               {"Content-Length", "verify_signed_manifest.length", {false, true}},
               {"Ignore-Whitespace + Content-Length", "verify_signed_manifest.whitespace",
                {true, true}}};
  int status = 0;
  for (const auto& kind : kinds) {
    const std::string signedPath = (fs::path(dir.Path()) / "signed.xml").string();
    if (!noltpub::SignFile(ca + "/signing.pem", ca + "/signing.key", kind.options,
                           manifest.string(), signedPath, error)) {
      std::fprintf(stderr, "sign: %s\n", error.c_str());
      return 1;
    }
    const Timing timing =
        Measure(iterations, [&] { return VerifySignedFile(signedPath, store, 0); });
    if (timing.median < 0) {
      std::fprintf(stderr, "%s: the signed manifest did not verify\n", kind.name);
      status = 1;
      continue;
    }
    Report(kind.name, timing);
    ReportResult(kind.result, timing.median, BenchGoal::kAtMost, 3, "ms");
  }
  FreeStore(store);
  return status;
}
