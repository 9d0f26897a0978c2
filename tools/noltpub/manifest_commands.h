// noltpub's checks of a manifest and of a rule script, run the way the agent runs them.
#pragma once
#include <ostream>
#include <string>

namespace noltpub {

// Loads the manifest at `path` and prints its scripts, profile files and data files, each table
// opened by a header line and then one tab-separated line per entry. False, with the parser's
// error line on `err`, when the manifest does not load.
bool CheckManifest(const std::string& path, std::ostream& out, std::ostream& err);

// Outcomes of a rule script evaluation.
enum class RuleOutcome { kTrue, kFalse, kError };

// Evaluates the rule script in `scriptPath` against this machine's inventory, collected from
// `templatePath` or, when it is empty, from a built-in template of the environment and the
// installed packages. Each condition's log line goes to `out`, errors to `err`.
RuleOutcome EvaluateRuleScriptFile(const std::string& templatePath, const std::string& scriptPath,
                                   std::ostream& out, std::ostream& err);

}  // namespace noltpub
