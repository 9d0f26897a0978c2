// The download half of the sync engine: fetches the provider's manifest and the content files
// that apply to this machine and user, either in one call (the direct flow) or as background
// transfer jobs spread over several turns of the sync loop (the BITS flow).
#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "foundation/strings/hx_str.h"
#include "noltsync/engine/nolt_sync_base.h"

class HxKVList;
struct ManifestFileEntry;      // one file entry of the parsed manifest
struct ManifestFilterScripts;  // the manifest's filter definitions and scripts
using ManifestFileEntries = std::vector<ManifestFileEntry>;
// Selected entries keyed by file name; iterated in key order.
using SelectedFileMap = std::map<HxStr, ManifestFileEntry>;

// Status codes of the updater (0 is success).
namespace updater_status {
inline constexpr int kSuccess = 0;
inline constexpr int kNoServerRoot = 1;
inline constexpr int kBadUpdateSource = 3;
inline constexpr int kDownloadFailed = 4;
inline constexpr int kMd5Mismatch = 6;
inline constexpr int kManifestParseFailed = 8;
inline constexpr int kManifestUnzipFailed = 9;
inline constexpr int kFilterScriptsFailed = 10;
inline constexpr int kSignatureFailed = 11;
inline constexpr int kManifestCopyFailed = 12;
inline constexpr int kZipCatalogFailed = 13;
inline constexpr int kBitsAddRequestFailed = 20;
inline constexpr int kBitsJobStartFailed = 21;
inline constexpr int kBitsJobCompleteFailed = 22;
inline constexpr int kBitsJobReduced = 23;
inline constexpr int kBitsRequestFailed = 24;
inline constexpr int kBitsIfModifiedSinceFailed = 25;
inline constexpr int kBitsManifestJobFailed = 26;
inline constexpr int kManifestJobDone = 27;
inline constexpr int kContentJobPending = 28;
inline constexpr int kFinishedOverdue = 29;
}  // namespace updater_status

// Stages that GetBitsDownloadState reports.
namespace bits_stage {
inline constexpr int kNoJob = 0;
inline constexpr int kUnlisted = 1;
inline constexpr int kInProgress = 2;
inline constexpr int kFinished = 3;
}  // namespace bits_stage

class NoltUpdater : public NoltSyncBase {
 public:
  // Builds on the base, derives the manifest URL and the local directories, and reads the
  // per-user "NoltSync:BitsEnabled" and "NoltSync:BitsNoProgTimeout".
  NoltUpdater(const HxStr& providerId, const HxStr& server);
  ~NoltUpdater() override;

  // Slot 8: server root + "data\manifest.zip".
  virtual HxStr GetManifestUrl() const;
  // Slot 9: runs DoUpdate through the virtual table; stores the download count when asked.
  virtual int Update(int* downloadCount);
  // Slot 10: the stage of the recorded download job; the outputs may be null.
  virtual int GetBitsDownloadState(HxStr* jobId, HxStr* state, HxStr* count);
  // Slot 11: completes a finished (or, with finishNow, an overdue) job.
  virtual int CompleteBitsJob(int* requestCount, int* requestsDone, bool finishNow);
  // Slot 12: one update in the direct flow, or the start of a manifest job.
  virtual int DoUpdate();
  // Slot 13: content changed on disk, so the process context should be reloaded.
  virtual bool IsContextReloadNeeded() const;
  // Slot 14: the content entries that apply here, into `selected`. `forPrune` is set when the
  // selection feeds a prune on the prune event.
  virtual int SelectApplicableFiles(const ManifestFileEntries& entries, HxKVList& scriptContext,
                                    SelectedFileMap& selected, bool forPrune,
                                    const ManifestFilterScripts& filters);
  // Slot 15: removes content that the selection no longer lists.
  virtual int pruneData(SelectedFileMap& selected);
  // Slot 16: evaluates the filter scripts into the script context.
  virtual int RunFilterScripts(const ManifestFilterScripts& scripts, HxKVList& scriptContext);

  // After a failed first stage: logs the recorded job's error.
  void ReportBitsJobFailure();
  // The sync loop's prune event: evaluates the filters again on the local manifest and prunes.
  void PruneOnEvent();
  // At loop start: signals the prune event when the host's mask asks for a prune.
  void RequestPruneIfNeeded();

  // Seconds a transfer job may go without progress.
  uint32_t BitsNoProgressTimeout() const { return m_bitsNoProgressTimeout; }
  const HxStr& ContentDirectory() const { return m_contentDirectory; }
  const HxStr& ZipCatalogDirectory() const { return m_zipCatalogDirectory; }

 protected:
  // "<common application data>Strovane\<provider id>\_default\" when that directory exists;
  // otherwise logs the warning and yields false with an empty directory.
  bool GetDefaultProfileDir(HxStr& directory) const;
  // Takes and releases the read/write guard for writing, with the two log lines.
  void AcquireReadWriteGuard();
  void ReleaseReadWriteGuard();

  HxStr m_manifestUrl;
  HxStr m_contentDirectory;
  HxStr m_zipCatalogDirectory;
  HxStr m_defaultProfileDirectory;
  HxStr m_defaultCatalogDirectory;
  bool m_contextReloadNeeded = false;
  int m_downloadCount = 0;
  uint32_t m_bitsNoProgressTimeout = 86400;
};
