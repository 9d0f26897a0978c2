// The allocator's failure handler: a "Memory Error" box; Retry repeats the allocation, any other
// answer ends the process with exit code 1.
#pragma once

inline constexpr const char* kOutOfMemoryCaption = "Memory Error";
inline constexpr const char* kOutOfMemoryText =
    "Out of memory.  Please close any additional applications and retry.";

// Makes the handler the process's new-handler (one per process on this system) and remembers
// the one it replaces. Installing it again while it is in place changes nothing.
void InstallOutOfMemoryHandler();

// Gives the process back the handler that the install replaced, when this one is still in
// place; a handler installed since stays. A library calls it before it is unloaded, so that no
// handler of its code outlives it.
void RemoveOutOfMemoryHandler();
