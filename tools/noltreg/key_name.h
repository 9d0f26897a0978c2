// Key names as people type them: a root (HKLM, HKCU, HKCR or the long forms) and a path.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace noltreg {

struct KeyName {
  uint32_t root = 0;    // a predefined root handle value
  std::string subKey;   // below the root, without leading or trailing backslashes
};

// False when the text does not begin with a known root.
bool ParseKeyName(std::string_view text, KeyName& key);

}  // namespace noltreg
