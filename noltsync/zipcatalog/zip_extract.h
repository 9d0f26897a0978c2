// Unpacking an archive below a target directory, keeping the folder names it stores.
#pragma once
#include <string>
#include <string_view>

// The local relative path of an entry name ('\' read as a separator), or false when the name
// would leave the target: empty, rooted, a drive ("C:"), or a ".." component.
bool SafeEntryPath(std::string_view entryName, std::string& relativePath);

// Extracts every entry below `targetDir`. Each file is streamed into a temporary file beside
// its destination and renamed only once whole and its checksum verified. The first entry that
// fails (an unsafe name, a damaged or truncated archive, a write error) stops the extraction,
// which then fails; entries already extracted stay. An entry whose folders pass through an
// existing link is refused as well.
bool ExtractZipArchive(std::string_view archivePath, std::string_view targetDir);
