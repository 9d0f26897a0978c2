// The upload half of the sync engine: takes the upload request queue once per upload cycle and
// sends the allowed requests to the server.
#pragma once
#include <cstdint>

#include "foundation/strings/hx_str.h"
#include "noltsync/engine/nolt_sync_base.h"

// Result codes of the uploader (0 is success or nothing to do).
namespace uploader_status {
inline constexpr int kSuccess = 0;
inline constexpr int kNoServer = 1;
inline constexpr int kQueueUnavailable = 14;
inline constexpr int kFileLocksFailed = 15;
inline constexpr int kTrimFailed = 16;
inline constexpr int kHttpUploadFailed = 17;
inline constexpr int kMissingSourceOrTarget = 18;
inline constexpr int kBitsRefusedFile = 26;
}  // namespace uploader_status

class NoltUploader : public NoltSyncBase {
 public:
  // `systemUser` selects the system-user placeholder in privacy mode.
  NoltUploader(const HxStr& providerId, const HxStr& server, bool systemUser);
  ~NoltUploader() override;

  // Slot 8: one upload cycle; returns a result code.
  virtual int RunUpload();
  // The sync loop's BITS upload event: sees the recorded upload job through.
  void HandleBitsUploadJob();

  // "NOLT_TIDESYNC_UPLOAD_INPROGRESS_<PROVIDER ID>".
  const HxStr& InProgressMutexName() const { return m_inProgressMutexName; }
  bool SystemUser() const { return m_systemUser; }
  // Uploads go to a background job when a transfer tool is held too.
  bool UseBits() const { return m_useBits; }
  // Seconds an upload job may go without progress.
  uint32_t BitsNoProgressTimeout() const { return m_bitsNoProgressTimeout; }

 protected:
  // Reads "NoltSync:BitsUploadEnabled" (absent or non-zero: on) and, when on, the no-progress
  // timeout.
  void InitBits();
  // The queue file in the directory of "DirUserServer"; empty when the directory is unknown.
  HxStr QueuePath();

  uint32_t m_bitsNoProgressTimeout = 86400;
  HxStr m_inProgressMutexName;
  bool m_systemUser = false;
  bool m_useBits = false;
  bool m_forceHttp = false;
  HxStr m_workingQueuePath;
};
