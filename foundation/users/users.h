// Users: the user name a context stands for, the system account's name and the users logged on
// to the machine. Failures are traced (category 1) and returned as false or 0.
#pragma once
#include <cstddef>
#include <string_view>
#include <vector>

#include "foundation/strings/hx_str.h"

// The user name for the context, chosen by the double word "UserIdType" of the provider subkey
// "General" (0 when absent): 3 the system account, 1 and 2 (directory-service names, not
// available here) fall back to the system account, anything else the process's user name.
// Copied into buffer, cut to fit; false only when it was cut.
bool TuGetUserName(char* buffer, size_t size);

// The system account's name ("SYSTEM").
HxStr GetSystemAccountName();

// True when userName is the system account's name, compared without regard to case.
bool IsSystemAccountName(std::string_view userName);

// The users logged on to the machine, one per session (a session without a user gives an empty
// name). The services' session, which has no user, is always listed first, so nobody logged on
// is one empty name, not a failure. Returns the number of names; 0 on failure.
size_t GetLoggedOnUserNames(std::vector<HxStr>& names);

// Whether sessions can be enumerated: always here.
bool IsTerminalServer();
