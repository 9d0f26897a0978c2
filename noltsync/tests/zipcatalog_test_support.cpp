#include "zipcatalog_test_support.h"

#include <zip.h>

#include <filesystem>
#include <fstream>

#include "build_tree_files.h"
#include "foundation/files/file_operations.h"

namespace fs = std::filesystem;

ZipCatalogTest::ZipCatalogTest()
    : dir_(sandbox_.Root() + "/work"), deleteDeferral_(SetDeleteDeferral(false)) {
  fs::create_directories(dir_);
}

ZipCatalogTest::~ZipCatalogTest() { SetDeleteDeferral(deleteDeferral_); }

void ZipCatalogTest::MakeZip(const std::string& path, const ZipEntries& entries, bool stored) {
  fs::create_directories(fs::path(path).parent_path());
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zip, nullptr);
  for (const auto& [name, content] : entries) {
    zip_fileinfo info{};
    ASSERT_EQ(zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                    stored ? 0 : Z_DEFLATED, stored ? 0 : 6, 0),
              ZIP_OK);
    if (!content.empty()) {
      ASSERT_EQ(zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())),
                ZIP_OK);
    }
    ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
  }
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

void ZipCatalogTest::Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string ZipCatalogTest::Read(const std::string& path) { return ReadFile(path); }

bool ZipCatalogTest::Exists(const std::string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

std::vector<std::string> ZipCatalogTest::TemporaryFiles(const std::string& directory) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(directory, error)) {
    if (entry.path().filename().string().rfind("_hx", 0) == 0) found.push_back(entry.path());
  }
  return found;
}

std::vector<std::string> ZipCatalogTest::DetailLines() const {
  std::vector<std::string> lines;
  for (const LoggedLine& line : log_.Lines()) {
    if (line.level == 1) lines.push_back(line.text);
  }
  return lines;
}
