#include "noltsync/zipcatalog/zip_extract.h"

#include <unzip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "foundation/context/context_store.h"
#include "foundation/context/directory_layout.h"
#include "foundation/files/file_operations.h"
#include "foundation/log/host_logger.h"
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

struct PlannedEntry {
  std::string relative;  // below the target; ends in '/' for a directory; empty: skipped
  uint64_t declared;     // unpacked size as the archive states it
};

// The entry's place below the target: its safe relative path, or with bare names its file name
// alone (nothing for a folder entry).
void PlaceEntry(ZipEntryPaths paths, std::string& relative) {
  if (paths == ZipEntryPaths::kKeepFolders) return;
  if (relative.back() == '/') {
    relative.clear();
  } else {
    relative.erase(0, relative.find_last_of('/') + 1);
  }
}

bool Refuse(uint32_t error) {
  platform::SetLastError(error);
  return false;
}

// Reads every entry's name and size; false, with a log line, for an unsafe name.
bool PlanEntries(unzFile archive, const std::string& base, ZipEntryPaths paths,
                 std::vector<PlannedEntry>& plan, uint64_t& total) {
  std::vector<char> name(kMaxEntryName + 1);
  std::string checkedFolder = "\n";  // no folder yet
  total = 0;
  int status = unzGoToFirstFile(archive);
  if (status == UNZ_END_OF_LIST_OF_FILE) return true;  // an empty archive
  for (; status == UNZ_OK; status = unzGoToNextFile(archive)) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive, &info, name.data(), kMaxEntryName, nullptr, 0, nullptr,
                                0) != UNZ_OK) {
      break;
    }
    const std::string_view entryName(name.data(), info.size_filename);
    PlannedEntry entry{std::string(), info.uncompressed_size};
    const bool safe = SafeEntryPath(entryName, entry.relative);
    if (safe) PlaceEntry(paths, entry.relative);
    // Entries of one folder usually follow each other: its link check is done once.
    const std::string folder = platform::DirectoryOf(entry.relative);
    if (!safe || (folder != checkedFolder && PassesThroughLink(base, entry.relative))) {
      HostLog(kLogWarning, "** Refusing archive entry [%s]: it would leave the target **\n",
              PrintableEntryName(entryName).c_str());
      return Refuse(platform::kErrorInvalidName);
    }
    checkedFolder = folder;
    total = info.uncompressed_size > UINT64_MAX - total ? UINT64_MAX : total + entry.declared;
    plan.push_back(std::move(entry));
  }
  return status == UNZ_END_OF_LIST_OF_FILE || Refuse(platform::kErrorInvalidData);
}

// Free bytes below `path`; UINT64_MAX when that cannot be told.
uint64_t FreeBytes(const std::string& path) {
  uint64_t bytes = 0;
  return platform::FreeDiskBytes(path, bytes) ? bytes : UINT64_MAX;
}

// Streams the current entry into `path`; the name appears only once the whole entry is there.
bool ExtractFile(unzFile archive, const std::string& path, const PlannedEntry& entry,
                 std::vector<char>& buffer) {
  if (unzOpenCurrentFile(archive) != UNZ_OK) return Refuse(platform::kErrorInvalidData);
  platform::ReplacingFileWriter writer;
  bool ok = writer.Open(path);
  uint64_t written = 0;
  while (ok) {
    const int got =
        unzReadCurrentFile(archive, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (got == 0) break;
    if (got < 0) return Refuse(platform::kErrorInvalidData);
    written += static_cast<uint64_t>(got);
    if (written > entry.declared) {
      HostLog(kLogWarning,
              "** Refusing archive entry [%s]: it unpacks to more than %llu bytes **\n",
              entry.relative.c_str(), static_cast<unsigned long long>(entry.declared));
      return Refuse(platform::kErrorInvalidData);
    }
    ok = writer.Write(buffer.data(), static_cast<size_t>(got));
  }
  // Closing checks the entry's CRC once all of it was read.
  if (unzCloseCurrentFile(archive) != UNZ_OK && ok) ok = Refuse(platform::kErrorInvalidData);
  return ok && writer.Commit();
}

}  // namespace

