// Fetching 1,000 files of 64 KiB from an nginx on loopback, as the updater fetches content
// files: one transfer object per file, one after another, each GetFile into a target directory.
// Set against `curl -K CONFIG`, which fetches the same URLs into files from one process over one
// kept-alive connection. Best of ROUNDS for each side; every file's size is checked.
//
//   http_many_files [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_result.h"
#include "foundation/transfer/hx_remote_object.h"
#include "net/tests/support/scratch_directory.h"
#include "net/http/http_transfer.h"
#include "tests/e2e/support/loopback_nginx.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 1000;
constexpr uintmax_t kFileBytes = 64 * 1024;

std::string FileName(int index) { return "/f" + std::to_string(index) + ".dat"; }

bool MakeDocuments(const std::string& root) {
  fs::create_directories(root);
  std::string content(kFileBytes, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
  for (int i = 0; i < kFiles; ++i) {
    std::ofstream out(root + FileName(i), std::ios::binary);
    if (!out.write(content.data(), static_cast<std::streamsize>(content.size()))) return false;
  }
  return true;
}

bool AllFilesComplete(const std::string& directory) {
  for (int i = 0; i < kFiles; ++i) {
    std::error_code error;
    if (fs::file_size(directory + FileName(i), error) != kFileBytes || error) {
      std::fprintf(stderr, "%s%s is missing or has the wrong size\n", directory.c_str(),
                   FileName(i).c_str());
      return false;
    }
  }
  return true;
}

bool FetchWithTransferObjects(const e2e::LoopbackNginx& server, const std::string& target) {
  for (int i = 0; i < kFiles; ++i) {
    HxRemoteObjectPtr object = CreateRemoteObject(server.Url(FileName(i)));
    if (object == nullptr || !object->GetFile(HxStr(target + FileName(i)))) {
      std::fprintf(stderr, "GetFile %s failed with HTTP return code %d\n",
                   server.Url(FileName(i)).c_str(), object ? object->GetStatus() : 0);
      return false;
    }
  }
  return true;
}

bool WriteCurlConfig(const e2e::LoopbackNginx& server, const std::string& target,
                     const std::string& path) {
  std::ofstream out(path);
  for (int i = 0; i < kFiles; ++i) {
    out << "url = \"" << server.Url(FileName(i)) << "\"\n"
        << "output = \"" << target << FileName(i) << "\"\n";
  }
  return static_cast<bool>(out.flush());
}

// Milliseconds of one round into a new target directory, or a negative number when the round
// failed or left a file incomplete. The files stay until the end, so that no round pays for
// the previous round's deletions.
template <typename Fetch>
double TimedRound(const std::string& target, Fetch fetch) {
  fs::create_directories(target);
  const auto start = std::chrono::steady_clock::now();
  const bool fetched = fetch();
  const auto end = std::chrono::steady_clock::now();
  const bool complete = fetched && AllFilesComplete(target);
  return complete ? std::chrono::duration<double, std::milli>(end - start).count() : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const net_test::ScratchDirectory scratchDirectory("http_many_files_");
  const std::string& scratch = scratchDirectory.Path();
  if (scratch.empty()) return 1;
  setenv("NOLT_ROOT", (scratch + "/sandbox").c_str(), 1);  // the transfer layer's state
  const std::string documents = scratch + "/www";
  e2e::LoopbackNginx server;
  if (!MakeDocuments(documents) || !server.Start(documents, scratch + "/nginx")) {
    std::fprintf(stderr, "cannot serve the files from %s\n", documents.c_str());
    return 1;
  }
  RegisterHttpTransferObjects();

  double ours = 1e300, theirs = 1e300;
  for (int round = 0; round < rounds; ++round) {
    const std::string oursTarget = scratch + "/ours" + std::to_string(round);
    const std::string curlTarget = scratch + "/curl" + std::to_string(round);
    const std::string config = curlTarget + ".cfg";
    const std::string curl = "curl -s -f -K '" + config + "'";
    if (!WriteCurlConfig(server, curlTarget, config)) return 1;
    // Creating files right after other files were made or deleted costs more on some file
    // systems, so the sides take turns at going first.
    double oursMs = 0, theirsMs = 0;
    for (int side = 0; side < 2; ++side) {
      if ((side + round) % 2 == 0) {
        oursMs = TimedRound(oursTarget, [&] { return FetchWithTransferObjects(server, oursTarget); });
      } else {
        theirsMs = TimedRound(curlTarget, [&] { return std::system(curl.c_str()) == 0; });
      }
    }
    if (oursMs < 0 || theirsMs < 0) return 1;
    ours = std::min(ours, oursMs);
    theirs = std::min(theirs, theirsMs);
  }
  const double ratio = ours / theirs;
  std::printf("fetching %d files of %ju KiB over loopback, best of %d rounds\n", kFiles,
              kFileBytes / 1024, rounds);
  std::printf("  transfer objects, one per file: %8.1f ms\n", ours);
  std::printf("  curl -K, one process:           %8.1f ms\n", theirs);
  ReportResult("http_many_files", ratio, BenchGoal::kAtMost, 1.3, "ratio");
  return 0;
}
