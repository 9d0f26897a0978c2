// The commands of a data-collection template, recognised by the beginning of an element's name
// (letter case ignored), the first match in table order winning.
#pragma once
#include <string_view>

enum class TemplateCommand {
  kNone = 0,
  kAppEnum,
  kEnvEnum,
  kPrinterEnum,
  kLogicalDiskEnum,
  kUncEnum,
  kRegEnumValue,
  kRegEnumFixedValues,
  kRegEnumKey,
  kRegWildcard,
  kScanStrInFile,
  kRegQueryValue,
  kRegQueryKey,
  kRegQueryDevice,
  kClassEnd,
  kClass,
  kPropertyEnd,
  kProperty,
  kUploadDataHeader,
  kUploadDataFooter,
  kSelect,
  kScriptEnd,
  kScript,
  kScanAllExe,
  kScanLnk,
  kScanFile,
  kPingTest,
  kTestConnect,
  kFileProp,
  kIniQueryValue,
  kMatchRegValue,
};

inline constexpr int kTemplateCommandCount = 30;

// The command an element name starts with; kNone when it matches none.
TemplateCommand MatchTemplateCommand(std::string_view elementName);
// The command's name as templates write it ("AppEnum", "/CLASS", ...); "" for kNone.
const char* TemplateCommandName(TemplateCommand command);
