// Loading a large manifest into the updater's three tables, against bare expat with no-op
// callbacks over the same file in the same run. The manifest holds 100,000 data-set files
// (about 60 MB) and is generated in a temporary directory. Reports both throughputs, their
// ratio (goal: the median of the back-to-back rounds' ratios at least 0.5, the tables at least
// half as fast as bare expat) and the peak resident memory.
//
//   manifest_load [FILES] [ROUNDS]
#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_result.h"
#include "net/tests/support/scratch_directory.h"
#include "noltsync/manifest/nolt_manifest.h"

namespace {

namespace fs = std::filesystem;

// A manifest with a few filter scripts, a few profile files and `files` data-set files, each
// with the six properties the agent reads; written entry by entry.
bool WriteManifest(const fs::path& path, int files) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest version=\"3\">\n  <filters>\n";
  for (int i = 0; i < 20; ++i) {
    out << "    <script name=\"filter" << i << "\" group=\"g" << i % 3
        << "\" language=\"NOLT\">and|%Environment::HOME::Value%||*|/home\n"
           "or|%Application::pkg" << i << "::Version%||&gt;=|1.0</script>\n";
  }
  out << "  </filters>\n  <profile-set>\n";
  for (int i = 0; i < 10; ++i) {
    out << "    <file>\n      <property name=\"filename\">profile" << i << ".xml</property>\n"
        << "      <property name=\"source\">/profiles/profile" << i << ".xml</property>\n"
        << "    </file>\n";
  }
  out << "  </profile-set>\n  <data-set>\n";
  std::mt19937 engine(11);
  char entry[1024];
  for (int i = 0; i < files; ++i) {
    std::snprintf(
        entry, sizeof(entry),
        "    <file>\n"
        "      <property name=\"filename\">content/pack%03d/item%06d.dat</property>\n"
        "      <property name=\"source\">https://content.example.net/%%PROVIDERID%%/"
        "distribution/content-store/v2/packs/pack%03d/item%06d.dat</property>\n"
        "      <property name=\"target\">%%DirContent%%\\distribution\\content-store\\packs\\"
        "pack%03d\\item%06d.dat</property>\n"
        "      <property name=\"fchecksum\">%08x%08x%08x%08x</property>\n"
        "      <property name=\"filters\">filter%d;filter%d;shared-filter</property>\n"
        "      <property name=\"machinelevel\">%d</property>\n"
        "      <property name=\"size\">%u</property>\n"
        "      <property name=\"version\">%d.%d.%d</property>\n"
        "    </file>\n",
        i % 997, i, i % 997, i, i % 997, i, static_cast<unsigned>(engine()),
        static_cast<unsigned>(engine()), static_cast<unsigned>(engine()),
        static_cast<unsigned>(engine()), i % 20, (i + 7) % 20, i % 2,
        static_cast<unsigned>(engine() % 50000000), i % 7, i % 31, i % 1000);
    out << entry;
  }
  out << "  </data-set>\n</manifest>\n";
  return static_cast<bool>(out);
}

extern "C" {
void NoStart(void*, const XML_Char*, const XML_Char**) {}
void NoEnd(void*, const XML_Char*) {}
void NoText(void*, const XML_Char*, int) {}
}

// The file through expat in 64 KiB blocks with handlers that do nothing.
bool ParseWithExpat(const fs::path& path) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parser == nullptr) return false;
  XML_SetElementHandler(parser, NoStart, NoEnd);
  XML_SetCharacterDataHandler(parser, NoText);
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(64 * 1024);
  bool ok = static_cast<bool>(in);
  while (ok) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const std::streamsize got = in.gcount();
    const bool last = got < static_cast<std::streamsize>(block.size());
    ok = XML_Parse(parser, block.data(), static_cast<int>(got), last) == XML_STATUS_OK;
    if (last) break;
  }
  XML_ParserFree(parser);
  return ok;
}

bool LoadTables(const fs::path& path, size_t expectedFiles) {
  NoltManifest manifest;
  return manifest.LoadManifest(path.string()) && manifest.DataFiles().size() == expectedFiles &&
         manifest.Scripts().size() == 20 && manifest.ProfileFiles().size() == 10;
}

// Processor seconds (user and system) that one run of `work` takes; negative when it fails.
// Processor time, unlike wall time, does not count waiting for a core on a busy machine.
template <typename Work>
double Timed(Work work) {
  const std::clock_t start = std::clock();
  if (!work()) return -1;
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

// Keeps the fastest of the runs given to it; stays negative once a run failed.
struct Fastest {
  double seconds = 0;
  bool failed = false;
  void Add(double run) {
    if (run < 0) failed = true;
    if (seconds == 0 || run < seconds) seconds = run;
  }
  bool Ok() const { return !failed && seconds > 0; }
};

// A "Vm..." line of /proc/self/status in KiB; -1 when absent.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const net_test::ScratchDirectory directory("manifest-bench-");
  const fs::path manifest = fs::path(directory.Path()) / "manifest.xml";
  if (files <= 0 || rounds <= 0 || !WriteManifest(manifest, files)) {
    std::fprintf(stderr, "cannot write the manifest\n");
    return 1;
  }
  const double megabytes = static_cast<double>(fs::file_size(manifest)) / (1024.0 * 1024.0);
  std::printf("manifest: %d data files, %.1f MiB\n", files, megabytes);

  // The two parsers take turns so that both meet the same machine load.
  Fastest expat;
  Fastest tables;
  long expatPeak = 0;
  std::vector<double> roundRatios;  // each round's pair, run back to back
  for (int i = 0; i < rounds; ++i) {
    const double expatRun = Timed([&] { return ParseWithExpat(manifest); });
    if (i == 0) expatPeak = StatusKiB("VmHWM");
    const double tablesRun = Timed([&] { return LoadTables(manifest, static_cast<size_t>(files)); });
    expat.Add(expatRun);
    tables.Add(tablesRun);
    if (expatRun > 0 && tablesRun > 0) roundRatios.push_back(expatRun / tablesRun);
  }
  const long tablesPeak = StatusKiB("VmHWM");
  if (!expat.Ok() || !tables.Ok()) {
    std::fprintf(stderr, "a parse failed\n");
    return 1;
  }
  std::printf("bare expat, no-op callbacks   %8.3f s cpu  %8.1f MiB/s\n", expat.seconds,
              megabytes / expat.seconds);
  std::printf("LoadManifest into the tables  %8.3f s cpu  %8.1f MiB/s\n", tables.seconds,
              megabytes / tables.seconds);
  std::printf("throughput ratio (tables / expat): %.3f (goal >= 0.5)\n",
              expat.seconds / tables.seconds);
  // The machine's speed drifts between rounds; the median of the back-to-back pairs is the
  // steadier figure of the two.
  std::sort(roundRatios.begin(), roundRatios.end());
  const double medianRatio = roundRatios[roundRatios.size() / 2];
  std::printf("median ratio of the %zu back-to-back rounds: %.3f\n", roundRatios.size(),
              medianRatio);
  std::printf("peak resident (VmHWM): %.1f MiB after expat, %.1f MiB after the tables\n",
              static_cast<double>(expatPeak) / 1024.0, static_cast<double>(tablesPeak) / 1024.0);
  ReportResult("manifest_load", medianRatio, BenchGoal::kAtLeast, 0.5, "ratio");
  return 0;
}
