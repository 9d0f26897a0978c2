#include "foundation/files/private_temp_directory.h"

#include <random>

#include "foundation/context/directory_layout.h"
#include "foundation/files/file_operations.h"
#include "platform/errors.h"
#include "platform/file_system.h"

namespace {
constexpr int kNumberRange = 32768;
}  // namespace

PrivateTempDirectory::~PrivateTempDirectory() { Remove(); }

bool PrivateTempDirectory::Create(std::string_view root, std::string_view stem, uint32_t seed) {
  Remove();
  const HxStr base = DirectoryPath(root);
  CreateDirectoryPath(LocalPath(base));
  std::minstd_rand numbers(seed);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    const int number = static_cast<int>(numbers() % kNumberRange);
    m_path.Format("%s%.*s_%d\\", base.c_str(), static_cast<int>(stem.size()), stem.data(), number);
    if (platform::CreatePrivateDirectory(LocalPath(m_path))) {
      m_created = true;
      return true;
    }
    // Only a name that is taken is worth another try.
    if (platform::LastError() != platform::kErrorAlreadyExists) return false;
  }
  return false;
}

bool PrivateTempDirectory::Remove() {
  if (!m_created) return true;
  m_created = !RemoveDirectoryTree(LocalPath(m_path), true, true);
  return !m_created;
}
