// UTF-8 helpers. Single-byte ("ANSI") text is UTF-8 on this system, so multibyte-aware string
// operations walk characters with these, and wide and UTF-16 text converts through them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace utf8 {

// Length of the sequence that `lead` starts: 1 for ASCII and for bytes that start no valid
// sequence, 2 to 4 for the lead bytes C2-DF, E0-EF and F0-F4.
int SequenceLength(unsigned char lead);

// Length of the character at `p`: its sequence length when all its continuation bytes are there
// within `remaining` bytes, else 1 (a stray byte counts as one character).
int CharLength(const char* p, size_t remaining);

// Decodes the character at text[pos], advances pos past it. A byte that starts no complete
// sequence decodes to 0xDC00 + byte, so it never equals a real character.
uint32_t DecodeAt(std::string_view text, size_t& pos);

// Appends the UTF-8 form of a code point; surrogates and values above 0x10FFFF give '?'.
void Append(std::string& out, uint32_t codePoint);

// Bytes to cut from the end of a chunk so that it does not end inside a character: a lead byte
// C2-F4 among the last three bytes without all of its continuation bytes.
size_t IncompleteTail(const char* data, size_t size);

// Wide text (UTF-32 wchar_t) to UTF-8.
std::string FromWide(const wchar_t* text);

// UTF-16 little-endian bytes to UTF-8; a lone surrogate gives '?'. An odd final byte is ignored.
void AppendFromUtf16Le(std::string& out, const unsigned char* bytes, size_t size);

// UTF-8 text to UTF-16 little-endian bytes; a byte that starts no character gives '?'.
void AppendUtf16Le(std::string& out, std::string_view text);

// Bytes to cut from the end of UTF-16LE data so that it does not end inside a unit or between
// the two halves of a surrogate pair.
size_t IncompleteUtf16Tail(const unsigned char* bytes, size_t size);

}  // namespace utf8
