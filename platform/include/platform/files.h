// Files as the engine needs them: temporary files, the temporary directory, rename-replace,
// delete, existence, size and last-write time, and copying by temporary file and rename.
// Failures return false and leave the Windows error number in the thread's last error.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Creates a new empty file in `directory` whose name starts with `prefix` and returns its path
// (GetTempFileName). The file exists when this returns true; the caller deletes it.
bool CreateTempFile(const std::string& directory, const std::string& prefix, std::string& path);

// The temporary directory, ending in '/': NOLT_ROOT/tmp/ in a sandbox (created when missing),
// else $TMPDIR, else /tmp/.
std::string TempDirectory();

// Renames `from` to `to`, replacing `to` if it exists (both on one file system).
bool ReplaceFile(const std::string& from, const std::string& to);

// Moves a file or directory (MoveFile): fails with 183 when the target exists. A file moves
// across file systems by copy and delete.
bool MoveFile(const std::string& from, const std::string& to);

// Deletes a file (not a directory).
bool DeleteFile(const std::string& path);

// True when anything exists at `path` (file or directory).
bool PathExists(const std::string& path);
// True when `path` is a directory.
bool IsDirectory(const std::string& path);

bool GetFileSize(const std::string& path, uint64_t& size);

// Last-write time as a file time (100 ns since 1601-01-01 UTC).
bool GetLastWriteTime(const std::string& path, uint64_t& fileTime);
bool SetLastWriteTime(const std::string& path, uint64_t fileTime);

// Copies `from` over `to`: the bytes go to a temporary file in the target's directory, which
// is then renamed over the target, so the target is either the old file or the whole copy.
// The copy keeps the source's last-write time.
bool CopyFileReplace(const std::string& from, const std::string& to);

// The directory part of a path, with its trailing '/' ("" when there is none).
std::string DirectoryOf(const std::string& path);

}  // namespace platform
