// NoltManifest: reads the server's XML manifest into the scripts table and the two files
// tables (noltsync/manifest/manifest_tables.h) that the updater works from.
//
// Element names are matched exactly; every value is read through the XML tree's getters, so
// "%PROVIDERID%" in it becomes the current provider id. A load that fails leaves the tables as
// they were; a load that succeeds adds to them, keeping entries whose keys are present already.
#pragma once
#include <cstddef>
#include <string_view>

#include "foundation/strings/hx_str.h"
#include "noltsync/manifest/manifest_tables.h"
#include "xml/tu_xml_node.h"

// The most bytes a manifest may hold in one element text, or in one tag with its attributes (or
// other markup). Real manifests stay far below it; a larger piece refuses the whole manifest
// before the rest of it is read.
inline constexpr size_t kManifestPieceLimit = size_t{4} << 20;

class NoltManifest {
 public:
  NoltManifest() = default;
  virtual ~NoltManifest() = default;

  // Parses the file (element texts trimmed) and fills the three tables. False, with one
  // level-8 log line, when the XML cannot be read or holds a piece over kManifestPieceLimit.
  virtual bool LoadManifest(std::string_view path);

  // The root's first "filters", "profile-set" or "data-set" child into one table each. True
  // always, also when the element is missing.
  virtual bool ParseFilters(const TuXMLNode& root);
  virtual bool ParseProfileSet(const TuXMLNode& root);
  virtual bool ParseDataSet(const TuXMLNode& root);

  const ManifestFilterScripts& Scripts() const { return m_scripts; }
  const ManifestFileTable& ProfileFiles() const { return m_profileFiles; }
  const ManifestFileTable& DataFiles() const { return m_dataFiles; }

 protected:
  ManifestFilterScripts m_scripts;
  ManifestFileTable m_profileFiles;
  ManifestFileTable m_dataFiles;
};

// Scans every "property" child of `file`; each whose "name" equals `name` (letter case ignored)
// stores its text in `value`, so the last one wins. True when at least one matched.
bool ReadProperty(const TuXMLNode& file, std::string_view name, HxStr& value);

// "VBSCRIPT" gives VBScript, "JAVASCRIPT" JScript (letter case ignored); anything else, an
// empty text included, the rule language.
int ScriptLanguageFromName(std::string_view name);
