// Small files that only their owner may read, such as keys: mode 0600 in a directory of mode
// 0700, both owned by the process's account. Failures return false and leave the Windows error
// number in LastError().
#pragma once
#include <cstddef>
#include <string>

namespace platform {

// Reads the whole file, of at most `maxSize` bytes. It must be a regular file (not a link) that
// the process's account owns and that grants nothing to group or others, in a directory of that
// account that nobody else may write: 2 when it is missing, 5 when it fails a check, 13 when it
// is larger than `maxSize`.
bool ReadPrivateFile(const std::string& path, size_t maxSize, std::string& content);

// Makes the file with `content` unless one is already there. The directory is made (0700) when
// missing; the bytes go to a temporary file of mode 0600 beside the target, which is linked under
// the target's name only once whole, never over an existing file. So a reader never sees part of
// it, and of processes racing to make it exactly one wins: the others get 80 and read the
// winner's file.
bool CreatePrivateFile(const std::string& path, const std::string& content);

}  // namespace platform
