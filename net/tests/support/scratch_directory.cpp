#include "scratch_directory.h"

#include <filesystem>
#include <random>
#include <system_error>

namespace net_test {

ScratchDirectory::ScratchDirectory(const std::string& prefix) {
  namespace fs = std::filesystem;
  std::random_device random;
  std::error_code error;
  const fs::path parent = fs::temp_directory_path(error);
  for (int attempt = 0; attempt < 100 && !error; ++attempt) {
    const fs::path candidate = parent / (prefix + std::to_string(random()));
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace net_test
