#include "foundation/transfer/transfer_temp.h"

#include <atomic>
#include <string>

#include "platform/files.h"

namespace {
std::atomic<TempDirectorySource> g_source{nullptr};
}

void SetTempDirectorySource(TempDirectorySource source) { g_source.store(source); }

HxStr TransferTempDirectory() {
  if (const TempDirectorySource source = g_source.load()) {
    HxStr directory = source();
    directory.Replace('\\', '/');
    if (!directory.IsEmpty()) {
      if (directory[directory.GetLength() - 1] != '/') directory += '/';
      return directory;
    }
  }
  return HxStr(platform::TempDirectory());
}

bool CreateTransferTempFile(const char* prefix, HxStr& path) {
  std::string created;
  if (!platform::CreateTempFile(std::string(TransferTempDirectory()), prefix, created))
    return false;
  path = created;
  return true;
}

ScopedTempFile::~ScopedTempFile() {
  if (!m_path.IsEmpty()) platform::DeleteFile(std::string(m_path));
}
