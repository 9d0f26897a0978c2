// The comparison operators of the rule language, applied to an expanded operand and a value.
#pragma once
#include <string_view>
#include <vector>

// True when `expansion` and `value` satisfy `op` (letter case of the operator ignored); an
// unknown operator is never true.
bool ApplyRuleOperator(std::string_view expansion, std::string_view op, std::string_view value);

// Text helpers shared by the rule parser and the operators.
namespace rule_text {
// The pieces of `text` between `separator`s; an empty text gives one empty piece.
std::vector<std::string_view> Split(std::string_view text, char separator);
// `text` without the spaces at both ends.
std::string_view TrimSpaces(std::string_view text);
}  // namespace rule_text
