// HxKVListMap: named sections, each an HxKVList, stored in the one text format of the system:
// "[Section]" lines, "name=value" lines, comment lines that begin with ';'.
#pragma once
#include <cstddef>
#include <map>
#include <string_view>

#include "foundation/kv/hx_kv_list.h"

class HxKVListMap : public std::map<HxStr, HxKVList, iTCHAR_less> {
 public:
  // Clears the map and parses the file at `path` (any location a transfer object reaches).
  // False for an empty path, a file that cannot be loaded, or a parse failure.
  bool Load(std::string_view path);
  // Stores the map at `path` with line feeds; an empty map deletes the file.
  bool Save(std::string_view path) const;

  // Parses sections from the stream's cursor. Lines before the first header are dropped; of
  // two sections with one name the first wins.
  bool Read(HxStream& stream);
  // Writes every section ("[%s]" and its pairs); `stream` null only counts.
  bool Write(HxStream* stream, bool carriageReturn, size_t& total) const;

  // The named section, or null.
  HxKVList* GetSection(std::string_view name);
  const HxKVList* GetSection(std::string_view name) const;
  // The named section, created empty when missing.
  HxKVList& AddSection(const HxStr& name);
};

// The name of a section header line: a ';' after a ']' cuts the line behind that bracket,
// then leading '[', trailing white space and leading and trailing ']' are removed.
HxStr ParseSectionName(std::string_view headerLine);