bool SafeEntryPath(std::string_view entryName, std::string& relativePath) {
  relativePath.clear();
  if (entryName.empty() || entryName.front() == '/' || entryName.front() == '\\') return false;
  if (std::any_of(entryName.begin(), entryName.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    return false;
  }
  size_t start = 0;
  bool first = true;
  while (start <= entryName.size()) {
    size_t end = entryName.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = entryName.size();
    const std::string_view component = entryName.substr(start, end - start);
    if (component == ".." || (first && IsDriveComponent(component))) return false;
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

bool PassesThroughLink(const std::string& base, const std::string& relativePath) {
  for (size_t slash = relativePath.find('/'); slash != std::string::npos;
       slash = relativePath.find('/', slash + 1)) {
    if (platform::IsSymbolicLink(base + relativePath.substr(0, slash))) return true;
  }
  return false;
}

std::string PrintableEntryName(std::string_view name) {
  std::string text;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) >= 0x20) {
      text.push_back(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
      text.append(escaped);
    }
  }
  return text;
}

uint64_t MaxUnpackBytes() {
  const HxStr text = GetValue("Sync", "MaxUnpackMB");
  char* end = nullptr;
  const unsigned long long megabytes = std::strtoull(text.c_str(), &end, 10);
  if (text.IsEmpty() || *end != '\0' || text[0] == '-' || megabytes == 0) {
    return kDefaultMaxUnpackBytes;
  }
  return megabytes > (UINT64_MAX >> 20) ? UINT64_MAX : megabytes << 20;
}

bool ExtractZipArchive(std::string_view archivePath, std::string_view targetDir,
                       ZipEntryPaths paths) {
  const std::string archivePathText(archivePath);
  OpenArchive archive(LocalPath(archivePath));
  if (archive.Get() == nullptr) return Refuse(platform::kErrorInvalidData);
  std::string base = LocalPath(targetDir);
  if (base.empty() || base.back() != '/') base.push_back('/');

  std::vector<PlannedEntry> plan;
  uint64_t total = 0;
  if (!PlanEntries(archive.Get(), base, paths, plan, total)) return false;
  const uint64_t limit = MaxUnpackBytes();
  const uint64_t freeBytes = FreeBytes(base);
  if (total > std::min(limit, freeBytes)) {
    HostLog(kLogWarning,
            "** Refusing archive [%s]: it unpacks to %llu bytes, more than the %llu allowed "
            "(MaxUnpackMB) or the %llu free below [%s] **\n",
            archivePathText.c_str(), static_cast<unsigned long long>(total),
            static_cast<unsigned long long>(limit), static_cast<unsigned long long>(freeBytes),
            base.c_str());
    return Refuse(platform::kErrorDiskFull);
  }
  if (!CreateDirectoryPath(base)) return false;

  std::vector<char> buffer(kChunkSize);
  std::string createdFolder = "\n";  // no folder yet
  size_t index = 0;
  for (int status = unzGoToFirstFile(archive.Get()); status == UNZ_OK && index < plan.size();
       status = unzGoToNextFile(archive.Get()), ++index) {
    const PlannedEntry& entry = plan[index];
    if (entry.relative.empty()) continue;
    const std::string path = base + entry.relative;
    const std::string folder = platform::DirectoryOf(entry.relative);
    const bool ok = path.back() == '/'
                        ? CreateDirectoryPath(path)
                        : (folder == createdFolder || CreateDirectoryPath(base + folder)) &&
                              ExtractFile(archive.Get(), path, entry, buffer);
    if (!ok) return false;
    createdFolder = folder;
  }
  return index == plan.size() || Refuse(platform::kErrorInvalidData);
}
