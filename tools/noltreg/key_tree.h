// Walking a key and the keys below it without recursion, so that no depth of tree can exhaust
// the stack.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace noltreg {

// Gets each key with the names of its subkeys; an error it returns stops the walk.
using KeyVisitor =
    std::function<uint32_t(const platform::RegistryKey& key, const std::vector<std::string>& subKeys)>;

// Visits top and, with recurse, every key below it: parents first, subkeys in enumeration order.
// A key deeper than kMaxKeyDepth below its root (left by an older version) stops it with 1010.
uint32_t WalkKeys(const platform::RegistryKey& top, bool recurse, const KeyVisitor& visit);

}  // namespace noltreg
