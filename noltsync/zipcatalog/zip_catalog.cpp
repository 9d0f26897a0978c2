#include "noltsync/zipcatalog/zip_catalog.h"

#include <charconv>
#include <string>

#include "foundation/context/directory_layout.h"
#include "foundation/files/file_operations.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/log/host_logger.h"
#include "noltsync/zipcatalog/file_md5.h"
#include "noltsync/zipcatalog/folder_tokens.h"
#include "noltsync/zipcatalog/zip_extract.h"
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

// A catalog key for an entry name: the name as the archive stores it, but for what a line
// reader would take as syntax: '%', '=', control bytes, and a leading '[' or ';' are written
// as "%XX".
HxStr CatalogKey(std::string_view name) {
  std::string key;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte == '%' || byte == '=' || byte < 0x20 || (i == 0 && (byte == '[' || byte == ';'))) {
      constexpr char kHex[] = "0123456789ABCDEF";
      key += {'%', kHex[byte >> 4], kHex[byte & 15]};
    } else {
      key.push_back(name[i]);
    }
  }
  return HxStr(key);
}

// The entry name that CatalogKey wrote as `key`.
std::string EntryName(std::string_view key) {
  std::string name;
  for (size_t i = 0; i < key.size(); ++i) {
    unsigned byte = 0;
    const char* hex = key.data() + i + 1;
    if (key[i] == '%' && i + 2 < key.size() &&
        std::from_chars(hex, hex + 2, byte, 16).ptr == hex + 2) {
      name.push_back(static_cast<char>(byte));
      i += 2;
    } else {
      name.push_back(key[i]);
    }
  }
  return name;
}

// The local path of a catalogued entry below `directory`; false, with a log line, when the
// name would lead out of it.
bool EntryPath(std::string_view directory, std::string_view name, std::string& path) {
  std::string base = LocalPath(directory);
  if (!base.empty() && base.back() != '/') base.push_back('/');
  std::string relative;
  if (!SafeEntryPath(name, relative) || PassesThroughLink(base, relative)) {
    HostLog(kLogWarning, "** Catalog entry [%s] leads outside [%s]; skipped **\n",
            PrintableEntryName(name).c_str(), base.c_str());
    return false;
  }
  path = base + relative;
  return true;
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
    std::string path;
    if (EntryPath(prefix, name, path)) entries.Put(HxStr(name), FileMd5(path));
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
    HxKVList& keys = catalog.AddSection(kMd5Section);
    for (const auto& [name, md5] : entries) keys.Put(CatalogKey(name), md5);
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
  for (const auto& [key, md5] : *files) {
    // Directory entries compare "0" with "0".
    std::string path;
    if (!EntryPath(directory, EntryName(key), path) ||
        std::string_view(FileMd5(path)) != std::string_view(md5)) {
      return false;
    }
  }
  return true;
}

bool RestoreFromZipCatalog(std::string_view catalogPath, std::string_view sourceDir) {
  const HxKVListMap catalog = LoadCatalog(catalogPath);
  const HxKVList* files = catalog.GetSection(kMd5Section);
  if (files == nullptr) return false;
  const HxStr destination = Destination(catalog);
  bool restored = false;
  for (const auto& [key, md5] : *files) {
    const std::string name = EntryName(key);
    std::string target;
    std::string source;
    if (!EntryPath(destination, name, target) || !EntryPath(sourceDir, name, source)) continue;
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
      std::string path;
      if (!EntryPath(destination, EntryName(entry->first), path)) continue;
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
