#include "noltsync/zipcatalog/zip_catalog.h"

#include <string>

#include "foundation/context/directory_layout.h"
#include "foundation/files/file_operations.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/log/host_logger.h"
#include "noltsync/zipcatalog/file_md5.h"
#include "noltsync/zipcatalog/folder_tokens.h"
#include "platform/file_system.h"
#include "platform/files.h"

namespace {

constexpr const char* kInfoSection = "Info";
constexpr const char* kMd5Section = "MD5";
constexpr const char* kIdKey = "Id";
constexpr const char* kDestDirKey = "DestDir";
constexpr size_t kMaxDestDir = 260;
constexpr size_t kEntryNameBuffer = 261;

const char* Outcome(bool ok) { return ok ? "OK" : "FAIL"; }

std::string Joined(std::string_view directory, std::string_view name) {
  return std::string(directory) + std::string(name);
}

// The catalog's sections; a missing or unreadable catalog gives none.
HxKVListMap LoadCatalog(std::string_view catalogPath) {
  HxKVListMap catalog;
  if (!catalog.Load(catalogPath)) catalog.clear();
  return catalog;
}

HxStr InfoValue(const HxKVListMap& catalog, std::string_view key) {
  HxStr value;
  if (const HxKVList* info = catalog.GetSection(kInfoSection)) info->Get(key, value);
  return value;
}

HxStr Destination(const HxKVListMap& catalog) {
  return FromFolderTokens(InfoValue(catalog, kDestDirKey));
}

}  // namespace

bool ListZipEntries(unzFile archive, std::string_view prefix, HxKVList& entries) {
  unz_global_info64 global{};
  int status = unzGetGlobalInfo64(archive, &global);
  if (status != UNZ_OK) {
    HostLog(kLogError, "Error %d with zipfile in unzGetGlobalInfo \n", status);
  }
  if (global.number_entry > 0) unzGoToFirstFile(archive);
  for (ZPOS64_T index = 0; index < global.number_entry; ++index) {
    char name[kEntryNameBuffer] = {};
    unz_file_info64 info{};
    status = unzGetCurrentFileInfo64(archive, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
    if (status != UNZ_OK) {
      HostLog(kLogError, "Error %d with zipfile in unzGetCurrentFileInfo\n", status);
      break;
    }
    entries.Put(HxStr(name), FileMd5(Joined(prefix, name)));
    if (index + 1 < global.number_entry) {
      status = unzGoToNextFile(archive);
      if (status != UNZ_OK) {
        HostLog(kLogError, "Error %d with zipfile in unzGoToNextFile\n", status);
        break;
      }
    }
  }
  return true;
}

bool CreateZipCatalog(std::string_view catalogPath, std::string_view archivePath,
                      std::string_view destDir, std::string_view id) {
  HxKVListMap catalog;
  HxKVList& info = catalog.AddSection(kInfoSection);
  info.Put(kIdKey, HxStr(id));
  std::string tokens(std::string_view(ToFolderTokens(destDir)));
  if (tokens.size() > kMaxDestDir) tokens.resize(kMaxDestDir);
  info.Put(kDestDirKey, HxStr(tokens));
  if (!archivePath.empty()) {
    // Reading errors end the listing; the catalog is written with what was listed.
    unzFile archive = unzOpen64(LocalPath(archivePath).c_str());
    HxKVList entries;
    ListZipEntries(archive, destDir, entries);
    if (archive != nullptr) unzClose(archive);
    catalog.AddSection(kMd5Section) = entries;
  }
  const std::string path(catalogPath);
  HostLog(kLogDetail, "Creating zip catalog: %s\n", path.c_str());
  return catalog.Save(catalogPath);
}

bool CheckZipCatalog(std::string_view catalogPath, std::string_view id, std::string_view baseDir) {
  const HxKVListMap catalog = LoadCatalog(catalogPath);
  if (std::string_view(InfoValue(catalog, kIdKey)) != id) return false;
  const HxKVList* files = catalog.GetSection(kMd5Section);
  if (files == nullptr) return false;
  const HxStr directory = baseDir.empty() ? Destination(catalog) : HxStr(baseDir);
  for (const auto& [name, md5] : *files) {
    // Directory entries compare "0" with "0".
    if (std::string_view(FileMd5(Joined(directory, name))) != std::string_view(md5)) return false;
  }
  return true;
}

bool RestoreFromZipCatalog(std::string_view catalogPath, std::string_view sourceDir) {
  const HxKVListMap catalog = LoadCatalog(catalogPath);
  const HxKVList* files = catalog.GetSection(kMd5Section);
  if (files == nullptr) return false;
  const HxStr destination = Destination(catalog);
  bool restored = false;
  for (const auto& [name, md5] : *files) {
    const std::string target = LocalPath(Joined(destination, name));
    const std::string source = LocalPath(Joined(sourceDir, name));
    if (platform::IsDirectory(source)) {
      const bool ok = CreateDirectoryPath(target);
      HostLog(kLogDetail, "Creating directory [%s]: %s\n", name.c_str(), Outcome(ok));
      restored |= ok;
    } else if (platform::PathExists(source)) {
      const bool ok = CopyFileEx(source, target, 0);
      HostLog(kLogDetail, "Coping file [%s]: %s\n", name.c_str(), Outcome(ok));
      restored |= ok;
    }
  }
  return restored;
}

void RemoveZipCatalog(std::string_view catalogPath) {
  // Only catalog removal defers deletions of files in use to the next restart.
  const bool previous = SetDeleteDeferral(true);
  const HxKVListMap catalog = LoadCatalog(catalogPath);
  if (const HxKVList* files = catalog.GetSection(kMd5Section)) {
    const HxStr destination = Destination(catalog);
    // Backwards, so that files and subdirectories go before the directories holding them.
    for (auto entry = files->rbegin(); entry != files->rend(); ++entry) {
      const std::string path = LocalPath(Joined(destination, entry->first));
      if (platform::IsDirectory(path)) {
        const bool ok = platform::RemoveDirectory(path);
        HostLog(kLogDetail, "Removing directory [%s]: %s\n", path.c_str(), Outcome(ok));
      } else if (platform::PathExists(path)) {
        const bool ok = DeleteFileEx(path);
        HostLog(kLogDetail, "Removing file [%s]: %s\n", path.c_str(), Outcome(ok));
      }
    }
  }
  const std::string catalogFile(catalogPath);
  const bool ok = DeleteFileEx(LocalPath(catalogFile));
  HostLog(kLogDetail, "Removing file [%s]: %s\n", catalogFile.c_str(), Outcome(ok));
  SetDeleteDeferral(previous);
}
