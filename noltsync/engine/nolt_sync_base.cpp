#include "noltsync/engine/nolt_sync_base.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "foundation/context/directory_layout.h"
#include "foundation/log/host_logger.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "noltsync/engine/sync_locks.h"
#include "noltsync/engine/sync_settings.h"
#include "platform/network.h"
#include "platform/process.h"

namespace {

constexpr const char* kLoopbackAddress = "127.0.0.1";
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
  return MoveFileGuarded(source, target, useLock);
}

bool NoltSyncBase::HasBits() const { return false; }
