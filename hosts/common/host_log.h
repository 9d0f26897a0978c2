// The host's log: every line of the plug-in and of the host itself, with a local time stamp to
// the millisecond and the level's name, to standard error or a file. No line shows a password
// of a location.
#pragma once
#include <cstdint>
#include <string>

// Opens the log; an empty path means standard error. A file the host creates gets `mode` and,
// where it exists, `group`; one that exists is left as it is. False when it cannot be opened.
bool OpenHostLog(const std::string& path, bool quiet, unsigned mode = 0600,
                 const std::string& group = "");
void CloseHostLog();

// The callback handed to the plug-in as "LOGGER".
extern "C" void HostLoggerCallback(uint32_t category, uint32_t level, const char* format, ...);

// A line of the host's own, at the given level (1 detail, 2 info, 4 warning, 8 error).
void HostReport(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
