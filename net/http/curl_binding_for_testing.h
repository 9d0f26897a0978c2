// Lets tests evaluate the library's availability again after changing "InvalidWinInetVer", and
// close the calling thread's pooled connections so that a test server is not kept waiting.
#pragma once

namespace http_binding {
void ReevaluateHttpLibraryForTesting();
// Closes the thread's pooled connections; false while a transfer object still holds a session.
bool DropSharedConnectionsForTesting();
}  // namespace http_binding
