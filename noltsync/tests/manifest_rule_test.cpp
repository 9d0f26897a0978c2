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
  RuleScriptTest() { harvest_.Add("OS", {{"Version", "10"}, {"Name", "Linux"}}); }
  bool Run(const std::string& text) { return EvaluateRuleScript(text, &harvest_); }

  FixedHarvest harvest_;
};

TEST_F(RuleScriptTest, ParseSplitsLinesAndFieldsAndRefusesEmptyText) {
  std::vector<RuleLine> lines;
  ASSERT_TRUE(ParseScriptText("  and| %A::?::B% |x|=| v \n\n   \nor|%C::?::D%", lines));
  ASSERT_EQ(lines.size(), 2u);
  const RuleLine& first = lines[0];
  EXPECT_EQ(S(first.connective) + "," + S(first.operand) + "," + S(first.carried) + "," +
                S(first.op) + "," + S(first.value),
            "and, %A::?::B% ,x,=, v");  // fields keep their spaces, the line loses its own
  EXPECT_EQ(S(lines[1].operand), "%C::?::D%");
  EXPECT_TRUE(lines[1].value.IsEmpty());
  lines.clear();
  EXPECT_FALSE(ParseScriptText("", lines));
  EXPECT_TRUE(ParseScriptText(" \n  \n", lines));  // blank lines are no lines
  EXPECT_TRUE(lines.empty());
}

TEST_F(RuleScriptTest, LineLengthLimitCountsTheLineFeedOfEachLine) {
  const std::string longLine = "or|%OS::?::Version%||=|" + std::string(4094 - 23, 'x');
  std::vector<RuleLine> lines;
  EXPECT_TRUE(ParseScriptText("and|a\n" + longLine, lines));
  EXPECT_TRUE(ParseScriptText(longLine.substr(1) + "\n" + longLine, lines));
  EXPECT_TRUE(Log().empty());
  EXPECT_FALSE(Run(longLine + "\n"));
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_EQ(Log()[0].level, kLogError);
  EXPECT_EQ(Log()[0].format,
            "Failed to parse script text. ScriptLineSize is more than %d  ScriptLine: %s...\n");
  EXPECT_EQ(Log()[0].text.rfind("Failed to parse script text. ScriptLineSize is more than 4095  "
                                "ScriptLine: or|%OS",
                                0),
            0u);
}

TEST_F(RuleScriptTest, ConnectivesCombineConditions) {
  const struct {
    const char* script;
    bool result;
  } kScripts[] = {
      {"and|%OS::?::Version%||=|10", true},
      {"and|%OS::?::Version%||=|11", false},
      {"AND|%OS::?::Version%||=|10\nOr|%OS::?::Name%||=|windows", true},
      {"or|%OS::?::Version%||=|11\nor|%OS::?::Name%||=|LINUX", true},
      {"or|%OS::?::Version%||=|11\nor|%OS::?::Name%||=|bsd", false},
      {"not|%OS::?::Version%||=|11", true},
      {"NOT|%OS::?::Version%||=|10", false},
      {"or|%OS::?::Version%||=|11\nnot|%OS::?::Name%||=|bsd", false},  // "not" keeps false
      {"or|%OS::?::Version%||=|11\nand|%OS::?::Name%||=|linux", false},
      // An unresolved macro is a false condition.
      {"or|%OS::?::Missing%||=|%OS::?::Missing%", false},
      {"not|%OS::?::Missing%||!=|x", true},
      // An unknown connective, or none, makes the script false; so does a script of no lines.
      {"xor|%OS::?::Version%||=|10", false},
      {"and|%OS::?::Version%||=|10\nnand|%OS::?::Version%||=|10", false},
      {"|%OS::?::Version%||=|10", false},
      {" \n", false},
  };
  for (const auto& [script, result] : kScripts) EXPECT_EQ(Run(script), result) << script;
}

TEST_F(RuleScriptTest, FalseAndStopsTheScriptAndEachConditionIsLogged) {
  EXPECT_FALSE(
      Run("and|v%OS::?::Version%||GLOB|v1?\nand|%OS::?::Missing%||=|x\n"
          "or|%OS::?::Name%||=|linux"));
  EXPECT_EQ(harvest_.calls, 2);  // the "or" line was never evaluated
  ASSERT_EQ(Log().size(), 2u);
  EXPECT_EQ(Log()[0].level, kLogDetail);
  EXPECT_EQ(Log()[0].format, "%s %s %s = %s\n");
  EXPECT_EQ(Log()[0].text, "v10 GLOB v1? = TRUE\n");
  EXPECT_EQ(Log()[1].text, "%OS::?::Missing% = x = FALSE\n");  // unresolved, logged alike
}

TEST_F(RuleScriptTest, OperandWithoutMacroRaisesTheScriptError) {
  EXPECT_THROW(Run("or|%OS::?::Version%||=|11\nor|plain text||=|x"), script_error);
  EXPECT_EQ(Log().back().text, "Failed to expand SI macro: plain text\n");
  EXPECT_EQ(Log().back().level, kLogError);
  EXPECT_THROW(Run("and|%MODULEVERSION%||=|1"), script_error);
}

TEST_F(RuleScriptTest, NoExpanderMakesEveryConditionFalseWithoutLogging) {
  EXPECT_FALSE(EvaluateRuleScript("or|plain||=|x", nullptr));
  EXPECT_TRUE(EvaluateRuleScript("not|plain||=|x", nullptr));
  EXPECT_TRUE(Log().empty());
}

}  // namespace
