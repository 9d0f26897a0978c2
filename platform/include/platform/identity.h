// Who and where: the computer's name and the users logged on to it. The process's own user name
// is sandbox.h's ProcessUserName.
#pragma once
#include <string>
#include <vector>

namespace platform {

// The computer name: the host name up to its first dot.
std::string ComputerName();

// The users logged on to the machine, one name per session, in session order. Inside a sandbox
// the file DIR/machine/sessions, when it exists, is the list (one name a line; an empty line is a
// session without a user). Otherwise the user-process records of utmp, each name once.
// False when the list cannot be read.
bool LoggedOnUserNames(std::vector<std::string>& names);

// Path of the sandbox's session list; empty outside a sandbox.
std::string SessionListPath();

}  // namespace platform
