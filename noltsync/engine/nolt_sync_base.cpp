#include "noltsync/engine/nolt_sync_base.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "foundation/context/directory_layout.h"
#include "foundation/locks/swmr_guard.h"
#include "foundation/log/host_logger.h"
#include "foundation/transfer/hx_remote_object.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "noltsync/engine/sync_locks.h"
#include "noltsync/engine/sync_settings.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/network.h"
#include "platform/process.h"
#include "platform/sync.h"

namespace {

constexpr const char* kLoopbackAddress = "127.0.0.1";
constexpr uint32_t kUploadLockTimeoutMs = 10000;
constexpr int kMaxDirectoryLength = 260;
constexpr const char* kDirectorySection = "Dna Agent";

// The "Dir" keys whose directories become macros, in insertion order.
constexpr const char* kDirectoryMacroKeys[] = {
    "DirHelp",       "DirBin", "DirShared",    "DirBackup", "DirVault", "DirPublish",
    "DirScripts",    "DirProfiles", "DirUserServer", "DirDna", "DirDnaBackup", "DirLogs",
    "DirIssue",      "DirLastRun", "DirContent", "DirZCatalog"};

std::mutex g_ipMutex;
HxStr g_ipList;

HxStr MachineAddressList() {
  HxStr list(platform::LocalIpv4AddressList());
  list.Replace(';', ',');
  return list;
}

// "%d.%d.%d.%d" of the product version; missing parts read as 0.
const HxStr& ModuleVersionText() {
  static const HxStr text = [] {
    unsigned parts[4] = {0, 0, 0, 0};
    std::sscanf(platform::ModuleVersion().c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2],
                &parts[3]);
    HxStr formatted;
    formatted.Format("%d.%d.%d.%d", static_cast<int>(parts[0]), static_cast<int>(parts[1]),
                     static_cast<int>(parts[2]), static_cast<int>(parts[3]));
    return formatted;
  }();
  return text;
}

// The path of the library that holds this code.
const HxStr& ModulePathText() {
  static const HxStr text(platform::ModulePath(reinterpret_cast<const void*>(&MachineAddressList)));
  return text;
}

HxStr PercentMacro(const char* key) { return HxStr("%") + key + "%"; }

bool IsMoveFallbackError(uint32_t error) {
  return error == platform::kErrorPathNotFound || error == platform::kErrorBadNetPath ||
         error == platform::kErrorFileExists || error == platform::kErrorAlreadyExists;
}

bool CopyThenDelete(const HxStr& source, const HxStr& target) {
  HxRemoteObjectPtr object = CreateRemoteObject(source);
  if (object == nullptr || !object->CopyTo(target, 0)) return false;
  return platform::DeleteFile(ToLocalPath(source).c_str());
}

}  // namespace

HxStr NormalizeServerLocation(const HxStr& server) {
  HxStr normalized = server;
  normalized.Trim(' ');
  if (normalized.IsEmpty()) return normalized;
  normalized.Replace('/', '\\');
  if (normalized[normalized.GetLength() - 1] != '\\') normalized += '\\';
  if (normalized.GetLength() > static_cast<int>(NoltSyncBase::kMaxServerLength)) {
    normalized = normalized.Mid(0, static_cast<int>(NoltSyncBase::kMaxServerLength));
  }
  return normalized;
}

HxStr ServerBaseOf(const HxStr& server) {
  const std::string_view text = server;
  size_t hostStart = 0;
  const size_t scheme = text.find(":\\\\");
  if (scheme != std::string_view::npos && scheme > 1) {
    hostStart = scheme + 3;  // "http:\\host\..."
  } else if (text.starts_with("\\\\")) {
    hostStart = 2;  // "\\share\..."
  }
  const size_t hostEnd = text.find('\\', hostStart);
  if (hostEnd == std::string_view::npos) return server;
  return HxStr(text.substr(0, hostEnd + 1));
}

NoltSyncBase::NoltSyncBase(const HxStr& providerId, const HxStr& server)
    : m_providerId(providerId), m_server(NormalizeServerLocation(server)) {
  NoltSyncBase::RefreshIpCache();
  NoltSyncBase::LoadContextMacros();
}

