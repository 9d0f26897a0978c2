// Percent-encoding of the parts of a URL that a request line cannot carry as they are.
#pragma once
#include <string>
#include <string_view>

// `text` with every byte that may not stand in a URL percent-encoded ("%20"): space,
// `"` `<` `>` `{` `}` `|` `\` `^` and backquote, control bytes, and bytes of 0x80 and above (so
// a UTF-8 name becomes its escaped bytes). Separators and reserved characters
// (: / ? & = , ; @ + $ #) stay as they are, and so does '%', so an escaped text is not escaped
// twice.
std::string EscapeUrlText(std::string_view text);
