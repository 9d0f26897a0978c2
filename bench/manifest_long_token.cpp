// A manifest whose one attribute is 8 or 50 MB long. The agent's LoadManifest refuses both (the
// manifest's piece limit); the XML tree without a limit parses both. Either must take time
// linear in the size: the parser scans an unfinished token again with every block it is given,
// so small blocks make such a file quadratic. Goals: each 50 MB case under one second, and the
// unlimited parse of 50 MB no more than 1.5 times slower per byte than that of 8 MB; and the
// refusals, which come first, read little of the file: the process peaks under 32 MiB.
//
//   manifest_long_token [ROUNDS]
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_result.h"
#include "net/tests/support/scratch_directory.h"
#include "noltsync/manifest/nolt_manifest.h"
#include "xml/tu_xml_tree.h"

namespace {

namespace fs = std::filesystem;

// A manifest with one script whose "group" attribute holds `megabytes` million letters.
bool WriteManifest(const fs::path& path, int megabytes) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\"?>\n<manifest>\n  <filters>\n    <script name=\"a\" group=\"";
  const std::string chunk(1000 * 1000, 'g');
  for (int i = 0; i < megabytes; ++i) out << chunk;
  out << "\">and|%A::?::B%||=|1</script>\n  </filters>\n</manifest>\n";
  return static_cast<bool>(out);
}

// The fastest of `rounds` runs in processor seconds; negative when a run's outcome is wrong.
template <typename Work>
double Fastest(int rounds, Work work) {
  double best = -1;
  for (int i = 0; i < rounds; ++i) {
    const std::clock_t start = std::clock();
    if (!work()) return -1;
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const net_test::ScratchDirectory directory("long-token-bench-");
  double refused[2] = {};
  double parsed[2] = {};
  const int sizes[2] = {8, 50};
  fs::path paths[2];
  for (int i = 0; i < 2; ++i) {
    paths[i] = fs::path(directory.Path()) / ("m" + std::to_string(sizes[i]) + ".xml");
    if (!WriteManifest(paths[i], sizes[i])) {
      std::fprintf(stderr, "cannot write %s\n", paths[i].c_str());
      return 1;
    }
    refused[i] = Fastest(rounds, [&] { return !NoltManifest().LoadManifest(paths[i].string()); });
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double refusedPeakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  for (int i = 0; i < 2; ++i) {
    const fs::path& path = paths[i];
    parsed[i] = Fastest(rounds, [&] {
      TuXMLTree tree;
      return tree.LoadFile(path.string(), true, false) &&
             tree.FindNode("manifest/filters/script").GetAttributeValue("group").GetLength() ==
                 sizes[i] * 1000 * 1000;
    });
    if (refused[i] < 0 || parsed[i] < 0) {
      std::fprintf(stderr, "%d MB: the manifest was %s\n", sizes[i],
                   refused[i] < 0 ? "not refused" : "not parsed whole");
      return 1;
    }
    std::printf(
        "%2d MB attribute: LoadManifest refuses it in %.3f s cpu, "
        "the tree without a limit parses it in %.3f s cpu\n",
        sizes[i], refused[i], parsed[i]);
  }
  std::printf("peak resident after the refusals: %.1f MiB\n", refusedPeakMiB);
  ReportResult("manifest_long_token.refused_50mb", refused[1], BenchGoal::kAtMost, 1, "s");
  ReportResult("manifest_long_token.refused_peak", refusedPeakMiB, BenchGoal::kAtMost, 32, "MiB");
  ReportResult("manifest_long_token.parsed_50mb", parsed[1], BenchGoal::kAtMost, 1, "s");
  // Seconds per byte at 50 MB over those at 8 MB: 1 is linear, 6.25 quadratic.
  ReportResult("manifest_long_token.growth", (parsed[1] / 50) / (parsed[0] / 8), BenchGoal::kAtMost,
               1.5, "ratio");
  return 0;
}
