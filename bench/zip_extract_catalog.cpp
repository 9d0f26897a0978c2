// Unpacking an archive of 1,000 files of 64 KiB and cataloguing it (the MD5 of every file), as
// the updater does after downloading a zip, against `unzip -q` followed by `md5sum` over the
// unpacked files. Both write to fresh directories on the same file system; the archive is made
// once with deflate in a temporary sandbox.
//
//   zip_extract_catalog [ROUNDS]
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_result.h"
#include "noltsync/zipcatalog/zip_catalog.h"
#include "noltsync/zipcatalog/zip_extract.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 1000;
constexpr size_t kFileBytes = 64 * 1024;
constexpr int kFolders = 10;

// Content that compresses about as well as ordinary data files: words from a small vocabulary
// mixed with numbers.
std::string FileContent(int index) {
  static const char* const kWords[] = {"alpha ", "profile ", "content ", "sync ", "data\n",
                                       "value=", "0x1f ",    "entry ",   "zone ", "mark "};
  std::string text;
  text.reserve(kFileBytes);
  uint32_t state = 2166136261u ^ static_cast<uint32_t>(index);
  while (text.size() < kFileBytes) {
    state = state * 1664525u + 1013904223u;
    text += kWords[(state >> 24) % 10];
    text += std::to_string(state % 100000);
  }
  text.resize(kFileBytes);
  return text;
}

std::string EntryName(int index) {
  return "d" + std::to_string(index % kFolders) + "/f" + std::to_string(index) + ".dat";
}

bool MakeArchive(const std::string& path) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  bool ok = true;
  for (int i = 0; i < kFiles && ok; ++i) {
    const std::string content = FileContent(i);
    zip_fileinfo info{};
    ok =
        zipOpenNewFileInZip64(zip, EntryName(i).c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, 6, 0) == ZIP_OK &&
        zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())) == ZIP_OK &&
        zipCloseFileInZip(zip) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

double Median(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// Times one run of `work` in milliseconds, from a fresh scratch directory.
template <typename Work>
double TimedMs(const std::string& scratch, Work work) {
  fs::remove_all(scratch);
  const auto start = std::chrono::steady_clock::now();
  if (!work()) {
    std::fprintf(stderr, "a round failed\n");
    std::exit(1);
  }
  const auto end = std::chrono::steady_clock::now();
  fs::remove_all(scratch);
  return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path root = fs::temp_directory_path() / ("zip_bench_" + std::to_string(stamp));
  fs::create_directories(root);
  setenv("NOLT_ROOT", root.c_str(), 1);  // the catalog's folder tokens read a sandboxed registry
  const std::string archive = (root / "pack.zip").string();
  if (!MakeArchive(archive)) {
    std::fprintf(stderr, "cannot make the archive\n");
    return 1;
  }
  const std::string ours = (root / "ours").string() + "/";
  const std::string theirs = (root / "theirs").string();
  const std::string catalog = (root / "pack.zcat").string();

  const std::string command = "unzip -q '" + archive + "' -d '" + theirs + "' && cd '" + theirs +
                              "' && md5sum */* > /dev/null";
  // The rounds alternate so that both sides meet the same load of the machine.
  std::vector<double> oursMs, extractMs, theirsMs;
  for (int round = 0; round < rounds; ++round) {
    double extractOnly = 0;
    oursMs.push_back(TimedMs(ours, [&] {
      const auto start = std::chrono::steady_clock::now();
      const bool extracted = ExtractZipArchive(archive, ours);
      extractOnly =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      return extracted && CreateZipCatalog(catalog, archive, ours, "id");
    }));
    extractMs.push_back(extractOnly);
    theirsMs.push_back(TimedMs(theirs, [&] { return std::system(command.c_str()) == 0; }));
  }

  std::printf("unpacking and cataloguing %d files of %zu KiB, median of %d rounds\n", kFiles,
              kFileBytes / 1024, rounds);
  std::printf("%-36s %9.1f ms (extraction alone %.1f ms)\n", "ExtractZipArchive + CreateZipCatalog",
              Median(oursMs), Median(extractMs));
  std::printf("%-36s %9.1f ms\n", "unzip -q + md5sum", Median(theirsMs));
  ReportResult("zip_extract_catalog", Median(oursMs) / Median(theirsMs),
               BenchGoal::kAtMost, 1.25, "ratio");
  fs::remove_all(root);
  return 0;
}
