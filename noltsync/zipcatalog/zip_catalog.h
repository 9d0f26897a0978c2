// Zip catalogs: the ".zcat" file that stands for an unpacked archive. Section "Info" holds "Id"
// (the archive's MD5 as the manifest gives it) and "DestDir" (the destination in folder-token
// form); section "MD5" maps each entry name, as the archive stores it, to the MD5 of the
// unpacked file ("0" for a directory).
#pragma once
#include <unzip.h>

#include <string_view>

#include "foundation/kv/hx_kv_list.h"

// Writes a new catalog for an archive already unpacked into `destDir` (which ends in a
// separator). An empty archive path writes the catalog without an "MD5" section. True when the
// catalog file was written.
bool CreateZipCatalog(std::string_view catalogPath, std::string_view archivePath,
                      std::string_view destDir, std::string_view id);

// True when the catalog belongs to `id` (letter case counts) and every listed file still has
// its recorded MD5, below `baseDir` or, when that is empty, the catalog's own destination.
bool CheckZipCatalog(std::string_view catalogPath, std::string_view id, std::string_view baseDir);

// Recreates the catalogued directories and copies the catalogued files from `sourceDir` into the
// catalog's destination. True when at least one directory was created or file copied.
bool RestoreFromZipCatalog(std::string_view catalogPath, std::string_view sourceDir);

// Deletes every catalogued file and directory, deepest first, then the catalog itself. Files
// that cannot be deleted now are deleted at the next restart.
void RemoveZipCatalog(std::string_view catalogPath);

// Fills `entries` with each entry name of the open archive -> file MD5 of prefix + name.
// Reading errors end the listing early. Always true.
bool ListZipEntries(unzFile archive, std::string_view prefix, HxKVList& entries);
