#include "noltsync/manifest/rule_script.h"

#include <iterator>
#include <string>

#include "foundation/log/host_logger.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "noltsync/manifest/rule_operators.h"
#include "noltsync/manifest/script_error.h"

namespace {

// Appends the rule line held in `buffer` (its line feed already cut) unless it is blank.
void AddRuleLine(std::string_view buffer, std::vector<RuleLine>& lines) {
  const std::string_view trimmed = rule_text::TrimSpaces(buffer);
  if (trimmed.empty()) return;
  const std::vector<std::string_view> fields = rule_text::Split(trimmed, '|');
  RuleLine line;
  HxStr* targets[] = {&line.connective, &line.operand, &line.carried, &line.op, &line.value};
  for (size_t i = 0; i < fields.size() && i < std::size(targets); ++i) {
    *targets[i] = HxStr(fields[i]);
  }
  lines.push_back(std::move(line));
}

bool IsConnective(const RuleLine& line, const char* name) {
  return line.connective.CompareNoCase(name) == 0;
}

}  // namespace

bool ParseScriptText(std::string_view text, std::vector<RuleLine>& lines) {
  if (text.empty()) return false;
  std::string buffer;
  int count = 0;
  for (const char c : text) {
    buffer += c;
    if (++count >= kMaxScriptLineSize) {
      HostLog(kLogError,
              "Failed to parse script text. ScriptLineSize is more than %d  ScriptLine: %s...\n",
              kMaxScriptLineSize, buffer.c_str());
      return false;
    }
    if (c == '\n') {
      buffer.pop_back();
      AddRuleLine(buffer, lines);
      buffer.clear();
      count = 0;
    }
  }
  AddRuleLine(buffer, lines);
  return true;
}

bool EvaluateRuleScript(std::string_view text, SdcSyncDataHarvestEx* harvest) {
  std::vector<RuleLine> lines;
  if (!ParseScriptText(text, lines) || lines.empty()) return false;
  bool result = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const RuleLine& line = lines[i];
    const bool first = i == 0;
    if (IsConnective(line, "and")) {
      if (first) result = true;
      if (!EvaluateRule(line, harvest) || !result) return false;
      result = true;
    } else if (IsConnective(line, "or")) {
      if (first) result = false;
      result = EvaluateRule(line, harvest) || result;
    } else if (IsConnective(line, "not")) {
      if (first) result = true;
      result = !EvaluateRule(line, harvest) && result;
    } else {
      return false;
    }
  }
  return result;
}

bool EvaluateRule(const RuleLine& line, SdcSyncDataHarvestEx* harvest) {
  if (harvest == nullptr) return false;
  HxStr expansion;
  if (!harvest->Translate(line.operand, expansion)) {
    HostLog(kLogError, "Failed to expand SI macro: %s\n", line.operand.c_str());
    throw script_error(line.operand.c_str());
  }
  // An expansion equal to the operand resolved none of its macros.
  const bool outcome =
      expansion != line.operand && ApplyRuleOperator(expansion, line.op, line.value);
  HostLog(kLogDetail, "%s %s %s = %s\n", expansion.c_str(), line.op.c_str(), line.value.c_str(),
          outcome ? "TRUE" : "FALSE");
  return outcome;
}