NoltSyncBase::~NoltSyncBase() = default;

void NoltSyncBase::SetServer(const HxStr& server) { m_server = NormalizeServerLocation(server); }

bool NoltSyncBase::RefreshIpCache() {
  const bool caching = sync_settings::CacheIpEnabled();
  std::lock_guard<std::mutex> lock(g_ipMutex);
  if (!caching || g_ipList.IsEmpty() || g_ipList == kLoopbackAddress) {
    g_ipList = MachineAddressList();
  }
  return true;
}

HxStr NoltSyncBase::CachedIpList() {
  std::lock_guard<std::mutex> lock(g_ipMutex);
  return g_ipList;
}

void NoltSyncBase::ResetIpCacheForTesting() {
  std::lock_guard<std::mutex> lock(g_ipMutex);
  g_ipList.Empty();
}

bool NoltSyncBase::IsPrivacyMode() { return sync_settings::PrivacyModeEnabled(); }

void NoltSyncBase::LoadContextMacros() {
  if (m_server.IsEmpty()) return;
  m_macros.Set("%MODULEVERSION%", ModuleVersionText());
  m_macros.Set("%MODULEPATH%", ModulePathText());
  m_macros.Set("%SERVERROOT%", m_server);
  m_macros.Set("%SERVERBASE%", ServerBaseOf(m_server));
  // An unset program root adds no macro, so that "%DirRoot%" stays visible in what uses it.
  const HxStr programRoot = ProgramRoot();
  if (!programRoot.IsEmpty()) m_macros.Set(PercentMacro("DirRoot"), programRoot);
  for (const char* key : kDirectoryMacroKeys) {
    HxStr directory;
    if (LookupDirectory(kDirectorySection, key, m_server, directory)) {
      m_macros.Set(PercentMacro(key), directory);
    }
  }
}

bool NoltSyncBase::TranslateMacros(SdcSyncDataHarvestEx* harvest, HxStr& text) {
  if (text.Find('%') < 0) return false;
  const bool expanded = m_macros.Expand(text, text);  // Expand works on a copy of its input
  // What the macro machine left may be inventory macros; their failure only logs.
  if (harvest != nullptr && text.Find('%') >= 0 && !harvest->Translate(text, text)) {
    HostLog(kLogDetail, "Failed to translate SI macro [%s]\n", text.c_str());
  }
  return expanded;
}

bool NoltSyncBase::LookupDirectory(const char* section, const char* key, const HxStr& server,
                                   HxStr& out) {
  (void)section;
  (void)server;
  // A directory that does not fit the caller's buffer is a failure, never a cut path.
  HxStr directory;
  if (key == nullptr || !GetDirectory(key, directory) ||
      directory.GetLength() > kMaxDirectoryLength) {
    return false;
  }
  out = directory;
  return true;
}

bool NoltSyncBase::MoveFile(const HxStr& source, const HxStr& target, bool useLock) {
  return MoveFileGuarded(useLock ? &UploadLock() : nullptr, source, target);
}

bool MoveFileGuarded(SwmrGuard* guard, const HxStr& source, const HxStr& target) {
  if (guard != nullptr) {
    const uint32_t wait = guard->AcquireWrite(kUploadLockTimeoutMs);
    if (wait == platform::kWaitTimeout) {
      HostLog(kLogWarning, "** Failed to obtain upload lock...request timed out **\n");
      return false;
    }
    if (wait != platform::kWaitObject0 && wait != platform::kWaitAbandoned0) {
      HostLog(kLogWarning, "** Failed to obtain upload lock...invalid lock **\n");
      return false;
    }
  }
  bool moved = platform::MoveFile(ToLocalPath(source).c_str(), ToLocalPath(target).c_str());
  const uint32_t moveError = moved ? 0 : platform::LastError();
  if (!moved && IsMoveFallbackError(moveError)) moved = CopyThenDelete(source, target);
  if (!moved) {
    HostLog(kLogWarning, "Failed to move file [%s]->[%s]. Error Code: %d\n", source.c_str(),
            target.c_str(), static_cast<int>(moveError));
  }
  if (guard != nullptr) guard->ReleaseWrite();
  return moved;
}

bool NoltSyncBase::HasBits() const { return false; }
