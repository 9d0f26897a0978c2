// One GetFile of a 1 GiB file from an nginx on loopback: the throughput, and how far the peak
// resident size of the process grows while the body streams to disk (goal: under 16 MiB). The
// served file is sparse, so only the download itself writes its bytes. `curl -o` of the same
// file gives the throughput of the machine's disk and loopback for reference.
//
//   http_large_download
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/loopback_nginx.h"
#include "foundation/transfer/hx_remote_object.h"
#include "net/tests/support/scratch_directory.h"
#include "net/http/http_transfer.h"

namespace fs = std::filesystem;

namespace {

constexpr uintmax_t kLargeBytes = uintmax_t{1} << 30;
constexpr long kGrowthGoalKiB = 16 * 1024;

bool HasLargeSize(const std::string& path) {
  std::error_code error;
  const bool complete = fs::file_size(path, error) == kLargeBytes && !error;
  if (!complete) std::fprintf(stderr, "%s has the wrong size\n", path.c_str());
  return complete;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Fetch(const std::string& url, const std::string& target) {
  HxRemoteObjectPtr object = CreateRemoteObject(url);
  if (object != nullptr && object->GetFile(HxStr(target))) return true;
  std::fprintf(stderr, "GetFile %s failed with HTTP return code %d\n", url.c_str(),
               object ? object->GetStatus() : 0);
  return false;
}

}  // namespace

int main() {
  const net_test::ScratchDirectory scratchDirectory("http_large_download_");
  const std::string& scratch = scratchDirectory.Path();
  if (scratch.empty()) return 1;
  setenv("NOLT_ROOT", (scratch + "/sandbox").c_str(), 1);  // the transfer layer's state
  const std::string documents = scratch + "/www";
  fs::create_directories(documents);
  std::ofstream(documents + "/small.dat") << "warm-up";
  std::ofstream(documents + "/large.dat").close();
  fs::resize_file(documents + "/large.dat", kLargeBytes);

  LoopbackNginx server;
  if (!server.Start(documents, scratch + "/nginx", "/small.dat")) {
    std::fprintf(stderr, "cannot serve the files from %s\n", documents.c_str());
    return 1;
  }
  RegisterHttpTransferObjects();
  // A first small transfer sets up everything a transfer needs once, so that the peak below
  // measures the streaming alone.
  if (!Fetch(server.Url("/small.dat"), scratch + "/small.dat")) return 1;

  const std::string target = scratch + "/large.dat";
  const long peakBefore = PeakResidentKiB();
  auto start = std::chrono::steady_clock::now();
  if (!Fetch(server.Url("/large.dat"), target)) return 1;
  const double seconds = SecondsSince(start);
  const long growth = PeakResidentKiB() - peakBefore;
  if (!HasLargeSize(target)) return 1;
  fs::remove(target);

  const std::string curl = "curl -s -f -o '" + target + "' '" + server.Url("/large.dat") + "'";
  start = std::chrono::steady_clock::now();
  if (std::system(curl.c_str()) != 0 || !HasLargeSize(target)) return 1;
  const double curlSeconds = SecondsSince(start);
  fs::remove(target);

  std::printf("one GetFile of 1 GiB over loopback\n");
  std::printf("  transfer object: %.2f s, %.0f MiB/s\n", seconds, 1024.0 / seconds);
  std::printf("  curl -o:         %.2f s, %.0f MiB/s\n", curlSeconds, 1024.0 / curlSeconds);
  std::printf("  peak resident growth %ld KiB (goal < %ld KiB): %s\n", growth, kGrowthGoalKiB,
              growth < kGrowthGoalKiB ? "met" : "MISSED");
  return 0;
}
