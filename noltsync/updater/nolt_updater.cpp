#include "noltsync/updater/nolt_updater.h"

#include <cstdio>

#include "foundation/context/directory_layout.h"
#include "foundation/context/system_folders.h"
#include "foundation/log/host_logger.h"
#include "foundation/registry/provider_store.h"
#include "noltsync/engine/sync_locks.h"
#include "noltsync/updater/bits_settings.h"
#include "platform/files.h"
#include "platform/sync.h"

namespace {

constexpr size_t kMaskBuffer = 261;  // "PruneOfflineMask": 260 characters and the terminator
constexpr size_t kEventNameBuffer = 260;

HxStr TranslatedDirectory(NoltUpdater& updater, const char* macro) {
  HxStr directory(macro);
  updater.TranslateMacros(nullptr, directory);
  return directory;
}

}  // namespace

NoltUpdater::NoltUpdater(const HxStr& providerId, const HxStr& server)
    : NoltSyncBase(providerId, server) {
  m_manifestUrl = m_server + "data\\manifest.zip";
  m_contentDirectory = TranslatedDirectory(*this, "%DirContent%");
  m_zipCatalogDirectory = TranslatedDirectory(*this, "%DirZCatalog%");
  m_contextReloadNeeded = false;
  if (GetDefaultProfileDir(m_defaultProfileDirectory)) {
    m_defaultCatalogDirectory = m_defaultProfileDirectory + "state\\zcat\\";
  }
  if (bits_settings::BitsEnabled()) {
    // The transfer tool and its version check are not built yet, so no tool is held and the
    // object stays in the direct flow; its timeout is read as for a tool that is online.
    m_bitsNoProgressTimeout = bits_settings::NoProgressTimeoutSeconds();
  }
}

NoltUpdater::~NoltUpdater() = default;

bool NoltUpdater::GetDefaultProfileDir(HxStr& directory) const {
  directory.Format("%sStrovane\\%s\\_default\\", GetSystemFolder(kFolderCommonAppData).c_str(),
                   m_providerId.c_str());
  if (platform::IsDirectory(LocalPath(directory))) return true;
  HostLog(kLogWarning, "Can't locate _default profile directory, skipping profile copy.\n");
  directory = "";
  return false;
}

HxStr NoltUpdater::GetManifestUrl() const { return m_manifestUrl; }

int NoltUpdater::Update(int* downloadCount) {
  const int status = DoUpdate();
  if (downloadCount != nullptr) *downloadCount = m_downloadCount;
  return status;
}

int NoltUpdater::GetBitsDownloadState(HxStr* /*jobId*/, HxStr* state, HxStr* /*count*/) {
  // Without a transfer tool no job is recorded; the persisted job state is not built yet.
  if (state != nullptr) *state = "N/A";
  return bits_stage::kNoJob;
}

int NoltUpdater::CompleteBitsJob(int* requestCount, int* requestsDone, bool /*finishNow*/) {
  // Without a transfer tool there is no job to complete; the job layer is not built yet.
  if (requestCount != nullptr) *requestCount = 0;
  if (requestsDone != nullptr) *requestsDone = 0;
  return updater_status::kSuccess;
}

int NoltUpdater::DoUpdate() {
  RefreshIpCache();
  AcquireReadWriteGuard();
  m_downloadCount = 0;
  ManifestParser parser;
  // Without a transfer tool the manifest always comes by the direct flow.
  int status = DownloadManifest(parser);
  if (status == updater_status::kSuccess) {
    HostLog(kLogDetail, "DownloadProfile(mParser)\n");
    status = DownloadProfile(parser);
  }
  if (status == updater_status::kSuccess) {
    HostLog(kLogDetail, "DownloadApplicableFiles(mParser)\n");
    status = DownloadApplicableFiles(parser);
  }
  ReleaseReadWriteGuard();
  return status;
}

int NoltUpdater::DownloadProfile(ManifestParser& /*parser*/) {
  // Not built yet: the profile section's files are not fetched.
  return updater_status::kSuccess;
}

int NoltUpdater::DownloadApplicableFiles(ManifestParser& /*parser*/) {
  // Not built yet: filter scripts, selection, content files and pruning do not run.
  return updater_status::kSuccess;
}

const char* NoltUpdater::PrivateUserPlaceholder() const { return "{private_user_name}"; }

bool NoltUpdater::IsContextReloadNeeded() const { return m_contextReloadNeeded; }

int NoltUpdater::SelectApplicableFiles(const ManifestFileEntries& /*entries*/,
                                       HxKVList& /*scriptContext*/, SelectedFileMap& /*selected*/,
                                       bool /*forPrune*/, const ManifestFilterScripts& /*filters*/) {
  // The filter rule over manifest entries is not built yet: nothing is selected.
  return updater_status::kSuccess;
}

int NoltUpdater::pruneData(SelectedFileMap& /*selected*/) {
  // The zip catalog walk is not built yet: nothing is removed.
  return updater_status::kSuccess;
}

int NoltUpdater::RunFilterScripts(const ManifestFilterScripts& /*scripts*/,
                                  HxKVList& /*scriptContext*/) {
  // No script host exists yet, which counts as a host that cannot be created.
  return updater_status::kFilterScriptsFailed;
}

void NoltUpdater::ReportBitsJobFailure() {
  // Without a transfer tool no job is recorded, so there is no job error to report.
}

void NoltUpdater::PruneOnEvent() {
  AcquireReadWriteGuard();
  // Parsing the local manifest, re-running its filters and pruning are not built yet.
  ReleaseReadWriteGuard();
}

void NoltUpdater::RequestPruneIfNeeded() {
  char mask[kMaskBuffer] = {};
  provider_store::ReadString(nullptr, "PruneOfflineMask", mask, sizeof mask, true);
  const bool empty = mask[0] == 0;
  if (empty || mask[0] == 'O' || mask[1] == 'P') {
    char name[kEventNameBuffer];
    std::snprintf(name, sizeof name, "MODLET_PRUNE_%s_%s", m_providerId.c_str(),
                  m_userName.c_str());
    if (auto event = platform::Event::Open(name)) event->Set();
  }
  if (empty) provider_store::WriteString(nullptr, "PruneOfflineMask", "op", true);
}

void NoltUpdater::AcquireReadWriteGuard() {
  HostLog(kLogDetail, "Acquiring NOLTCMD_READWRITE_LOCK guard...\n");
  ReadWriteLock().AcquireWrite(platform::kInfinite);
}

void NoltUpdater::ReleaseReadWriteGuard() {
  HostLog(kLogDetail, "Releasing NOLTCMD_READWRITE_LOCK guard...\n");
  ReadWriteLock().ReleaseWrite();
}
