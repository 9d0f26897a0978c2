#include "protect_command.h"

#include <algorithm>
#include <iostream>
#include <optional>

#include "error_text.h"
#include "foundation/secrets/protected_value.h"
#include "key_name.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "value_text.h"

namespace noltreg {
namespace {

constexpr const char* kProtectFlag = "--protect";

struct ProtectedAdd {
  std::string key;
  std::optional<std::string> valueName;  // -v NAME, or empty for -ve
  bool force = false;
};

// "add KEY (-v NAME | -ve) --protect [-f]" in any order after "add"; the error line, or empty.
std::string Parse(const std::vector<std::string>& args, ProtectedAdd& command) {
  if (std::find(args.begin(), args.end(), "-d") != args.end()) {
    return "ERROR: --protect reads the data from standard input, never from the command line.";
  }
  bool valid = args.size() > 1 && args[0] == "add";
  bool protect = false;
  for (size_t i = 1; valid && i < args.size(); ++i) {
    const std::string& arg = args[i];
    if ((arg == "-v" && i + 1 < args.size()) || arg == "-ve") {
      valid = !command.valueName;
      command.valueName = arg == "-ve" ? std::string() : args[++i];
    } else if (arg == "-f" || arg == kProtectFlag) {
      bool& seen = arg == "-f" ? command.force : protect;
      valid = !seen;
      seen = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      valid = false;
    } else {
      valid = command.key.empty();
      command.key = arg;
    }
  }
  if (!valid || command.key.empty() || !command.valueName) {
    return "ERROR: Invalid syntax. Type \"noltreg -?\" for usage.";
  }
  return {};
}

// One line of standard input; not shown as it is typed on a terminal.
bool ReadSecret(std::istream& in, std::ostream& err, std::string& secret) {
  const bool terminal = &in == &std::cin && platform::StandardInputIsTerminal();
  if (terminal) err << "Secret: " << std::flush;
  platform::HiddenTerminalInput hidden;
  if (!std::getline(in, secret)) return false;
  if (!secret.empty() && secret.back() == '\r') secret.pop_back();
  return true;
}

bool Confirm(const std::string& question, std::istream& in, std::ostream& out) {
  out << question << " (Yes/No)? " << std::flush;
  std::string answer;
  std::getline(in, answer);
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::string Add(const ProtectedAdd& command, std::istream& in, std::ostream& out,
                std::ostream& err) {
  KeyName name;
  if (!ParseKeyName(command.key, name)) return "ERROR: Invalid key name.";
  std::string secret;
  if (!ReadSecret(in, err, secret)) return "ERROR: No secret on standard input.";
  std::string stored;
  const secrets::SecretStatus status =
      secrets::Protect(secrets::HiveScope(name.root), secret, stored);
  secrets::WipeSecret(secret);
  if (status != secrets::SecretStatus::kOk) {
    return std::string("ERROR: The value cannot be protected: ") + secrets::StatusText(status) +
           ".";
  }
  platform::RegistryKey key;
  uint32_t error = key.Create(name.root, name.subKey, platform::kKeyAllAccess);
  if (error != platform::kErrorSuccess) return ErrorText(error);
  const std::string& valueName = *command.valueName;
  platform::RegistryValue existing;
  if (!command.force && key.QueryValue(valueName, existing) == platform::kErrorSuccess &&
      !Confirm("Value " + (valueName.empty() ? "(Default)" : valueName) + " exists, overwrite", in,
               out)) {
    return "ERROR: The operation was canceled by the user.";
  }
  const std::vector<uint8_t> data = platform::RegistryStringData(stored);
  error =
      key.SetValue(valueName, platform::kRegSz, data.data(), static_cast<uint32_t>(data.size()));
  return error == platform::kErrorSuccess ? std::string() : ErrorText(error);
}

}  // namespace

bool AsksToProtect(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), kProtectFlag) != args.end();
}

int RunProtectedAdd(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                    std::ostream& err) {
  ProtectedAdd command;
  std::string error = Parse(args, command);
  if (error.empty()) error = Add(command, in, out, err);
  if (!error.empty()) {
    err << error << '\n';
    return 1;
  }
  out << "The operation completed successfully.\n";
  return 0;
}

std::string DisplayedData(const platform::RegistryValue& value) {
  const std::string shown = DataForDisplay(value.type, value.data);
  const bool text = value.type == platform::kRegSz || value.type == platform::kRegExpandSz;
  return text && secrets::IsProtectedForm(shown) ? "(protected)" : shown;
}

}  // namespace noltreg
