// Creating files under names that nobody else holds, and writing them whole.
#pragma once
#include <sys/types.h>

#include <string>

namespace platform {

// Opens a new file prefix + random characters + ".tmp" in `directory` for writing (O_EXCL,
// retried on a clash) and stores its path; -1 with the last error set on failure.
int OpenUniqueFile(const std::string& directory, const std::string& prefix, mode_t mode,
                   std::string& path);

// Writes all the bytes, going on after interruptions; false with errno set on failure.
bool WriteAll(int fd, const char* data, size_t size);

}  // namespace platform
