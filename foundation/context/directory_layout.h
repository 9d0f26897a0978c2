// The local directories of a provider and user ("DirContent", "DirLogs", ...), the program root,
// the temporary directory, and the one conversion of the context's Windows-style paths to local
// ones. Directory values end in a backslash.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

#include "foundation/strings/hx_str.h"

// The local form of a path from the context, the registry or a configuration file: every
// backslash becomes '/'. Use it wherever a file or directory is touched.
std::string LocalPath(std::string_view text);

// base, then each part, each followed by a backslash unless it already ends in a separator.
HxStr DirectoryPath(std::string_view base, std::initializer_list<std::string_view> parts = {});

// The directory for a name (compared without case). With `create` it is made with its missing
// parents and the result is that creation's success; otherwise true when a path was found.
bool GetDirectory(std::string_view name, HxStr& path, bool create = false);

// The machine-level value "ProgramRoot" of the provider's "InstallPaths", ending in a backslash;
// empty when it is not set.
HxStr ProgramRoot();

// The context's "TempRoot"; when unset, the system's temporary directory (unless it is the
// current directory), else "TMP" or "TEMP", else the program root's "temp\". The choice is
// stored as "TempRoot"; the directory is created when missing.
HxStr GetTempRoot();
