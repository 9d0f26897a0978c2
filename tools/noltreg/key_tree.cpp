#include "key_tree.h"

#include <algorithm>

#include "platform/errors.h"

namespace noltreg {

using platform::RegistryKey;

uint32_t WalkKeys(const RegistryKey& top, bool recurse, const KeyVisitor& visit) {
  struct Pending {
    RegistryKey key;
    size_t depth = 0;
  };
  // Keys still to visit, the next one last: each visited key's subkeys go on in reverse order.
  std::vector<Pending> stack(1);
  uint32_t error = stack[0].key.Open(top, "", platform::kKeyRead);
  const std::string& path = top.Path();
  stack[0].depth = static_cast<size_t>(std::count(path.begin(), path.end(), '\\'));
  std::vector<std::string> names;
  while (error == platform::kErrorSuccess && !stack.empty()) {
    Pending current = std::move(stack.back());
    stack.pop_back();
    if (current.depth > platform::kMaxKeyDepth) return platform::kErrorBadKey;
    names.clear();
    std::string name;
    while ((error = current.key.EnumKey(static_cast<uint32_t>(names.size()), name)) ==
           platform::kErrorSuccess) {
      names.push_back(name);
    }
    if (error != platform::kErrorNoMoreItems) return error;
    error = visit(current.key, names);
    for (auto child = names.rbegin(); recurse && error == platform::kErrorSuccess &&
                                      child != names.rend();
         ++child) {
      stack.push_back(Pending{RegistryKey(), current.depth + 1});
      error = stack.back().key.Open(current.key, *child, platform::kKeyRead);
    }
  }
  return error;
}

}  // namespace noltreg
