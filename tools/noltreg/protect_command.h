// Protected values from the command line: "add KEY (-v NAME | -ve) --protect [-f]" reads the
// secret from standard input (one line, not shown when it is typed on a terminal), never from
// the command line, and stores its protected form as REG_SZ. Query shows such a value as
// "(protected)"; export writes it as stored.
#pragma once
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace noltreg {

// True when the command line asks for a protected value.
bool AsksToProtect(const std::vector<std::string>& args);

// Runs the protected add; the exit code and output as RunNoltreg's.
int RunProtectedAdd(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                    std::ostream& err);

// The data column of a value in query output: "(protected)" for a protected value.
std::string DisplayedData(const platform::RegistryValue& value);

}  // namespace noltreg
