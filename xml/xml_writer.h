// The writer of the XML tree: a fixed, indented layout (3 spaces per level of depth).
// An element with text and no children takes one line; an element with children opens and
// closes on lines of its own, and a text beside children comes after the last child. Only a
// childless, textless element below another is written in the short form "<name/>". A CDATA
// text goes out as a CDATA section unless it holds "<![CDATA[" or "]]>", then as plain text.
#pragma once
#include <string>

#include "foundation/strings/hx_str.h"

struct XmlDocument;
struct XmlElement;

namespace xml_writer {

// Writes the declaration, an empty line and the root element at depth 0, with every line
// ending in carriage return and line feed, to a temporary file beside `path` that then
// replaces it. The directory is created first when it is missing.
bool SaveDocument(const XmlDocument& document, bool escape, const std::string& path);

// Writes the element's subtree from depth 3 with "\n" line ends into a "_tf" file in
// `directory`, reads it into `out` and removes it. False when the file cannot be made.
bool RenderElement(const XmlElement& element, bool escape, const std::string& directory,
                   HxStr& out);

}  // namespace xml_writer
