// The one-line error messages of the tool.
#pragma once
#include <cstdint>
#include <string>

namespace noltreg {

inline constexpr const char* kRootKeyNotDeleted = "A root key cannot be deleted.";

// "ERROR: " and the text for a registry error number.
std::string ErrorText(uint32_t code);

}  // namespace noltreg
