// The three tables that a parsed manifest yields: the filter scripts by name and the profile
// and data files by file name. Keys compare without regard to ASCII letter case (bytes of
// multibyte characters compare as they are), and iteration runs in that key order. Inserting a
// key that is already present keeps the entry in the table.
#pragma once
#include <map>

#include "foundation/kv/hx_kv_list.h"
#include "foundation/strings/hx_str.h"

// Languages of a filter script.
enum ScriptLanguage : int {
  kScriptVbScript = 0,
  kScriptJScript = 1,
  kScriptRule = 2,  // the plug-in's own rule language (noltsync/manifest/rule_script.h)
};

struct ManifestScriptEntry {
  HxStr text;
  HxStr group;  // empty when the element has no "group" attribute
  int language = kScriptRule;
};

// The scripts table, keyed by script name.
struct ManifestFilterScripts : std::map<HxStr, ManifestScriptEntry, iTCHAR_less> {};

struct ManifestFileEntry {
  HxStr fileName;
  HxStr source;   // where the file lies on the server
  HxStr target;   // where it goes on this machine
  HxStr spare;    // carried for the download steps; parsing leaves it empty
  HxStr filters;  // names of the filter scripts that decide whether the file applies
  HxStr checksum;
  bool machineLevel = true;
  bool userLevel = true;
};

// A files table, keyed by file name.
using ManifestFileTable = std::map<HxStr, ManifestFileEntry, iTCHAR_less>;
