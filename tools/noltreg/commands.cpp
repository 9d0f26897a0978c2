#include "commands.h"

#include <fstream>
#include <optional>

#include "error_text.h"
#include "key_name.h"
#include "key_tree.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "protect_command.h"
#include "reg_file.h"
#include "value_text.h"

namespace noltreg {

using platform::RegistryKey;
using platform::RegistryValue;

namespace {

constexpr const char* kDone = "The operation completed successfully.";
constexpr const char* kInvalidSyntax = "ERROR: Invalid syntax. Type \"noltreg -?\" for usage.";
constexpr const char* kUsage =
    "noltreg query KEY [-v NAME | -ve] [-s]\n"
    "noltreg add KEY [-v NAME | -ve] [-t TYPE] [-d DATA] [-f]\n"
    "noltreg add KEY (-v NAME | -ve) --protect [-f]   (the secret: one line of standard input)\n"
    "noltreg delete KEY [-v NAME | -ve | -va] [-f]\n"
    "noltreg export KEY FILE [-y] [-utf8]\n"
    "noltreg import FILE\n"
    "\n"
    "KEY: HKLM, HKCU or HKCR (or HKEY_LOCAL_MACHINE, ...), then \\path.\n"
    "TYPE: REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ (items separated by \\0),\n"
    "      REG_DWORD, REG_QWORD (decimal or 0x hex), REG_BINARY, REG_NONE (hex digits).\n"
    "-s: every key below too. -f: no confirmation. -va: every value of the key.\n"
    "export writes UTF-16 with CRLF line ends, as Windows does; -utf8 writes UTF-8 with LF.\n"
    "import reads UTF-16, UTF-8 and ANSI files, and applies all of a file or nothing.\n";

struct Options {
  std::string command;
  std::vector<std::string> operands;
  std::optional<std::string> valueName;  // -v NAME, or empty for -ve
  std::optional<std::string> type;
  std::optional<std::string> data;
  bool allValues = false;
  bool recurse = false;
  bool force = false;
  bool utf8 = false;
};

struct Command {
  const char* name;
  size_t operands;
  const char* options;  // the option letters it takes
};

constexpr Command kCommands[] = {{"query", 1, "vs"}, {"add", 1, "vtdf"}, {"delete", 1, "vaf"},
                                 {"export", 2, "yu"}, {"import", 1, ""}};

bool ParseOptions(const std::vector<std::string>& args, Options& options) {
  if (args.empty()) return false;
  options.command = args[0];
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (options.command == candidate.name) command = &candidate;
  }
  if (command == nullptr) return false;
  std::string used;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasNext = i + 1 < args.size();
    char letter = 0;
    if ((arg == "-v" && hasNext) || arg == "-ve") {
      letter = 'v';
      options.valueName = arg == "-ve" ? std::string() : args[++i];
    } else if ((arg == "-t" || arg == "-d") && hasNext) {
      letter = arg[1];
      (letter == 't' ? options.type : options.data) = args[++i];
    } else if (arg == "-va" || arg == "-s" || arg == "-f" || arg == "-y" || arg == "-utf8") {
      letter = arg == "-va" ? 'a' : arg[1];
      options.allValues |= letter == 'a';
      options.utf8 |= letter == 'u';
      options.recurse |= letter == 's';
      options.force |= letter == 'f';
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else {
      options.operands.push_back(arg);
      continue;
    }
    bool allowed = std::string_view(command->options).find(letter) != std::string_view::npos;
    bool exclusive = (letter == 'v' || letter == 'a') && used.find_first_of("va") != std::string::npos;
    if (!allowed || exclusive || used.find(letter) != std::string::npos) return false;
    used += letter;
  }
  return options.operands.size() == command->operands;
}

bool Confirm(const std::string& question, std::istream& in, std::ostream& out) {
  out << question << " (Yes/No)? " << std::flush;
  std::string answer;
  std::getline(in, answer);
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void PrintValue(const RegistryValue& value, std::ostream& out) {
  out << "    " << (value.name.empty() ? "(Default)" : value.name) << "    " << TypeName(value.type)
      << "    " << DisplayedData(value) << '\n';
}

// Prints a key's block (or only the named value), then the names of its subkeys, or with -s the
// blocks of every key below it. matches counts the keys that showed the named value.
uint32_t QueryKey(const RegistryKey& key, const Options& options, std::ostream& out,
                  int& matches) {
  return WalkKeys(key, options.recurse, [&](const RegistryKey& current,
                                            const std::vector<std::string>& subKeys) -> uint32_t {
    RegistryValue value;
    uint32_t error = platform::kErrorSuccess;
    if (!options.valueName) {
      out << '\n' << current.Path() << '\n';
      for (uint32_t i = 0; (error = current.EnumValue(i, value)) == platform::kErrorSuccess; ++i) {
        PrintValue(value, out);
      }
      if (error != platform::kErrorNoMoreItems) return error;
      if (!options.recurse && !subKeys.empty()) out << '\n';
      for (const std::string& child : options.recurse ? std::vector<std::string>() : subKeys) {
        out << current.Path() << '\\' << child << '\n';
      }
      return platform::kErrorSuccess;
    }
    error = current.QueryValue(*options.valueName, value);
    bool unsetDefault = error == platform::kErrorFileNotFound && options.valueName->empty();
    if (error != platform::kErrorSuccess && error != platform::kErrorFileNotFound) return error;
    if (error == platform::kErrorSuccess || unsetDefault) {
      out << '\n' << current.Path() << '\n';
      if (unsetDefault) out << "    (Default)    REG_SZ    (value not set)\n";
      if (!unsetDefault) PrintValue(value, out);
      ++matches;
    }
    return platform::kErrorSuccess;
  });
}

// Each command returns an empty text, or the one error line.
std::string Query(const Options& options, const KeyName& name, std::ostream& out) {
  RegistryKey key;
  uint32_t error = key.Open(name.root, name.subKey, platform::kKeyRead);
  int matches = 0;
  if (error == platform::kErrorSuccess) error = QueryKey(key, options, out, matches);
  if (error == platform::kErrorSuccess && options.valueName && matches == 0) {
    error = platform::kErrorFileNotFound;
  }
  return error == platform::kErrorSuccess ? std::string() : ErrorText(error);
}

std::string Add(const Options& options, const KeyName& name, std::istream& in, std::ostream& out) {
  uint32_t type = platform::kRegSz;
  if (options.type && !TypeFromName(*options.type, type)) {
    return "ERROR: Unknown type " + *options.type + ".";
  }
  bool number = type == platform::kRegDword || type == platform::kRegQword;
  std::vector<uint8_t> data;
  if (!DataFromText(type, options.data.value_or(number ? "0" : ""), data)) {
    return "ERROR: The data is not valid for " + TypeName(type) + ".";
  }
  RegistryKey key;
  uint32_t error = key.Create(name.root, name.subKey, platform::kKeyAllAccess);
  bool setsValue = options.valueName || options.type || options.data;
  std::string valueName = options.valueName.value_or("");
  RegistryValue existing;
  if (error == platform::kErrorSuccess && setsValue) {
    if (!options.force && key.QueryValue(valueName, existing) == platform::kErrorSuccess &&
        !Confirm("Value " + (valueName.empty() ? "(Default)" : valueName) + " exists, overwrite",
                 in, out)) {
      return "ERROR: The operation was canceled by the user.";
    }
    error = key.SetValue(valueName, type, data.data(), static_cast<uint32_t>(data.size()));
  }
  return error == platform::kErrorSuccess ? std::string() : ErrorText(error);
}

std::string Delete(const Options& options, const KeyName& name, std::istream& in,
                   std::ostream& out) {
  bool wholeKey = !options.valueName && !options.allValues;
  if (wholeKey && name.subKey.empty()) return "ERROR: " + std::string(kRootKeyNotDeleted);
  RegistryKey key;
  uint32_t error = key.Open(name.root, name.subKey, platform::kKeyAllAccess);
  if (error != platform::kErrorSuccess) return ErrorText(error);
  std::string question =
      wholeKey             ? "Permanently delete the registry key " + key.Path()
      : options.allValues  ? "Delete all values under the registry key " + key.Path()
      : options.valueName->empty() ? std::string("Delete the registry value (Default)")
                                   : "Delete the registry value " + *options.valueName;
  if (!options.force && !Confirm(question, in, out)) {
    return "ERROR: The operation was canceled by the user.";
  }
  if (options.valueName) {
    error = key.DeleteValue(*options.valueName);
  } else if (options.allValues) {
    // All of them or none.
    platform::RegistryTransaction transaction;
    std::vector<std::string> names;
    RegistryValue value;
    while ((error = key.EnumValue(static_cast<uint32_t>(names.size()), value)) ==
           platform::kErrorSuccess) {
      names.push_back(value.name);
    }
    if (error == platform::kErrorNoMoreItems) error = platform::kErrorSuccess;
    for (size_t i = 0; i < names.size() && error == platform::kErrorSuccess; ++i) {
      error = key.DeleteValue(names[i]);
    }
    if (error == platform::kErrorSuccess) error = transaction.Commit();
  } else {
    RegistryKey root;
    error = root.Open(name.root, "", platform::kKeyAllAccess);
    if (error == platform::kErrorSuccess) error = root.DeleteTree(name.subKey);
  }
  return error == platform::kErrorSuccess ? std::string() : ErrorText(error);
}

// Writes the tree to a temporary file beside the target, then renames it over the target.
std::string Export(const KeyName& name, const std::string& file, RegFileEncoding encoding) {
  RegistryKey key;
  uint32_t error = key.Open(name.root, name.subKey, platform::kKeyRead);
  if (error != platform::kErrorSuccess) return ErrorText(error);
  std::string directory = platform::DirectoryOf(file);
  std::string temporary;
  if (!platform::CreateTempFile(directory.empty() ? "./" : directory, "noltreg", temporary)) {
    return ErrorText(platform::LastError());
  }
  {
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    error = ExportTree(key, stream, encoding);
    stream.flush();
    if (error == platform::kErrorSuccess && !stream) error = platform::kErrorDiskFull;
  }
  if (error == platform::kErrorSuccess && !platform::ReplaceFile(temporary, file)) {
    error = platform::LastError();
  }
  if (error != platform::kErrorSuccess) platform::DeleteFile(temporary);
  return error == platform::kErrorSuccess ? std::string() : ErrorText(error);
}

std::string Import(const std::string& file) {
  std::string error;
  ImportRegFile(file, error);
  return error;
}

}  // namespace

int RunNoltreg(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err) {
  if (args.size() == 1 && (args[0] == "-?" || args[0] == "--help")) {
    out << kUsage;
    return 0;
  }
  if (AsksToProtect(args)) return RunProtectedAdd(args, in, out, err);
  Options options;
  KeyName name;
  std::string error;
  if (!ParseOptions(args, options)) {
    error = kInvalidSyntax;
  } else if (options.command == "import") {
    error = Import(options.operands[0]);
  } else if (!ParseKeyName(options.operands[0], name)) {
    error = "ERROR: Invalid key name.";
  } else if (options.command == "query") {
    error = Query(options, name, out);
  } else if (options.command == "add") {
    error = Add(options, name, in, out);
  } else if (options.command == "delete") {
    error = Delete(options, name, in, out);
  } else {
    error = Export(name, options.operands[1],
                   options.utf8 ? RegFileEncoding::kUtf8 : RegFileEncoding::kUtf16);
  }
  if (!error.empty()) {
    err << error << '\n';
    return 1;
  }
  if (options.command != "query") out << kDone << '\n';
  return 0;
}

}  // namespace noltreg
