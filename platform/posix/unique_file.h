// Creating files under names that nobody else holds.
#pragma once
#include <sys/types.h>

#include <string>

namespace platform {

// Opens a new file prefix + random characters + ".tmp" in `directory` for writing (O_EXCL,
// retried on a clash) and stores its path; -1 with the last error set on failure.
int OpenUniqueFile(const std::string& directory, const std::string& prefix, mode_t mode,
                   std::string& path);

}  // namespace platform
