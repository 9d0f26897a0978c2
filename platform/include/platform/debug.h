// Debugger output and message boxes. Debug output goes to the trace sink chosen by NOLT_TRACE
// ("stderr", or a file path that is appended to), else nowhere. The variable is read once, at the
// first output of the process.
#pragma once
#include <string_view>

namespace platform {

void OutputDebugText(std::string_view text);

inline constexpr int kMessageBoxOk = 1;
inline constexpr int kMessageBoxRetry = 4;

// There are no windows: the box is one line "[caption] text" on standard error and the trace
// sink, and the answer is OK.
int ShowMessageBox(std::string_view caption, std::string_view text);

}  // namespace platform
