// Where the machine's and the users' state lives. NOLT_ROOT=DIR makes a self-contained sandbox.
#pragma once
#include <string>

namespace platform {

// True when NOLT_ROOT names a sandbox root.
bool InSandbox();
// The sandbox root without a trailing slash; empty outside a sandbox.
std::string SandboxRoot();

// The process's user name: NOLT_USER inside a sandbox, else the effective uid's account name;
// uid 0 is the system account, "SYSTEM".
std::string ProcessUserName();
// The system account's name.
inline constexpr const char* kSystemAccountName = "SYSTEM";

// Directory of the named objects of one namespace, created on first use. The Global one must be
// owned by root (inside a sandbox: root or the sandbox's owner), a local one by the calling
// account. Empty with LastError() 3 when it cannot be made, 5 when it is not to be trusted.
std::string NamedObjectDirectory(bool global);

// True for the accounts that own the Global namespace (platform/sync.h tells what they may
// do there that others may not): root, and inside a sandbox the owner of its root.
bool IsGlobalObjectCreator(unsigned uid);

// Creates a directory and its missing parents with the given mode; true when it exists after.
bool EnsureDirectory(const std::string& path, unsigned mode = 0755);

}  // namespace platform
