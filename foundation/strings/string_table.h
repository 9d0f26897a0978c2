// The module's string table: the texts the system loads by number (error templates, socket
// error texts and a few fixed words).
#pragma once
#include <cstdint>
#include <string>

// The message template of one of the system's own error codes (bit 0x20000000) is the text
// numbered 12500 + (code - 0x20000000).
inline constexpr uint32_t kOwnErrorFlag = 0x20000000;
inline constexpr uint32_t kOwnErrorTemplateBase = 12500;
inline constexpr uint32_t OwnErrorTemplateId(uint32_t code) {
  return kOwnErrorTemplateBase + (code - kOwnErrorFlag);
}

inline constexpr uint32_t kStringUnknown = 9729;       // "unknown"
inline constexpr uint32_t kStringUnknownError = 9778;  // "Unknown Error: %ld"

// Copies text number `id` into `text`; false (text untouched) when the table has no such text.
bool LoadModuleString(uint32_t id, std::string& text);
