// The rule language of filter scripts: lines separated by line feeds, each a list of fields
// separated by "|": connective ("and", "or", "not"), operand (a text with inventory macros),
// a carried field, operator and comparison value. The operand is expanded by the inventory
// macro expander and compared with the value (noltsync/manifest/rule_operators.h).
#pragma once
#include <string_view>
#include <vector>

#include "foundation/strings/hx_str.h"

class SdcSyncDataHarvestEx;

// One rule line. Fields keep their spaces; missing trailing fields are empty.
struct RuleLine {
  HxStr connective;
  HxStr operand;
  HxStr carried;  // not interpreted
  HxStr op;
  HxStr value;
};

// A rule line, counted with its line feed, must stay below this many characters.
inline constexpr int kMaxScriptLineSize = 4095;

// Splits `text` into rule lines; lines that are empty once spaces are removed at both ends are
// skipped. False for an empty text and, with a level-8 log line, for an over-long line.
bool ParseScriptText(std::string_view text, std::vector<RuleLine>& lines);

// The result of a rule script; false when it does not parse, has no lines or meets an unknown
// connective. A null `harvest` makes every condition false. Raises script_error when an operand
// holds no inventory macro.
bool EvaluateRuleScript(std::string_view text, SdcSyncDataHarvestEx* harvest);

// One condition: the operand expanded through `harvest`, compared by the operator. False when
// `harvest` is null or none of the operand's macros could be resolved. Raises script_error
// (after a level-8 log line) when the operand holds no inventory macro.
bool EvaluateRule(const RuleLine& line, SdcSyncDataHarvestEx* harvest);
