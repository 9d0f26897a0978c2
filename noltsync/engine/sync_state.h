// The persisted sync state: registry values of the user's provider key. A time is stored as
// "<name>Hex" (hex file time and bias) beside a readable "<name>" (local short date, a blank,
// local time); only the hex form is read back, and an empty string means "not set".
#pragma once
#include <cstdint>
#include <optional>

#include "foundation/time/hx_time.h"

namespace sync_state {

// Times (the base name; the hex form adds "Hex").
inline constexpr const char* kNextUpdateTime = "NextUpdateTime";
inline constexpr const char* kLastAttemptUpdateTime = "LastAttemptUpdateTime";
inline constexpr const char* kLastSuccessUpdateTime = "LastSuccessUpdateTime";  // no hex form
inline constexpr const char* kLastBitsUpdateStartTime = "LastBitsUpdateStartTime";
inline constexpr const char* kLastAttemptUploadTime = "LastAttemptUploadTime";  // no hex form
inline constexpr const char* kLastSuccessUploadTime = "LastSuccessUploadTime";  // no hex form
// Counters and codes (double words).
inline constexpr const char* kUpdateFailureCount = "UpdateFailureCount";
inline constexpr const char* kLastUpdateErrCode = "LastUpdateErrCode";
inline constexpr const char* kUploadFailureCount = "UploadFailureCount";
inline constexpr const char* kLastUploadErrCode = "LastUploadErrCode";
inline constexpr const char* kUpdateRatioCount = "UpdateRatioCount";

// Where a value is read: this user's key, or the service account's ("users\SYSTEM" below the
// provider key, read at machine level).
enum class Scope { kUser, kServiceAccount };

// The stored time of "<name>Hex"; nullopt when it cannot be read or is empty. A text that does
// not scan gives the zero time (which lies in the past).
std::optional<HxTime> ReadTime(const char* name, Scope scope = Scope::kUser);
// Writes "<name>Hex" (hex form of time).
void WriteHexTime(const char* name, const HxTime& time);
// Writes "<name>" (readable form of time).
void WriteReadableTime(const char* name, const HxTime& time);
// Writes the empty string to `valueName` (a full value name, "NextUpdateTimeHex" or the like).
void ClearValue(const char* valueName);
// The value name of the hex form: name + "Hex".
HxStr HexName(const char* name);

// A double word of the user's key; 0 when absent or of another type.
uint32_t ReadCount(const char* name);
void WriteCount(const char* name, uint32_t value);

// Whole seconds of a time span, truncated and held in 32 bits as the engine keeps them.
inline uint32_t WholeSeconds(int64_t span) { return static_cast<uint32_t>(span / HxTime::kSecond); }

// Readable form of an optional stored time; "" when not set.
HxStr ReadableOrEmpty(const std::optional<HxTime>& time);

}  // namespace sync_state
