// Text rules of the XML tree: code page conversion at the interface, whitespace of parsed text,
// the raw-text marker, "%PROVIDERID%" replacement, escaping and UTF-16 output.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "foundation/strings/hx_str.h"

struct XmlElement;

namespace xml_text {

// A text that begins with this marker (and has more after it) is stored as the rest, unchanged.
inline constexpr std::string_view kRawTextMarker = "{:::D7DD3E6D-BCD4-42af-B554-CA4C42916B70:::}";

// The process's ANSI code page is UTF-8 on this system, so the conversions at the interface
// (ANSI to UTF-8 going in, UTF-8 to ANSI coming out) keep the bytes as they are.
inline std::string FromAnsi(std::string_view text) { return std::string(text); }
inline HxStr ToAnsi(std::string_view utf8) { return HxStr(utf8); }

// What SetText stores for `text`: the rest after the raw-text marker, else the converted text.
std::string StoredText(std::string_view text);

// Space, line feed, carriage return, tab and vertical tab.
bool IsWhitespace(char c);

// The text of an element whose end has been parsed: with `trim` both ends lose their
// whitespace; a text that is then empty (with `trim`) or is whitespace only (without) is
// dropped. Spare capacity left by appending is given back.
void SettleParsedText(XmlElement& element, bool trim);

// The text with every "%PROVIDERID%" replaced by the context's "ProviderId" (at most 259 bytes).
HxStr WithProviderId(std::string_view utf8);
// The same into `out`, reusing its buffer when it is large enough.
void AssignWithProviderId(std::string_view utf8, HxStr& out);

// Appends `text` escaped for XML: the five markup characters become entities and control
// characters other than tab, line feed and carriage return are dropped.
void AppendEscaped(std::string& out, std::string_view text);

// Writes `utf8` as UTF-16 into buffer[0..count), filling the rest with zeros.
void CopyAsUtf16(std::string_view utf8, char16_t* buffer, size_t count);

}  // namespace xml_text
