// GetFile of a 1 GiB file from an nginx on loopback, side by side with `curl -o` of the same
// file: the throughput against curl's (goal: at least 0.8 of it), and how far the peak resident
// size of the process grows while the body streams to disk (goal: under 16 MiB). The served
// file is sparse, and the downloads go to a memory file system when there is one (/dev/shm), so
// that the disk's writeback does not swamp the transfers. Best of ROUNDS for each side, which
// take turns at going first. The processor time of each side (this process's, or the curl
// child's) is printed as well: on a busy machine it varies far less than the elapsed time.
//
//   http_large_download [ROUNDS]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_result.h"
#include "bench/peak_resident.h"
#include "foundation/transfer/hx_remote_object.h"
#include "net/http/http_transfer.h"
#include "net/tests/support/scratch_directory.h"
#include "tests/e2e/support/loopback_nginx.h"

namespace fs = std::filesystem;

namespace {

constexpr uintmax_t kLargeBytes = uintmax_t{1} << 30;
constexpr long kGrowthGoalKiB = 16 * 1024;
constexpr double kRatioGoal = 0.8;

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

// User and system seconds of this process and of its waited-for children.
double ProcessorSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double seconds = 1e300;    // elapsed, best so far
  double processor = 1e300;  // processor seconds, best so far
};

// One download of the large file into `target` (removed afterwards), counted into `best`;
// false when it failed or left the file incomplete.
template <typename Download>
bool TimedDownload(const std::string& target, int who, Timing& best, Download download) {
  const double processorStart = ProcessorSeconds(who);
  const auto start = std::chrono::steady_clock::now();
  const bool fetched = download();
  best.seconds = std::min(best.seconds, SecondsSince(start));
  best.processor = std::min(best.processor, ProcessorSeconds(who) - processorStart);
  const bool complete = fetched && HasLargeSize(target);
  fs::remove(target);
  return complete;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const net_test::ScratchDirectory scratchDirectory("http_large_download_");
  const std::string& scratch = scratchDirectory.Path();
  if (scratch.empty()) return 1;
  setenv("NOLT_ROOT", (scratch + "/sandbox").c_str(), 1);  // the transfer layer's state
  const std::string documents = scratch + "/www";
  fs::create_directories(documents);
  std::ofstream(documents + "/small.dat") << "warm-up";
  std::ofstream(documents + "/large.dat").close();
  fs::resize_file(documents + "/large.dat", kLargeBytes);

  e2e::LoopbackNginx server;
  if (!server.Start(documents, scratch + "/nginx")) {
    std::fprintf(stderr, "cannot serve the files from %s\n", documents.c_str());
    return 1;
  }
  RegisterHttpTransferObjects();
  // A first small transfer sets up everything a transfer needs once, so that the peak below
  // measures the streaming alone.
  if (!Fetch(server.Url("/small.dat"), scratch + "/small.dat")) return 1;

  std::error_code noMemoryFs;
  const net_test::ScratchDirectory targets(fs::is_directory("/dev/shm", noMemoryFs)
                                               ? "/dev/shm/http_large_download_"
                                               : "http_large_download_targets_");
  if (targets.Path().empty()) return 1;
  const std::string target = targets.Path() + "/large.dat";
  const std::string url = server.Url("/large.dat");
  const std::string curl = "curl -s -f -o '" + target + "' '" + url + "'";
  const long peakBefore = PeakResidentKiB();
  Timing ours, theirs;
  for (int round = 0; round < rounds; ++round) {
    for (int side = 0; side < 2; ++side) {
      const bool fetched =
          (side + round) % 2 == 0
              ? TimedDownload(target, RUSAGE_SELF, ours, [&] { return Fetch(url, target); })
              : TimedDownload(target, RUSAGE_CHILDREN, theirs,
                              [&] { return std::system(curl.c_str()) == 0; });
      if (!fetched) return 1;
    }
  }
  const long growth = PeakResidentKiB() - peakBefore;
  const double ratio = theirs.seconds / ours.seconds;

  std::printf("GetFile of 1 GiB over loopback, best of %d rounds\n", rounds);
  for (const auto& [name, timing] : {std::pair{"transfer object", ours}, {"curl -o", theirs}}) {
    std::printf("  %-16s %.2f s, %.0f MiB/s, %.2f s of processor time\n", name, timing.seconds,
                1024.0 / timing.seconds, timing.processor);
  }
  std::printf("  throughput of the transfer object: %.2f of curl's (goal >= %.2f)\n", ratio,
              kRatioGoal);
  ReportResult("http_large_download.throughput", ratio, BenchGoal::kAtLeast, kRatioGoal, "ratio");
  ReportResult("http_large_download.growth", static_cast<double>(growth), BenchGoal::kAtMost,
               kGrowthGoalKiB - 1, "KiB");
  return 0;
}
