#include "noltsync/manifest/rule_operators.h"

#include <charconv>
#include <system_error>

#include "foundation/strings/hx_str.h"

namespace rule_text {

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, start)) {
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

std::string_view TrimSpaces(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace rule_text

namespace {

using rule_text::Split;
using rule_text::TrimSpaces;

bool EqualNoCase(std::string_view a, std::string_view b) { return CompareNoCase(a, b) == 0; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

// True when some piece of `wanted` (split at semicolons, spaces trimmed) equals, letter case
// ignored, one of `items`.
bool AnyWantedItem(const std::vector<std::string_view>& items, std::string_view wanted) {
  for (std::string_view piece : Split(wanted, ';')) {
    const std::string_view trimmed = TrimSpaces(piece);
    for (std::string_view item : items) {
      if (EqualNoCase(item, trimmed)) return true;
    }
  }
  return false;
}

// The pieces of a "key,value|key,value" expansion, each after its first comma when it has one.
std::vector<std::string_view> InstanceValues(std::string_view expansion) {
  std::vector<std::string_view> values = Split(expansion, '|');
  for (std::string_view& value : values) {
    const size_t comma = value.find(',');
    if (comma != std::string_view::npos) value.remove_prefix(comma + 1);
  }
  return values;
}

// The whole text as a decimal number; an empty text reads as 0.
bool ReadNumber(std::string_view text, double& number) {
  number = 0;
  if (text.empty()) return true;
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  const size_t lead = text[0] == '-' ? 1 : 0;
  // Digits or a point must come first: the parser would also take "inf" and "nan".
  if (lead >= text.size() || !((text[lead] >= '0' && text[lead] <= '9') || text[lead] == '.')) {
    return false;
  }
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  return error == std::errc() && stop == end;
}

// <0, 0 or >0: numbers when both read as numbers, else the texts with letter case ignored.
int CompareOrdered(std::string_view expansion, std::string_view value) {
  double left = 0;
  double right = 0;
  if (ReadNumber(expansion, left) && ReadNumber(value, right)) {
    return left < right ? -1 : (left > right ? 1 : 0);
  }
  return CompareNoCase(expansion, value);
}

bool MatchesGlob(std::string_view expansion, std::string_view pattern) {
  return HxStr(expansion).MatchNoCase(HxStr(pattern).c_str());
}

bool MatchesInstanceValue(std::string_view expansion, std::string_view value) {
  return AnyWantedItem(InstanceValues(expansion), value);
}

}  // namespace

bool ApplyRuleOperator(std::string_view e, std::string_view op, std::string_view v) {
  if (EqualNoCase(op, "=")) return EqualNoCase(e, v);
  if (EqualNoCase(op, "!=")) return !EqualNoCase(e, v);
  if (EqualNoCase(op, "**")) return e.find(v) != std::string_view::npos;
  if (EqualNoCase(op, "~*")) return e.find(v) == std::string_view::npos;
  if (EqualNoCase(op, "*")) return StartsWithNoCase(e, v);
  if (EqualNoCase(op, "glob")) return MatchesGlob(e, v);
  if (EqualNoCase(op, "~glob")) return !MatchesGlob(e, v);
  if (EqualNoCase(op, "=*")) return AnyWantedItem(Split(e, ';'), v);
  if (EqualNoCase(op, "=**")) return MatchesInstanceValue(e, v);
  if (EqualNoCase(op, "~=*")) return !MatchesInstanceValue(e, v);
  if (EqualNoCase(op, "<")) return CompareOrdered(e, v) < 0;
  if (EqualNoCase(op, ">")) return CompareOrdered(e, v) > 0;
  if (EqualNoCase(op, "<=")) return CompareOrdered(e, v) <= 0;
  if (EqualNoCase(op, ">=")) return CompareOrdered(e, v) >= 0;
  return false;
}
