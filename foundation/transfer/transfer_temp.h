// The temporary directory that transfer objects and key-value files use for their "_hx" files.
// The process context supplies it once it is loaded; until then the platform's is used.
#pragma once
#include <utility>

#include "foundation/strings/hx_str.h"

// A function that yields the temporary directory (ending in '/'); null restores the default.
using TempDirectorySource = HxStr (*)();
void SetTempDirectorySource(TempDirectorySource source);

// The temporary directory, ending in '/'.
HxStr TransferTempDirectory();

// Creates a new empty file named prefix + unique characters in the temporary directory.
bool CreateTransferTempFile(const char* prefix, HxStr& path);

// A temporary file that is deleted when the object goes out of scope, unless released.
class ScopedTempFile {
 public:
  ScopedTempFile() = default;
  ScopedTempFile(const ScopedTempFile&) = delete;
  ScopedTempFile& operator=(const ScopedTempFile&) = delete;
  ~ScopedTempFile();

  // Creates the file in the temporary directory (CreateTransferTempFile).
  bool Create(const char* prefix) { return CreateTransferTempFile(prefix, m_path); }
  const HxStr& Path() const { return m_path; }
  // Hands the file over to the caller, who deletes it.
  HxStr Release() { return std::move(m_path); }

 private:
  HxStr m_path;
};
