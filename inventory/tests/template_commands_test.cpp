// Recognition of template commands by the beginning of an element's name, in table order.
#include <gtest/gtest.h>

#include "inventory/template_commands.h"

namespace {

TEST(TemplateCommandsTest, PrefixWithoutCaseAndTheFirstMatchWins) {
  using enum TemplateCommand;
  const struct {
    const char* name;
    TemplateCommand command;
  } kNames[] = {
      {"AppEnumInstalled", kAppEnum},
      {"REGQUERYVALUE2", kRegQueryValue},
      {"RegEnumKeys", kRegEnumKey},
      {"regenumfixedvalues", kRegEnumFixedValues},
      {"PropertyList", kProperty},
      {"/property", kPropertyEnd},
      {"ClassBlock", kClass},
      {"/classEnd", kClassEnd},
      {"ScriptBody", kScript},
      {"/SCRIPT", kScriptEnd},
      {"FilePropX", kFileProp},
      {"MatchRegValue", kMatchRegValue},
      {"Inventory", kNone},
      {"App", kNone},
      {"", kNone},
  };
  for (const auto& [name, command] : kNames) EXPECT_EQ(MatchTemplateCommand(name), command) << name;
  EXPECT_STREQ(TemplateCommandName(kNone), "");
  EXPECT_STREQ(TemplateCommandName(kMatchRegValue), "MatchRegValue");  // the last of the table
}

}  // namespace
