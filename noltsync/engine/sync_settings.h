// The engine's settings: section "Sync" of the loaded context, and the registry switches that
// the engine only reads. Every call reads afresh, except the working-set values, which are read
// once per process.
#pragma once
#include <cstdint>

#include "foundation/strings/hx_str.h"

namespace sync_settings {

inline constexpr const char* kSection = "Sync";
inline constexpr uint32_t kDefaultUpdateFreqMinutes = 240;
inline constexpr uint32_t kDefaultMaxUpdateTimeOutSeconds = 72 * 3600;
inline constexpr uint32_t kSecondsPerHour = 3600;
inline constexpr uint32_t kDefaultProcBytes = 0xFFFFFFFF;

// "UpdateFreq" in minutes; 0 or less (absent, a word) gives 240 with the level-4 message.
int32_t UpdateFreqMinutes();
// "RandomSync" is not -1.
bool RandomSyncEnabled();
// "MaxUpdateTimeOut" hours as seconds (value x 3600, unsigned); 0 or absent gives 259200.
uint32_t MaxUpdateTimeOutSeconds();
// "UploadPerUpdateRatio" as unsigned; 0 or absent gives 1 (a negative value is a huge count).
uint32_t UploadPerUpdateRatio();
// Address caching: off for context "CacheIp" -1, or for 0/absent with the user's
// "Sync\CacheIp" reading false; on otherwise (the registry value absent included).
bool CacheIpEnabled();
// Context "PrivacyMode" 1; else the user's "Sync\PrivacyMode" when readable; else false.
bool PrivacyModeEnabled();

// Registry switches: a double word that reads non-zero. The machine forms are the service
// account's values (provider key, subkey "users\SYSTEM"); a value of another type is absent.
bool MachineDisableDownload();
bool UserDisableDownload();
bool MachineDisableUpload();
bool UserDisableUpload();

// The user's server location for the loop's refresh: "FANOUT_URL" trimmed, else the value
// named by the provider id trimmed; empty when neither is set.
HxStr ServerLocationSetting(const HxStr& providerId);

// The working-set trim bounds, from provider subkey "Noltsvc" for the system account, else
// "Noltcmd"; read on the first call of the process and kept.
struct WorkingSetSettings {
  bool disabled = false;                  // "DisableSetProcSize"
  uint32_t minBytes = kDefaultProcBytes;  // "MinProcBytes"
  uint32_t maxBytes = kDefaultProcBytes;  // "MaxProcBytes"
};
const WorkingSetSettings& WorkingSet(bool isSystemAccount);

}  // namespace sync_settings
