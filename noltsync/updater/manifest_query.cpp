// The query that identifies machine, user and profile key when the manifest is requested.
#include "foundation/context/machine_id.h"
#include "foundation/registry/provider_store.h"
#include "noltsync/updater/nolt_updater.h"
#include "platform/identity.h"

namespace {

constexpr size_t kProfileKeyBuffer = 4097;      // "ProfileKey": 4096 characters
constexpr size_t kPackageVersionBuffer = 261;  // "LastClientPackageVersion": 260 characters

}  // namespace

HxStr NoltUpdater::BuildManifestQuery() {
  const bool privacy = IsPrivacyMode();
  char profileKey[kProfileKeyBuffer] = {};
  provider_store::ReadString(nullptr, "ProfileKey", profileKey, sizeof profileKey, true);
  char version[kPackageVersionBuffer] = {};
  provider_store::ReadString(nullptr, "LastClientPackageVersion", version, sizeof version, false);
  const HxStr address = privacy ? HxStr("{private_ip}") : CachedIpList();
  const HxStr user = privacy ? HxStr(PrivateUserPlaceholder()) : m_userName;
  const HxStr computer =
      privacy ? HxStr("{private_machine_name}") : HxStr(platform::ComputerName());
  HxStr query;
  query.Format("macid=%s&ip=%s&pkey=%s&u=%s&nb=%s&ver=%s", GetMachineId().c_str(),
               address.c_str(), profileKey, user.c_str(), computer.c_str(), version);
  TranslateMacros(nullptr, query);
  return query;
}
