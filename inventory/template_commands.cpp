#include "inventory/template_commands.h"

#include "foundation/strings/hx_str.h"

namespace {

// In recognition order: the position is the command's number.
constexpr const char* kNames[kTemplateCommandCount] = {
    "AppEnum",          "EnvEnum",        "PrinterEnum",        "LogicalDiskEnum",
    "UncEnum",          "RegEnumValue",   "RegEnumFixedValues", "RegEnumKey",
    "RegWildcard",      "ScanStrInFile",  "RegQueryValue",      "RegQueryKey",
    "RegQueryDevice",   "/CLASS",         "CLASS",              "/PROPERTY",
    "PROPERTY",         "UPLOADDATAHEADER", "UPLOADDATAFOOTER", "SELECT",
    "/SCRIPT",          "SCRIPT",         "ScanAllExe",         "ScanLnk",
    "ScanFile",         "PingTest",       "TestConnect",        "FileProp",
    "IniQueryValue",    "MatchRegValue",
};

}  // namespace

TemplateCommand MatchTemplateCommand(std::string_view elementName) {
  for (int i = 0; i < kTemplateCommandCount; ++i) {
    std::string_view name = kNames[i];
    if (elementName.size() >= name.size() &&
        CompareNoCase(elementName.substr(0, name.size()), name) == 0) {
      return static_cast<TemplateCommand>(i + 1);
    }
  }
  return TemplateCommand::kNone;
}

const char* TemplateCommandName(TemplateCommand command) {
  int index = static_cast<int>(command);
  return index >= 1 && index <= kTemplateCommandCount ? kNames[index - 1] : "";
}
