// The noltpub commands: ca init, sign, verify, pack, manifest check and rules eval.
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace noltpub {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the command ran and failed (verify: not verified)
inline constexpr int kExitUsage = 2;   // the command line is wrong
inline constexpr int kExitScriptError = 2;  // rules eval: the script cannot be evaluated

// Runs one command line (without the program's name); messages go to out and err.
int RunNoltpub(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace noltpub
