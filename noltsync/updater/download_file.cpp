// One transfer of the updater, in the plain, if-newer or HEAD way, with its log lines.
#include "noltsync/updater/download_file.h"

#include <string>

#include "foundation/context/directory_layout.h"
#include "foundation/files/file_operations.h"
#include "foundation/log/host_logger.h"
#include "foundation/strings/url_escape.h"
#include "foundation/transfer/hx_remote_object.h"
#include "noltsync/updater/nolt_updater.h"
#include "platform/file_system.h"
#include "platform/files.h"

namespace {

// Below this much free space a download that got its 200 warns (kilobytes).
constexpr uint64_t kLowDiskKilobytes = 4096;
constexpr int kHttpOk = 200;

// Kilobytes free on the target's file system; as good as unlimited when that cannot be told.
uint64_t FreeKilobytes(const HxStr& target) {
  uint64_t bytes = 0;
  return platform::FreeDiskBytes(platform::DirectoryOf(LocalPath(target)), bytes) ? bytes / 1024
                                                                                  : UINT64_MAX;
}

}  // namespace

HxStr DownloadLocation(const HxStr& source, const HxStr& query) {
  std::string location{std::string_view(source)};
  if (!query.IsEmpty()) location += "?" + std::string{std::string_view(query)};
  const size_t question = location.find('?');
  for (size_t i = 0; i < location.size() && i < question; ++i) {
    if (location[i] == '\\') location[i] = '/';
  }
  if (question != std::string::npos) {
    location = location.substr(0, question + 1) + EscapeUrlText(location.substr(question + 1));
  }
  return HxStr(location);
}

int NoltUpdater::DownloadFile(const HxStr& source, const HxStr& target, const HxStr& query,
                              int mode) {
  HostLog(kLogDetail, "Source: %s, Target: %s, QueryString: %s\n", source.c_str(), target.c_str(),
          query.c_str());
  const HxStr location = DownloadLocation(source, query);
  HxRemoteObjectPtr object = CreateRemoteObject(location);
  if (object == nullptr) {
    HostLog(kLogDetail, "Bad update src: %s\n", location.c_str());
    return updater_status::kBadUpdateSource;
  }
  if (!target.IsEmpty()) CreateDirectoryPath(platform::DirectoryOf(LocalPath(target)));

  bool done = false;
  bool current = false;  // the target already matched the server's copy
  if (mode == download_mode::kIfNewer) {
    const int result = object->GetFileIfNewer(target);
    done = result != 0;
    current = result == 2;
    HostLog(kLogInfo, "GetFileIfNewer: [%s] -> [%s], HTTP return code: %d\n", location.c_str(),
            target.c_str(), object->GetStatus());
  } else if (mode == download_mode::kHead) {
    done = object->Exists();
    HostLog(kLogInfo, "HEAD request: [%s], HTTP return code: %d\n", location.c_str(),
            object->GetStatus());
  } else {
    done = object->GetFile(target);
    HostLog(kLogInfo, "GetFile: [%s] -> [%s], HTTP return code: %d\n", location.c_str(),
            target.c_str(), object->GetStatus());
  }

  if (!done) {
    const int status = object->GetStatus();
    HostLog(kLogInfo, "DownloadFile fails [%s] -> [%s]. HTTP return code: %d\n", location.c_str(),
            target.c_str(), status);
    const uint64_t freeKilobytes = FreeKilobytes(target);
    if (status == kHttpOk && freeKilobytes < kLowDiskKilobytes) {
      HostLog(kLogWarning, "Low Disk Space Warning! Disk space remaining: %d...\n",
              static_cast<int>(freeKilobytes));
    }
    return updater_status::kDownloadFailed;
  }
  if (mode != download_mode::kHead && !current) m_contextReloadNeeded = true;
  return updater_status::kSuccess;
}
