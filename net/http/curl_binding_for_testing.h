// Lets tests evaluate the library's availability again after changing "InvalidWinInetVer", and
// close the pooled connections so that a test server is not kept waiting on them.
#pragma once

namespace http_binding {
void ReevaluateHttpLibraryForTesting();
// Closes every pooled connection; false while a transfer object still holds a session.
bool DropSharedConnectionsForTesting();
}  // namespace http_binding
