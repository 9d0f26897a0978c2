// Macros written as a name between percent signs ("%SERVERROOT%"), kept as a list of token to
// replacement. Expansion replaces tokens by their values; the reverse turns values (paths) back
// into tokens.
#pragma once
#include <string_view>

#include "foundation/kv/hx_kv_list.h"

class HxMacro : public HxKVList {
 public:
  // output := input with, for each pair in key order, every occurrence of the key replaced by
  // the value (with `reverse`: of the value by the key). Matching is exact (letter case counts).
  // True when anything was replaced.
  virtual bool Expand(std::string_view input, HxStr& output, bool reverse = false) const;
};

class HxMacroMachine : public HxMacro {
 public:
  // Adds "%MACHINE%" (the computer name when `machine` is empty) and "%USERNAME%" (the context's
  // user name when `user` is empty). Present entries stay.
  virtual void SetMachineAndUser(std::string_view machine, std::string_view user);
  // Adds `name` with the directory part of `path`, ending in a backslash. False when the path
  // has no directory part or the name is present.
  virtual bool AddPathMacro(const HxStr& name, std::string_view path);
};
