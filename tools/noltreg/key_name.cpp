#include "key_name.h"

#include "platform/registry.h"

namespace noltreg {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

bool ParseKeyName(std::string_view text, KeyName& key) {
  struct Root {
    const char* shortName;
    uint32_t handle;
  };
  static constexpr Root kRoots[] = {{"HKLM", platform::kHkeyLocalMachine},
                                    {"HKCU", platform::kHkeyCurrentUser},
                                    {"HKCR", platform::kHkeyClassesRoot}};
  std::string_view::size_type slash = text.find('\\');
  std::string_view root = text.substr(0, slash);
  std::string_view rest = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
  for (const Root& candidate : kRoots) {
    if (EqualsIgnoringCase(root, candidate.shortName) ||
        EqualsIgnoringCase(root, platform::PredefinedKeyName(candidate.handle))) {
      while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
      while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
      key.root = candidate.handle;
      key.subKey = std::string(rest);
      return true;
    }
  }
  return false;
}

}  // namespace noltreg
