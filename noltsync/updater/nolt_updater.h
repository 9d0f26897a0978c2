// The download half of the sync engine: fetches the provider's manifest and the content files
// that apply to this machine and user, either in one call (the direct flow) or as background
// transfer jobs spread over several turns of the sync loop (the BITS flow).
#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

#include "foundation/strings/hx_str.h"
#include "noltsync/engine/nolt_sync_base.h"
#include "noltsync/manifest/nolt_manifest.h"

class HxKVList;
struct ManifestFileEntry;      // one file entry of the parsed manifest
struct ManifestFilterScripts;  // the manifest's filter definitions and scripts
using ManifestFileEntries = std::vector<ManifestFileEntry>;
// Selected entries keyed by file name; iterated in key order.
using SelectedFileMap = std::map<HxStr, ManifestFileEntry>;
// The parsed manifest that one update (or one job completion) works from.
using ManifestParser = NoltManifest;

// How DownloadFile transfers.
namespace download_mode {
inline constexpr int kPlain = 0;    // GET into the target
inline constexpr int kIfNewer = 1;  // GET only when the server's copy differs from the target
inline constexpr int kHead = 2;     // HEAD: the server learns of the query; nothing is stored
}  // namespace download_mode

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

  // The manifest step of the direct flow: fetches server root + "data\manifest.zip" into the
  // content directory (only when newer while a local "manifest.xml" exists) and processes it.
  // 1 without a server root, 3 or 4 when the transfer fails, else ProcessDownloadedManifest's.
  int DownloadManifest(ManifestParser& parser);
  // Unpacks the local "manifest.zip" into a private temporary directory (9), verifies the
  // signature, sequence and expiry of its "manifest.xml" (11), puts it without its credentials
  // header in place of the local "manifest.xml" (12) and parses that (8). Whatever fails, the
  // temporary directory is removed and a refused manifest leaves the local one as it was.
  int ProcessDownloadedManifest(ManifestParser& parser);
  // The file's signature against the trusted roots (the built-in bundle and "pki_cacert.p7b" in
  // a "Credentials" folder), then its signed "Sequence" and "Expires" (manifest_freshness.h).
  bool VerifyManifestSignature(const HxStr& path);
  // Copies `source` after its credentials header over `destination` (through a temporary file);
  // the source is deleted once copied. 12, with a level-8 line, when the source cannot be read,
  // has no header end (it is then deleted) or the destination cannot be written.
  int ReplaceManifest(const HxStr& source, const HxStr& destination);
  // Moves `file` past the first empty line (two line feeds with nothing but carriage returns
  // between them) or, when `byteOrderMark` says the file starts with EF BB BF, past that mark
  // alone; the empty line must exist all the same. False, position undefined, without it.
  static bool SeekEndOfCredentials(std::FILE* file, bool byteOrderMark);
  // "macid=..&ip=..&pkey=..&u=..&nb=..&ver=.." after macro translation; in privacy mode the
  // address, user and computer name are placeholders sent as they stand.
  HxStr BuildManifestQuery();
  // Loads the manifest at `path` into `parser`: 8 when either is missing or the load fails.
  int ParseManifest(const HxStr& path, ManifestParser* parser);
  // One transfer from `source` (a URL or path, backslashes allowed; `query`, when given, is
  // appended after "?" and escaped) to `target` in one of the download_mode ways. 0 on
  // success (setting the context-reload flag unless nothing new arrived), 3 when the source
  // has no transfer object, 4 when the transfer fails.
  int DownloadFile(const HxStr& source, const HxStr& target, const HxStr& query, int mode);
  // The profile section's and the applicable content files (not built yet: both return 0).
  int DownloadProfile(ManifestParser& parser);
  int DownloadApplicableFiles(ManifestParser& parser);

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
  // The user name that the manifest query sends in privacy mode.
  virtual const char* PrivateUserPlaceholder() const;
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
