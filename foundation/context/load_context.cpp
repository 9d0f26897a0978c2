// LoadContext: the identity, hive, server and data directories of a provider and user, then the
// provider's "config.cfg" with the server layout of "Paths" completed.
#include <mutex>
#include <string>

#include "foundation/context/context_names.h"
#include "foundation/context/context_registry.h"
#include "foundation/context/context_store.h"
#include "foundation/context/context_store_internal.h"
#include "foundation/context/directory_layout.h"
#include "foundation/context/hx_macro.h"
#include "foundation/context/system_folders.h"
#include "foundation/kv/encoded_text_file.h"
#include "foundation/registry/provider_store.h"
#include "foundation/users/users.h"
#include "platform/registry.h"

namespace names = context_names;

namespace {

constexpr size_t kNameBufferSize = 260;

// The server layout: each default is expanded and added unless "config.cfg" gives the key.
constexpr std::pair<const char*, const char*> kServerLayout[] = {
    {"DirDna", "%SERVERROOT%dna\\"},
    {"DirPublish", "%SERVERROOT%dna\\"},
    {"DirVault", "%SERVERROOT%vault\\"},
    {"DirBackup", "%SERVERROOT%backup\\"},
    {"DirIssue", "%SERVERROOT%issue\\"},
    {"DirBin", "%SERVERROOT%bin\\"},
    {"DirData", "%SERVERROOT%prefs\\"},
    {"DirProfiles", "%SERVERROOT%profiles\\%MACHINE%\\"},
    {"DirActions", "%SERVERROOT%actions\\"},
    {"DirUserProfile", "%SERVERROOT%profiles\\%MACHINE%\\%USERNAME%\\"},
    {"DirDnaBackup", "%SERVERROOT%profiles\\"},
    {"DirLogs", "%SERVERROOT%profiles\\%MACHINE%\\%USERNAME%\\logs\\"},
};

bool IsSystemUser(const HxStr& userName) {
  return userName.IsEmpty() || IsSystemAccountName(userName);
}

HxStr ChooseUserName(std::string_view given) {
  if (!given.empty()) return HxStr(given);
  char buffer[kNameBufferSize] = {};
  TuGetUserName(buffer, sizeof buffer);
  return HxStr(buffer);
}

// The argument, else the new context's ("default"); only an empty one is looked up by server.
HxStr ChooseProviderId(std::string_view given, const SdcContext& fresh, std::string_view server) {
  HxStr providerId(given);
  if (providerId.IsEmpty()) {
    fresh.Sections().GetSection(names::kSection)->Get(names::kProviderId, providerId);
  }
  if (providerId.IsEmpty() && !server.empty()) {
    providerId = context_registry::FindProviderIdByServer(server);
  }
  providerId.MakeLower();
  return providerId;
}

// HKEY_LOCAL_MACHINE when the provider's "UserKeyRoot" says "HKLM" or the user is the system
// account (or none); HKEY_CURRENT_USER otherwise.
uint32_t ChooseUserHive(const HxStr& providerId, const HxStr& userName) {
  HxStr root;
  context_registry::ReadText(platform::kHkeyLocalMachine,
                             std::string(provider_store::kProviderListKey) + providerId.c_str(),
                             "UserKeyRoot", root);
  const bool machine = root.CompareNoCase("HKLM") == 0 || IsSystemUser(userName);
  return machine ? platform::kHkeyLocalMachine : platform::kHkeyCurrentUser;
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::string_view();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Blanks trimmed, every '/' a backslash, one backslash at the end.
HxStr NormaliseServer(std::string_view text) {
  HxStr server(TrimBlanks(text));
  server.Replace('/', '\\');
  if (!server.IsEmpty() && server[server.GetLength() - 1] != '\\') server += '\\';
  return server;
}

// The user key's "FANOUT_URL" when it holds more than blanks, else its value named after the
// provider. A stored text that normalises differently is written back normalised.
HxStr ServerFromUserKey(uint32_t hive, const HxStr& providerId, const HxStr& userName) {
  platform::RegistryKey key;
  if (provider_store::OpenUserKey(key, hive, providerId.c_str(), userName.c_str(), false) != 0) {
    return HxStr();
  }
  const char* valueName = "FANOUT_URL";
  HxStr stored;
  if (!context_registry::ReadText(key, valueName, stored) || TrimBlanks(stored).empty()) {
    valueName = providerId.c_str();
    context_registry::ReadText(key, valueName, stored);
  }
  HxStr server = NormaliseServer(stored);
  if (server != stored) context_registry::WriteText(key, valueName, server);
  return server;
}

// The common data folder derived from the Windows folder, recorded as the shell does.
HxStr DeriveCommonAppData() {
  HxStr derived =
      DirectoryPath(GetSystemFolder(kFolderWindows)) + "Profiles\\All Users\\Application Data";
  context_registry::WriteText(platform::kHkeyLocalMachine, names::kShellFolders, "Common AppData",
                              derived);
  return derived;
}

// "Local Settings" beside the roaming folder, under the roaming folder's last name.
HxStr DeriveLocalAppData() {
  const HxStr roamingFolder = GetSystemFolder(kFolderAppData);
  std::string_view roaming = roamingFolder;
  while (!roaming.empty() && (roaming.back() == '\\' || roaming.back() == '/')) {
    roaming.remove_suffix(1);
  }
  const size_t cut = roaming.find_last_of("\\/");
  if (cut == std::string_view::npos) return HxStr();
  HxStr derived =
      DirectoryPath(roaming.substr(0, cut), {"Local Settings"}) + roaming.substr(cut + 1);
  context_registry::WriteText(platform::kHkeyCurrentUser, names::kShellFolders, "Local AppData",
                              derived);
  return derived;
}

HxStr DataRoot(bool systemUser) {
  HxStr root = GetSystemFolder(systemUser ? kFolderCommonAppData : kFolderLocalAppData);
  if (!root.IsEmpty()) return root;
  return systemUser ? DeriveCommonAppData() : DeriveLocalAppData();
}

// root\Strovane\<provider>\<owner>\, empty without a root.
HxStr ProviderDirectory(const HxStr& root, const HxStr& providerId, std::string_view owner) {
  if (root.IsEmpty()) return HxStr();
  return DirectoryPath(root, {"Strovane", providerId, owner});
}

// The provider's "config.cfg" (a missing file gives no sections); "Encoding" becomes "MB" when
// the file carries no byte-order mark.
HxKVListMap LoadConfiguration() {
  HxKVListMap configuration;
  HxStr content;
  if (!GetDirectory("DirContent", content)) return configuration;
  const std::string path = LocalPath(content + names::kConfigFile);
  EncodedTextReader reader;
  if (reader.Open(path) && reader.Encoding() == HxTextEncoding::kAnsi) {
    SetContextValue(names::kEncoding, "MB");
  }
  configuration.Load(path);
  return configuration;
}

// Adds the server layout's defaults, expanded, to "Paths"; keys the file gives keep their value.
void CompletePaths(HxKVListMap& configuration, const HxStr& server, const HxStr& userName) {
  HxKVList& paths = configuration.AddSection(names::kPathsSection);
  HxMacro macro;
  for (const auto& [key, value] : paths) macro.Set(key, value);
  if (!server.IsEmpty()) macro.Set("%SERVERROOT%", server);
  macro.Set("%USERNAME%", userName);
  macro.Set("%MACHINE%", GetSystemFolder(kFolderMachineName));
  for (const auto& [key, layoutDefault] : kServerLayout) {
    HxStr expanded;
    macro.Expand(layoutDefault, expanded);
    paths.Set(key, expanded);
  }
}

}  // namespace

bool LoadContext(std::string_view providerIdArgument, std::string_view serverArgument,
                 std::string_view userNameArgument, bool reload) {
  std::unique_lock hold(context_store::Lock());
  if (context_store::ThreadHasContext() && !reload) return false;

  SdcContext context;
  HxKVList& values = *context.Sections().GetSection(names::kSection);
  const HxStr userName = ChooseUserName(userNameArgument);
  values.Put(names::kUserName, userName);

  const HxStr providerId = ChooseProviderId(providerIdArgument, context, serverArgument);
  if (providerId.IsEmpty()) return false;
  values.Put(names::kProviderId, providerId);

  const uint32_t hive = ChooseUserHive(providerId, userName);
  values.Put(names::kUserHive, context_store::UserHiveText(hive));

  const HxStr server = serverArgument.empty() ? ServerFromUserKey(hive, providerId, userName)
                                              : NormaliseServer(serverArgument);
  values.Put(names::kServer, server);

  const HxStr common = GetSystemFolder(kFolderCommonAppData);
  values.Put(names::kDirUserServer,
             ProviderDirectory(DataRoot(IsSystemUser(userName)), providerId, userName));
  values.Put(names::kDirSysProfileOld, ProviderDirectory(common, providerId, "[SYSTEM]"));
  values.Put(names::kDirSysProfile, ProviderDirectory(common, providerId, GetSystemAccountName()));

  context_store::StoreThreadContext(std::move(context));
  SetContextValue(names::kEncoding, "utf8");
  HxKVListMap configuration = LoadConfiguration();
  CompletePaths(configuration, server, userName);
  MergeContext(configuration, true, true);
  return true;
}
