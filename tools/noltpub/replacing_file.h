// A file written under a temporary name beside its target and renamed over the target once it
// is complete, so that the target is always either the old file or the whole new one.
#pragma once
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>

class ReplacingFile {
 public:
  explicit ReplacingFile(std::string target);
  // Deletes the temporary file unless it was committed.
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the temporary file (mode 0600); false when the target's directory refuses it.
  bool Create();
  const std::string& TempPath() const { return m_temp; }

  // Opens the temporary file for writing (after Create) and writes to it.
  bool OpenStream();
  bool Write(const void* bytes, size_t size);
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }

  // Closes the stream, gives the file its permissions and renames it over the target.
  bool Commit(std::filesystem::perms permissions);

 private:
  std::string m_target;
  std::string m_temp;
  std::FILE* m_stream = nullptr;
  bool m_committed = false;
};
