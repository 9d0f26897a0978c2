// Log files: appended to by one process, and private from the moment a process creates one.
#pragma once
#include <cstdio>
#include <string>

namespace platform {

struct OpenedLogFile {
  std::FILE* file = nullptr;  // opened for appending; the caller closes it
  bool created = false;       // this call made the file
  unsigned mode = 0;          // the file's permission bits
};

// Opens `path` for appending. A file that does not exist yet is made with exactly `mode` (the
// umask neither widens nor narrows it) and, when `group` names a group of the system that the
// process may give files to, that group. A file that exists keeps its owner, group and modes:
// the administrator who made it chose them. False with the last error set on failure.
bool OpenLogFile(const std::string& path, unsigned mode, const std::string& group,
                 OpenedLogFile& opened);

}  // namespace platform
