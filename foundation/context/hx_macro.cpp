#include "foundation/context/hx_macro.h"

#include <string>

#include "foundation/context/context_names.h"
#include "foundation/context/context_store.h"
#include "foundation/context/system_folders.h"

namespace {

// Replaces every occurrence of `from` in `text` by `to`, scanning left to right past each
// replacement. UTF-8 text cannot match inside a character, so a byte search is exact.
bool ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return false;
  bool replaced = false;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
    replaced = true;
  }
  return replaced;
}

}  // namespace

bool HxMacro::Expand(std::string_view input, HxStr& output, bool reverse) const {
  std::string text(input);
  bool replaced = false;
  for (const auto& [token, value] : *this) {
    replaced |= reverse ? ReplaceAll(text, value, token) : ReplaceAll(text, token, value);
  }
  output = text;
  return replaced;
}

void HxMacroMachine::SetMachineAndUser(std::string_view machine, std::string_view user) {
  Set("%MACHINE%", machine.empty() ? GetSystemFolder(kFolderMachineName) : HxStr(machine));
  Set("%USERNAME%", user.empty() ? GetContextValue(context_names::kUserName) : HxStr(user));
}

bool HxMacroMachine::AddPathMacro(const HxStr& name, std::string_view path) {
  const size_t separator = path.find_last_of("\\/");
  if (separator == std::string_view::npos) return false;
  return Set(name, HxStr(path.substr(0, separator)) + '\\');
}
