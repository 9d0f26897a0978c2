// Recognition of template commands by name prefix, in table order.
#include <gtest/gtest.h>

#include <string>

#include "inventory/template_commands.h"

namespace {

TEST(TemplateCommandsTest, EveryNameMatchesItsOwnCommandWithoutCase) {
  for (int i = 1; i <= kTemplateCommandCount; ++i) {
    auto command = static_cast<TemplateCommand>(i);
    std::string name = TemplateCommandName(command);
    EXPECT_EQ(MatchTemplateCommand(name), command) << name;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(MatchTemplateCommand(name), command) << name;
  }
}

TEST(TemplateCommandsTest, PrefixMatchAndFirstMatchWins) {
  EXPECT_EQ(MatchTemplateCommand("AppEnumInstalled"), TemplateCommand::kAppEnum);
  EXPECT_EQ(MatchTemplateCommand("REGQUERYVALUE2"), TemplateCommand::kRegQueryValue);
  EXPECT_EQ(MatchTemplateCommand("RegEnumKeys"), TemplateCommand::kRegEnumKey);
  EXPECT_EQ(MatchTemplateCommand("PropertyList"), TemplateCommand::kProperty);
  EXPECT_EQ(MatchTemplateCommand("ClassBlock"), TemplateCommand::kClass);
  EXPECT_EQ(MatchTemplateCommand("ScriptBody"), TemplateCommand::kScript);
  EXPECT_EQ(MatchTemplateCommand("/classEnd"), TemplateCommand::kClassEnd);
  EXPECT_EQ(MatchTemplateCommand("FilePropX"), TemplateCommand::kFileProp);
}

TEST(TemplateCommandsTest, UnknownAndShortNamesMatchNothing) {
  EXPECT_EQ(MatchTemplateCommand("Inventory"), TemplateCommand::kNone);
  EXPECT_EQ(MatchTemplateCommand("App"), TemplateCommand::kNone);
  EXPECT_EQ(MatchTemplateCommand(""), TemplateCommand::kNone);
  EXPECT_STREQ(TemplateCommandName(TemplateCommand::kNone), "");
  EXPECT_STREQ(TemplateCommandName(TemplateCommand::kMatchRegValue), "MatchRegValue");
}

}  // namespace
