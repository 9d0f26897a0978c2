// Unpacking an archive below a target directory, keeping the folder names it stores or
// dropping them.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// The local relative path of an entry name ('\' read as a separator), or false when the name
// would leave the target (empty, rooted, a drive "C:", a ".." component) or holds a control
// byte (below 0x20), which could hide a ".." from a line-based reader.
bool SafeEntryPath(std::string_view entryName, std::string& relativePath);

// True when a folder between `base` (ending in '/') and the file of `relativePath` is a link,
// which could lead out of the target (made by someone else: extraction never creates links).
bool PassesThroughLink(const std::string& base, const std::string& relativePath);

// The name for a log line: control bytes written as "\xNN", so that one name is one line.
std::string PrintableEntryName(std::string_view name);

// What an archive may unpack to: "MaxUnpackMB" of section "Sync" in megabytes, or 4 GiB when
// that is absent, 0 or not a number.
inline constexpr uint64_t kDefaultMaxUnpackBytes = 4ull << 30;
uint64_t MaxUnpackBytes();

// Where ExtractZipArchive puts an entry.
enum class ZipEntryPaths {
  kKeepFolders,  // below `targetDir` with the folder names the archive stores
  kBareNames,    // directly in `targetDir` under its file name; folder entries make nothing
};

// Extracts every entry below `targetDir`. The archive is refused whole, before anything is
// written, when a name is unsafe or passes through a link, or when the declared sizes add up
// to more than MaxUnpackBytes() or the free space of the target's file system. Each file is
// streamed into a temporary file beside its destination and renamed only once whole and its
// checksum verified; an entry that unpacks to more than its declared size fails. The first
// failing entry stops the extraction, which then fails; entries already extracted stay.
// With bare names, entries that share a file name leave the last one's content.
bool ExtractZipArchive(std::string_view archivePath, std::string_view targetDir,
                       ZipEntryPaths paths = ZipEntryPaths::kKeepFolders);
