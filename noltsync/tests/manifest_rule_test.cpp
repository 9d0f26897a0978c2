// Parsing rule scripts into lines and evaluating them with an inventory macro expander.
#include <string>
#include <vector>

#include "foundation/log/host_logger.h"
#include "manifest_test_support.h"
#include "noltsync/manifest/rule_script.h"
#include "noltsync/manifest/script_error.h"

namespace {

class RuleScriptTest : public ManifestTest {
 protected:
  RuleScriptTest() {
    harvest_.Define("%OS::?::Version%", "10");
    harvest_.Define("%OS::?::Name%", "Linux");
  }
  bool Run(const std::string& text) { return EvaluateRuleScript(text, &harvest_); }

  FakeHarvest harvest_;
};

TEST_F(RuleScriptTest, ParseSplitsLinesAndFieldsAndRefusesEmptyText) {
  std::vector<RuleLine> lines;
  ASSERT_TRUE(ParseScriptText("  and| %A::?::B% |x|=| v \n\n   \nor|%C::?::D%", lines));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(S(lines[0].connective), "and");
  EXPECT_EQ(S(lines[0].operand), " %A::?::B% ");  // fields keep their spaces
  EXPECT_EQ(S(lines[0].carried), "x");
  EXPECT_EQ(S(lines[0].op), "=");
  EXPECT_EQ(S(lines[0].value), " v");  // the line lost its trailing spaces
  EXPECT_EQ(S(lines[1].operand), "%C::?::D%");
  EXPECT_TRUE(lines[1].op.IsEmpty());
  EXPECT_TRUE(lines[1].value.IsEmpty());
  // Empty text is refused, blank lines are no lines.
  lines.clear();
  EXPECT_FALSE(ParseScriptText("", lines));
  EXPECT_TRUE(ParseScriptText(" \n  \n", lines));
  EXPECT_TRUE(lines.empty());
  EXPECT_FALSE(Run(" \n"));  // no lines: false
}

TEST_F(RuleScriptTest, LineLengthLimitCountsTheLineFeed) {
  const std::string longLine = "or|%OS::?::Version%||=|" + std::string(4094 - 23, 'x');
  ASSERT_EQ(longLine.size(), 4094u);
  std::vector<RuleLine> lines;
  EXPECT_TRUE(ParseScriptText("and|a\n" + longLine, lines));
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_TRUE(Log().empty());

  lines.clear();
  EXPECT_FALSE(ParseScriptText(longLine + "\n", lines));
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_EQ(Log()[0].level, kLogError);
  EXPECT_EQ(Log()[0].format,
            "Failed to parse script text. ScriptLineSize is more than %d  ScriptLine: %s...\n");
  EXPECT_NE(Log()[0].text.find("more than 4095  ScriptLine: or|%OS"), std::string::npos);

  // The limit applies to each line, not to the whole text.
  EXPECT_FALSE(Run(longLine + "\n"));
  EXPECT_TRUE(ParseScriptText(longLine.substr(1) + "\n" + longLine, lines));
}

TEST_F(RuleScriptTest, ConnectivesCombineConditionsAndAFalseAndStopsTheScript) {
  EXPECT_FALSE(Run("and|%OS::?::Version%||=|11\nor|%OS::?::Name%||=|linux"));
  EXPECT_EQ(harvest_.TranslateCalls(), 1);  // the "or" line was never evaluated
  EXPECT_EQ(Log().size(), 1u);
  EXPECT_TRUE(Run("and|%OS::?::Version%||=|10"));
  EXPECT_FALSE(Run("and|%OS::?::Version%||=|11"));
  EXPECT_TRUE(Run("AND|%OS::?::Version%||=|10\nOr|%OS::?::Name%||=|windows"));
  EXPECT_TRUE(Run("or|%OS::?::Version%||=|11\nor|%OS::?::Name%||=|LINUX"));
  EXPECT_FALSE(Run("or|%OS::?::Version%||=|11\nor|%OS::?::Name%||=|bsd"));
  EXPECT_TRUE(Run("not|%OS::?::Version%||=|11"));
  EXPECT_FALSE(Run("NOT|%OS::?::Version%||=|10"));
  // "not" after a false "or" stays false; "and" after a false "or" ends the script.
  EXPECT_FALSE(Run("or|%OS::?::Version%||=|11\nnot|%OS::?::Name%||=|bsd"));
  EXPECT_FALSE(Run("or|%OS::?::Version%||=|11\nand|%OS::?::Name%||=|linux"));
  // An unknown connective makes the script false.
  EXPECT_FALSE(Run("xor|%OS::?::Version%||=|10"));
  EXPECT_FALSE(Run("and|%OS::?::Version%||=|10\nnand|%OS::?::Version%||=|10"));
  EXPECT_FALSE(Run("|%OS::?::Version%||=|10"));
}

TEST_F(RuleScriptTest, UnresolvedMacroIsAFalseCondition) {
  EXPECT_FALSE(Run("or|%OS::?::Missing%||=|%OS::?::Missing%"));
  EXPECT_TRUE(Run("not|%OS::?::Missing%||!=|x"));
  // Logged like any other condition.
  EXPECT_EQ(CountLogged(kLogDetail, "%OS::?::Missing% = %OS::?::Missing% = FALSE\n"), 1);
  EXPECT_EQ(CountLogged(kLogDetail, "%OS::?::Missing% != x = FALSE\n"), 1);
}

TEST_F(RuleScriptTest, ConditionIsLoggedWithExpansionOperatorAndValue) {
  EXPECT_TRUE(Run("and|v%OS::?::Version%||GLOB|v1?"));
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_EQ(Log()[0].level, kLogDetail);
  EXPECT_EQ(Log()[0].format, "%s %s %s = %s\n");
  EXPECT_EQ(Log()[0].text, "v10 GLOB v1? = TRUE\n");
}

TEST_F(RuleScriptTest, OperandWithoutMacroRaisesTheScriptError) {
  EXPECT_THROW(Run("or|%OS::?::Version%||=|11\nor|plain text||=|x"), script_error);
  EXPECT_EQ(CountLogged(kLogError, "Failed to expand SI macro: plain text\n"), 1);
  EXPECT_THROW(Run("and|%MODULEVERSION%||=|1"), script_error);
}

TEST_F(RuleScriptTest, NoExpanderMakesEveryConditionFalseWithoutLogging) {
  EXPECT_FALSE(EvaluateRuleScript("or|plain||=|x", nullptr));
  EXPECT_TRUE(EvaluateRuleScript("not|plain||=|x", nullptr));
  RuleLine line;
  line.operand = "%OS::?::Version%";
  line.op = "=";
  line.value = "10";
  EXPECT_FALSE(EvaluateRule(line, nullptr));
  EXPECT_TRUE(EvaluateRule(line, &harvest_));
  EXPECT_EQ(Log().size(), 1u);
}

}  // namespace
