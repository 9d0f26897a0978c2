// GUIDs from the system's random source, in their braced text form.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
  friend bool operator==(const Guid&, const Guid&) = default;
};

// A new random (version 4) GUID; false when the random source cannot be read.
bool NewGuid(Guid& out);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": 38 characters, upper-case hexadecimal.
std::string GuidToString(const Guid& guid);
// Reads the braced form (either letter case); false when the text is not one.
bool GuidFromString(std::string_view text, Guid& out);

// A new GUID in its braced form; empty when the random source cannot be read.
std::string NewGuidString();

}  // namespace platform
