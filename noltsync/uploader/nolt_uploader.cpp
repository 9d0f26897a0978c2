#include "noltsync/uploader/nolt_uploader.h"

#include <cstdio>

#include "foundation/context/directory_layout.h"
#include "foundation/log/host_logger.h"
#include "foundation/registry/provider_store.h"
#include "noltsync/updater/bits_settings.h"
#include "platform/files.h"

namespace {

constexpr size_t kMutexNameBuffer = 260;  // 259 characters and the terminator
constexpr const char* kQueueFileName = "uploadrequest.que";

HxStr InProgressMutexNameFor(const HxStr& providerId) {
  HxStr upper = providerId;
  upper.MakeUpper();
  char name[kMutexNameBuffer];
  std::snprintf(name, sizeof name, "%s_%s", "NOLT_TIDESYNC_UPLOAD_INPROGRESS", upper.c_str());
  return HxStr(name);
}

}  // namespace

NoltUploader::NoltUploader(const HxStr& providerId, const HxStr& server, bool systemUser)
    : NoltSyncBase(providerId, server),
      m_inProgressMutexName(InProgressMutexNameFor(providerId)),
      m_systemUser(systemUser) {}

NoltUploader::~NoltUploader() = default;

HxStr NoltUploader::QueuePath() {
  HxStr directory;
  if (!LookupDirectory("Dna Agent", "DirUserServer", m_server, directory)) return HxStr();
  return DirectoryPath(directory) + kQueueFileName;
}

int NoltUploader::RunUpload() {
  if (m_server.IsEmpty()) return uploader_status::kNoServer;
  const HxStr queue = QueuePath();
  if (queue.IsEmpty() || !platform::PathExists(LocalPath(queue))) {
    HostLog(kLogDetail, "Upload queue [%s] does not exist.\n", queue.c_str());
    return uploader_status::kSuccess;
  }
  // Taking over and processing the queue are not built yet: a queued request stays queued.
  return uploader_status::kSuccess;
}

void NoltUploader::HandleBitsUploadJob() {
  // Upload jobs exist only with a transfer tool (HasBits), which is not built yet.
}

void NoltUploader::InitBits() {
  uint32_t enabled = 1;
  if (provider_store::ReadDword(nullptr, "NoltSync:BitsUploadEnabled", enabled, true) != 0) {
    enabled = 1;  // absent means on
  }
  m_useBits = enabled != 0;
  if (m_useBits) {
    // The transfer tool and its version check are not built yet, so no tool is held and
    // uploads go by HTTP; the timeout is read as for a tool that is online.
    m_bitsNoProgressTimeout = bits_settings::NoProgressTimeoutSeconds();
  }
}
