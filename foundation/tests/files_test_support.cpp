#include "files_test_support.h"

#include <filesystem>
#include <fstream>

#include "build_tree_files.h"
#include "foundation/files/file_operations.h"
#include "platform/locations.h"

FilesTest::FilesTest()
    : dir_(sandbox_.Root() + "/work"),
      deleteDeferral_(SetDeleteDeferral(false)),
      replaceDeferral_(SetReplaceDeferral(false)),
      restartPending_(SetRestartPending(false)) {
  std::filesystem::create_directories(dir_);
}

FilesTest::~FilesTest() {
  SetDeleteDeferral(deleteDeferral_);
  SetReplaceDeferral(replaceDeferral_);
  SetRestartPending(restartPending_);
}

void FilesTest::Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string FilesTest::Read(const std::string& path) { return ReadFile(path); }

bool FilesTest::Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

std::string FilesTest::PendingList() { return Read(platform::PendingOperationsPath()); }
