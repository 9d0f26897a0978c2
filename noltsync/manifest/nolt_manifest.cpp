#include "noltsync/manifest/nolt_manifest.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/log/host_logger.h"
#include "xml/tu_xml_tree.h"
#include "xml/tu_xml_walkers.h"

namespace {

// The first child of `parent` named `name`; an invalid handle when there is none.
TuXMLNode FirstChild(const TuXMLNode& parent, std::string_view name) {
  TuXMLNodeList list;
  if (!parent.FindChildren(name, list) || !list.Next()) return TuXMLNode();
  return list.Duplicate();
}

// Logs why `tree` could not be loaded.
void LogLoadError(const TuXMLTree& tree) {
  if (tree.IsParseError()) {
    HostLog(kLogError, "Manifest XML Parser Error: %s\tLine: %d\tColumn: %d\n",
            tree.GetErrorString().c_str(), tree.GetErrorLine(), tree.GetErrorColumn());
  } else if (tree.HasError()) {
    HostLog(kLogError, "Manifest XML Error: %s\n", tree.GetErrorString().c_str());
  } else {
    HostLog(kLogError, "XML Error: Unknown\n");
  }
}

// One property that a file entry takes: where its text goes and whether it was met.
struct WantedProperty {
  std::string_view name;
  HxStr* value;
  bool found = false;
};

// Reads every wanted property in one pass over the "property" children, with ReadProperty's
// rules: names compare without letter case and a later element wins. `properties` is scratch
// space that a caller reading many files hands in again and again.
void ReadProperties(const TuXMLNode& file, WantedProperty* wanted, size_t count,
                    TuXMLNodeList& properties) {
  if (!file.FindChildren("property", properties)) return;
  HxStr name;  // one buffer for every property's name
  while (properties.Next()) {
    if (!properties.GetAttribute("name", name)) name.Empty();  // as GetAttributeValue gives
    for (size_t i = 0; i < count; ++i) {
      if (CompareNoCase(name, wanted[i].name) != 0) continue;
      *wanted[i].value = properties.GetText();
      wanted[i].found = true;
      break;
    }
  }
}

// Inserts the entries under their file names, the first of equal names winning. They go in
// key order, each with the place after the previous one as its hint, so that no insertion
// walks the tree: a walk reads one scattered key per level, which dominated loading large
// manifests. The names are sorted from one contiguous copy for the same reason.
void InsertInKeyOrder(std::vector<ManifestFileEntry>& entries, ManifestFileTable& table) {
  struct Item {
    size_t offset;  // of the name in `names`
    size_t length;
    size_t index;  // of the entry
  };
  std::string names;
  std::vector<Item> items;
  items.reserve(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string_view name(entries[i].fileName);
    items.push_back({names.size(), name.size(), i});
    names.append(name);
  }
  const auto nameOf = [&names](const Item& item) {
    return std::string_view(names).substr(item.offset, item.length);
  };
  // Stable, so that of equal names the one earlier in the document comes first.
  std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
    return iTCHAR_less()(nameOf(a), nameOf(b));
  });
  auto hint = table.end();
  for (const Item& item : items) {
    ManifestFileEntry& entry = entries[item.index];
    HxStr key = entry.fileName;
    hint = std::next(table.emplace_hint(hint, std::move(key), std::move(entry)));
  }
}

// Every "file" child of the root's first `setName` child into `table`; the machine-level
// property is read only when `readsLevel` is set.
void ParseFileSet(const TuXMLNode& root, std::string_view setName, bool readsLevel,
                  ManifestFileTable& table) {
  TuXMLNodeList files;
  if (!FirstChild(root, setName).FindChildren("file", files)) return;
  TuXMLNodeList properties;
  std::vector<ManifestFileEntry> entries;
  entries.reserve(static_cast<size_t>(files.GetCount()));
  while (files.Next()) {
    ManifestFileEntry entry;
    HxStr level;
    WantedProperty wanted[] = {{"filename", &entry.fileName}, {"source", &entry.source},
                               {"target", &entry.target},     {"fchecksum", &entry.checksum},
                               {"filters", &entry.filters},   {"machinelevel", &level}};
    ReadProperties(files, wanted, readsLevel ? std::size(wanted) : std::size(wanted) - 1,
                   properties);
    if (wanted[std::size(wanted) - 1].found) {
      entry.machineLevel = level.CompareNoCase("1") == 0;
      entry.userLevel = !entry.machineLevel;
    }
    if (!entry.fileName.IsEmpty()) entries.push_back(std::move(entry));
  }
  InsertInKeyOrder(entries, table);
}

}  // namespace

bool ReadProperty(const TuXMLNode& file, std::string_view name, HxStr& value) {
  WantedProperty wanted[] = {{name, &value}};
  TuXMLNodeList properties;
  ReadProperties(file, wanted, std::size(wanted), properties);
  return wanted[0].found;
}

int ScriptLanguageFromName(std::string_view name) {
  if (CompareNoCase(name, "VBSCRIPT") == 0) return kScriptVbScript;
  if (CompareNoCase(name, "JAVASCRIPT") == 0) return kScriptJScript;
  return kScriptRule;
}

bool NoltManifest::LoadManifest(std::string_view path) {
  TuXMLTree tree;
  tree.SetPieceLimit(kManifestPieceLimit);
  if (!tree.LoadFile(path, true, false) || !tree.IsValid()) {
    LogLoadError(tree);
    return false;
  }
  const TuXMLNode root = tree.GetWalker();
  const bool filters = ParseFilters(root);
  const bool profiles = ParseProfileSet(root);
  const bool data = ParseDataSet(root);
  return filters && profiles && data;
}

bool NoltManifest::ParseFilters(const TuXMLNode& root) {
  TuXMLNodeList scripts;
  if (!FirstChild(root, "filters").FindChildren("script", scripts)) return true;
  while (scripts.Next()) {
    ManifestScriptEntry entry;
    entry.text = scripts.GetText();
    entry.group = scripts.GetAttributeValue("group");
    entry.language = ScriptLanguageFromName(scripts.GetAttributeValue("language"));
    m_scripts.emplace(scripts.GetAttributeValue("name"), std::move(entry));
  }
  return true;
}

bool NoltManifest::ParseProfileSet(const TuXMLNode& root) {
  ParseFileSet(root, "profile-set", false, m_profileFiles);
  return true;
}

bool NoltManifest::ParseDataSet(const TuXMLNode& root) {
  ParseFileSet(root, "data-set", true, m_dataFiles);
  return true;
}
