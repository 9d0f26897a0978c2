#include "noltsync/zipcatalog/zip_extract.h"

#include <unzip.h>

#include <vector>

#include "foundation/context/directory_layout.h"
#include "foundation/files/file_operations.h"
#include "foundation/log/hx_trace.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/files.h"

namespace {

constexpr size_t kChunkSize = 256 * 1024;
constexpr size_t kMaxEntryName = 65535;  // the format's own limit

bool IsDriveComponent(std::string_view component) {
  return component.size() >= 2 && component[1] == ':' &&
         ((component[0] >= 'A' && component[0] <= 'Z') ||
          (component[0] >= 'a' && component[0] <= 'z'));
}

// True when a folder between the target and the entry's file is a link that could lead out of
// the target (made by someone else: extraction never creates links).
bool PassesThroughLink(const std::string& base, const std::string& relative) {
  for (size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    if (platform::IsSymbolicLink(base + relative.substr(0, slash))) return true;
  }
  return false;
}

// Closes the archive however the extraction ends.
class OpenArchive {
 public:
  explicit OpenArchive(const std::string& path) : handle_(unzOpen64(path.c_str())) {}
  ~OpenArchive() {
    if (handle_ != nullptr) unzClose(handle_);
  }
  OpenArchive(const OpenArchive&) = delete;
  OpenArchive& operator=(const OpenArchive&) = delete;
  unzFile Get() const { return handle_; }

 private:
  unzFile handle_;
};

// Streams the current entry into `path`; the name appears only once the whole entry is there.
bool ExtractFile(unzFile archive, const std::string& path, std::vector<char>& buffer) {
  if (unzOpenCurrentFile(archive) != UNZ_OK) {
    platform::SetLastError(platform::kErrorInvalidData);
    return false;
  }
  platform::ReplacingFileWriter writer;
  bool ok = writer.Open(path);
  while (ok) {
    const int got =
        unzReadCurrentFile(archive, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (got == 0) break;
    if (got < 0) {
      platform::SetLastError(platform::kErrorInvalidData);
      ok = false;
    } else {
      ok = writer.Write(buffer.data(), static_cast<size_t>(got));
    }
  }
  // Closing checks the entry's CRC once all of it was read.
  if (unzCloseCurrentFile(archive) != UNZ_OK && ok) {
    platform::SetLastError(platform::kErrorInvalidData);
    ok = false;
  }
  return ok && writer.Commit();
}

}  // namespace

bool SafeEntryPath(std::string_view entryName, std::string& relativePath) {
  relativePath.clear();
  if (entryName.empty() || entryName.front() == '/' || entryName.front() == '\\') return false;
  size_t start = 0;
  bool first = true;
  while (start <= entryName.size()) {
    size_t end = entryName.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = entryName.size();
    const std::string_view component = entryName.substr(start, end - start);
    if (component == ".." || (first && IsDriveComponent(component))) return false;
    if (component.find('\0') != std::string_view::npos) return false;
    if (!component.empty() && component != ".") {
      if (!relativePath.empty()) relativePath.push_back('/');
      relativePath.append(component);
    }
    first = false;
    if (end == entryName.size()) break;
    start = end + 1;
  }
  const char last = entryName.back();
  if ((last == '/' || last == '\\') && !relativePath.empty()) relativePath.push_back('/');
  return !relativePath.empty();
}

bool ExtractZipArchive(std::string_view archivePath, std::string_view targetDir) {
  OpenArchive archive(LocalPath(archivePath));
  if (archive.Get() == nullptr) {
    platform::SetLastError(platform::kErrorInvalidData);
    return false;
  }
  std::string base = LocalPath(targetDir);
  if (base.empty() || base.back() != '/') base.push_back('/');
  if (!CreateDirectoryPath(base)) return false;

  std::vector<char> buffer(kChunkSize);
  std::vector<char> name(kMaxEntryName + 1);
  std::string checkedFolder = "\n";  // no folder yet
  int status = unzGoToFirstFile(archive.Get());
  if (status == UNZ_END_OF_LIST_OF_FILE) return true;  // an empty archive
  for (; status == UNZ_OK; status = unzGoToNextFile(archive.Get())) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive.Get(), &info, name.data(), kMaxEntryName, nullptr, 0,
                                nullptr, 0) != UNZ_OK) {
      break;
    }
    const std::string_view entryName(name.data(), info.size_filename);
    std::string relative;
    const bool safe = SafeEntryPath(entryName, relative);
    const std::string folder = platform::DirectoryOf(relative);
    if (!safe || (folder != checkedFolder && PassesThroughLink(base, relative))) {
      HxTrace::Instance().TraceL1(kTraceFiles, "Refusing archive entry [%.*s]",
                                  static_cast<int>(entryName.size()), entryName.data());
      platform::SetLastError(platform::kErrorInvalidName);
      return false;
    }
    const std::string path = base + relative;
    // Entries of one folder usually follow each other: its checks and creation are done once.
    const bool ok = path.back() == '/'
                        ? CreateDirectoryPath(path)
                        : (folder == checkedFolder || CreateDirectoryPath(base + folder)) &&
                              ExtractFile(archive.Get(), path, buffer);
    if (!ok) return false;
    checkedFolder = folder;
  }
  if (status != UNZ_END_OF_LIST_OF_FILE) {
    platform::SetLastError(platform::kErrorInvalidData);
    return false;
  }
  return true;
}
