#include "noltsync/updater/bits_settings.h"

#include <cstdlib>

#include "foundation/registry/provider_store.h"

namespace bits_settings {
namespace {

constexpr size_t kSettingBuffer = 32;  // 31 characters and the terminator

// The per-user string value; empty when it cannot be read.
void ReadSetting(const char* name, char (&buffer)[kSettingBuffer]) {
  if (provider_store::ReadString(nullptr, name, buffer, sizeof buffer, true) != 0) buffer[0] = 0;
}

}  // namespace

bool BitsEnabled() {
  char value[kSettingBuffer] = {};
  ReadSetting("NoltSync:BitsEnabled", value);
  return !(value[0] == '0' && value[1] == 0);
}

uint32_t NoProgressTimeoutSeconds() {
  char value[kSettingBuffer] = {};
  ReadSetting("NoltSync:BitsNoProgTimeout", value);
  const long seconds = std::strtol(value, nullptr, 10);  // leading digits; none gives 0
  if (seconds < static_cast<long>(kMinNoProgressTimeoutSeconds) ||
      seconds > static_cast<long>(kMaxNoProgressTimeoutSeconds)) {
    return kDefaultNoProgressTimeoutSeconds;
  }
  return static_cast<uint32_t>(seconds);
}

}  // namespace bits_settings
