// Per-user settings of the background-transfer flow, shared by the updater and the uploader.
#pragma once
#include <cstdint>

namespace bits_settings {

inline constexpr uint32_t kDefaultNoProgressTimeoutSeconds = 86400;
inline constexpr uint32_t kMinNoProgressTimeoutSeconds = 300;
inline constexpr uint32_t kMaxNoProgressTimeoutSeconds = 1209600;

// "NoltSync:BitsEnabled": the flow is tried unless the value is exactly "0".
bool BitsEnabled();
// "NoltSync:BitsNoProgTimeout" in seconds; an unset, non-numeric or out-of-range (300 to
// 1209600) value gives 86400.
uint32_t NoProgressTimeoutSeconds();

}  // namespace bits_settings
