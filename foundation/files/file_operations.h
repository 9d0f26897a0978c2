// File operations of the engine: they clear the read-only attribute that blocks them, can defer
// a deletion or replacement that cannot happen now to the next restart, and hand an operation
// refused for lack of rights to the agent's repair service. Failures record a numbered error in
// the calling thread's error store.
#pragma once
#include <string_view>

// CopyFileEx flags.
inline constexpr unsigned kCopyFailIfExists = 1;     // an existing target fails the copy
inline constexpr unsigned kCopyMissingSourceOk = 2;  // a missing source fails without an error

// The switches. Each setter returns the previous value, so that a caller can switch a deferral
// on around one operation and restore it afterwards. The two deferrals belong to the calling
// thread (every thread starts with both off), so that contexts running side by side in one
// process never leave each other's deferral on; the master switch and restart pending are
// process-wide.
bool SetDeleteDeferral(bool on);
bool SetReplaceDeferral(bool on);
bool SetDeferralMaster(bool on);   // on at start; both deferrals need it
bool SetRestartPending(bool on);   // set whenever an operation was deferred to the next restart
bool DeleteDeferral();
bool ReplaceDeferral();
bool RestartPending();

// True when the file is gone or its deletion was deferred.
bool DeleteFileEx(std::string_view path);
// Copies source to target. True on success (also when both name the same file).
bool CopyFileEx(std::string_view source, std::string_view target, unsigned flags);
// Moves source over target now, or copies it beside the target and replaces the target at the
// next restart. True when done or deferred.
bool ReplaceAtRestart(std::string_view source, std::string_view target);
// Schedules a file or empty directory for deletion at the next restart; a path that does not
// exist fails with 2.
bool DeleteAtRestart(std::string_view path);
// Creates a directory with its missing parents; true when it is a directory afterwards.
bool CreateDirectoryPath(std::string_view path);
// Removes a directory with everything below it. Files are removed only with `deleteFiles` (one
// file without it fails the walk); `clearAttributes` makes read-only files writable first.
bool RemoveDirectoryTree(std::string_view directory, bool deleteFiles, bool clearAttributes);
// Removes the empty directories of `path` from the deepest up to (not including) `base`.
// Always true.
bool RemoveEmptyDirectories(std::string_view path, std::string_view base);
