#include "manifest_pack.h"

#include <minizip/zip.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "platform/files.h"
#include "platform/timefmt.h"
#include "replacing_file.h"

namespace noltpub {

namespace {

namespace fs = std::filesystem;

// The entry's date: the file's last write, in local time as zip keeps it.
zip_fileinfo EntryInfo(const std::string& path) {
  zip_fileinfo info{};
  uint64_t written = 0;
  uint64_t local = 0;
  platform::CalendarTime time;
  if (platform::GetLastWriteTime(path, written) && platform::FileTimeToLocal(written, local) &&
      platform::FileTimeToCalendar(local, time) && time.year >= 1980) {
    info.tmz_date.tm_year = time.year;
    info.tmz_date.tm_mon = time.month - 1u;
    info.tmz_date.tm_mday = time.day;
    info.tmz_date.tm_hour = time.hour;
    info.tmz_date.tm_min = time.minute;
    info.tmz_date.tm_sec = time.second;
  } else {
    info.tmz_date.tm_year = 1980;
    info.tmz_date.tm_mday = 1;
  }
  return info;
}

// Streams one file into a new deflated entry.
bool AddEntry(zipFile archive, const std::string& path, const std::string& name) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return false;
  uint64_t size = 0;
  platform::GetFileSize(path, size);
  const zip_fileinfo info = EntryInfo(path);
  bool written = zipOpenNewFileInZip64(archive, name.c_str(), &info, nullptr, 0, nullptr, 0,
                                       nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION,
                                       size >= 0xFFFFFFFFULL ? 1 : 0) == ZIP_OK;
  char block[64 * 1024];
  while (written) {
    const size_t got = std::fread(block, 1, sizeof(block), in);
    if (got == 0) break;
    written = zipWriteInFileInZip(archive, block, static_cast<unsigned>(got)) == ZIP_OK;
  }
  written = written && std::ferror(in) == 0;
  std::fclose(in);
  return zipCloseFileInZip(archive) == ZIP_OK && written;
}

}  // namespace

bool PackFiles(const std::string& output, const std::vector<std::string>& files,
               std::string& error) {
  std::set<std::string> names;
  for (const std::string& file : files) {
    const std::string name = fs::path(file).filename().string();
    if (!names.insert(name).second) {
      error = "two files are named " + name;
      return false;
    }
  }
  ReplacingFile target(output);
  if (!target.Create()) {
    error = "cannot write " + output;
    return false;
  }
  zipFile archive = zipOpen64(target.TempPath().c_str(), APPEND_STATUS_CREATE);
  if (archive == nullptr) {
    error = "cannot write " + output;
    return false;
  }
  for (const std::string& file : files) {
    if (!AddEntry(archive, file, fs::path(file).filename().string())) {
      error = "cannot pack " + file;
      break;
    }
  }
  if (zipClose(archive, nullptr) != ZIP_OK && error.empty()) error = "cannot write " + output;
  using fs::perms;
  if (error.empty() && !target.Commit(perms::owner_read | perms::owner_write | perms::group_read |
                                      perms::others_read)) {
    error = "cannot write " + output;
  }
  return error.empty();
}

}  // namespace noltpub
