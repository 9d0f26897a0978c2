// The noltreg commands: query, add, delete, export and import.
#pragma once
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace noltreg {

// Runs one command line (without the program's name). Returns the exit code: 0, or 1 after one
// line on err. Confirmations are asked on out and answered from in.
int RunNoltreg(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err);

}  // namespace noltreg
