#include "noltsync/engine/sync_state.h"

#include "foundation/registry/provider_store.h"

namespace sync_state {
namespace {

constexpr const char* kServiceAccountKey = "users\\SYSTEM";
// Text values are read into buffers of this size.
constexpr size_t kTextBufferSize = 260;

void WriteText(const char* valueName, const char* text) {
  // Write failures are not acted on: the next cycle writes the value again.
  provider_store::WriteString(nullptr, valueName, text, true);
}

}  // namespace

HxStr HexName(const char* name) { return HxStr(name) + "Hex"; }

std::optional<HxTime> ReadTime(const char* name, Scope scope) {
  char buffer[kTextBufferSize];
  const bool user = scope == Scope::kUser;
  const uint32_t status = provider_store::ReadString(user ? nullptr : kServiceAccountKey,
                                                     HexName(name).c_str(), buffer,
                                                     sizeof buffer, user);
  if (status != provider_store::kStoreSuccess || buffer[0] == '\0') return std::nullopt;
  return HxTime(buffer);
}

void WriteHexTime(const char* name, const HxTime& time) {
  WriteText(HexName(name).c_str(), time.ToHex().c_str());
}

void WriteReadableTime(const char* name, const HxTime& time) {
  WriteText(name, time.Readable().c_str());
}

void ClearValue(const char* valueName) { WriteText(valueName, ""); }

uint32_t ReadCount(const char* name) {
  uint32_t value = 0;
  if (provider_store::ReadDword(nullptr, name, value, true) != provider_store::kStoreSuccess) {
    return 0;
  }
  return value;
}

void WriteCount(const char* name, uint32_t value) {
  provider_store::WriteDword(nullptr, name, value, true);
}

HxStr ReadableOrEmpty(const std::optional<HxTime>& time) {
  return time ? time->Readable() : HxStr();
}

}  // namespace sync_state
