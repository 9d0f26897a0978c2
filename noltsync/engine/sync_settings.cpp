#include "noltsync/engine/sync_settings.h"

#include <cstdlib>
#include <mutex>

#include "foundation/context/context_store.h"
#include "foundation/log/host_logger.h"
#include "foundation/registry/provider_store.h"

namespace sync_settings {
namespace {

constexpr const char* kServiceAccountKey = "users\\SYSTEM";
constexpr int32_t kSwitchOff = -1;

// A "Sync" number the way the standard decimal conversion reads it: leading digits with an
// optional sign; absent or non-numeric reads 0.
int32_t SyncNumber(const char* key) {
  return static_cast<int32_t>(std::strtol(GetValue(kSection, key).c_str(), nullptr, 10));
}

// A double word switch that reads non-zero; any failure (absent, other type) reads as off.
bool DwordSwitch(const char* subKey, const char* name, bool perUser) {
  uint32_t value = 0;
  return provider_store::ReadDword(subKey, name, value, perUser) == provider_store::kStoreSuccess &&
         value != 0;
}

HxStr TrimmedUserString(const char* name) {
  HxStr text;
  if (provider_store::ReadString(nullptr, name, text, true) != provider_store::kStoreSuccess) {
    return HxStr();
  }
  text.Trim(' ');
  return text;
}

}  // namespace

int32_t UpdateFreqMinutes() {
  int32_t minutes = SyncNumber("UpdateFreq");
  if (minutes <= 0) {
    minutes = static_cast<int32_t>(kDefaultUpdateFreqMinutes);
    HostLog(kLogWarning,
            "UpdateFreq from context is less than or equal to 0. Minimum updatefreq enforced and "
            "set to: %d\n",
            minutes);
  }
  return minutes;
}

bool RandomSyncEnabled() { return SyncNumber("RandomSync") != kSwitchOff; }

uint32_t MaxUpdateTimeOutSeconds() {
  const uint32_t hours = static_cast<uint32_t>(SyncNumber("MaxUpdateTimeOut"));
  return hours == 0 ? kDefaultMaxUpdateTimeOutSeconds : hours * kSecondsPerHour;
}

uint32_t UploadPerUpdateRatio() {
  const uint32_t ratio = static_cast<uint32_t>(SyncNumber("UploadPerUpdateRatio"));
  return ratio == 0 ? 1 : ratio;
}

bool CacheIpEnabled() {
  const int32_t value = SyncNumber("CacheIp");
  if (value == kSwitchOff) return false;
  if (value != 0) return true;
  bool cached = true;
  const bool read =
      provider_store::ReadBool(kSection, "CacheIp", cached, true) == provider_store::kStoreSuccess;
  return !read || cached;
}

bool PrivacyModeEnabled() {
  if (SyncNumber("PrivacyMode") == 1) return true;
  bool privacy = false;
  return provider_store::ReadBool(kSection, "PrivacyMode", privacy, true) ==
             provider_store::kStoreSuccess &&
         privacy;
}

bool MachineDisableDownload() { return DwordSwitch(kServiceAccountKey, "DisableDownload", false); }
bool UserDisableDownload() { return DwordSwitch(nullptr, "DisableDownload", true); }
bool MachineDisableUpload() { return DwordSwitch(kServiceAccountKey, "DisableUpload", false); }
bool UserDisableUpload() { return DwordSwitch(nullptr, "DisableUpload", true); }

HxStr ServerLocationSetting(const HxStr& providerId) {
  HxStr location = TrimmedUserString("FANOUT_URL");
  if (location.IsEmpty()) location = TrimmedUserString(providerId.c_str());
  return location;
}

const WorkingSetSettings& WorkingSet(bool isSystemAccount) {
  static WorkingSetSettings settings;
  static std::once_flag once;
  std::call_once(once, [isSystemAccount] {
    const char* subKey = isSystemAccount ? "Noltsvc" : "Noltcmd";
    bool disabled = false;
    if (provider_store::ReadBool(subKey, "DisableSetProcSize", disabled, false) ==
        provider_store::kStoreSuccess) {
      settings.disabled = disabled;
    }
    uint32_t bytes = 0;
    if (provider_store::ReadDword(subKey, "MinProcBytes", bytes, false) ==
        provider_store::kStoreSuccess) {
      settings.minBytes = bytes;
    }
    if (provider_store::ReadDword(subKey, "MaxProcBytes", bytes, false) ==
        provider_store::kStoreSuccess) {
      settings.maxBytes = bytes;
    }
  });
  return settings;
}

}  // namespace sync_settings
