// The process's binding to the HTTP library: initialised once per process, refused when the
// machine-level store value "InvalidWinInetVer" ("%d.%d.%d.%d") names a version that the
// library's own is not higher than. The transfers of a thread share one pool of kept-alive
// connections, DNS answers and TLS sessions, so objects made one after another reuse their
// connection.
#pragma once
#include <string>

typedef void CURLSH;

namespace http_binding {

// True when the library is initialised and not refused. Evaluated once per process.
bool HttpLibraryAvailable();

// The library's version as four numbers, "7.88.1.0".
std::string LibraryVersionText();

// The calling thread's share handle that its easy handles attach to (connections, DNS, TLS
// sessions).
CURLSH* SharedTransferState();

// A CA bundle that replaces the system's for server verification: the environment variable
// NOLT_CA_FILE when set (tests and private deployments); empty otherwise.
std::string CaFileOverride();

}  // namespace http_binding
