// ModletStart's body: prepare the context, check the server location, hand over to the run-mode
// dispatch, all under the guard that turns an exception into state -1.
#pragma once
#include <string_view>

struct ModletContext;

// The download server must be reached over http:, https: or ftp: (any letter case).
bool IsValidServerLocation(std::string_view server);

// Runs the start sequence on the calling thread until the sync loop ends.
void RunModletStart(ModletContext& context);
