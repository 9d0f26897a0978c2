// The allocator's failure handler: a "Memory Error" box; Retry repeats the allocation, any other
// answer ends the process with exit code 1.
#pragma once

inline constexpr const char* kOutOfMemoryCaption = "Memory Error";
inline constexpr const char* kOutOfMemoryText =
    "Out of memory.  Please close any additional applications and retry.";

// Installs the handler as the process's new-handler (one per process on this system).
void InstallOutOfMemoryHandler();
