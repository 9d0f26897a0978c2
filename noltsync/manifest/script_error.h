// script_error: raised when a rule script cannot be evaluated at all (an operand that holds no
// inventory macro). The filter host catches it around the evaluation of one script; it never
// leaves that step.
#pragma once
#include <stdexcept>
#include <string>

class script_error : public std::runtime_error {
 public:
  explicit script_error(const std::string& operand)
      : std::runtime_error("cannot expand rule operand: " + operand) {}
};
